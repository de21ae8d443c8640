#include "common/Codec.h"
#include "common/KorvexError.h"
#include "quik/ResultReader.h"
#include "quik/TransactionWriter.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

// The robot driven tick by tick over real databases and real files.
class TestTrading : public QObject, TRobotFixture {
    Q_OBJECT

    TEngine& E() { return *R->Engine; }

    void Start(int mode) {
        R->S().rgpFilled = mode;
        QVERIFY(R->Connect());
        E().actStartWatchExecute();
    }
    QStringList Lines() { return R->TriLines(); }

private slots:
    void init() {
        StartRobot(true, false);
        R->S().PositionSize = 0;
        R->S().ExitQty = true;
    }
    void cleanup() { StopRobot(); }

    void marketMode_sendsNewRowsOnly_twoRowsInOneTick() {
        Ws->InsertAlert("FilledOrders", {}); // already there at the start: never sent
        Start(1);
        QCOMPARE(E().LastFilledID(), 1);
        QVERIFY(R->Tick());
        QVERIFY(Lines().isEmpty());
        Ws->InsertAlert("FilledOrders", {{"Order", "Buy 100 at 285 Limit"}, {"Fill Price", 285.4}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1);
        // 100 units of a 10-unit lot; the fill price raised by 0.1% slippage; the account of the settings.
        QCOMPARE(Lines()[0],
                 QStringLiteral(
                     "TRANS_ID "
                     "=1;ACTION=NEW_ORDER;ACCOUNT=L01-00000F00;SECCODE=SBER;CLASSCODE=TQBR;CLIENT_CODE=111;"
                     "OPERATION=B;PRICE=285.69;STOPPRICE=285.69;Order_key=;Stop_Order_key=;QUANTITY=10"));
        Ws->InsertAlert("FilledOrders", {{"Order Number", "5"}}); // market mode sends it all the same
        Ws->InsertAlert("FilledOrders", {{"Symbol", "GAZP"}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 3);
        QVERIFY(Lines()[2].contains("SECCODE=GAZP"));
        QCOMPARE(E().LastFilledID(), 4);
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 3);
        QCOMPARE(R->Sounds, 3);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tClientOpenPositions").toInt(), 3);
        QCOMPARE(E().DatMod().tClientOpenPositions->RowCount(), 3); // its grid shows them

        // Instrument rows are kept between alerts; a change by another program or in the robot's own
        // grid is seen by the next alert.
        Ws->Exec(Ws->Trading(), "UPDATE tSecCode SET LotSize = 20 WHERE Ticker = 'SBER'");
        Ws->InsertAlert("FilledOrders", {{"Order", "Buy 100 at 285 Limit"}});
        QVERIFY(R->Tick());
        QVERIFY2(Lines().last().endsWith(";QUANTITY=5"), qPrintable(Lines().last()));
        TDataTable* instruments = E().DatMod().tSecCode;
        instruments->Open();
        TTableModel* m = instruments->Model();
        auto editLotSize = [&](int lotSize) {
            int row = 0;
            while (row < instruments->RowCount() &&
                   m->data(m->index(row, m->fieldIndex("Ticker"))).toString() != QLatin1String("SBER"))
                ++row;
            QVERIFY(m->setData(m->index(row, m->fieldIndex("LotSize")), lotSize));
        };
        // The grid still shows the row as it was before the other program's change: the edit is
        // refused with the reason, never reported as written.
        editLotSize(40);
        QVERIFY_THROWS_EXCEPTION(KorvexError, instruments->PostEdits());
        instruments->CancelEdits();
        instruments->Refresh();
        editLotSize(50);
        QVERIFY(instruments->PostEdits());
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT LotSize FROM tSecCode WHERE Ticker = 'SBER'").toInt(), 50);
        Ws->InsertAlert("FilledOrders", {{"Order", "Buy 100 at 285 Limit"}});
        QVERIFY(R->Tick());
        QVERIFY2(Lines().last().endsWith(";QUANTITY=2"), qPrintable(Lines().last()));
    }

    void advanceMode_activeSent_filledWithNumberSkipped_canceledCancels() {
        Start(0);
        const qint64 active = Ws->InsertAlert("ActiveOrders", {{"Order", "Buy 50 at 280 Limit"}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1);
        QVERIFY(Lines()[0].contains("PRICE=280.00;STOPPRICE=280.28;"));
        // QUIK: sent to the server, then executed with order number 900.
        WriteBytes(Ws->TroPath(), "TRANS_ID=1;STATUS=0;\r\n", true);
        QVERIFY(R->Tick());
        WriteBytes(Ws->TroPath(),
                   "TRANS_ID=1;STATUS=3;TRANS_NAME=\"New order\";DESCRIPTION=\"ok\";ORDER_NUMBER=900;\r\n",
                   true);
        QVERIFY(R->Tick());
        QCOMPARE(
            Ws->Scalar(Ws->Alerts(),
                       QStringLiteral("SELECT \"Order Number\" FROM ActiveOrders WHERE ID=%1").arg(active))
                .toString(),
            QString::number(active));
        // The platform cancels the active order: the order number becomes the alert id of the cancellation.
        Ws->InsertAlert("CanceledOrders",
                        {{"Order Number", QString::number(active)}, {"Order", "Buy 50 at 280 Limit"}});
        Ws->InsertAlert("CanceledOrders", {{"Order Number", QVariant()}}); // ignored
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 2);
        QVERIFY2(Lines()[1].contains("ACTION=KILL_ORDER") &&
                     Lines()[1].contains("Order_key=900;Stop_Order_key=;"),
                 qPrintable(Lines()[1]));
        QVERIFY(R->JournalTexts().contains(
            QStringLiteral("Транзакция номер 2 [снятие заявки # 900] по счету 111 отправлена в Quik.")));
        // The platform reports a fill with the order number it read back: not sent again.
        Ws->InsertAlert("FilledOrders", {{"Order Number", QString::number(active)}});
        // A fill of an order that was not placed in advance: sent.
        Ws->InsertAlert("FilledOrders", {{"Symbol", "GAZP"}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 3);
        QVERIFY(Lines()[2].contains("SECCODE=GAZP"));
    }

    void canceledRowWithTextNumber_isSentWithItsOwnId() {
        Start(0);
        // A cancellation for the row's own id 1 finds the order recorded for alert 1.
        const qint32 order = R->RecordInFile("ActiveOrders", 1, true);
        WriteBytes(Ws->TroPath(),
                   QStringLiteral("TRANS_ID=%1;STATUS=3;ORDER_NUMBER=321;\r\n").arg(order).toUtf8());
        QVERIFY(R->Tick());
        Ws->InsertAlert("CanceledOrders", {{"Order Number", "abc"}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 2);
        QVERIFY(Lines()[1].contains("Order_key=321;"));
    }

    void filterFailure_oneLineNothingSent() {
        Start(1);
        const qint64 id = Ws->InsertAlert("FilledOrders", {{"Workspace", "C:\\Omega\\Other.orw"}});
        QVERIFY(R->Tick());
        QVERIFY(Lines().isEmpty());
        QCOMPARE(R->JournalTexts().filter("не прошел").size(), 1);
        QVERIFY(R->JournalTexts().contains(
            QStringLiteral("Ордер # %1 (FilledOrders) не прошел фильтры.").arg(id)));
        QCOMPARE(R->Sounds, 0);
        // The workspace added by another program: the next alert of it passes.
        Ws->Insert(Ws->Trading(), "tWorkSpaces", {{"workspace", "other.orw"}});
        Ws->InsertAlert("FilledOrders", {{"Workspace", "C:\\Omega\\Other.orw"}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1);
    }

    void sessionTimes_withoutSeconds_orUnreadable_neverStopThePass_data() {
        QTest::addColumn<QString>("time1");
        QTest::addColumn<QString>("time2");
        QTest::addColumn<int>("sent");
        QTest::addColumn<int>("settingLines");
        QTest::newRow("hours and minutes") << "9:00"
                                           << "18:30" << 2 << 0;
        QTest::newRow("unreadable start") << "9-00"
                                          << "18:30" << 0 << 1;
        QTest::newRow("unreadable end") << "9:00:00"
                                        << "evening" << 0 << 1;
    }
    void sessionTimes_withoutSeconds_orUnreadable_neverStopThePass() {
        QFETCH(QString, time1);
        QFETCH(QString, time2);
        QFETCH(int, sent);
        QFETCH(int, settingLines);
        R->S().time1 = time1;
        R->S().time2 = time2;
        Start(1);
        for (int pass = 0; pass < 2; ++pass) {
            Ws->InsertAlert("FilledOrders", {});
            QVERIFY(R->Tick());
        }
        QCOMPARE(R->Errors, QStringList());
        QCOMPARE(Lines().size(), sent);
        const QStringList j = R->JournalTexts();
        QCOMPARE(j.filter("не читается").size(), settingLines);
        QCOMPARE(j.filter(QRegularExpression("^Ордер # \\d+ \\(\\w+\\) не прошел фильтры\\.$")).size(),
                 2 - sent);
    }

    int Positions() {
        return Ws->Scalar(Ws->Trading(), "SELECT ifnull(sum(quantity), 0) FROM tClientOpenPositions").toInt();
    }
    void Answer(const QByteArray& lines) {
        WriteBytes(Ws->TroPath(), lines, true);
        QVERIFY(R->Tick());
    }

    // The book follows QUIK: a refused entry leaves no position (also when it is the first answer of
    // a file that starts with a byte order mark); two entries and one exact exit close both; a refused
    // exit puts both back.
    void quikRefusals_correctTheBook_exactExitClosesTheSum() {
        Start(1);
        Ws->InsertAlert("FilledOrders", {}); // LE SBER: 10 lots, trans 0
        QVERIFY(R->Tick());
        QCOMPARE(Positions(), 10);
        Answer("\xEF\xBB\xBFTRANS_ID=1;STATUS=4;DESCRIPTION=\"refused\";\r\n");
        QCOMPARE(Positions(), 0);
        Ws->InsertAlert("FilledOrders", {});
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        Answer("TRANS_ID=2;STATUS=3;ORDER_NUMBER=11;\r\nTRANS_ID=3;STATUS=3;ORDER_NUMBER=12;\r\n");
        QCOMPARE(Positions(), 20);
        Ws->InsertAlert("FilledOrders", {{"OrderType", "LX"}, {"Order", "Sell 100 at 285.40 Limit"}});
        QVERIFY(R->Tick());
        QVERIFY2(Lines().last().contains("OPERATION=S;") && Lines().last().endsWith("QUANTITY=20"),
                 qPrintable(Lines().last()));
        QCOMPARE(Positions(), 0);
        Answer("TRANS_ID=4;STATUS=5;DESCRIPTION=\"no\";\r\n");
        QCOMPARE(Positions(), 20);
        QCOMPARE(R->JournalTexts().filter("книга исправлена").size(), 2);
    }

    // A plain short entry is recorded, and its exit removes it.
    void shortEntry_isRecorded_itsExitRemovesIt() {
        Start(1);
        Ws->InsertAlert("FilledOrders", {{"OrderType", "SE"}, {"Order", "Sell 100 at 285.40 Market"}});
        QVERIFY(R->Tick());
        QVERIFY(Lines().last().contains("OPERATION=S;"));
        QCOMPARE(Positions(), 10);
        Ws->InsertAlert("FilledOrders", {{"OrderType", "SX"}, {"Order", "Buy 30 at 285.40 Market"}});
        QVERIFY(R->Tick());
        QVERIFY(Lines().last().contains("OPERATION=B;") && Lines().last().endsWith("QUANTITY=10"));
        QCOMPARE(Positions(), 0);
    }

    // One alert to three clients is one transaction: the third client's failure leaves nothing of it.
    void groupDispatch_thirdClientFails_nothingRemains_thenAllThreeGoOnce() {
        R->S().rgpSingleMulti = 1;
        Start(1);
        Ws->Exec(Ws->Trading(),
                 "CREATE TRIGGER refuse333 BEFORE INSERT ON tOrderNumber WHEN NEW.code = '333' "
                 "BEGIN SELECT RAISE(ABORT, 'refused'); END");
        Ws->InsertAlert("FilledOrders", {});
        R->Tick();
        QVERIFY(Lines().isEmpty());
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tOrderNumber").toInt(), 0);
        QCOMPARE(Positions(), 0);
        Ws->Exec(Ws->Trading(), "DROP TRIGGER refuse333");
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 3);
        QCOMPARE(Positions(), 30);
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 3);
    }

    // A ";", CR, LF, NUL or a character Windows-1251 cannot hold in a client's or an instrument's
    // field never reaches a line; each is named once, by the column's title.
    void hostileFields_neverReachALine_eachNamedOnce() {
        R->S().rgpSingleMulti = 1;
        Start(1);
        Ws->Exec(Ws->Trading(), "UPDATE tClients SET AccountMicex = 'L01;QUANTITY=1000' WHERE Code = '222'");
        Ws->Exec(
            Ws->Trading(),
            "UPDATE tClients SET Code = '333' || char(13) || char(10) || 'TRANS_ID =10' WHERE Code = '333'");
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1);
        QVERIFY(Lines()[0].contains("CLIENT_CODE=111;"));
        QCOMPARE(R->JournalTexts().filter("строка \"222\", колонка \"Счет на ММВБ\"").size(), 1);
        QCOMPARE(R->JournalTexts().filter("колонка \"Код клиента\"").size(), 1);
        Ws->Exec(Ws->Trading(), "UPDATE tSecCode SET SecCode = 'SBER' || char(0) WHERE Ticker = 'SBER'");
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1);
        QVERIFY(
            !R->JournalTexts().filter("Инструменты, строка \"SBER\", колонка \"Код в Quik`е\"").isEmpty());
        // A zero-width space pasted into an account or a code would reach QUIK as byte 0x1A.
        Ws->Exec(Ws->Trading(), "UPDATE tSecCode SET SecCode = 'SBER' || char(8203) WHERE Ticker = 'SBER'");
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        Ws->Exec(Ws->Trading(), "UPDATE tSecCode SET SecCode = 'SBER' WHERE Ticker = 'SBER'");
        Ws->Exec(Ws->Trading(), "UPDATE tClients SET AccountMicex = 'L01' || char(8203) WHERE Code = '111'");
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1);
        const QStringList wide = R->JournalTexts().filter("U+200B, которого нет в Windows-1251");
        QCOMPARE(wide.size(), 2);
        QVERIFY(wide[0].contains("колонка \"Код в Quik`е\"") &&
                wide[1].contains("строка \"111\", колонка \"Счет на ММВБ\""));
        const QByteArray tri = ReadBytes(Ws->TriPath());
        QVERIFY(!tri.contains("QUANTITY=1000") && !tri.contains('\x1a'));
        for (const QString& l : R->Journal.Lines())
            QVERIFY(!l.contains(QChar(0)) && !l.contains('\n') && !l.contains(QChar(0x200B)));
    }

    void groupMode_threeClients_consecutiveNumbersOneFlush() {
        R->S().rgpSingleMulti = 1;
        Start(1);
        Ws->InsertAlert("FilledOrders",
                        {{"Symbol", "SiH7"}, {"Order", "Sell 2 at 91000 Limit"}, {"Fill Price", 91000.0}});
        QVERIFY(R->Tick());
        const QStringList l = Lines();
        QCOMPARE(l.size(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY(l[i].startsWith(QStringLiteral("TRANS_ID =%1;").arg(i + 1)));
        QVERIFY(l[0].contains("ACCOUNT=SPB01;") && l[0].contains("CLIENT_CODE=111;"));
        QVERIFY(l[2].contains("ACCOUNT=SPB03;") && l[2].contains("CLIENT_CODE=333;"));
        QVERIFY(l[0].contains("PRICE=90982;")); // sell: lowered by 0.02%, no decimals
        QCOMPARE(R->Sounds, 1);
        // Nobody active: nothing written, no line, the sound all the same.
        Ws->Exec(Ws->Trading(), "UPDATE tClients SET Active = 0");
        const int journal = R->Journal.Lines().size();
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 3);
        QCOMPARE(R->Journal.Lines().size(), journal);
        QCOMPARE(R->Sounds, 2);

        // The clients are kept between alerts; every way the table can change is seen by the next one.
        // Edited through the robot's own grid (its own connection, which the database does not count):
        TDataTable* clients = E().DatMod().tClients;
        clients->Open();
        TTableModel* m = clients->Model();
        QVERIFY(clients->LocateId(
            Ws->Scalar(Ws->Trading(), "SELECT id FROM tClients WHERE Code='222'").toLongLong()));
        QVERIFY(m->setData(m->index(clients->Current(), m->fieldIndex("Active")), 1));
        QVERIFY(clients->PostEdits());
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 4);
        QVERIFY(Lines().last().contains("CLIENT_CODE=222;"));
        // By another program:
        Ws->Exec(Ws->Trading(), "UPDATE tClients SET Active = 1 WHERE Code = '333'");
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 6);
        // Another database behind the same connection, whose change counter starts again:
        const QString other = Ws->Path("other.db");
        Ws->Exec(Ws->Trading(), "VACUUM INTO '" + other + "'"); // 222 and 333 active there
        Ws->Exec(Ws->Trading(), "UPDATE tClients SET Active = 0");
        R->S().QuikData = other;
        QVERIFY(R->Connect());
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 8);
    }

    void untradedInstrument_automaticSkippedWithItsLine() {
        Start(1);
        const qint64 id =
            Ws->InsertAlert("FilledOrders", {{"Symbol", "MGNT"}, {"Order", "Buy 5 at 5100 Limit"}});
        QVERIFY(R->Tick());
        QVERIFY(Lines().isEmpty());
        QCOMPARE(
            R->JournalTexts().last(),
            QStringLiteral(
                "Ордер # %1 (FilledOrders) не прошел фильтр по счету 111:  инструмент MGNT не торгуется.")
                .arg(id));
    }

    // A group alert that no account can take is said once, naming the accounts, not once per account.
    void groupAlertRefusedEverywhere_oneLineNamesTheAccounts() {
        R->S().rgpSingleMulti = 1;
        Ws->Exec(Ws->Trading(), "UPDATE tSecCode SET LotSize = 100 WHERE Ticker = 'SBER'");
        Start(1);
        const qint64 small = Ws->InsertAlert("FilledOrders", {{"Order", "Buy 5 at 285 Limit"}});
        Ws->InsertAlert("FilledOrders", {{"Symbol", "NOSUCH"}});
        QVERIFY(R->Tick());
        QVERIFY(Lines().isEmpty());
        const QStringList lots = R->JournalTexts().filter("меньше одного лота");
        QCOMPARE(lots.size(), 1);
        QVERIFY2(lots[0].startsWith(QStringLiteral("Ордер # %1 (FilledOrders) по счетам 111, 222, 333 не "
                                                   "отправлен: объем 0 меньше одного лота")
                                        .arg(small)),
                 qPrintable(lots[0]));
        QCOMPARE(R->JournalTexts().filter("Не найден код акции NOSUCH").size(), 1);
    }

    void activePassBusy_skipsOnePass_thenRecovers() {
        Start(0);
        R->LeaveActivePassBusy();
        Ws->InsertAlert("ActiveOrders", {});
        QVERIFY(R->Tick());
        QVERIFY(Lines().isEmpty());
        QVERIFY(!E().ActivePassBusy());
        QCOMPARE(E().LastActiveID(), 0);
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1);
    }

    void badRowsBetweenGoodOnes_areJournalledAndPassedOver_theRestIsSent() {
        Start(1);
        const qint64 a = Ws->InsertAlert("FilledOrders", {});
        const qint64 b =
            Ws->InsertAlert("FilledOrders", {{"Order", "Buy x at 1 Limit"}}); // quantity word is not a number
        const qint64 c =
            Ws->InsertAlert("FilledOrders", {{"Fill Price", "not a price"}}); // the row itself does not read
        const qint64 d = Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QVERIFY(R->Errors.isEmpty());
        QCOMPARE(Lines().size(), 2);
        const QStringList j = R->JournalTexts();
        QCOMPARE(j.filter(QStringLiteral("Ордер # %1 (FilledOrders):").arg(b)).size(), 1);
        QCOMPARE(j.filter(QStringLiteral("Ордер # %1 (FilledOrders): строка не читается").arg(c)).size(), 1);
        QVERIFY(j.filter(QStringLiteral("Ордер # %1 ").arg(a)).isEmpty());
        QCOMPARE(E().LastFilledID(), d);
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 2);
    }

    void storeFailure_endsThePass_alertIsSentOnceLater_orGivenUpAfterTheRetryPeriod() {
        R->S().rgpSingleMulti = 1; // three clients: one alert writes three rows, all or none
        Start(1);
        Ws->Exec(Ws->Trading(), "ALTER TABLE tClientOpenPositions RENAME TO away");
        const qint64 a =
            Ws->InsertAlert("FilledOrders", {{"OrderType", "SE"}, {"Order", "Sell 100 at 285 Limit"}});
        const qint64 b = Ws->InsertAlert("FilledOrders", {});
        for (int i = 0; i < 3; ++i)
            QVERIFY(R->Tick());
        QVERIFY(Lines().isEmpty());
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tOrderNumber").toInt(), 0);
        QCOMPARE(E().LastFilledID(), a - 1);
        QCOMPARE(R->Errors.size(), 1); // told once, not every tick
        QVERIFY(R->Errors[0].contains(QStringLiteral("Ордер # %1 (FilledOrders) не отправлен").arg(a)));
        Ws->Exec(Ws->Trading(), "ALTER TABLE away RENAME TO tClientOpenPositions");
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 6);
        QCOMPARE(Lines().filter("TRANS_ID =1;").size(),
                 1); // the numbers of the rolled-back tries are not used
        QCOMPARE(
            Ws->Scalar(Ws->Trading(), "SELECT count(DISTINCT id_order) || '/' || count(*) FROM tOrderNumber")
                .toString(),
            QStringLiteral("2/6"));
        QCOMPARE(E().LastFilledID(), b);

        // Still failing after the retry period: given up with a line, never sent late.
        Ws->Exec(Ws->Trading(), "ALTER TABLE tOrderNumber RENAME TO away");
        const qint64 c = Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        R->Clock.Set(R->Clock.Now().addSecs(31));
        QVERIFY(R->Tick());
        QCOMPARE(
            R->JournalTexts()
                .filter(QStringLiteral("Ордер # %1 (FilledOrders) не отправлен за 30 с и пропущен").arg(c))
                .size(),
            1);
        Ws->Exec(Ws->Trading(), "ALTER TABLE away RENAME TO tOrderNumber");
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 6);
        QCOMPARE(E().LastFilledID(), c);
    }

    void nullTexts_matchWhatWasRecorded_exitClosesTheEntry_nullCodeOrderCancels() {
        R->S().rgpSingleMulti = 1;
        Ws->Exec(Ws->Trading(), "UPDATE tClients SET Active = 0");
        Ws->Insert(Ws->Trading(), "tClients",
                   {{"Code", QVariant()}, {"AccountMicex", "L01-NULL"}, {"Active", 1}});
        Start(0);
        // An entry and its exit whose Interval is NULL: the exit sends the 10 recorded lots.
        Ws->InsertAlert("ActiveOrders", {{"Interval", QVariant()}, {"Order", "Buy 100 at 285 Limit"}});
        QVERIFY(R->Tick());
        WriteBytes(Ws->TroPath(), "TRANS_ID=1;STATUS=3;ORDER_NUMBER=4241;\r\n", true);
        QVERIFY(R->Tick());
        // The entry is in the book once the platform reports its fill.
        Ws->InsertAlert("FilledOrders", {{"Interval", QVariant()}, {"Order Number", "1"}});
        QVERIFY(R->Tick());
        QCOMPARE(Ws->Scalar(Ws->Trading(),
                            "SELECT quote(interval) || '/' || quote(code) FROM tClientOpenPositions")
                     .toString(),
                 QStringLiteral("''/''"));
        R->S().PositionSize = 1; // the mode's own quantity would be another one
        R->S().FixVol = "5";
        Ws->InsertAlert("ActiveOrders",
                        {{"Interval", QVariant()}, {"OrderType", "LX"}, {"Order", "Sell 100 at 285 Limit"}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 2);
        QVERIFY2(Lines()[1].endsWith(";QUANTITY=10"), qPrintable(Lines()[1]));
        // The order of the client whose Code is NULL is found again for its cancellation.
        WriteBytes(Ws->TroPath(), "TRANS_ID=2;STATUS=3;ORDER_NUMBER=4242;\r\n", true);
        QVERIFY(R->Tick());
        R->S().PositionSize = 0;
        Ws->InsertAlert("CanceledOrders", {{"Order Number", "2"}});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 3);
        QVERIFY2(Lines()[2].contains("ACTION=KILL_ORDER") && Lines()[2].contains("Order_key=4242;"),
                 qPrintable(Lines()[2]));
        // The exit never filled: the position stays.
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tClientOpenPositions").toInt(), 1);
    }

    void windowsPaths_areOneFileForEveryReaderAndWriter() {
        R->S().pathTRI = Ws->Path("quik") + "\\trans.tri";
        R->S().pathTRO = Ws->Path("quik") + "\\trans.tro";
        E().PrepareTransactionFiles();
        Start(1);
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1); // quik/trans.tri
        WriteBytes(Ws->TroPath(), "TRANS_ID=1;STATUS=3;ORDER_NUMBER=7;\r\n", true);
        QVERIFY(R->Tick());
        QCOMPARE(E().Reader().TransDone, 1);
        QVERIFY(QDir(Ws->Path("quik")).entryList(QDir::Files).filter("\\").isEmpty());
        QVERIFY(QDir(Ws->Path(".")).entryList(QDir::Files).filter("\\").isEmpty());
    }

    void alertIdsBeyond32Bits_areSentAndRecordedWhole() {
        Start(1);
        Ws->InsertAlert("FilledOrders", {{"ID", 3000000000LL}});
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 2);
        QCOMPARE(E().LastFilledID(), 3000000001LL);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT max(id_order) FROM tOrderNumber").toLongLong(),
                 3000000001LL);
        WriteBytes(Ws->TroPath(), "TRANS_ID=1;STATUS=3;ORDER_NUMBER=7;\r\n", true);
        QVERIFY(R->Tick());
        QCOMPARE(Ws->Scalar(Ws->Alerts(), "SELECT \"Order Number\" FROM FilledOrders WHERE ID = 3000000000")
                     .toString(),
                 QStringLiteral("3000000000"));
    }

    void reconnectToAMissingFile_saysWhyOnce_ticksStayQuiet() {
        Start(1);
        R->S().Alerts = Ws->Path("missing.db");
        QVERIFY(R->Connect() == false);
        QVERIFY(R->JournalTexts().join('\n').contains(
            QStringLiteral("Файл базы данных не найден: %1").arg(Ws->Path("missing.db"))));
        for (int i = 0; i < 3; ++i)
            QVERIFY(R->Tick());
        QVERIFY(R->Errors.isEmpty());
        R->S().Alerts = Ws->AlertsPath();
        QVERIFY(R->Connect());
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1);
    }

    void wakeOnChange_sendsWithoutWaitingForTheTimer_offWaitsForIt_data() {
        QTest::addColumn<bool>("wake");
        QTest::newRow("waking") << true;
        QTest::newRow("polling") << false;
    }
    void wakeOnChange_sendsWithoutWaitingForTheTimer_offWaitsForIt() {
        QFETCH(bool, wake);
        R->S().WakeOnChange = wake;
        R->S().intTable = "3600"; // the timer would not come during this test
        E().ApplyTimerPeriods();
        Start(1);
        Ws->InsertAlert("FilledOrders", {});
        QTest::qWait(1500);
        QCOMPARE(Lines().size(), wake ? 1 : 0);
        WriteBytes(Ws->TroPath(), "TRANS_ID=1;STATUS=3;ORDER_NUMBER=5;\r\n", true);
        QTest::qWait(1500);
        QCOMPARE(E().Reader().TransDone, wake ? 1 : 0);
        // And the next one: the watch holds after the first change.
        if (wake) {
            Ws->InsertAlert("FilledOrders", {});
            QTRY_COMPARE_WITH_TIMEOUT(Lines().size(), 2, 5000);
        }
    }

    void startStop_linesActionsAndTrayFrames() {
        QVERIFY(R->Connect());
        QVERIFY(E().Actions().actStartWatch && !E().Actions().actStopWatch);
        E().actStartWatchExecute();
        QCOMPARE(R->JournalTexts().last(), QStringLiteral("Загрузка ордеров включена."));
        QVERIFY(!E().Actions().actStartWatch && E().Actions().actStopWatch);
        QList<int> frames;
        for (int i = 0; i < 4; ++i) {
            QVERIFY(R->Tick());
            frames << E().ShownTrayFrame();
        }
        QCOMPARE(frames, (QList<int>{1, 2, 3, 0}));
        QVERIFY(R->Tick());
        QVERIFY(R->Tick()); // frame 2
        E().actStopWatchExecute();
        QCOMPARE(R->JournalTexts().last(), QStringLiteral("Загрузка ордеров остановлена."));
        QCOMPARE(E().ShownTrayFrame(), 0);
        QVERIFY(R->Tick());
        QCOMPARE(E().ShownTrayFrame(), 0); // no pass while stopped
        // Rows that arrived while stopped are never sent; the animation goes on from frame 2.
        Ws->InsertAlert("FilledOrders", {});
        E().actStartWatchExecute();
        QVERIFY(R->Tick());
        QCOMPARE(E().ShownTrayFrame(), 3);
        QVERIFY(Lines().isEmpty());
    }

    void switchingToAdvanceWhileWatching_countsRowsSinceStartAsNew() {
        Start(1);
        Ws->InsertAlert("ActiveOrders", {});
        QVERIFY(R->Tick());
        QVERIFY(Lines().isEmpty());
        R->S().rgpFilled = 0;
        QVERIFY(R->Tick());
        QCOMPARE(Lines().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTrading)
#include "tst_trading.moc"
