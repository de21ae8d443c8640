#include "common/Codec.h"
#include "common/KorvexError.h"
#include "settings/SettingsFile.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
QStringList KeysInFile(const QString& path) {
    QStringList out;
    QString section;
    for (const QString& line : ReadCp1251(path).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        if (line.startsWith('['))
            section = line.mid(1, line.size() - 2);
        else
            out << section + '/' + line.section('=', 0, 0);
    }
    return out;
}
} // namespace

class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void noFile_givesDefaults_andFirstSaveWritesEveryKeyInOrder() {
        QTemporaryDir dir;
        TSettingsFile file(dir.filePath("Korvex.ini"));
        TSettings s;
        s.Code = QStringLiteral("changed");
        file.Load(s);
        QCOMPARE(s.Code, QStringLiteral("111"));
        QVERIFY(s.ExitQty);
        QVERIFY(!s.Connect && !s.QuikConnect && !s.Auten && !s.SendTrans_id && !s.SendTrans_done &&
                !s.SendQuikConnect);
        QCOMPARE(s.rgpFilled, 1);
        QCOMPARE(s.Security, 0); // a file from before TLS keeps speaking plain SMTP
        QCOMPARE(s.pathTRI, QStringLiteral("C:\\Program Files\\QUIK\\Trans\\Trans.tri"));
        file.Save(s);
        QCOMPARE(KeysInFile(file.Path()), TSettingsFile::KeyOrder());
        QCOMPARE(TSettingsFile::KeyOrder().size(), 40);
        const QString text = ReadCp1251(file.Path());
        QVERIFY(text.startsWith(QStringLiteral("[Position]\r\nPositionSize=0\r\n")));
        QVERIFY(text.contains(QStringLiteral("\r\nExitQty=-1\r\n")));
        QVERIFY(text.contains(QStringLiteral("\r\nConnect=0\r\n")));
    }

    void booleans_readFromNumbersAndWords_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("ticked");
        QTest::newRow("-1") << "-1" << true;
        QTest::newRow("1") << "1" << true;
        QTest::newRow("7") << "7" << true;
        QTest::newRow("0") << "0" << false;
        QTest::newRow("TRUE") << "TRUE" << true;
        QTest::newRow("true") << "true" << true;
        QTest::newRow("False") << "False" << false;
    }
    void booleans_readFromNumbersAndWords() {
        QFETCH(QString, stored);
        QFETCH(bool, ticked);
        QTemporaryDir dir;
        WriteBytes(dir.filePath("Korvex.ini"), "[quik]\r\nconnect=" + stored.toLatin1() + "\r\n");
        TSettings s;
        TSettingsFile(dir.filePath("Korvex.ini")).Load(s);
        QCOMPARE(s.Connect, ticked);
    }

    void choiceIndexes_areClamped() {
        QTemporaryDir dir;
        WriteBytes(dir.filePath("Korvex.ini"),
                   "[Position]\r\nPositionSize=9\r\nrgpSingleMulti=-5\r\nrgpFilled=-1\r\n");
        TSettings s;
        TSettingsFile(dir.filePath("Korvex.ini")).Load(s);
        QCOMPARE(s.PositionSize, 4);
        QCOMPARE(s.rgpSingleMulti, -1);
        QCOMPARE(s.rgpFilled, -1);
    }

    void badValue_stopsTheLoadAtThatKey() {
        QTemporaryDir dir;
        WriteBytes(
            dir.filePath("Korvex.ini"),
            "[Position]\r\nFixVol=12345\r\nExitQty=maybe\r\nrgpSingleMulti=1\r\n[Quik]\r\nCode=999\r\n");
        TSettings s;
        s.rgpSingleMulti = 0;
        s.Code = QStringLiteral("keep");
        try {
            TSettingsFile(dir.filePath("Korvex.ini")).Load(s);
            QFAIL("a bad Boolean must stop the load");
        } catch (const ConversionError& e) {
            QVERIFY(e.Message.contains(QLatin1String("maybe")));
        }
        QCOMPARE(s.FixVol, QStringLiteral("12345")); // before the key: new value
        QCOMPARE(s.rgpSingleMulti, 0);               // after it: previous values
        QCOMPARE(s.Code, QStringLiteral("keep"));
    }

    void badValue_errorNamesFileSectionAndKey_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("error");
        QTest::newRow("choice") << QByteArray("[Position]\r\nPositionSize=xyz\r\n")
                                << "[Position] PositionSize: 'xyz' is not a valid integer value";
        QTest::newRow("boolean, key in other case")
            << QByteArray("[quik]\r\nquikconnect=yes\r\n")
            << "[Quik] QuikConnect: 'yes' is not a valid boolean value";
        QTest::newRow("mail") << QByteArray("[Mail]\r\nAuten=on\r\n")
                              << "[Mail] Auten: 'on' is not a valid boolean value";
    }
    void badValue_errorNamesFileSectionAndKey() {
        QFETCH(QByteArray, file);
        QFETCH(QString, error);
        QTemporaryDir dir;
        WriteBytes(dir.filePath("Korvex.ini"), file);
        TSettings s;
        try {
            TSettingsFile(dir.filePath("Korvex.ini")).Load(s);
            QFAIL("a bad value must stop the load");
        } catch (const ConversionError& e) {
            QCOMPARE(e.Message, QDir::toNativeSeparators(dir.filePath("Korvex.ini")) + ", " + error);
        }
    }

    void password_isScrambledWithWrapAround() {
        QCOMPARE(ScramblePassword(QByteArray("\xff\x01", 2), true), QByteArray("\x01\x03", 2));
        QCOMPARE(ScramblePassword(QByteArray("\x01\x03", 2), false), QByteArray("\xff\x01", 2));
        QTemporaryDir dir;
        TSettingsFile file(dir.filePath("Korvex.ini"));
        TSettings s;
        s.Password = QStringLiteral("пароль9") + QChar(0x044F); // "я" is byte 0xFF in Windows-1251
        file.Save(s);
        const QByteArray bytes = ReadBytes(file.Path());
        QVERIFY(bytes.contains(
            QByteArray(QByteArray("Password=") + ScramblePassword(Cp1251::Encode(s.Password), true))));
        TSettings back;
        file.Load(back);
        QCOMPARE(back.Password, s.Password);
    }

    void password_thatTheLineCannotHold_readsBackWhole_data() {
        QTest::addColumn<QString>("password");
        QTest::newRow("ю becomes a zero byte") << QStringLiteral("парю123");
        QTest::newRow("only ю") << QStringLiteral("ю");
        QTest::newRow("blank at the end") << QStringLiteral("secret\x1e");
        QTest::newRow("no Windows-1251 byte") << QStringLiteral("ключ\u20ac\u4e2d");
    }
    void password_thatTheLineCannotHold_readsBackWhole() {
        QFETCH(QString, password);
        QTemporaryDir dir;
        TSettingsFile file(dir.filePath("Korvex.ini"));
        TSettings s;
        s.Password = password;
        file.Save(s);
        TSettings back;
        file.Load(back);
        QCOMPARE(back.Password, password);
        // An ordinary password afterwards is stored as always again, and read as such.
        s.Password = QStringLiteral("обычный");
        file.Save(s);
        QVERIFY(!ReadBytes(file.Path()).contains("PasswordHex"));
        file.Load(back);
        QCOMPARE(back.Password, s.Password);
    }

    void save_updatesKeysInPlace_keepsForeignLines_appendsMissing() {
        QTemporaryDir dir;
        const QString path = dir.filePath("Korvex.ini");
        WriteBytes(path, "[Mail]\r\nsmtp=mail.example\r\nExtra=keep me\r\n[Quik]\r\nCODE=5\r\n");
        TSettingsFile file(path);
        TSettings s;
        file.Load(s);
        QCOMPARE(s.SMTP, QStringLiteral("mail.example"));
        QCOMPARE(s.Code, QStringLiteral("5"));
        s.Code = QStringLiteral("777");
        s.FromName = QStringLiteral("Робот");
        file.Save(s);
        const QStringList keys = KeysInFile(path);
        QCOMPARE(keys.first(), QStringLiteral("Mail/smtp"));
        QVERIFY(keys.contains(QStringLiteral("Mail/Extra")));
        QCOMPARE(keys.size(), TSettingsFile::KeyOrder().size() + 1); // every key and the foreign one
        TSettings back;
        file.Load(back);
        QCOMPARE(back.Code, QStringLiteral("777"));
        QCOMPARE(back.FromName, QStringLiteral("Робот"));
        QVERIFY(ReadBytes(path).contains(Cp1251::Encode(QStringLiteral("FromName=Робот"))));
    }

    void unwritableFolder_isRefusedWithItsPath() {
        const QString path = QStringLiteral("/proc/korvex-test/Korvex.ini");
        try {
            TSettingsFile(path).Save(TSettings());
            QFAIL("expected a refusal");
        } catch (const IoError& e) {
            QCOMPARE(e.Message, QStringLiteral("Unable to write to %1").arg(path));
        }
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
