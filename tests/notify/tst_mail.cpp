#include "common/Codec.h"
#include "notify/MailNotifier.h"
#include "notify/MailTest.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTest>

namespace {

// The SMTP server of one test case, a real one on 127.0.0.1 (see smtp_server.py for the options).
class TSmtpServer {
public:
    explicit TSmtpServer(const QString& mode, const QStringList& options = {}) {
        EndWithThisProcess(Proc);
        Proc.start(QStringLiteral("/usr/bin/python3"),
                   QStringList{QStringLiteral(SMTP_SERVER_PY), mode} + options);
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
    // The recipients of each mail received, in order ("a,b").
    QStringList Deliveries() {
        QStringList out;
        for (const QJsonObject& m : Of(QStringLiteral("mail"))) {
            QStringList to;
            for (const QJsonValue& v : m.value("to").toArray())
                to << v.toString().section('@', 0, 0);
            out << to.join(',');
        }
        return out;
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

const QString Event = QStringLiteral("Транзакция номер 12 BUY GAZP 10 @ 130,5 отправлена в Quik.");

// Limits of seconds, not minutes, and retries a moment apart; a case about one limit sets that one to
// a second, the others leave room for a busy machine.
TMailLimits Quick() {
    return {10, 10, 10, 10, 10, 10};
}

struct TMailFixture {
    TManualClock Clock;
    QTemporaryDir Dir;
    TJournal Journal{Clock};
    TSettings S;
    TMailNotifier Mail{S, Journal};
    explicit TMailFixture(int port, const TMailLimits& limits = Quick()) {
        Journal.Open(Dir.filePath("Korvex.log"));
        S.SMTP = "127.0.0.1";
        S.Port = QString::number(port);
        S.FromName = "Korvex robot";
        S.FromAddress = "robot@example.test";
        S.Email1 = "a@example.test";
        S.Email2 = "b@example.test";
        Mail.SetLimits(limits);
        Mail.SetRetryDelays(
            {std::chrono::milliseconds(100), std::chrono::milliseconds(100), std::chrono::milliseconds(100)});
        Mail.SetExitWait(std::chrono::milliseconds(300));
    }
    // Sends one notification and waits until the worker has nothing due.
    QStringList Send(const QString& text) {
        Mail.SendNotification(text);
        Mail.WaitIdle(30000);
        return Texts();
    }
    // Waits until every mail is sent or given up, later tries included.
    bool Drain() {
        for (QDeadlineTimer d(20000); !d.hasExpired(); QTest::qWait(20))
            if (Mail.WaitIdle(20000) && Mail.Backlog() == 0) return true;
        return false;
    }
    // The lines without their stamp, whatever the regional form of its date.
    QStringList Texts() const {
        static const QRegularExpression stamp("^.*?\\d:\\d\\d:\\d\\d ");
        QStringList out;
        for (const QString& l : Journal.Lines())
            out << QString(l).remove(stamp);
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
        f.Send(QStringLiteral("Соединение разорвано"));
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
        QCOMPARE(f.Texts(),
                 (QStringList{
                     QStringLiteral(
                         "Письмо \"Соединение разорвано\" отправляется: <a@example.test>, <b@example.test>"),
                     QStringLiteral("Письмо отправлено")}));
        // The server refuses a hello without a full domain name (as Postfix's reject_non_fqdn_helo_hostname
        // does): the robot gave one, its machine's or the sender's domain.
        QString hello;
        for (const QJsonObject& e : server.Events())
            if (e.contains("ehlo")) hello = e.value("ehlo").toString();
        QVERIFY2(hello.contains('.') || hello.startsWith('['), qPrintable(hello));
    }

    void auth_usesLogin_passwordInUtf8_namesInWindows1251_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("fromName");
        QTest::newRow("latin") << "robot"
                               << "secret"
                               << "Korvex robot";
        QTest::newRow("cyrillic") << QStringLiteral("Трейдер") << QStringLiteral("пароль№1")
                                  << QStringLiteral("Робот Корвекс");
    }
    void auth_usesLogin_passwordInUtf8_namesInWindows1251() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, fromName);
        // The server checks the login and the password as UTF-8 bytes, as SASL has them.
        TSmtpServer server("auth", {"user=" + user, "password=" + password});
        TMailFixture f(server.Port);
        f.S.Auten = true;
        f.S.User = user;
        f.S.Password = password;
        f.S.FromName = fromName;
        QCOMPARE(f.Send("Test.").last(), QStringLiteral("Письмо отправлено"));
        const auto auth = server.Of("auth", 2);
        QCOMPARE(auth.size(), 1);
        QCOMPARE(auth.first().value("mechanism").toString(), QStringLiteral("LOGIN"));
        QCOMPARE(auth.first().value("login").toString(), user);
        QVERIFY(auth.first().value("ok").toBool());
        const auto mails = server.Of("mail", 3);
        QCOMPARE(mails.size(), 1);
        QStringList charsets;
        QCOMPARE(FromDisplayName(mails.first().value("data").toString().toLatin1(), charsets), fromName);
        for (const QString& c : charsets)
            QCOMPARE(c, QStringLiteral("windows-1251"));
    }

    // One line, saying which server, what happened in the server's own words and whose mail it was.
    void connectionFailures_sayWhatHappened_andNameTheEvent_data() {
        QTest::addColumn<QString>("mode"); // "none": nothing listens
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("line"); // PORT: the test server's
        QTest::newRow("wrong password") << "auth"
                                        << "127.0.0.1"
                                        << ""
                                        << "wrong"
                                        << "Нет связи с почтовым сервером 127.0.0.1:PORT: сервер не принял "
                                           "имя пользователя и пароль (535 "
                                           "5.7.8 Authentication credentials invalid), окончательно";
        QTest::newRow("nothing listens") << "none"
                                         << "127.0.0.1"
                                         << "1"
                                         << ""
                                         << "Нет связи с почтовым сервером 127.0.0.1:1: ничто не отвечает "
                                            "(Connection refused); повтор через 1 с";
        QTest::newRow("unknown host")
            << "none"
            << "no-such-host.invalid"
            << "25"
            << ""
            << "Нет связи с почтовым сервером no-such-host.invalid:25: адрес сервера не найден (";
        QTest::newRow("no greeting")
            << "silent"
            << "127.0.0.1"
            << ""
            << ""
            << "Нет связи с почтовым сервером 127.0.0.1:PORT: сервер не ответил за 1 "
               "с (приветствие сервера); повтор через 1 с";
        QTest::newRow("port not a number")
            << "plain"
            << "127.0.0.1"
            << "2x5"
            << ""
            << "Нет связи с почтовым сервером 127.0.0.1: неверный порт \"2x5\" ([Mail] Port), окончательно";
    }
    void connectionFailures_sayWhatHappened_andNameTheEvent() {
        QFETCH(QString, mode);
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, password);
        QFETCH(QString, line);
        std::unique_ptr<TSmtpServer> server;
        if (mode != "none") server = std::make_unique<TSmtpServer>(mode);
        TMailLimits limits = Quick();
        limits.Greeting = 1;
        TMailFixture f(server ? server->Port : 1, limits);
        f.S.SMTP = host;
        if (!port.isEmpty()) f.S.Port = port;
        f.S.Auten = mode == "auth";
        f.S.User = "robot";
        f.S.Password = password;
        line.replace("PORT", f.S.Port);
        const QStringList t = f.Send(Event);
        QCOMPARE(t.size(), 1);
        QVERIFY2(t.first().startsWith(line), qPrintable(t.first()));
        QVERIFY2(t.first().endsWith(": \"" + Event + "\""), qPrintable(t.first()));
        if (server) QVERIFY(server->Of("mail").isEmpty());
    }

    // Each recipient on its own: a refusal of one keeps nothing from the other; a temporary refusal or a
    // broken connection is tried again, and the mail arrives once.
    void recipients_refusedOrDeferredOnTheirOwn_triedAgainWhenTemporary_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("deliveries"); // the recipients of each mail the server received
        QTest::addColumn<QString>("failure"); // the one "не доставлено" line expected, if any
        QTest::addColumn<int>("deferred");    // "отложено" lines
        QTest::newRow("550 for one")
            << QStringList{"refuse=b@example.test|0|550 5.1.1 <b@example.test>: Recipient address rejected: "
                           "User "
                           "unknown"}
            << QStringList{"a"}
            << "Письмо не доставлено <b@example.test>: сервер отказал получателю (550 5.1.1 "
               "<b@example.test>: "
               "Recipient address rejected: User unknown), окончательно: \"" +
                   Event + "\""
            << 0;
        QTest::newRow("450 for one, then accepted")
            << QStringList{"refuse=b@example.test|1|450 4.2.0 <b@example.test>: Recipient address rejected: "
                           "Greylisted"}
            << QStringList{"a", "b"} << "" << 1;
        QTest::newRow("connection dropped during the data, then accepted")
            << QStringList{"drop_data=1"} << QStringList{"a,b"} << "" << 2;
        QTest::newRow("450 for both, every time: given up")
            << QStringList{"refuse=a@example.test|0|450 4.7.1 Try again later",
                           "refuse=b@example.test|0|450 4.7.1 Try again later"}
            << QStringList{}
            << "Письмо не доставлено <a@example.test>: сервер отказал получателю (450 4.7.1 Try again "
               "later); "
               "отправка прекращена после 4 попыток: \"" +
                   Event + "\""
            << 6;
    }
    void recipients_refusedOrDeferredOnTheirOwn_triedAgainWhenTemporary() {
        QFETCH(QStringList, options);
        QFETCH(QStringList, deliveries);
        QFETCH(QString, failure);
        QFETCH(int, deferred);
        TSmtpServer server("plain", options);
        TMailFixture f(server.Port);
        f.Mail.SendNotification(Event);
        QVERIFY2(f.Drain(), qPrintable(f.Texts().join('\n')));
        const QStringList t = f.Texts();
        QVERIFY2(server.Deliveries() == deliveries, qPrintable(t.join('\n')));
        QCOMPARE(t.filter(QRegularExpression("^Письмо отложено <")).size(), deferred);
        // The operator's words throughout; English only where the server's reply or the system is quoted.
        static const QRegularExpression english(
            "\\b(the|server|refused|Success|temporary|final|tried|given|Message|Failure|Deferred)\\b");
        for (const QString& l : t)
            QVERIFY2(!english.match(l).hasMatch(), qPrintable(l));
        const QStringList failures = t.filter(QRegularExpression("^Письмо не доставлено <"));
        if (failure.isEmpty())
            QVERIFY2(failures.isEmpty(), qPrintable(t.join('\n')));
        else
            QCOMPARE(failures.first(), failure);
    }

    // The reply to the end of the data has a limit of its own, minutes by default: a slow server is not
    // reported as a failure, and a mail whose acceptance never came is neither sent again nor "not sent".
    void endOfData_answeredLate_isSent_orUnconfirmedButNeverSentTwice_data() {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("line");
        QTest::newRow("within its limit") << 10 << "Письмо отправлено";
        QTest::newRow("past its limit")
            << 1
            << "Письмо не подтверждено <a@example.test>, <b@example.test>: сервер не ответил за 1 с (ответ "
               "на конец письма); возможно, оно доставлено, и повторно не отправляется: \"" +
                   Event + "\"";
    }
    void endOfData_answeredLate_isSent_orUnconfirmedButNeverSentTwice() {
        QFETCH(int, limit);
        QFETCH(QString, line);
        // Every other reply has to come within 2 s: a reply to the end of the data after 3 s is late for
        // them and in time for its own limit.
        TSmtpServer server("plain", {"data_delay=3"});
        TMailLimits limits{2, 2, 2, 2, 2, limit};
        TMailFixture f(server.Port, limits);
        f.Mail.SendNotification(Event);
        QVERIFY(f.Drain());
        QCOMPARE(f.Texts().last(), line);
        f.Mail.StopQueue();
        QVERIFY(f.Texts().filter("не отправлено при выходе").isEmpty());
        QCOMPARE(server.Of("mail", 2).size(), 1);
    }

    void emptyRecipients_areLeftOut_bothEmptySendsNothing() {
        TSmtpServer server("plain");
        TMailFixture f(server.Port);
        f.S.Email2.clear();
        f.Send("one");
        QCOMPARE(server.Of("mail", 2).first().value("to").toArray().size(), 1);
        QCOMPARE(f.Texts()[0], QStringLiteral("Письмо \"one\" отправляется: <a@example.test>"));
        f.S.Email1.clear();
        QCOMPARE(
            f.Send("two").last(),
            QStringLiteral("Письмо не отправлено: нет адреса получателя (Email1 и Email2 пусты): \"two\""));
        QCOMPARE(server.Of("mail").size(), 1);
    }

    // A Security out of range is an error of the settings, never the nearest choice: nothing goes out
    // until it is corrected, and it is said once, not for every mail.
    void securityOutOfRange_mailsNothing_saysItOnce() {
        TSmtpServer server("plain");
        TMailFixture f(server.Port);
        f.S.Security = 3;
        f.Mail.CheckSettings();
        f.Send("one");
        f.Send("two");
        QCOMPARE(f.Texts(), QStringList{QStringLiteral(
                                "Почта не отправляется: [Mail] Security = 3, а допустимы только 0 "
                                "(без шифрования), 1 (STARTTLS) и 2 (TLS); письма не уходят, "
                                "пока значение не исправлено")});
        f.S.Security = 0;
        QCOMPARE(f.Send("three").last(), QStringLiteral("Письмо отправлено"));
        QCOMPARE(f.Texts()[1],
                 QStringLiteral("Почта снова отправляется: [Mail] Security = 0; пока значение было "
                                "неверным, не отправлено писем: 2"));
        QCOMPARE(server.Of("mail", 2).size(), 1);
    }

    // The queue keeps the order of what it is given and never makes its caller wait for a server; a full
    // queue says so at once; exit waits a moment only and names each mail it leaves.
    void queue_keepsTheOrder_aSilentServerHoldsNobody_whatIsLeftIsNamedAtExit() {
        {
            TSmtpServer server("plain");
            TMailFixture f(server.Port);
            for (const char* text : {"one", "two", "three"})
                f.Mail.SendNotification(text);
            QVERIFY(f.Drain());
            const auto mails = server.Of("mail", 3);
            QCOMPARE(mails.size(), 3);
            for (int i = 0; i < 3; ++i)
                QVERIFY(mails[i].value("data").toString().contains(QStringList{"one", "two", "three"}[i]));
        }
        TSmtpServer silent("silent");
        TMailLimits patient = Quick();
        patient.Greeting = 600; // the exit must not wait for it
        TMailFixture f(silent.Port, patient);
        const int n = TMailNotifier::QueueLimit + 10;
        for (int i = 0; i < n; ++i)
            f.Mail.SendNotification(QString::number(i));
        QVERIFY(f.Mail.Backlog() > 0); // the caller went on while the server stays silent
        static const QRegularExpression dropped(
            "^Очередь писем полна \\(\\d+ писем\\): пропущено писем: (\\d+),");
        QCOMPARE(f.Texts().filter(dropped).size(), 1); // said at the first drop, not only at exit
        f.Mail.StopQueue();
        static const QRegularExpression left(
            "^Очередь писем остановлена при выходе, не отправлено писем: (\\d+)$");
        int notSent = 0, lost = 0;
        for (const QString& t : f.Texts()) {
            if (auto m = left.match(t); m.hasMatch()) notSent = m.captured(1).toInt();
            if (auto m = dropped.match(t); m.hasMatch()) lost += m.captured(1).toInt();
        }
        QVERIFY2(notSent > 0 && lost > 0 && notSent + lost == n, qPrintable(f.Texts().join('|')));
        QCOMPARE(
            f.Texts()
                .filter(QRegularExpression("^Письмо \"\\d+\" не отправлено при выходе: <a@example.test>, "
                                           "<b@example.test>$"))
                .size(),
            notSent);
        QVERIFY(
            f.Texts().contains("Письмо \"0\" не отправлено при выходе: <a@example.test>, <b@example.test>"));
        f.Mail.SendNotification("after");
        QCOMPARE(f.Texts().last(),
                 QStringLiteral("Письмо не отправлено, очередь писем остановлена: \"after\""));
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
        TSmtpServer server(mode, {"cert=" + Cert("good")});
        TMailFixture f(server.Port);
        f.S.Security = security;
        f.S.TrustedCertificate = Cert("ca.pem");
        f.S.Auten = true;
        f.S.User = "robot";
        f.S.Password = "secret";
        // Through the queue: the worker's exchange speaks TLS as the direct one does.
        f.Mail.SendNotification("Test.");
        QVERIFY(f.Mail.WaitIdle(30000));
        QCOMPARE(f.Texts().last(), QStringLiteral("Письмо отправлено"));
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
        QTest::addColumn<QString>("reason"); // a pattern; empty: the mail goes out
        QTest::newRow("another name")
            << "tls" << 2 << "wrong-name"
            << "ca.pem"
            << "чужое имя: сертификат сервера выдан для mail\\.example\\.test, а не для 127\\.0\\.0\\.1, ";
        // The date as a Russian operator writes it.
        QTest::newRow("expired") << "starttls" << 1 << "expired"
                                 << "ca.pem"
                                 << "сертификат сервера просрочен \\d\\d\\.\\d\\d\\.\\d{4}, ";
        QTest::newRow("unknown authority") << "tls" << 2 << "unknown"
                                           << "ca.pem"
                                           << "сертификат сервера выдан неизвестным центром сертификации";
        QTest::newRow("no STARTTLS offered") << "auth" << 1 << ""
                                             << "ca.pem"
                                             << "сервер не предлагает STARTTLS, ";
        QTest::newRow("TLS chosen, the server speaks plain") << "auth" << 2 << ""
                                                             << "ca.pem"
                                                             << "согласование TLS не удалось";
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
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        TSmtpServer server(mode, {"cert=" + Cert(certificate)});
        TMailFixture f(server.Port);
        f.S.Security = security;
        f.S.TrustedCertificate = Cert(trusted);
        f.S.Auten = true;
        f.S.User = "robot";
        f.S.Password = "secret";
        const QStringList t = f.Send("Test.");
        if (reason.isEmpty()) {
            QCOMPARE(t.last(), QStringLiteral("Письмо отправлено"));
            QCOMPARE(server.Of("mail", 4).size(), 1);
            return;
        }
        QCOMPARE(t.size(), 1);
        QVERIFY2(QRegularExpression("^Нет защищённой связи с почтовым сервером 127\\.0\\.0\\.1:" + f.S.Port +
                                    ": " + reason)
                     .match(t.first())
                     .hasMatch(),
                 qPrintable(t.first()));
        QVERIFY(t.first().endsWith(", окончательно: \"Test.\""));
        // Refused before the login: the server never heard it, in clear or otherwise.
        const QJsonObject wire = server.Await("wire");
        QVERIFY(!wire.isEmpty());
        QVERIFY(!wire.value("password_in_clear").toBool());
        QVERIFY(server.Of("auth").isEmpty());
        QVERIFY(server.Of("mail").isEmpty());
    }

    // "Тест" sends and "Коннект" only connects; both answer stage by stage and close what they opened.
    void mailTest_reportsConnectionTlsVersionAndLogin_orTheReason_data() {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<bool>("send");
        QTest::addColumn<QString>("report");
        QTest::newRow("sent")
            << "good" << true
            << "Соединение установлено, TLS 1.3; аутентификация пройдена; письмо отправлено "
               "(адресатов: 2).";
        QTest::newRow("connected") << "good" << false
                                   << "Соединение установлено, TLS 1.3; аутентификация пройдена; соединение "
                                      "закрыто.";
        QTest::newRow("refused") << "unknown" << true
                                 << "Ошибка: сертификат сервера выдан неизвестным центром сертификации (ему "
                                    "нет доверия).";
    }
    void mailTest_reportsConnectionTlsVersionAndLogin_orTheReason() {
        QFETCH(QString, certificate);
        QFETCH(bool, send);
        QFETCH(QString, report);
        TSmtpServer server("tls", {"cert=" + Cert(certificate)});
        TMailFixture f(server.Port);
        f.S.Security = 2;
        f.S.TrustedCertificate = Cert("ca.pem");
        f.S.Auten = true;
        f.S.User = "robot";
        f.S.Password = "secret";
        const TMailTestOutcome outcome =
            RunMailTest(f.S, send ? std::optional<QString>("Test.") : std::nullopt, Quick());
        QCOMPARE(outcome.Report(), report);
        QVERIFY(!server.Await("wire").isEmpty()); // the session is over
        QCOMPARE(server.Of("mail").size(), outcome.Succeeded() && send ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestMail)
#include "tst_mail.moc"
