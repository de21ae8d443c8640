#include "notify/SmtpClient.h"

#include "common/Codec.h"
#include "notify/MailTls.h"

#include <QFileInfo>

#include <vmime/vmime.hpp>

#include <chrono>

namespace {

// VMime waits forever for a silent server unless a timeout handler says otherwise.
class TTimeoutHandler : public vmime::net::timeoutHandler {
public:
    TTimeoutHandler(int connectSeconds, int replySeconds)
        : ConnectLimit(connectSeconds), ReplyLimit(replySeconds) {
        resetTimeOut();
    }
    bool isTimeOut() override {
        const auto elapsed = std::chrono::steady_clock::now() - Start;
        // The first wait is for the connection and the greeting; later ones are replies.
        const int limit = Resets <= 1 ? ConnectLimit : ReplyLimit;
        return elapsed > std::chrono::seconds(limit);
    }
    void resetTimeOut() override {
        Start = std::chrono::steady_clock::now();
        ++Resets;
    }
    bool handleTimeOut() override { return false; } // give up

private:
    int ConnectLimit;
    int ReplyLimit;
    int Resets = 0;
    std::chrono::steady_clock::time_point Start;
};

class TTimeoutFactory : public vmime::net::timeoutHandlerFactory {
public:
    TTimeoutFactory(int c, int r) : ConnectSeconds(c), ReplySeconds(r) {}
    vmime::shared_ptr<vmime::net::timeoutHandler> create() override {
        return vmime::make_shared<TTimeoutHandler>(ConnectSeconds, ReplySeconds);
    }
    int ConnectSeconds;
    int ReplySeconds;
};

// Only the LOGIN mechanism is offered, whatever else the server announces.
class TLoginOnlyAuthenticator : public vmime::security::sasl::defaultSASLAuthenticator {
    const std::vector<vmime::shared_ptr<vmime::security::sasl::SASLMechanism>> getAcceptableMechanisms(
        const std::vector<vmime::shared_ptr<vmime::security::sasl::SASLMechanism>>& available,
        vmime::shared_ptr<vmime::security::sasl::SASLMechanism>) const override {
        std::vector<vmime::shared_ptr<vmime::security::sasl::SASLMechanism>> out;
        for (const auto& m : available)
            if (m->getName() == "LOGIN") out.push_back(m);
        return out;
    }
};

vmime::string Utf8(const QString& s) {
    return s.toUtf8().toStdString();
}
// The robot's texts are Windows-1251 everywhere: the login, the password and the names in the header go
// to the mail server in it too.
vmime::string Windows1251(const QString& s) {
    return Cp1251::Encode(s).toStdString();
}
const vmime::charset& Windows1251Charset() {
    static const vmime::charset cs("windows-1251");
    return cs;
}

std::string Described(const vmime::exception& e) {
    return e.what() + (e.other() ? std::string(": ") + e.other()->what() : std::string());
}

// The system's authorities, plus the operator's own when a file is named. Without any authority every
// certificate is refused: there is no way to connect without checking.
MailTls::TCertificates SystemAuthorities() {
    for (const QString& f : MailTls::SystemAuthorityFiles())
        if (QFileInfo::exists(f)) {
            try {
                return MailTls::ReadCertificates(f);
            } catch (const std::runtime_error&) {
                return {};
            }
        }
    return {};
}

} // namespace

struct TSmtpClient::TImpl {
    vmime::shared_ptr<vmime::net::session> Session = vmime::net::session::create();
    vmime::shared_ptr<vmime::net::transport> Transport;
    vmime::shared_ptr<MailTls::TVersionProbe> Probe;
    int ConnectSeconds = 10;
    int ReplySeconds = 30;
};

TMailSecurity MailSecurityOf(int setting) {
    switch (setting) {
    case 1:
        return TMailSecurity::StartTls;
    case 2:
        return TMailSecurity::Tls;
    default:
        return TMailSecurity::None;
    }
}

TSmtpClient::TSmtpClient() : Impl(std::make_unique<TImpl>()) {}

TSmtpClient::~TSmtpClient() {
    try {
        if (IsConnected()) Impl->Transport->disconnect();
    } catch (...) {
    }
}

void TSmtpClient::SetTimeouts(int connectSeconds, int replySeconds) {
    Impl->ConnectSeconds = connectSeconds;
    Impl->ReplySeconds = replySeconds;
}

bool TSmtpClient::IsConnected() const {
    return Impl->Transport && Impl->Transport->isConnected();
}

void TSmtpClient::Connect(const QString& host, int port, bool authenticate, const QString& user,
                          const QString& password, TMailSecurity security,
                          const QString& trustedCertificateFile) {
    vmime::shared_ptr<MailTls::TCertificateCheck> check;
    if (security != TMailSecurity::None) {
        MailTls::TCertificates extra;
        if (!trustedCertificateFile.trimmed().isEmpty()) {
            try {
                extra = MailTls::ReadCertificates(trustedCertificateFile.trimmed());
            } catch (const std::runtime_error& e) {
                throw TMailSecurityError(e.what());
            }
        }
        check =
            vmime::make_shared<MailTls::TCertificateCheck>(Utf8(host), SystemAuthorities(), std::move(extra));
    }
    Impl->Probe = vmime::make_shared<MailTls::TVersionProbe>();
    try {
        vmime::utility::url url(security == TMailSecurity::Tls ? "smtps" : "smtp", Utf8(host), port);
        auto transport = Impl->Session->getTransport(url, vmime::make_shared<TLoginOnlyAuthenticator>());
        // STARTTLS is required when chosen: a server that refuses it is left, never spoken to in clear.
        transport->setProperty("connection.tls", security == TMailSecurity::StartTls);
        transport->setProperty("connection.tls.required", security == TMailSecurity::StartTls);
        transport->setProperty("options.need-authentication", authenticate);
        transport->setProperty("options.sasl", authenticate);
        transport->setProperty("options.sasl.fallback", false);
        if (authenticate) {
            transport->setProperty("auth.username", Windows1251(user));
            transport->setProperty("auth.password", Windows1251(password));
        }
        transport->setTimeoutHandlerFactory(
            vmime::make_shared<TTimeoutFactory>(Impl->ConnectSeconds, Impl->ReplySeconds));
        if (check) transport->setCertificateVerifier(check);
        transport->setSocketFactory(
            MailTls::ObservedSocketFactory(vmime::platform::getHandler()->getSocketFactory(), Impl->Probe));
        Impl->Transport = transport;
        transport->connect();
    } catch (const vmime::exceptions::command_error& e) {
        if (security == TMailSecurity::StartTls && e.command() == "STARTTLS")
            Refuse("the server does not offer STARTTLS (" + e.response() + ")");
        throw std::runtime_error(Described(e));
    } catch (const vmime::exceptions::authentication_error& e) {
        throw TMailAuthenticationError(Described(e));
    } catch (const vmime::exception& e) {
        if (check && !check->Failure().empty()) Refuse(check->Failure());
        if (Impl->Probe->Began() && TlsVersion().isEmpty()) Refuse("TLS handshake failed: " + Described(e));
        throw std::runtime_error(Described(e));
    }
    // Not expected, as the library was told to require TLS; checked all the same before a message goes out.
    if (security != TMailSecurity::None && !Impl->Transport->isSecuredConnection())
        Refuse("the connection is not encrypted");
}

void TSmtpClient::Refuse(const std::string& reason) {
    // The library may keep a refused connection open: dropping the transport closes it, so the server
    // hears nothing more.
    Impl->Transport.reset();
    throw TMailSecurityError(reason);
}

QString TSmtpClient::TlsVersion() const {
    return Impl->Probe ? Impl->Probe->Version() : QString();
}

void TSmtpClient::Disconnect() {
    try {
        if (IsConnected()) Impl->Transport->disconnect();
    } catch (const vmime::exception& e) {
        throw std::runtime_error(e.what());
    }
}

void TSmtpClient::Send(const QString& fromAddress, const QString& fromName, const QStringList& recipients,
                       const QString& subject, const QByteArray& body) {
    if (!IsConnected()) throw std::runtime_error("Not connected to the mail server");
    try {
        vmime::messageBuilder mb;
        const vmime::mailbox from(vmime::text(Windows1251(fromName), Windows1251Charset()),
                                  vmime::emailAddress(Utf8(fromAddress)));
        mb.setExpeditor(from);
        for (const QString& r : recipients)
            mb.getRecipients().appendAddress(
                vmime::make_shared<vmime::mailbox>(vmime::emailAddress(Utf8(r))));
        mb.setSubject(vmime::text(Windows1251(subject), Windows1251Charset()));
        mb.getTextPart()->setCharset(Windows1251Charset());
        mb.getTextPart()->setText(vmime::make_shared<vmime::stringContentHandler>(body.toStdString()));
        auto msg = mb.construct();
        msg->getHeader()->Sender()->setValue(vmime::make_shared<vmime::mailbox>(from));
        Impl->Transport->send(msg);
    } catch (const vmime::exception& e) {
        throw std::runtime_error(Described(e));
    }
}
