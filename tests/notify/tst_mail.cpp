#include "common/Codec.h"
#include "notify/MailNotifier.h"
#include "notify/MailTest.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTest>

namespace {

// The SMTP server of one test case, a real one on 127.0.0.1.
class TSmtpServer {
public:
    // `certificate`: the stem of the certificate and key files of a TLS mode.
    explicit TSmtpServer(const QString& mode, const QString& user = "robot",
                         const QString& password = "secret", const QString& certificate = {}) {
        Proc.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral(SMTP_SERVER_PY), mode, user, password, certificate});
        Proc.waitForStarted();
        QByteArray out;
        for (int i = 0; i < 100 && !out.contains('\n'); ++i) {
            Proc.waitForReadyRead(100);
            out += Proc.readAllStandardOutput();
        }
        Buffer = out.mid(out.indexOf('\n') + 1);
        Port = out.left(out.indexOf('\n')).mid(5).trimmed().toInt();
    }
    ~TSmtpServer() {
        Proc.kill();
        Proc.waitForFinished();
    }
    // The events received so far, waiting briefly for the server to print them.
    QList<QJsonObject> Events(int atLeast = 0) {
        for (int i = 0; i < 50; ++i) {
            Proc.waitForReadyRead(50);
            Buffer += Proc.readAllStandardOutput();
            if (Buffer.count('\n') >= atLeast) break;
        }
        QList<QJsonObject> out;
        for (const QByteArray& l : Buffer.split('\n'))
            if (!l.trimmed().isEmpty()) out << QJsonDocument::fromJson(l).object();
        return out;
    }
    QList<QJsonObject> Of(const QString& kind, int atLeast = 0) {
        QList<QJsonObject> out;
        for (const QJsonObject& e : Events(atLeast))
            if (e.contains(kind)) out << e.value(kind).toObject();
        return out;
    }
    // The first event of `kind`, waiting for it as long as Events does.
    QJsonObject Await(const QString& kind) {
        for (int i = 0; i < 50; ++i) {
            const auto found = Of(kind);
            if (!found.isEmpty()) return found.first();
        }
        return {};
    }
    int Port = 0;

private:
    QProcess Proc;
    QByteArray Buffer;
};

// The display name of the From header as a mail reader shows it, with the charsets of its encoded words.
QString FromDisplayName(const QByteArray& mail, QStringList& charsets) {
    QByteArray head = mail.left(mail.indexOf("\r\n\r\n"));
    head.replace("\r\n ", " ").replace("\r\n\t", " ");
    QByteArray from;
    for (const QByteArray& l : head.split('\n'))
        if (l.startsWith("From:")) from = l.mid(5).trimmed();
    if (from.contains('<')) from = from.left(from.indexOf('<')).trimmed();
    static const QRegularExpression word(QStringLiteral("=\\?([^?]+)\\?([BbQq])\\?([^?]*)\\?="));
    QString out;
    qsizetype at = 0;
    const QString text = QString::fromLatin1(from);
    for (auto it = word.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        const QString between = text.mid(at, m.capturedStart() - at);
        if (at == 0 || !between.trimmed().isEmpty()) out += between; // blanks between two words vanish
        QByteArray bytes = m.captured(3).toLatin1();
        if (m.captured(2).toUpper() == "B")
            bytes = QByteArray::fromBase64(bytes);
        else
            bytes = QByteArray::fromPercentEncoding(bytes.replace('_', ' ').replace('=', '%'));
        charsets << m.captured(1).toLower();
        QStringDecoder decoder(m.captured(1).toLatin1().constData());
        out += decoder.isValid() ? QString(decoder.decode(bytes)) : QString();
        at = m.capturedEnd();
    }
    out += text.mid(at);
    return out.trimmed().remove(QLatin1Char('"'));
}

struct TMailFixture {
    TManualClock Clock;
    QTemporaryDir Dir;
    TJournal Journal{Clock};
    TSettings S;
    TMailNotifier Mail{S, Journal};
    explicit TMailFixture(int port) {
        Journal.Open(Dir.filePath("Korvex.log"));
        S.SMTP = "127.0.0.1";
        S.Port = QString::number(port);
        S.FromName = "Korvex robot";
        S.FromAddress = "robot@example.test";
        S.Email1 = "a@example.test";
        S.Email2 = "b@example.test";
        Mail.SetTimeouts(2, 2);
    }
    QStringList Texts() const {
        QStringList out;
        for (const QString& l : Journal.Lines())
            out << l.section(' ', 4);
        return out;
    }
};

} // namespace

class TestMail : public QObject {
    Q_OBJECT
    // The test authority, an authority nobody trusts and the servers' certificates (see test_authority.py).
    QTemporaryDir Certificates;
    QString Cert(const QString& stem) const { return Certificates.filePath(stem); }

private slots:
    void initTestCase() {
        QVERIFY(Certificates.isValid());
        QCOMPARE(QProcess::execute(QStringLiteral("/usr/bin/python3"),
                                   {QStringLiteral(TEST_AUTHORITY_PY), Certificates.path()}),
                 0);
    }
    void init() { KORVEX_TEST_INIT(); }

    void notification_withoutAuth_reachesBothRecipients_inWindows1251() {
        TSmtpServer server("plain");
        TMailFixture f(server.Port);
        f.Mail.SendNow(QStringLiteral("Соединение разорвано"));
        const auto mails = server.Of("mail", 2);
        QCOMPARE(mails.size(), 1);
        QVERIFY(server.Of("auth").isEmpty());
        const QJsonObject m = mails.first();
        QCOMPARE(m.value("from").toString(), QStringLiteral("robot@example.test"));
        QCOMPARE(m.value("to").toArray().size(), 2);
        QCOMPARE(m.value("to").toArray()[1].toString(), QStringLiteral("b@example.test"));
        const QByteArray data = m.value("data").toString().toLatin1();
        QVERIFY(data.contains("Subject: Korvex"));
        QVERIFY(data.toLower().contains("charset=windows-1251"));
        QVERIFY(data.contains("Sender:"));
        QVERIFY(data.contains("robot@example.test"));
        // The body, whatever transfer encoding the library chose, decodes to the text in Windows-1251.
        const int bodyAt = data.indexOf("\r\n\r\n");
        QByteArray body = data.mid(bodyAt + 4).trimmed();
        if (data.toLower().contains("content-transfer-encoding: quoted-printable"))
            body = QByteArray::fromPercentEncoding(body.replace("=\r\n", "").replace('=', '%'));
        else if (data.toLower().contains("content-transfer-encoding: base64"))
            body = QByteArray::fromBase64(body);
        QCOMPARE(Cp1251::Decode(body).trimmed(), QStringLiteral("Соединение разорвано"));
        QCOMPARE(
            f.Texts(),
            (QStringList{
                QStringLiteral(
                    "Message: \"Соединение разорвано\" is sending to <a@example.test>, <b@example.test>"),
                QStringLiteral("Success")}));
        QVERIFY(!f.Mail.IsConnected());
    }

    void auth_usesLoginWithUserAndPassword_inWindows1251_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("fromName");
        QTest::newRow("latin") << "robot"
                               << "secret"
                               << "Korvex robot";
        QTest::newRow("cyrillic") << QStringLiteral("Трейдер") << QStringLiteral("пароль№1")
                                  << QStringLiteral("Робот Корвекс");
    }
    void auth_usesLoginWithUserAndPassword_inWindows1251() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, fromName);
        TSmtpServer server("auth", user, password);
        TMailFixture f(server.Port);
        f.S.Auten = true;
        f.S.User = user;
        f.S.Password = password;
        f.S.FromName = fromName;
        f.Mail.SendNow("Test.");
        const auto auth = server.Of("auth", 2);
        QCOMPARE(auth.size(), 1);
        QCOMPARE(auth.first().value("mechanism").toString(), QStringLiteral("LOGIN"));
        QCOMPARE(auth.first().value("login").toString(), user);
        QVERIFY(auth.first().value("ok").toBool());
        const auto mails = server.Of("mail", 3);
        QCOMPARE(mails.size(), 1);
        QCOMPARE(f.Texts().last(), QStringLiteral("Success"));
        QStringList charsets;
        QCOMPARE(FromDisplayName(mails.first().value("data").toString().toLatin1(), charsets), fromName);
        for (const QString& c : charsets)
            QCOMPARE(c, QStringLiteral("windows-1251"));
    }

    void wrongPassword_orRefusedConnection_orBadPort_giveOneLine_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("password");
        QTest::newRow("wrong password") << "auth"
                                        << ""
                                        << "wrong";
        QTest::newRow("refused connection") << "none"
                                            << "1"
                                            << "";
        QTest::newRow("port not a number") << "plain"
                                           << "2x5"
                                           << "";
    }
    void wrongPassword_orRefusedConnection_orBadPort_giveOneLine() {
        QFETCH(QString, mode);
        QFETCH(QString, port);
        QFETCH(QString, password);
        std::unique_ptr<TSmtpServer> server;
        if (mode != "none") server = std::make_unique<TSmtpServer>(mode);
        TMailFixture f(server ? server->Port : 1);
        if (!port.isEmpty()) f.S.Port = port;
        f.S.Auten = mode == "auth";
        f.S.User = "robot";
        f.S.Password = password;
        f.Mail.SendNow("Test.");
        QCOMPARE(f.Texts(), QStringList{QStringLiteral("Cann`t connect to server or failed authentication")});
        if (server) QVERIFY(server->Of("mail").isEmpty());
    }

    void silentServer_givesUpWithinTheLimit() {
        TSmtpServer server("silent");
        TMailFixture f(server.Port);
        QElapsedTimer t;
        t.start();
        f.Mail.SendNow("Test.");
        QVERIFY(t.elapsed() < 15000);
        QCOMPARE(f.Texts(), QStringList{QStringLiteral("Cann`t connect to server or failed authentication")});
    }

    void refusedRecipient_orDroppedConnection_giveTheSendFailureLines_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("recipient refused") << "reject-rcpt";
        QTest::newRow("dropped during data") << "drop-data";
    }
    void refusedRecipient_orDroppedConnection_giveTheSendFailureLines() {
        QFETCH(QString, mode);
        TSmtpServer server(mode);
        TMailFixture f(server.Port);
        f.Mail.SendNow("Test.");
        const QStringList t = f.Texts();
        QVERIFY2(t.size() >= 3, qPrintable(t.join('|')));
        QVERIFY(t[0].startsWith("Message: \"Test.\""));
        QCOMPARE(t[1], QStringLiteral("Failure: Произошла ошибка во время отправки сообщения: "));
        QVERIFY(!f.Journal.Lines()[2].isEmpty());
        QVERIFY(!f.Mail.IsConnected());
        // The robot goes on: the next notification to a working server succeeds.
        TSmtpServer good("plain");
        f.S.Port = QString::number(good.Port);
        f.Mail.SendNow("again");
        QCOMPARE(f.Texts().last(), QStringLiteral("Success"));
    }

    void connectionOpenedByConnect_isReusedAndClosedAfter() {
        TSmtpServer server("plain");
        TMailFixture f(server.Port);
        QVERIFY(f.Mail.MailConnect());
        QVERIFY(f.Mail.IsConnected());
        QCOMPARE(server.Of("ehlo", 1).size(), 1);
        f.Mail.SendNow("one");
        QVERIFY(!f.Mail.IsConnected());
        QCOMPARE(server.Of("mail", 2).size(), 1);
        QCOMPARE(server.Of("ehlo").size(), 1); // no second hello: the open connection was used
        f.Mail.MailDisconnect();               // nothing open: nothing journalled
        QCOMPARE(f.Texts().last(), QStringLiteral("Success"));
    }

    void emptyRecipients_areLeftOut_bothEmptySendsNothing() {
        TSmtpServer server("plain");
        TMailFixture f(server.Port);
        f.S.Email2.clear();
        f.Mail.SendNow("one");
        QCOMPARE(server.Of("mail", 2).first().value("to").toArray().size(), 1);
        QCOMPARE(f.Texts()[0], QStringLiteral("Message: \"one\" is sending to <a@example.test>"));
        f.S.Email1.clear();
        f.Mail.SendNow("two");
        QCOMPARE(f.Texts().last(),
                 QStringLiteral("Message not sent: no recipient address (Email1 and Email2 are empty)"));
        QCOMPARE(server.Of("mail").size(), 1);
    }

    // The queue keeps the order of what it is given and never makes its caller wait for a server.
    void queue_keepsTheOrder_aSilentServerHoldsNobody_whatIsLeftIsNamedAtExit() {
        {
            TSmtpServer server("plain");
            TMailFixture f(server.Port);
            for (const char* text : {"one", "two", "three"})
                f.Mail.SendNotification(text);
            QVERIFY(f.Mail.WaitIdle(30000));
            const auto mails = server.Of("mail", 3);
            QCOMPARE(mails.size(), 3);
            for (int i = 0; i < 3; ++i)
                QVERIFY(mails[i].value("data").toString().contains(QStringList{"one", "two", "three"}[i]));
        }
        TSmtpServer silent("silent");
        TMailFixture f(silent.Port);
        const int n = TMailNotifier::QueueLimit + 10;
        for (int i = 0; i < n; ++i)
            f.Mail.SendNotification(QString::number(i));
        QVERIFY(f.Mail.Backlog() > 0); // the caller went on while the server stays silent
        f.Mail.StopQueue();
        static const QRegularExpression left("^Mail queue stopped at exit: (\\d+) message"),
            dropped("^Mail queue full \\(\\d+ messages\\): (\\d+) message");
        int notSent = 0, lost = 0;
        for (const QString& t : f.Texts()) {
            if (auto m = left.match(t); m.hasMatch()) notSent = m.captured(1).toInt();
            if (auto m = dropped.match(t); m.hasMatch()) lost = m.captured(1).toInt();
        }
        QVERIFY2(notSent > 0 && lost > 0 && notSent + lost == n, qPrintable(f.Texts().join('|')));
        f.Mail.SendNotification("after");
        QVERIFY(f.Texts().last().startsWith("Message not sent, the mail queue is stopped"));
    }

    void security_sendsWithThePasswordOnlyInsideTls_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("security");
        QTest::addColumn<bool>("inClear");
        QTest::newRow("STARTTLS") << "starttls" << 1 << false;
        QTest::newRow("TLS from the first byte") << "tls" << 2 << false;
        // The wire check itself: without TLS the password is seen.
        QTest::newRow("none") << "auth" << 0 << true;
    }
    void security_sendsWithThePasswordOnlyInsideTls() {
        QFETCH(QString, mode);
        QFETCH(int, security);
        QFETCH(bool, inClear);
        TSmtpServer server(mode, "robot", "secret", Cert("good"));
        TMailFixture f(server.Port);
        f.S.Security = security;
        f.S.TrustedCertificate = Cert("ca.pem");
        f.S.Auten = true;
        f.S.User = "robot";
        f.S.Password = "secret";
        // Through the queue: the worker's exchange speaks TLS as the direct one does.
        f.Mail.SendNotification("Test.");
        QVERIFY(f.Mail.WaitIdle(30000));
        QCOMPARE(f.Texts().last(), QStringLiteral("Success"));
        const QJsonObject wire = server.Await("wire");
        QVERIFY(!wire.isEmpty());
        QCOMPARE(wire.value("password_in_clear").toBool(), inClear);
        const auto auth = server.Of("auth");
        QCOMPARE(auth.size(), 1);
        QVERIFY(auth.first().value("ok").toBool());
        QCOMPARE(auth.first().value("tls").toBool(), !inClear);
        QCOMPARE(server.Of("mail").size(), 1);
    }

    void certificateCheck_refusesWithTheReason_orTrustsTheNamedFile_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("security");
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("trusted");
        QTest::addColumn<QString>("reason"); // empty: the mail goes out
        QTest::newRow("another name")
            << "tls" << 2 << "wrong-name"
            << "ca.pem"
            << "wrong name: the server's certificate is for mail.example.test, not for 127.0.0.1";
        QTest::newRow("expired") << "starttls" << 1 << "expired"
                                 << "ca.pem"
                                 << "the server's certificate expired on ";
        QTest::newRow("unknown authority") << "tls" << 2 << "unknown"
                                           << "ca.pem"
                                           << "the server's certificate is signed by an unknown issuer";
        QTest::newRow("no STARTTLS offered") << "auth" << 1 << ""
                                             << "ca.pem"
                                             << "the server does not offer STARTTLS";
        QTest::newRow("TLS chosen, the server speaks plain") << "auth" << 2 << ""
                                                             << "ca.pem"
                                                             << "TLS handshake failed";
        QTest::newRow("unknown authority, named as trusted") << "starttls" << 1 << "unknown"
                                                             << "other-ca.pem"
                                                             << "";
    }
    void certificateCheck_refusesWithTheReason_orTrustsTheNamedFile() {
        QFETCH(QString, mode);
        QFETCH(int, security);
        QFETCH(QString, certificate);
        QFETCH(QString, trusted);
        QFETCH(QString, reason);
        TSmtpServer server(mode, "robot", "secret", Cert(certificate));
        TMailFixture f(server.Port);
        f.S.Security = security;
        f.S.TrustedCertificate = Cert(trusted);
        f.S.Auten = true;
        f.S.User = "robot";
        f.S.Password = "secret";
        f.Mail.SendNow("Test.");
        const QStringList t = f.Texts();
        if (reason.isEmpty()) {
            QCOMPARE(t.last(), QStringLiteral("Success"));
            QCOMPARE(server.Of("mail", 4).size(), 1);
            return;
        }
        QCOMPARE(t.size(), 1);
        QVERIFY2(t.first().startsWith("Cann`t connect to server securely: " + reason), qPrintable(t.first()));
        // Refused before the login: the server never heard it, in clear or otherwise.
        const QJsonObject wire = server.Await("wire");
        QVERIFY(!wire.isEmpty());
        QVERIFY(!wire.value("password_in_clear").toBool());
        QVERIFY(server.Of("auth").isEmpty());
        QVERIFY(server.Of("mail").isEmpty());
    }

    void mailTest_reportsConnectionTlsVersionAndLogin_orTheReason_data() {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("report");
        QTest::newRow("sent")
            << "good"
            << "Соединение установлено, TLS 1.3; аутентификация пройдена; письмо отправлено "
               "(адресатов: 2).";
        QTest::newRow("refused") << "unknown"
                                 << "Ошибка: the server's certificate is signed by an unknown issuer (not a "
                                    "trusted authority).";
    }
    void mailTest_reportsConnectionTlsVersionAndLogin_orTheReason() {
        QFETCH(QString, certificate);
        QFETCH(QString, report);
        TSmtpServer server("tls", "robot", "secret", Cert(certificate));
        TMailFixture f(server.Port);
        f.S.Security = 2;
        f.S.TrustedCertificate = Cert("ca.pem");
        f.S.Auten = true;
        f.S.User = "robot";
        f.S.Password = "secret";
        const TMailTestOutcome outcome = RunMailTest(f.S, "Test.", 2, 2);
        QCOMPARE(outcome.Report(), report);
        QCOMPARE(server.Of("mail", 4).size(), outcome.Succeeded() ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestMail)
#include "tst_mail.moc"
