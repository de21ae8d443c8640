#include "common/KorvexError.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void init() { KORVEX_TEST_INIT(); }

    void transactionFiles_areEmptiedAtStart() {
        TTestWorkspace ws;
        TTestRobot r(ws);
        WriteBytes(ws.TriPath(), "TRANS_ID =0;ACTION=NEW_ORDER\r\n");
        WriteBytes(ws.TroPath(), "TRANS_ID=0;STATUS=3;\r\n");
        WriteBytes(ws.Path("quik/trans.TRR"), "old\r\n");
        r.Engine->PrepareTransactionFiles();
        QCOMPARE(QFileInfo(ws.TriPath()).size(), 0);
        QCOMPARE(QFileInfo(ws.TroPath()).size(), 0);
        QVERIFY(QFileInfo::exists(ws.Path("quik/trans.TRR")));
        QCOMPARE(QFileInfo(ws.Path("quik/trans.TRR")).size(), 0);
        QVERIFY(r.Journal.Lines().isEmpty());
    }

    void missingFolder_isCreatedOneLevelOnly() {
        TTestWorkspace ws;
        TTestRobot r(ws);
        r.S().pathTRI = ws.Path("newdir/t.tri");
        r.S().pathTRO = ws.Path("newdir/t.tro");
        r.Engine->PrepareTransactionFiles();
        QVERIFY(QFileInfo::exists(ws.Path("newdir/t.tri")));
        QVERIFY(QFileInfo::exists(ws.Path("newdir/t.TRR")));
        QVERIFY(r.Journal.Lines().isEmpty());
    }

    void folderMissingTwoLevels_givesOneErrorLine_andTouchesNothingElse() {
        TTestWorkspace ws;
        TTestRobot r(ws);
        WriteBytes(ws.TroPath(), "kept\r\n");
        r.S().pathTRI = ws.Path("a/b/t.tri");
        r.Engine->PrepareTransactionFiles();
        QVERIFY(!QDir(ws.Path("a")).exists());
        QCOMPARE(ReadBytes(ws.TroPath()), QByteArray("kept\r\n"));
        const QStringList lines = r.JournalTexts();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("При создании файлов транзакций %1, %2 произошла ошибка: ")
                               .arg(ws.Path("a/b/t.tri"), ws.TroPath()));
        QVERIFY(lines[1].contains(QLatin1String("a/b/t.tri")));
    }

    void loadSettings_appliesBothTimerPeriods() {
        TTestWorkspace ws;
        TTestRobot r(ws);
        WriteBytes(ws.Path("Korvex.ini"), "[Quik]\r\nintTable=5\r\nQuikConnectTimeOut=0\r\n");
        r.Engine->LoadSettings();
        QCOMPARE(r.Engine->timUpdateTable().IntervalMs(), 5000);
        QCOMPARE(r.Engine->timInfoLog().IntervalMs(), 0);
        QVERIFY(!r.Engine->timInfoLog().IsTicking());     // period 0: the monitor never ticks
        QVERIFY(!r.Engine->timUpdateTable().IsTicking()); // stopped until the databases are connected
    }

    void badPeriods_leaveTheRightTimersUnchanged() {
        TTestWorkspace ws;
        TTestRobot r(ws);
        WriteBytes(ws.Path("Korvex.ini"), "[Quik]\r\nintTable=x\r\nQuikConnectTimeOut=7\r\n");
        QVERIFY(!r.Engine->RunEvent([&] { r.Engine->LoadSettings(); }));
        QCOMPARE(r.Engine->timUpdateTable().IntervalMs(), 1000);
        QCOMPARE(r.Engine->timInfoLog().IntervalMs(), 60000);
        QCOMPARE(r.Engine->Settings.QuikConnectTimeOut, QStringLiteral("7")); // loaded as text all the same
        WriteBytes(ws.Path("Korvex.ini"), "[Quik]\r\nintTable=3\r\nQuikConnectTimeOut=y\r\n");
        QVERIFY(!r.Engine->RunEvent([&] { r.Engine->LoadSettings(); }));
        QCOMPARE(r.Engine->timUpdateTable().IntervalMs(), 3000);
        QCOMPARE(r.Engine->timInfoLog().IntervalMs(), 60000);
        const QString ini = QDir::toNativeSeparators(ws.Path("Korvex.ini"));
        QCOMPARE(r.Errors,
                 (QStringList{ini + ", [Quik] intTable: 'x' is not a valid integer value",
                              ini + ", [Quik] QuikConnectTimeOut: 'y' is not a valid integer value"}));
    }

    void periodsOutOfLimits_areReplaced_withOneLineNamingKeyAndValues_data() {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("periodMs");
        QTest::addColumn<QString>("line");
        const QString table =
            QStringLiteral("Период опроса таблиц (intTable) %1 с вне пределов 1..3600 с; используется %2 с.");
        const QString link = QStringLiteral("Период проверки связи QUIK (QuikConnectTimeOut) %1 с вне "
                                            "пределов 1..86400 с; используется %2 с.");
        QTest::newRow("table 0") << QByteArray("intTable") << QByteArray("0") << 1000 << table.arg(0).arg(1);
        QTest::newRow("table negative")
            << QByteArray("intTable") << QByteArray("-5") << 1000 << table.arg(-5).arg(1);
        QTest::newRow("table huge") << QByteArray("intTable") << QByteArray("3000000") << 3600000
                                    << table.arg(3000000).arg(3600);
        QTest::newRow("table an hour")
            << QByteArray("intTable") << QByteArray("3600") << 3600000 << QString();
        QTest::newRow("link 0 is off")
            << QByteArray("QuikConnectTimeOut") << QByteArray("0") << 0 << QString();
        QTest::newRow("link negative")
            << QByteArray("QuikConnectTimeOut") << QByteArray("-5") << 60000 << link.arg(-5).arg(60);
        QTest::newRow("link beyond a day") << QByteArray("QuikConnectTimeOut") << QByteArray("3000000")
                                           << 86400000 << link.arg(3000000).arg(86400);
        QTest::newRow("link a day") << QByteArray("QuikConnectTimeOut") << QByteArray("86400") << 86400000
                                    << QString();
    }
    void periodsOutOfLimits_areReplaced_withOneLineNamingKeyAndValues() {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(int, periodMs);
        QFETCH(QString, line);
        TTestWorkspace ws;
        TTestRobot r(ws);
        WriteBytes(ws.Path("Korvex.ini"), "[Quik]\r\n" + key + "=" + value + "\r\n");
        QVERIFY(r.Engine->RunEvent([&] { r.Engine->LoadSettings(); }));
        const TPeriodicTimer& timer = key == "intTable" ? r.Engine->timUpdateTable() : r.Engine->timInfoLog();
        QCOMPARE(timer.IntervalMs(), periodMs);
        QCOMPARE(r.JournalTexts(), line.isEmpty() ? QStringList() : QStringList{line});
        QVERIFY(r.Errors.isEmpty());
    }

    void errorReport_showsOneBoxAtATime() {
        TTestWorkspace ws;
        TTestRobot r(ws);
        QStringList shown;
        r.Engine->ErrorReport().ShowBox = [&](const QString& t) {
            shown << t;
            // While this box is open another error arrives: it goes to the journal instead.
            r.Engine->RunEvent([] { throw KorvexError(QStringLiteral("second")); });
        };
        r.Engine->RunEvent([] { throw KorvexError(QStringLiteral("first")); });
        QCOMPARE(shown, QStringList{QStringLiteral("first")});
        QCOMPARE(r.JournalTexts().last(), QStringLiteral("second"));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
