#include "quik/ResultReader.h"
#include "quik/TransactionWriter.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSqlQuery>
#include <QTest>
#include <csignal>

// A restart or a file replaced in the middle of the day: the robot keeps track of its orders.
class TestRestart : public QObject, TRobotFixture {
    Q_OBJECT

    TEngine& E() { return *R->Engine; }
    // The robot stopped and started again on the same workspace, as a new process would be.
    void Restart(const QDateTime& at = QDateTime()) {
        R.reset();
        R = std::make_unique<TTestRobot>(*Ws);
        if (at.isValid()) R->Clock.Set(at);
        E().PrepareTransactionFiles();
        QVERIFY(R->Connect());
    }
    void Answer(const QByteArray& lines) {
        WriteBytes(Ws->TroPath(), lines, true);
        QVERIFY(R->Tick());
    }

private slots:
    void init() {
        StartRobot(true, false);
        R->S().PositionSize = 0;
    }
    void cleanup() { StopRobot(); }

    // The earlier run's orders are pulled once after a restart, with numbers that go on: also one whose
    // acceptance the earlier run never read, and one QUIK accepts only after the restart, whose
    // cancellation waits for its number.
    void afterARestart_pullAllTakesTheEarlierOrdersOnce_numbersGoOn_lateAcceptancesCount() {
        R->S().rgpSingleMulti = 1;
        R->S().rgpFilled = 0;
        QVERIFY(R->Connect());
        E().actStartWatchExecute();
        Ws->InsertAlert("ActiveOrders", {{"Order", "Sell 100 at 270 Stop"}}); // trans 1..3, three clients
        QVERIFY(R->Tick());
        Answer("TRANS_ID=1;STATUS=3;ORDER_NUMBER=900;\r\n");
        // Written by QUIK, never read before the robot went away.
        WriteBytes(Ws->TroPath(), "TRANS_ID=2;STATUS=3;ORDER_NUMBER=901;\r\n", true);
        Restart();
        QVERIFY2(R->JournalTexts().contains(QStringLiteral(
                     "Перенесено заявок прошлого запуска, живущих в Quik: 3. Их можно снять.")),
                 qPrintable(R->JournalTexts().join('\n')));
        QCOMPARE(E().PullAllOrdersCount(), 3);
        QVERIFY(E().RunEvent([&] { E().actPullAllOrdersExecute(); }));
        QStringList kills = R->TriLines();
        QCOMPARE(kills.size(), 2);
        QVERIFY2(kills[0].startsWith("TRANS_ID =4;ACTION=KILL_STOP_ORDER;") &&
                     kills[0].contains("Order_key=900;Stop_Order_key=900;") &&
                     kills[0].contains("CLIENT_CODE=111;"),
                 qPrintable(kills[0]));
        QVERIFY(R->JournalTexts().last().contains("Из них заявок прошлого запуска: 3."));
        QCOMPARE(E().PullAllOrdersCount(), 0);
        // QUIK accepts the earlier run's transaction 3 only now: its waiting cancellation goes out at
        // once; a number nobody sent changes nothing.
        Answer("TRANS_ID=3;STATUS=3;ORDER_NUMBER=902;\r\nTRANS_ID=77;STATUS=3;ORDER_NUMBER=1;\r\n");
        QCOMPARE(R->JournalTexts().filter("роботом не отправлялась").size(), 1);
        kills = R->TriLines();
        QCOMPARE(kills.size(), 3);
        QVERIFY2(kills[2].startsWith("TRANS_ID =6;") && kills[2].contains("Order_key=902;"),
                 qPrintable(kills[2]));
        // The first two cancellations confirmed, the third not yet: only 902 can still be pulled.
        Answer("TRANS_ID=4;STATUS=3;ORDER_NUMBER=900;\r\nTRANS_ID=5;STATUS=3;ORDER_NUMBER=901;\r\n");
        Restart();
        QCOMPARE(E().PullAllOrdersCount(), 0); // its cancellation is on its way
        Answer("TRANS_ID=6;STATUS=4;DESCRIPTION=\"late\";\r\n");
        QCOMPARE(E().PullAllOrdersCount(), 1); // QUIK refused it: the order lives
        // The cancellations' numbers are the day's too, also once the file that held them is emptied.
        QCOMPARE(E().Registry().NextTransId(), 7);
        Restart();
        QCOMPARE(E().Registry().NextTransId(), 7);
    }

    // The database keeps which lines reached the file: a restart that finds no .TRI (removed by hand,
    // or another path set) still knows both alerts went out and takes nothing back.
    void fileGoneAfterTheRun_linesThatReachedItAreStillSent() {
        QVERIFY(R->Connect());
        R->S().rgpFilled = 0;
        E().actStartWatchExecute();
        Ws->InsertAlert("ActiveOrders", {{"Order", "Sell 100 at 270 Stop"}});
        QVERIFY(R->Tick());
        Ws->InsertAlert("ActiveOrders", {{"Order", "Buy 100 at 260 Limit"}});
        QVERIFY(R->Tick());
        QCOMPARE(R->TriLines().size(), 2);
        R.reset();
        QVERIFY(QFile::remove(Ws->TriPath()));
        Restart();
        QVERIFY2(R->JournalTexts().filter("строки нет в файле").isEmpty(),
                 qPrintable(R->JournalTexts().join('\n')));
        for (const qint32 id : {1, 2})
            QCOMPARE(E().Registry().Find(id)->Stage, TOrderStage::InFile);
        QCOMPARE(E().PullAllOrdersCount(), 2); // awaiting QUIK's answer: pulled as soon as it comes
    }

    // A new trading day starts with no orders and numbers from 1.
    void aNewDay_carriesNothingOver_numbersStartAgain() {
        QVERIFY(R->Connect());
        R->S().rgpFilled = 0;
        E().actStartWatchExecute();
        Ws->InsertAlert("ActiveOrders", {{"Order", "Sell 100 at 270 Stop"}});
        QVERIFY(R->Tick());
        Answer("TRANS_ID=1;STATUS=3;ORDER_NUMBER=900;\r\n");
        Restart(R->Clock.Now().addDays(1));
        QCOMPARE(E().PullAllOrdersCount(), 0);
        QCOMPARE(E().Registry().NextTransId(), 1);
        QVERIFY(R->JournalTexts().contains(
            QStringLiteral("Новый торговый день: заявки прошлого дня (1) не перенесены.")));
    }

    // The platform's new database put in place of the watched one is connected to and watched.
    void alertsDatabaseReplacedWhileWatching_itsNewAlertsGoOut() {
        QVERIFY(R->Connect());
        R->S().rgpFilled = 1;
        E().actStartWatchExecute();
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(R->TriLines().size(), 1);
        // A fresh file with the same tables, its ids starting again, moved over the old one.
        const QString fresh = Ws->Path("fresh.db");
        Ws->Exec(Ws->Alerts(), "VACUUM INTO '" + fresh + "'");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "fresh");
            db.setDatabaseName(fresh);
            QVERIFY(db.open());
            QSqlQuery(db).exec("DELETE FROM FilledOrders");
            QSqlQuery(db).exec("DELETE FROM sqlite_sequence");
            db.close();
        }
        QSqlDatabase::removeDatabase("fresh");
        QVERIFY(QFile::remove(Ws->AlertsPath()));
        QFile::remove(Ws->AlertsPath() + "-wal");
        QFile::remove(Ws->AlertsPath() + "-shm");
        QVERIFY(QFile::rename(fresh, Ws->AlertsPath()));
        Ws->ReopenAlerts();
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QVERIFY(R->Tick());
        QCOMPARE(R->TriLines().size(), 2);
        QCOMPARE(R->JournalTexts().filter("заменен новым").size(), 1);
    }

    // QUIK's new result file is read from its start, even when it is already longer than the old one.
    void newResultFileLongerThanTheOldOffset_everyResultIsRead() {
        QVERIFY(R->Connect());
        for (int t = 1; t <= 4; ++t)
            R->RecordInFile("ActiveOrders", t);
        Answer("TRANS_ID=1;STATUS=0;\r\n");
        QCOMPARE(E().Reader().TransAtServer, 1);
        const QString next = Ws->Path("next.tro");
        WriteBytes(next, "TRANS_ID=2;STATUS=0;\r\nTRANS_ID=3;STATUS=0;\r\nTRANS_ID=4;STATUS=0;\r\n");
        QVERIFY(QFile::remove(Ws->TroPath()));
        QVERIFY(QFile::rename(next, Ws->TroPath()));
        QVERIFY(R->Tick());
        QCOMPARE(E().Reader().TransAtServer, 4);
    }
};

QTEST_GUILESS_MAIN(TestRestart)
#include "tst_restart.moc"
