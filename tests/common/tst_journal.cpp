#include "common/Codec.h"
#include "common/ConsoleEcho.h"
#include "common/Journal.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

class TestJournal : public QObject {
    Q_OBJECT
private slots:
    void consoleEcho_neverWaitsForItsReader_saysWhatItLeftOut() {
        int fds[2];
        QVERIFY(pipe(fds) == 0);
        QByteArray read;
        // The pipe is full before the first line: however fast the echo's thread, it cannot drain the
        // queue into the pipe's buffer, so what overflows the queue is left out for sure.
        const int capacity = fcntl(fds[1], F_GETPIPE_SZ);
        QVERIFY(capacity > 0);
        const QByteArray filler = QByteArray(capacity - 1, 'x') + '\n';
        QCOMPARE(::write(fds[1], filler.constData(), static_cast<size_t>(filler.size())),
                 static_cast<ssize_t>(filler.size()));
        {
            TConsoleEcho echo(fds[1]);
            // Nobody reads: the robot's side must not wait (it would hang here), whatever the pipe holds.
            const int added = 3 * TConsoleEcho::MaxQueued;
            for (int i = 0; i < added; ++i)
                echo.Add({QStringLiteral("строка %1").arg(i)});
            // The reader comes back: the lines queued, then what was left out, then the next ones.
            std::thread reader([&] {
                char buf[65536];
                for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
                    read.append(buf, n);
            });
            QThread::msleep(200);
            echo.Add({QStringLiteral("после")});
            QThread::msleep(200);
            ::close(fds[1]); // the echo below finds its reader's end closed once it ends
            reader.join();
        }
        ::close(fds[0]);
        QVERIFY(read.startsWith(filler));
        read.remove(0, filler.size());
        // Every line is printed in its order or counted in a note, and the reader hears of the gap before
        // the next line: how much the echo's thread took before it blocked is the scheduler's choice.
        const QList<QByteArray> lines = read.split('\n');
        QVERIFY(lines.size() > 3);
        QCOMPARE(QString::fromUtf8(lines.first()), QStringLiteral("строка 0"));
        qint64 expected = 0, leftOut = 0;
        bool after = false;
        for (const QByteArray& l : lines) {
            const QString line = QString::fromUtf8(l);
            if (line.isEmpty()) continue;
            QVERIFY2(!after, qPrintable(line));
            if (line == QStringLiteral("после")) {
                after = true;
                continue;
            }
            if (line.startsWith(QLatin1Char('('))) {
                QVERIFY2(line.contains(QLatin1String("journal lines not printed")), qPrintable(line));
                const qint64 n = line.mid(1).section(QLatin1Char(' '), 0, 0).toLongLong();
                QVERIFY(n > 0);
                leftOut += n;
                expected += n;
                continue;
            }
            QCOMPARE(line, QStringLiteral("строка %1").arg(expected));
            ++expected;
        }
        QVERIFY(after);
        QCOMPARE(expected, 3 * TConsoleEcho::MaxQueued);
        QVERIFY(leftOut > 0);
    }

    void init() { KORVEX_TEST_INIT(); }

    void lines_areStampedWithRegionalDateAndTime() {
        QTemporaryDir dir;
        TManualClock clock(QDateTime(QDate(2026, 3, 4), QTime(9, 5, 7)));
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        TJournal j(clock);
        QVERIFY(j.Open(dir.filePath("Korvex.log")));
        j.AddJournalLine(QStringLiteral("Загрузка ордеров включена."));
        QCOMPARE(j.Lines().last(), QStringLiteral("04.03.2026 09:05:07 Загрузка ордеров включена."));
        j.AddJournalLine(QString());
        QVERIFY2(j.Lines().last().endsWith(QLatin1String("09:05:07 ")), qPrintable(j.Lines().last()));
    }

    void fullDisk_keepsTheLines_finishesACutLine_neverWritesOneTwice() {
        QTemporaryDir dir;
        TManualClock clock;
        const QString path = dir.filePath("Korvex.log");
        // A child whose file-size limit cuts a line short, as a full disk would; then room again.
        const pid_t pid = fork();
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            TJournal j(clock);
            int failed = 0, recovered = 0;
            QObject::connect(&j, &TJournal::WriteFailed, [&] { ++failed; });
            QObject::connect(&j, &TJournal::WriteRecovered, [&] { ++recovered; });
            if (!j.Open(path)) _exit(2);
            rlimit small{100, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &small);
            for (int i = 0; i < 5; ++i)
                j.AddJournalLine(QStringLiteral("Строка журнала номер %1").arg(i));
            j.FlushJournal();
            j.FlushJournal();
            const bool cut = !j.WriteError().isEmpty() && j.JournalLinesWritten() < 5;
            rlimit large{RLIM_INFINITY, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &large);
            j.FlushJournal();
            _exit(cut && failed == 1 && recovered == 1 && j.JournalLinesWritten() == 5 ? 0 : 1);
        }
        int status = -1;
        waitpid(pid, &status, 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        const QStringList lines = Cp1251::Decode(ReadBytes(path)).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        for (int i = 0; i < 5; ++i)
            QVERIFY2(lines[i].endsWith(QStringLiteral("Строка журнала номер %1").arg(i)),
                     qPrintable(lines[i]));
    }

    void longDay_memoryKeepsTheTail_fileKeepsEverything() {
        QTemporaryDir dir;
        TManualClock clock;
        TJournal j(clock);
        QVERIFY(j.Open(dir.filePath("Korvex.log")));
        for (int i = 0; i < 3 * TJournal::KeptLines; ++i) {
            j.AddJournalLine(QString::number(i));
            if (i % 1000 == 0) j.FlushJournal();
        }
        j.FlushJournal();
        QVERIFY(j.Lines().size() <= TJournal::KeptLines + TJournal::KeptLines / 10);
        QVERIFY(j.LastLine().endsWith(QString::number(3 * TJournal::KeptLines - 1)));
        QCOMPARE(ReadBytes(dir.filePath("Korvex.log")).count("\r\n"), 3 * TJournal::KeptLines);
    }

    void fileIsCp1251WithCrLf_andAppendedAcrossRuns() {
        QTemporaryDir dir;
        TManualClock clock;
        const QString path = dir.filePath("Korvex.log");
        {
            TJournal j(clock);
            QVERIFY(j.Open(path));
            j.AddJournalLine(QStringLiteral("первый запуск"));
            j.FlushJournal();
            j.AddJournalLine(QStringLiteral("не сброшено")); // never flushed: not in the file
        }
        {
            TJournal j(clock);
            QVERIFY(j.Open(path));
            j.AddJournalLine(QStringLiteral("второй запуск"));
            j.FlushJournal();
        }
        const QByteArray bytes = ReadBytes(path);
        QVERIFY(bytes.contains(Cp1251::Encode(QStringLiteral("первый запуск\r\n"))));
        QVERIFY(bytes.endsWith(Cp1251::Encode(QStringLiteral("второй запуск\r\n"))));
        QVERIFY(!bytes.contains(Cp1251::Encode(QStringLiteral("не сброшено"))));
        QCOMPARE(bytes.count("\r\n"), 2);
        QVERIFY(bytes.indexOf(Cp1251::Encode(QStringLiteral("первый"))) <
                bytes.indexOf(Cp1251::Encode(QStringLiteral("второй"))));
    }

    void crLfInText_givesSeveralLines_onlyFirstStamped() {
        QTemporaryDir dir;
        TManualClock clock;
        TJournal j(clock);
        QVERIFY(j.Open(dir.filePath("Korvex.log")));
        j.AddJournalLine(
            QStringLiteral("При подключении к базе данных x произошла ошибка:\r\nфайл не найден"));
        QCOMPARE(j.Lines().size(), 2);
        QCOMPARE(j.Lines()[1], QStringLiteral("файл не найден"));
        j.FlushJournal();
        QCOMPARE(j.JournalLinesWritten(), 2);
        QVERIFY(
            ReadCp1251(dir.filePath("Korvex.log")).endsWith(QStringLiteral("ошибка:\r\nфайл не найден\r\n")));
        // A flush with nothing new leaves the file as it is.
        const QByteArray before = ReadBytes(dir.filePath("Korvex.log"));
        j.FlushJournal();
        QCOMPARE(ReadBytes(dir.filePath("Korvex.log")), before);
    }

    void unwritableFolder_refusesToOpen() {
        TManualClock clock;
        TJournal j(clock);
        QString error;
        QVERIFY(!j.Open(QStringLiteral("/proc/no-such-folder/Korvex.log"), &error));
        QVERIFY(error.contains(QLatin1String("Korvex.log")));
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
