#include "support/TestSupport.h"

#include <QDir>
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
                       "[Quik]\r\npathTRI=%1\r\npathTRO=%2\r\npathInfoLog=%3\r\nAlerts=%4\r\nConnect=-1\r\n"
                       "[Mail]\r\nSecurity=0\r\nAuten=-1\r\n")
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
        // A mail password that would cross the network in clear is said at start, once.
        QCOMPARE(log.count(QStringLiteral("Внимание: пароль почты передаётся по сети открытым текстом")), 1);
        // A restart is found in the journal: one line at start (version and folder), one at exit.
        const QStringList lines = log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QVERIFY2(lines.first().endsWith(QStringLiteral("Korvex %1 запущен без окна, рабочая папка %2.")
                                            .arg(KORVEX_VERSION, QDir::toNativeSeparators(dir.path()))),
                 qPrintable(lines.first()));
        QVERIFY2(
            lines.last().endsWith(QStringLiteral("Korvex %1 завершает работу (получен сигнал завершения).")
                                      .arg(KORVEX_VERSION)),
            qPrintable(lines.last()));
        // The help and icons staged in the build tree are found beside the program.
        QVERIFY2(!log.contains(QStringLiteral("Не найден файл программы")), qPrintable(log));
        // Standard output carries the same lines, as UTF-8.
        QVERIFY(QString::fromUtf8(out).contains(QStringLiteral("При подключении к базе данных")));
    }

    void commandLine_answersBeforeStarting_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("stdoutStart");
        QTest::addColumn<QByteArray>("stderrStart");
        QTest::newRow("version") << QStringList{"--version"} << 0 << QByteArray("korvex " KORVEX_VERSION "\n")
                                 << QByteArray();
        QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("Usage: korvex") << QByteArray();
        // Qt's own options are left to Qt: they are no reason to refuse --help.
        QTest::newRow("help after a Qt option") << QStringList{"-platform", "offscreen", "-h"} << 0
                                                << QByteArray("Usage: korvex") << QByteArray();
        QTest::newRow("unknown option") << QStringList{"--watch", "--no-such"} << 2 << QByteArray()
                                        << QByteArray("Unknown argument: --no-such");
        // A word Qt does not take is refused once the application object has taken out its own.
        QTest::newRow("stray word headless") << QStringList{"--headless", "stray"} << 2 << QByteArray()
                                             << QByteArray("Unknown argument: stray");
        QTest::newRow("workdir without folder")
            << QStringList{"--workdir"} << 2 << QByteArray() << QByteArray("--workdir needs a folder");
    }

    void commandLine_answersBeforeStarting() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, stdoutStart);
        QFETCH(QByteArray, stderrStart);
        QTemporaryDir dir; // a start that went too far would leave its journal here, not in the test's folder
        QProcess p;
        p.setWorkingDirectory(dir.path());
        // No display at all: answering the command line must not need one.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KORVEX_EXE), args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
        QVERIFY2(out.startsWith(stdoutStart) && (!stdoutStart.isEmpty() || out.isEmpty()), out.constData());
        QVERIFY2(err.startsWith(stderrStart), err.constData());
        if (exitCode == 2) QVERIFY2(err.contains("\nUsage: korvex"), err.constData());
        QVERIFY(!QFileInfo::exists(dir.filePath("Korvex.log")));
    }

    void unwritableWorkdir_endsStartupWithClearError() {
        QProcess p;
        p.start(QStringLiteral(KORVEX_EXE), {"--headless", "--workdir", "/proc"});
        QVERIFY(p.waitForFinished(10000));
        QVERIFY(p.exitCode() != 0);
        QVERIFY(p.readAllStandardError().contains("Korvex.lock"));
    }
};

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
