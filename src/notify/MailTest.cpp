#include "notify/MailTest.h"

#include "common/Codec.h"
#include "common/Regional.h"
#include "settings/Settings.h"

QString TMailTestOutcome::Stages() const {
    QStringList parts;
    if (Connected)
        parts << (TlsVersion.isEmpty() ? QStringLiteral("соединение установлено без шифрования")
                                       : QStringLiteral("соединение установлено, %1").arg(TlsVersion));
    if (Authenticated) parts << QStringLiteral("аутентификация пройдена");
    if (Sent) parts << QStringLiteral("письмо отправлено (адресатов: %1)").arg(Recipients);
    if (Closed) parts << QStringLiteral("соединение закрыто");
    if (!Failure.isEmpty()) parts << QStringLiteral("ошибка: %1").arg(Failure);
    return parts.join(QStringLiteral("; "));
}

QString TMailTestOutcome::Report() const {
    QString out = Stages();
    if (!out.isEmpty()) out[0] = out[0].toUpper();
    return out + QLatin1Char('.');
}

QString TMailTestOutcome::JournalLine() const {
    return QStringLiteral("Проверка почты: ") + Stages();
}

TMailTestOutcome RunMailTest(const TSettings& s, const std::optional<QString>& text,
                             const TMailLimits& limits, TMailStop stop) {
    TMailTestOutcome out;
    const auto security = MailSecurityOf(s.Security);
    if (!security) {
        out.Failure = QStringLiteral("[Mail] Security = %1: выберите защиту соединения").arg(s.Security);
        return out;
    }
    QStringList recipients;
    for (const QString& a : {s.Email1.trimmed(), s.Email2.trimmed()})
        if (!a.isEmpty() && !recipients.contains(a, Qt::CaseInsensitive)) recipients << a;
    const auto port = Regional::ParseInteger(s.Port);
    if (!port || *port < 1 || *port > 65535) {
        out.Failure = QStringLiteral("неверный порт \"%1\"").arg(s.Port);
        return out;
    }
    TSmtpClient client(limits, stop);
    try {
        client.Connect({s.SMTP.trimmed(), static_cast<int>(*port), *security, s.TrustedCertificate, s.Auten,
                        s.User, s.Password, s.FromAddress});
    } catch (const TMailAuthenticationError& e) {
        out.Connected = true;
        out.TlsVersion = client.TlsVersion();
        out.Failure = QString::fromUtf8(e.what());
        return out;
    } catch (const TMailError& e) {
        out.Failure = QString::fromUtf8(e.what());
        return out;
    }
    out.Connected = true;
    out.TlsVersion = client.TlsVersion();
    out.Authenticated = s.Auten;
    if (!text) {
        client.Disconnect();
        out.Closed = true;
        return out;
    }
    if (recipients.isEmpty()) {
        out.Failure = QStringLiteral("нет адреса получателя (Email1 и Email2 пусты)");
    } else {
        const TSendOutcome sent = client.Send(s.FromAddress, s.FromName, recipients, QStringLiteral("Korvex"),
                                              Cp1251::Encode(*text));
        out.Recipients = static_cast<int>(sent.Accepted.size() + sent.Unconfirmed.size());
        out.Sent = out.Recipients > 0;
        QStringList failures;
        for (const TSendOutcome::TRefusal& f : sent.Refused)
            failures << QStringLiteral("<%1>: %2").arg(f.Address, f.Reason);
        if (!sent.Unconfirmed.isEmpty()) failures << sent.UnconfirmedReason;
        out.Failure = failures.join(QStringLiteral("; "));
    }
    client.Disconnect();
    return out;
}
