#include "common/Codec.h"
#include "common/Journal.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

class TestJournal : public QObject {
    Q_OBJECT
private slots:
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

    void fileIsCp1251WithCrLf_andAppendedAcrossRuns() {
        QTemporaryDir dir;
        TManualClock clock;
        const QString path = dir.filePath("Korvex.log");
        {
            TJournal j(clock);
            QVERIFY(j.Open(path));
            j.AddJournalLine(QStringLiteral("первый запуск"));
            j.FlushJournal();
            j.AddJournalLine(QStringLiteral("не сброшено"));  // never flushed: not in the file
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
        QVERIFY(bytes.indexOf(Cp1251::Encode(QStringLiteral("первый"))) < bytes.indexOf(Cp1251::Encode(QStringLiteral("второй"))));
    }

    void crLfInText_givesSeveralLines_onlyFirstStamped() {
        QTemporaryDir dir;
        TManualClock clock;
        TJournal j(clock);
        QVERIFY(j.Open(dir.filePath("Korvex.log")));
        j.AddJournalLine(QStringLiteral("При подключении к базе данных x произошла ошибка:\r\nфайл не найден"));
        QCOMPARE(j.Lines().size(), 2);
        QCOMPARE(j.Lines()[1], QStringLiteral("файл не найден"));
        j.FlushJournal();
        QCOMPARE(j.JournalLinesWritten(), 2);
        QVERIFY(ReadCp1251(dir.filePath("Korvex.log")).endsWith(QStringLiteral("ошибка:\r\nфайл не найден\r\n")));
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
