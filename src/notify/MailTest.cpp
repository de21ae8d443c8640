#include "notify/MailTest.h"

#include "common/Codec.h"
#include "common/Regional.h"
#include "notify/SmtpClient.h"
#include "settings/Settings.h"

QString TMailTestOutcome::Report() const {
    QStringList parts;
    if (Connected)
        parts << (TlsVersion.isEmpty() ? QStringLiteral("Соединение установлено без шифрования")
                                       : QStringLiteral("Соединение установлено, %1").arg(TlsVersion));
    if (Authenticated) parts << QStringLiteral("аутентификация пройдена");
    if (Sent) parts << QStringLiteral("письмо отправлено (адресатов: %1)").arg(Recipients);
    if (!Failure.isEmpty()) parts << QStringLiteral("Ошибка: %1").arg(Failure);
    return parts.join(QStringLiteral("; ")) + QLatin1Char('.');
}

QString TMailTestOutcome::JournalLine() const {
    QStringList parts;
    if (Connected)
        parts << (TlsVersion.isEmpty() ? QStringLiteral("connected without encryption")
                                       : QStringLiteral("connected over %1").arg(TlsVersion));
    if (Authenticated) parts << QStringLiteral("authenticated");
    if (Sent) parts << QStringLiteral("sent to %1 recipient(s)").arg(Recipients);
    if (!Failure.isEmpty()) parts << QStringLiteral("failed: %1").arg(Failure);
    return QStringLiteral("Mail test: ") + parts.join(QStringLiteral(", "));
}

TMailTestOutcome RunMailTest(const TSettings& s, const QString& text, int connectSeconds, int replySeconds) {
    TMailTestOutcome out;
    QStringList recipients;
    for (const QString& a : {s.Email1.trimmed(), s.Email2.trimmed()})
        if (!a.isEmpty()) recipients << a;
    const auto port = Regional::ParseInteger(s.Port);
    if (!port || *port < 1 || *port > 65535) {
        out.Failure = QStringLiteral("invalid port \"%1\"").arg(s.Port);
        return out;
    }
    TSmtpClient client;
    client.SetTimeouts(connectSeconds, replySeconds);
    try {
        client.Connect(s.SMTP.trimmed(), static_cast<int>(*port), s.Auten, s.User, s.Password,
                       MailSecurityOf(s.Security), s.TrustedCertificate);
    } catch (const TMailAuthenticationError& e) {
        out.Connected = true;
        out.TlsVersion = client.TlsVersion();
        out.Failure = QStringLiteral("authentication refused: %1").arg(QString::fromUtf8(e.what()));
        return out;
    } catch (const std::exception& e) {
        out.Failure = QString::fromUtf8(e.what());
        return out;
    }
    out.Connected = true;
    out.TlsVersion = client.TlsVersion();
    out.Authenticated = s.Auten;
    if (recipients.isEmpty()) {
        out.Failure = QStringLiteral("no recipient address (Email1 and Email2 are empty)");
    } else {
        try {
            client.Send(s.FromAddress, s.FromName, recipients, QStringLiteral("Korvex"),
                        Cp1251::Encode(text));
            out.Sent = true;
            out.Recipients = static_cast<int>(recipients.size());
        } catch (const std::exception& e) {
            out.Failure = QStringLiteral("sending failed: %1").arg(QString::fromUtf8(e.what()));
        }
    }
    try {
        client.Disconnect();
    } catch (const std::exception&) {
        // The outcome of the test is known; a failed goodbye changes nothing in it.
    }
    return out;
}
