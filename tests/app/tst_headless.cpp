#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestHeadless : public QObject {
    Q_OBJECT
private slots:
    void sigterm_shutsDownInOrder_journalEndsWithLastFlushedLine() {
        QTemporaryDir dir;
        WriteBytes(dir.filePath("Korvex.ini"),
                   QStringLiteral(
                       "[Quik]\r\npathTRI=%1\r\npathTRO=%2\r\npathInfoLog=%3\r\nAlerts=%4\r\nConnect=-1\r\n")
                       .arg(dir.filePath("q/t.tri"), dir.filePath("q/t.tro"), dir.filePath("q/info.log"),
                            dir.filePath("missing.db"))
                       .toUtf8());
        QProcess p;
        p.start(QStringLiteral(KORVEX_EXE), {"--headless", "--workdir", dir.path()});
        QVERIFY(p.waitForStarted());
        // Start-up journals the failed connect of the missing database; wait for it on stdout.
        QByteArray out;
        for (int i = 0; i < 100 && !out.contains("missing.db"); ++i) {
            p.waitForReadyRead(100);
            out += p.readAllStandardOutput();
        }
        QVERIFY2(out.contains("missing.db"), out.constData());
        QVERIFY(QFileInfo::exists(dir.filePath("q/t.tri")));
        p.terminate(); // SIGTERM here, a close request on Windows
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const QString log = ReadCp1251(dir.filePath("Korvex.log"));
        QVERIFY(log.endsWith(QStringLiteral("\r\n")));
        QVERIFY(log.contains(QStringLiteral("При подключении к базе данных %1 произошла ошибка:\r\n")
                                 .arg(dir.filePath("missing.db"))));
        // The help and icons staged in the build tree are found beside the program.
        QVERIFY2(!log.contains(QStringLiteral("Не найден файл программы")), qPrintable(log));
        // Standard output carries the same lines, as UTF-8.
        QVERIFY(QString::fromUtf8(out).contains(QStringLiteral("При подключении к базе данных")));
    }

    void unwritableWorkdir_endsStartupWithClearError() {
        QProcess p;
        p.start(QStringLiteral(KORVEX_EXE), {"--headless", "--workdir", "/proc"});
        QVERIFY(p.waitForFinished(10000));
        QVERIFY(p.exitCode() != 0);
        QVERIFY(p.readAllStandardError().contains("Korvex.log"));
    }
};

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
