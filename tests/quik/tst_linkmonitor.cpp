#include "notify/MailNotifier.h"
#include "quik/LinkMonitor.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTest>

class TestLinkMonitor : public QObject {
    Q_OBJECT
private slots:
    void init() { KORVEX_TEST_INIT(); }

    void transitions_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("lastSize");
        QTest::addColumn<int>("size"); // 0: no file
        QTest::addColumn<int>("after");
        QTest::addColumn<QString>("line");
        QTest::newRow("255, grew") << 255 << 10 << 20 << 1 << "";
        QTest::newRow("255, same") << 255 << 10 << 10 << 0 << "";
        QTest::newRow("255, gone") << 255 << 10 << 0 << 1 << "";
        QTest::newRow("0, grew") << 0 << 10 << 20 << 1 << "Соединение установлено";
        QTest::newRow("0, gone") << 0 << 10 << 0 << 1 << "";
        QTest::newRow("0, same") << 0 << 10 << 10 << 0 << "";
        QTest::newRow("0, missing all along") << 0 << 0 << 0 << 0 << "";
        QTest::newRow("1, grew") << 1 << 10 << 20 << 1 << "";
        QTest::newRow("1, same") << 1 << 10 << 10 << 0 << "Соединение разорвано";
        QTest::newRow("1, missing twice") << 1 << 0 << 0 << 0 << "";
    }
    void transitions() {
        QFETCH(int, before);
        QFETCH(int, lastSize);
        QFETCH(int, size);
        QFETCH(int, after);
        QFETCH(QString, line);
        TTestWorkspace ws;
        TTestRobot r(ws);
        r.S().QuikConnect = true;
        r.S().SendQuikConnect = false;
        if (size > 0) WriteBytes(ws.InfoLogPath(), QByteArray(size, 'x'));
        TLinkMonitor& m = r.Engine->Monitor();
        m.QuikLinkState = static_cast<quint8>(before);
        m.LastInfoLogSize = lastSize;
        m.timInfoLogTimer();
        QCOMPARE(int(m.QuikLinkState), after);
        QCOMPARE(m.LastInfoLogSize, size);
        QCOMPARE(r.JournalTexts(), line.isEmpty() ? QStringList() : QStringList{line});
    }

    void aLifetime_breakAndRecoveryAnnouncedOnce_mailedWhenChosen() {
        TTestWorkspace ws;
        TTestRobot r(ws);
        r.S().QuikConnect = true;
        r.S().SendQuikConnect = true;
        r.S().Email1 = "ops@example.test";
        WriteBytes(ws.InfoLogPath(), "a");
        TLinkMonitor& m = r.Engine->Monitor();
        m.LastInfoLogSize = m.GetInfoLogSize();
        m.timInfoLogTimer(); // first tick: silent, unchanged -> broken
        QCOMPARE(int(m.QuikLinkState), 0);
        QVERIFY(r.JournalTexts().isEmpty());
        QCOMPARE(r.Engine->StatusPanels()[2], QStringLiteral("Связь Quik с сервером: Нет"));
        for (int i = 0; i < 3; ++i) {
            WriteBytes(ws.InfoLogPath(), "b", true);
            m.timInfoLogTimer();
        }
        QCOMPARE(r.Engine->StatusPanels()[2], QStringLiteral("Связь Quik с сервером: ОК"));
        m.timInfoLogTimer();
        m.timInfoLogTimer();
        QVERIFY(r.Engine->Mail().WaitIdle(30000));
        const QStringList j = r.JournalTexts();
        QCOMPARE(j.count(QStringLiteral("Соединение установлено")), 1);
        QCOMPARE(j.count(QStringLiteral("Соединение разорвано")), 1);
        // Each announced change was also mailed: the (unreachable) server's failure line names it.
        QCOMPARE(j.filter(QRegularExpression(
                              "^Нет связи с почтовым сервером .*: \"Соединение (установлено|разорвано)\"$"))
                     .size(),
                 2);
        // With the monitor switched off nothing is read and panel 3 reads N/A.
        r.S().QuikConnect = false;
        WriteBytes(ws.InfoLogPath(), "c", true);
        m.timInfoLogTimer();
        QCOMPARE(int(m.QuikLinkState), 0);
        QCOMPARE(r.Engine->StatusPanels()[2], QStringLiteral("Связь Quik с сервером: Н/Д"));
    }
};

QTEST_GUILESS_MAIN(TestLinkMonitor)
#include "tst_linkmonitor.moc"
