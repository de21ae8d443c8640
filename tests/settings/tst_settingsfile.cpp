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

    void choiceIndexes_areClamped_securityIsKeptAsRead() {
        QTemporaryDir dir;
        WriteBytes(
            dir.filePath("Korvex.ini"),
            "[Position]\r\nPositionSize=9\r\nrgpSingleMulti=-5\r\nrgpFilled=-1\r\n[Mail]\r\nSecurity=3\r\n");
        TSettings s;
        TSettingsFile file(dir.filePath("Korvex.ini"));
        QVERIFY(file.Load(s).isEmpty());
        QCOMPARE(s.PositionSize, 4);
        QCOMPARE(s.rgpSingleMulti, -1);
        QCOMPARE(s.rgpFilled, -1);
        // No protection beyond the last one and none below the first: the mail must refuse it.
        QCOMPARE(s.Security, 3);
        WriteBytes(dir.filePath("Korvex.ini"), "[Mail]\r\nSecurity=-1\r\n");
        file.Load(s);
        QCOMPARE(s.Security, -1);
    }

    // A value that does not read takes its default, and every key after it is still read: the risk
    // limits at the end of the file included.
    void badValue_takesItsDefault_theKeysAfterItAreRead_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("line");
        QTest::newRow("choice") << QByteArray("[Position]\r\nPositionSize=xyz\r\n")
                                << "[Position] PositionSize: 'xyz' is not a valid integer value; взято "
                                   "значение по умолчанию 0.";
        QTest::newRow("boolean, key in other case")
            << QByteArray("[quik]\r\nquikconnect=yes\r\n")
            << "[Quik] QuikConnect: 'yes' is not a valid boolean value; взято значение по умолчанию 0.";
        QTest::newRow("security as a word")
            << QByteArray("[Mail]\r\nSecurity=STARTTLS\r\n")
            << "[Mail] Security: 'STARTTLS' is not a valid integer value; значение не выбрано (-1), выберите "
               "его в настройках.";
    }
    void badValue_takesItsDefault_theKeysAfterItAreRead() {
        QFETCH(QByteArray, file);
        QFETCH(QString, line);
        QTemporaryDir dir;
        WriteBytes(dir.filePath("Korvex.ini"),
                   file + "[Risk]\r\nMaxLots=5\r\n[Operator]\r\nConfirmManualOrders=0\r\n");
        TSettings s;
        s.PositionSize = 3;
        s.QuikConnect = true;
        s.Security = 2;
        const QStringList unread = TSettingsFile(dir.filePath("Korvex.ini")).Load(s);
        QCOMPARE(unread, QStringList{QDir::toNativeSeparators(dir.filePath("Korvex.ini")) + ", " + line});
        QCOMPARE(s.PositionSize, 0);
        QVERIFY(!s.QuikConnect);
        QCOMPARE(s.Security, file.contains("Security") ? -1 : 0);
        QCOMPARE(s.MaxLots, QStringLiteral("5"));
        QVERIFY(!s.ConfirmManualOrders);
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
