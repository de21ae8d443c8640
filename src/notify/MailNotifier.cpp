#include "notify/MailNotifier.h"

#include "common/Codec.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "notify/SmtpClient.h"
#include "settings/Settings.h"

#include <QRegularExpression>

TMailNotifier::TMailNotifier(const TSettings& settings, TJournal& journal)
    : Settings(settings), Journal(journal), Client(std::make_unique<TSmtpClient>()) {}

TMailNotifier::~TMailNotifier() = default;

bool TMailNotifier::IsConnected() const {
    return Client->IsConnected();
}

void TMailNotifier::SetTimeouts(int connectSeconds, int replySeconds) {
    Client->SetTimeouts(connectSeconds, replySeconds);
}

bool TMailNotifier::MailConnect() {
    bool result = true;
    if (!Client->IsConnected()) {
        try {
            auto port = Regional::ParseInteger(Settings.Port);
            if (!port || *port < 1 || *port > 65535) throw std::runtime_error("invalid port");
            Client->Connect(Settings.SMTP.trimmed(), static_cast<int>(*port), Settings.Auten, Settings.User,
                            Settings.Password, MailSecurityOf(Settings.Security),
                            Settings.TrustedCertificate);
        } catch (const TMailSecurityError& e) {
            Journal.AddJournalLine(
                QStringLiteral("Cann`t connect to server securely: %1").arg(QString::fromUtf8(e.what())));
            result = false;
        } catch (const std::exception&) {
            Journal.AddJournalLine(QStringLiteral("Cann`t connect to server or failed authentication"));
            result = false;
        }
    }
    Journal.FlushJournal();
    return result;
}

void TMailNotifier::MailDisconnect() {
    if (Client->IsConnected()) {
        try {
            Client->Disconnect();
        } catch (const std::exception&) {
            Journal.AddJournalLine(QStringLiteral("Cann`t disconnect to server"));
        }
    }
    Journal.FlushJournal();
}

void TMailNotifier::MailSend(const QString& fromAddress, const QString& fromName, const QStringList& body,
                             const QString& recipients, const QString& subject) {
    try {
        QString joined;
        for (const QString& l : body)
            joined += l + QStringLiteral("\r\n");
        joined.chop(2);
        Journal.AddJournalLine(QStringLiteral("Message: \"%1\" is sending to %2").arg(joined, recipients));
        QStringList addresses;
        static const QRegularExpression angle(QStringLiteral("<([^>]*)>"));
        for (auto it = angle.globalMatch(recipients); it.hasNext();) {
            const QString a = it.next().captured(1).trimmed();
            if (!a.isEmpty()) addresses << a;
        }
        Client->Send(fromAddress, fromName, addresses, subject, Cp1251::Encode(joined));
        Journal.AddJournalLine(QStringLiteral("Success"));
    } catch (const std::exception& e) {
        Journal.AddJournalLine(QStringLiteral("Failure: Произошла ошибка во время отправки сообщения: \r\n%1")
                                   .arg(QString::fromLocal8Bit(e.what())));
    }
    Journal.FlushJournal();
}

TMailNotifier::THold::THold(TMailNotifier& mail) : Mail(mail) {
    ++Mail.Holds;
}

TMailNotifier::THold::~THold() {
    if (--Mail.Holds > 0) return;
    // Delivery journals its own failures and never throws.
    while (!Mail.Held.isEmpty())
        Mail.Deliver(Mail.Held.takeFirst());
}

void TMailNotifier::SendNotification(const QString& text) {
    if (Holds > 0) {
        Held << text;
        return;
    }
    Deliver(text);
}

void TMailNotifier::Deliver(const QString& text) {
    // An empty address is left out; with neither there is nobody to write to.
    QStringList parts;
    for (const QString& a : {Settings.Email1.trimmed(), Settings.Email2.trimmed()})
        if (!a.isEmpty()) parts << QLatin1Char('<') + a + QLatin1Char('>');
    if (parts.isEmpty()) {
        Journal.AddJournalLine(
            QStringLiteral("Message not sent: no recipient address (Email1 and Email2 are empty)"));
        Journal.FlushJournal();
        return;
    }
    if (!MailConnect()) return;
    MailSend(Settings.FromAddress, Settings.FromName, {text}, parts.join(QStringLiteral(", ")),
             QStringLiteral("Korvex"));
    MailDisconnect();
}
