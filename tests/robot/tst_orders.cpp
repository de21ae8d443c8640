#include "quik/OrderRegistry.h"
#include "quik/ResultReader.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

// The life of an order in the registry: cancellations that need only their order, answers that take
// effect only for lines in the file, the book at the fill, and exits that never sell what is not held.
class TestOrders : public QObject, TRobotFixture {
    Q_OBJECT

    TEngine& E() { return *R->Engine; }
    void Start(int mode, int singleMulti) {
        R->S().rgpFilled = mode;
        R->S().rgpSingleMulti = singleMulti;
        QVERIFY(R->Connect());
        E().actStartWatchExecute();
    }
    QStringList Lines() { return R->TriLines(); }
    void Answer(const QString& lines) {
        WriteBytes(Ws->TroPath(), lines.toUtf8(), true);
        QVERIFY(R->Tick());
    }
    int Held(const QString& code, const QString& side = QString()) {
        return Ws
            ->Scalar(Ws->Trading(),
                     QStringLiteral("SELECT ifnull(sum(quantity), 0) FROM tClientOpenPositions "
                                    "WHERE code = '%1' and ifnull(side, '') like '%2%'")
                         .arg(code, side))
            .toInt();
    }

private slots:
    void init() {
        StartRobot(true, false);
        R->S().PositionSize = 0;
    }
    void cleanup() { StopRobot(); }

    // Group of three: the strategy cancels after QUIK accepted only the first client's order. That one
    // is pulled at once, the second as soon as its number comes, the refused third never.
    void cancellationBeforeTheAcceptance_goesOutWithTheNumber_refusedOneIsDropped() {
        Start(0, 1);
        const qint64 id = Ws->InsertAlert("ActiveOrders", {{"Order", "Buy 100 at 280 Limit"}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 3);
        Answer("TRANS_ID=1;STATUS=3;ORDER_NUMBER=801;\r\n");
        Ws->InsertAlert("CanceledOrders", {{"Order Number", QString::number(id)}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 4);
        QVERIFY(Lines()[3].contains("ACTION=KILL_ORDER;") && Lines()[3].contains("Order_key=801;"));
        Answer("TRANS_ID=2;STATUS=3;ORDER_NUMBER=802;\r\nTRANS_ID=3;STATUS=4;DESCRIPTION=\"no money\";\r\n");
        QCOMPARE(Lines().size(), 5);
        QVERIFY2(Lines()[4].contains("CLIENT_CODE=222;") && Lines()[4].contains("Order_key=802;"),
                 qPrintable(Lines()[4]));
        QCOMPARE(R->JournalTexts().filter("Снятие заявки транзакции номер 3 не отправлено").size(), 1);
        // Nothing more to pull, and a second cancellation of the same alert sends nothing.
        QCOMPARE(E().PullAllOrdersCount(), 0);
        Ws->InsertAlert("CanceledOrders", {{"Order Number", QString::number(id)}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 5);
        QCOMPARE(R->JournalTexts().filter("снятие уже отправлено").size(), 2);
    }

    // A cancellation needs only what it cancels: the instrument unticked, its lot size emptied and a
    // breaker at its limit do not hold it back.
    void cancellation_goesOut_whateverHoldsBackANewOrder() {
        R->S().MaxTransPerMinute = "1";
        Start(0, 0);
        const qint64 id = Ws->InsertAlert("ActiveOrders", {{"Order", "Buy 100 at 280 Limit"}});
        QVERIFY(R->Tick());
        Answer("TRANS_ID=1;STATUS=3;ORDER_NUMBER=900;\r\n");
        Ws->Exec(Ws->Trading(), "UPDATE tSecCode SET Traded = 0, LotSize = NULL WHERE Ticker = 'SBER'");
        Ws->InsertAlert("CanceledOrders", {{"Order Number", QString::number(id)}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 2);
        QVERIFY2(Lines()[1].contains("Order_key=900;"), qPrintable(Lines()[1]));
        QVERIFY(!E().BreakerTripped());
    }

    // "Подключиться" again mid-run forgets nothing: QUIK's later acceptance marks the alert, and the
    // platform's fill of that order is not sent as a second order.
    void reconnect_thenAcceptance_marksTheAlert_fillIsNotSentAgain() {
        Start(0, 0);
        const qint64 id = Ws->InsertAlert("ActiveOrders", {{"Order", "Buy 100 at 280 Limit"}});
        QVERIFY(R->Tick());
        QVERIFY(R->Connect());
        Answer("TRANS_ID=1;STATUS=3;ORDER_NUMBER=900;\r\n");
        QCOMPARE(Ws->Scalar(Ws->Alerts(),
                            QStringLiteral("SELECT \"Order Number\" FROM ActiveOrders WHERE ID=%1").arg(id))
                     .toString(),
                 QString::number(id));
        Ws->InsertAlert("FilledOrders", {{"Order Number", QString::number(id)}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1);
        QCOMPARE(Held("111"), 10); // the fill put the entry in the book
    }

    // An answer means something only for a line that reached the file: one for a number the registry
    // gave to a line still waiting changes nothing.
    void answerForALineNotInTheFile_changesNothing() {
        Start(1, 0);
        QFile::remove(Ws->TriPath());
        QVERIFY(QDir().mkpath(Ws->TriPath()));
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        Answer("TRANS_ID=1;STATUS=4;DESCRIPTION=\"forged\";\r\n");
        QCOMPARE(R->JournalTexts().filter("роботом не отправлялась").size(), 1);
        QCOMPARE(E().Reader().TransRefused, 0);
        QCOMPARE(Held("111"), 10); // the entry stands until its line is given up or refused
        QVERIFY(QDir().rmdir(Ws->TriPath()));
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1);
    }

    // The line of an alert that waited for the database is given up by the alert's first sight, not
    // by when it was recorded at last.
    void pendingLineDeadline_countsFromTheAlertsFirstSight() {
        R->S().RetryPeriod = "30";
        Start(1, 0);
        Ws->Exec(Ws->Trading(), "ALTER TABLE tOrderNumber RENAME TO away");
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        R->Clock.Set(R->Clock.Now().addSecs(20));
        Ws->Exec(Ws->Trading(), "ALTER TABLE away RENAME TO tOrderNumber");
        const QString tri = R->S().pathTRI;
        R->S().pathTRI = Ws->Path("missing/dir/t.tri");
        QVERIFY(R->Tick()); // recorded now, its line waits
        R->Clock.Set(R->Clock.Now().addSecs(11));
        R->S().pathTRI = tri;
        QVERIFY(R->Tick());
        QVERIFY(Lines().isEmpty());
        QCOMPARE(R->JournalTexts()
                     .filter(QRegularExpression("^Транзакция номер \\d+ не отправлена в Quik: "))
                     .size(),
                 1);
    }

    // The registry refuses its row: nothing is sent, the reason is told, and once it takes rows again
    // numbers go on, also after a restart of the day.
    void registryUnwritable_nothingSent_numbersNeverReused() {
        Start(1, 0);
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        Ws->Exec(Ws->Trading(), "CREATE TRIGGER full BEFORE INSERT ON tOrderRegistry BEGIN SELECT "
                                "RAISE(FAIL, 'database or disk is full'); END");
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1);
        QVERIFY(!R->Errors.isEmpty() && R->Errors.last().contains("database or disk is full"));
        Ws->Exec(Ws->Trading(), "DROP TRIGGER full");
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 2);
        QVERIFY(Lines()[1].startsWith("TRANS_ID =2;") || Lines()[1].startsWith("TRANS_ID =3;"));
        R.reset();
        R = std::make_unique<TTestRobot>(*Ws);
        R->Engine->PrepareTransactionFiles();
        QVERIFY(R->Connect());
        QVERIFY(E().Registry().NextTransId() > 2);
    }

    // The book follows the fills: an advance entry cancelled before it filled leaves nothing; one
    // filled records its lots; a stop exit's fill closes them.
    void advanceOrders_bookFollowsTheFills() {
        Start(0, 0);
        const qint64 first = Ws->InsertAlert("ActiveOrders", {{"Order", "Buy 100 at 280 Limit"}});
        QVERIFY(R->Tick());
        Answer("TRANS_ID=1;STATUS=3;ORDER_NUMBER=901;\r\n");
        Ws->InsertAlert("CanceledOrders", {{"Order Number", QString::number(first)}});
        QVERIFY(R->Tick());
        Answer("TRANS_ID=2;STATUS=3;ORDER_NUMBER=901;\r\n");
        QCOMPARE(Held("111"), 0);
        const qint64 second = Ws->InsertAlert("ActiveOrders", {{"Order", "Buy 100 at 280 Limit"}});
        QVERIFY(R->Tick());
        Answer("TRANS_ID=3;STATUS=3;ORDER_NUMBER=903;\r\n");
        Ws->InsertAlert("FilledOrders", {{"Order Number", QString::number(second)}});
        QVERIFY(R->Tick());
        QCOMPARE(Held("111"), 10);
        const qint64 stop =
            Ws->InsertAlert("ActiveOrders", {{"OrderType", "LX"}, {"Order", "Sell 100 at 270 Stop"}});
        QVERIFY(R->Tick());
        QVERIFY2(Lines().last().contains("NEW_STOP_ORDER") && Lines().last().endsWith(";QUANTITY=10"),
                 qPrintable(Lines().last()));
        // A second exit while the first may still fill has nothing left to sell.
        Ws->InsertAlert("ActiveOrders", {{"OrderType", "LX"}, {"Order", "Sell 100 at 265 Stop"}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 4);
        Answer("TRANS_ID=4;STATUS=3;ORDER_NUMBER=904;\r\n");
        Ws->InsertAlert("FilledOrders", {{"OrderType", "LX"}, {"Order Number", QString::number(stop)}});
        QVERIFY(R->Tick());
        QCOMPARE(Held("111"), 0);
    }

    // Group of two whose second entry QUIK refused: the exit sends that client nothing, and says so.
    void groupExit_afterARefusedEntry_noLineForThatClient() {
        Ws->SetActiveClients(2);
        Start(1, 1);
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        Answer("TRANS_ID=1;STATUS=3;ORDER_NUMBER=1;\r\nTRANS_ID=2;STATUS=4;DESCRIPTION=\"no\";\r\n");
        Ws->InsertAlert("FilledOrders", {{"OrderType", "LX"}, {"Order", "Sell 100 at 285 Limit"}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 3);
        QVERIFY(Lines()[2].contains("CLIENT_CODE=1000;") && Lines()[2].contains("OPERATION=S;"));
        QCOMPARE(R->JournalTexts().filter("по счету 1001 не отправлен: позиция SBER").size(), 1);
    }

    // A long and a short of the same keys are two positions: each exit closes its own side.
    void longAndShort_sameKeys_eachExitClosesItsOwnSide() {
        Start(1, 0);
        Ws->InsertAlert("FilledOrders", {});
        Ws->InsertAlert("FilledOrders", {{"OrderType", "SE"}, {"Order", "Sell 50 at 285 Limit"}});
        QVERIFY(R->Tick());
        QCOMPARE(Held("111", "L"), 10);
        QCOMPARE(Held("111", "S"), 5);
        Ws->InsertAlert("FilledOrders", {{"OrderType", "LX"}, {"Order", "Sell 100 at 285 Limit"}});
        QVERIFY(R->Tick());
        QVERIFY2(Lines().last().endsWith(";QUANTITY=10"), qPrintable(Lines().last()));
        QCOMPARE(Held("111", "L"), 0);
        QCOMPARE(Held("111", "S"), 5);
        Ws->InsertAlert("FilledOrders", {{"OrderType", "SX"}, {"Order", "Buy 100 at 285 Limit"}});
        QVERIFY(R->Tick());
        QVERIFY2(Lines().last().endsWith(";QUANTITY=5"), qPrintable(Lines().last()));
        QCOMPARE(Held("111"), 0);
    }

    // The breaker counts every line but trips only on what opens something new.
    void breakerReachedByEntries_exitStillGoesOut() {
        R->S().MaxTransPerMinute = "3";
        Start(1, 0);
        for (int i = 0; i < 3; ++i)
            Ws->InsertAlert("FilledOrders", {{"Order", "Buy 10 at 285 Limit"}});
        QVERIFY(R->Tick());
        Ws->InsertAlert("FilledOrders", {{"OrderType", "LX"}, {"Order", "Sell 10 at 285 Limit"}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 4);
        QVERIFY(!E().BreakerTripped());
        QCOMPARE(Held("111"), 0);
        Ws->InsertAlert("FilledOrders", {{"Order", "Buy 10 at 285 Limit"}});
        QVERIFY(R->Tick());
        QVERIFY(E().BreakerTripped());
        QCOMPARE(Lines().size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestOrders)
#include "tst_orders.moc"
