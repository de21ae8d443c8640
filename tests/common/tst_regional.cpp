#include "common/Codec.h"
#include "common/FileNames.h"
#include "common/Regional.h"
#include "support/TestSupport.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

class TestRegional : public QObject {
    Q_OBJECT
private slots:
    // The files shared with QUIK are Windows-1251 byte for byte: every character and every byte
    // converts as the system's converter does it; a character without a byte, invisible or beyond
    // the basic plane, is one substitute, never dropped.
    void windows1251_agreesWithTheSystemConverter() {
        QStringEncoder encoder("windows-1251");
        QStringDecoder decoder("windows-1251");
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (c >= 0xD800 && c < 0xE000) continue;
            const QString one{QChar(char16_t(c))};
            QByteArray expected = encoder.encode(one);
            if (expected.isEmpty()) expected = "\x1A"; // the system drops invisible ones; we keep a mark
            QCOMPARE(Cp1251::Encode(one), expected);
        }
        QByteArray bytes;
        for (int b = 0; b < 256; ++b)
            bytes += char(b);
        QCOMPARE(Cp1251::Decode(bytes), QString(decoder.decode(bytes)));
        QCOMPARE(Cp1251::Encode(QStringLiteral("a\U0001F600b")), QByteArray("a\x1A"
                                                                            "b"));
        QCOMPARE(Cp1251::Encode(QString(QChar(0xD800)) + QLatin1Char('z')), QByteArray("\x1A"
                                                                                       "z"));
        QCOMPARE(Cp1251::Encode(QStringLiteral("Ё№")), QByteArray("\xA8\xB9"));
        // A long text converts as its characters do one by one, whatever falls where in a run of ASCII.
        for (int at = 0; at < 9; ++at) {
            QString text = QStringLiteral("TRANS_ID=17;ACCOUNT=L01;QUANTITY=5");
            text.insert(at, QStringLiteral("Ж\u00FF"));
            QByteArray oneByOne;
            for (const QChar c : text)
                oneByOne += Cp1251::Encode(QString(c));
            QCOMPARE(Cp1251::Encode(text), oneByOne);
        }
    }

    void decimals_followTheRegionalSeparator() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        QCOMPARE(Regional::ParseDecimal(QStringLiteral("25,5")).value_or(-1), 25.5);
        QVERIFY(!Regional::ParseDecimal(QStringLiteral("abc")));
        QVERIFY(!Regional::ParseDecimal(QString()));
        QLocale::setDefault(QLocale::c());
        QCOMPARE(Regional::ParseDecimal(QStringLiteral("25.5")).value_or(-1), 25.5);
    }

    void integers() {
        QCOMPARE(Regional::ParseInteger(QStringLiteral("-3")).value_or(0), -3);
        QVERIFY(!Regional::ParseInteger(QStringLiteral("1.5")));
        QVERIFY(!Regional::ParseInteger(QString()));
        QCOMPARE(Regional::ParseInteger(QStringLiteral("\t+7 \r\n")).value_or(0), 7);
        QCOMPARE(Regional::ParseInteger(QStringLiteral("-9223372036854775808")).value_or(0), LLONG_MIN);
        for (const char* bad : {"1 2", "+", "-", " ", "9223372036854775808", "12a", "0x10"})
            QVERIFY2(!Regional::ParseInteger(QString::fromLatin1(bad)), bad);
        QVERIFY(!Regional::ParseInteger(QStringLiteral("\u0663"))); // a digit, but not an ASCII one
    }

    void timesOfDay_withOrWithoutSeconds_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QTime>("time"); // invalid: not a time of day
        QTest::newRow("H:MM:SS") << "9:05:00" << QTime(9, 5);
        QTest::newRow("HH:MM:SS") << "17:45:30" << QTime(17, 45, 30);
        QTest::newRow("H:MM") << "9:00" << QTime(9, 0);
        QTest::newRow("HH:MM with blanks") << " 17:45 " << QTime(17, 45);
        QTest::newRow("hour 25") << "25:00:00" << QTime();
        QTest::newRow("minute 60") << "10:60:00" << QTime();
        QTest::newRow("minute 60 without seconds") << "10:60" << QTime();
        QTest::newRow("one-digit minutes") << "9:0" << QTime();
        QTest::newRow("one-digit seconds") << "9:00:0" << QTime();
        QTest::newRow("hour only") << "9" << QTime();
        QTest::newRow("words") << "xx" << QTime();
        QTest::newRow("empty") << "" << QTime();
    }
    void timesOfDay_withOrWithoutSeconds() {
        QFETCH(QString, text);
        QFETCH(QTime, time);
        QCOMPARE(Regional::ParseTimeOfDay(text).value_or(QTime()), time);
    }

    void grouped_hasTwoDecimalsAndRegionalSeparators() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        QCOMPARE(Regional::FormatGrouped(1234567.891, 2), QStringLiteral("1\u00a0234\u00a0567,89"));
        QCOMPARE(Regional::FormatGrouped(0, 2), QStringLiteral("0,00"));
        QCOMPARE(Regional::FormatGrouped(0, 0), QStringLiteral("0"));
        QCOMPARE(Regional::FormatGeneral(12.5), QStringLiteral("12,5"));
        QCOMPARE(Regional::FormatGeneral(0), QStringLiteral("0"));
        QLocale::setDefault(QLocale::c());
    }

    void workspaceFileName_isTextAfterLastBackslashOrColon() {
        QCOMPARE(WorkspaceFileName(QStringLiteral("C:\\Omega\\Trend.orw")), QStringLiteral("Trend.orw"));
        QCOMPARE(WorkspaceFileName(QStringLiteral("D:Trend.orw")), QStringLiteral("Trend.orw"));
        QCOMPARE(WorkspaceFileName(QStringLiteral("Trend.orw")), QStringLiteral("Trend.orw"));
        QCOMPARE(WorkspaceFileName(QStringLiteral("C:\\Omega\\")), QString());
    }
};

QTEST_GUILESS_MAIN(TestRegional)
#include "tst_regional.moc"
