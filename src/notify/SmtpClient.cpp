#include "notify/SmtpClient.h"

#include "common/Codec.h"

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

} // namespace

struct TSmtpClient::TImpl {
    vmime::shared_ptr<vmime::net::session> Session = vmime::net::session::create();
    vmime::shared_ptr<vmime::net::transport> Transport;
    int ConnectSeconds = 10;
    int ReplySeconds = 30;
};

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
                          const QString& password) {
    try {
        vmime::utility::url url("smtp", Utf8(host), port);
        auto transport = Impl->Session->getTransport(url, vmime::make_shared<TLoginOnlyAuthenticator>());
        transport->setProperty("connection.tls", false);
        transport->setProperty("options.need-authentication", authenticate);
        transport->setProperty("options.sasl", authenticate);
        transport->setProperty("options.sasl.fallback", false);
        if (authenticate) {
            transport->setProperty("auth.username", Windows1251(user));
            transport->setProperty("auth.password", Windows1251(password));
        }
        transport->setTimeoutHandlerFactory(
            vmime::make_shared<TTimeoutFactory>(Impl->ConnectSeconds, Impl->ReplySeconds));
        Impl->Transport = transport;
        transport->connect();
    } catch (const vmime::exception& e) {
        throw std::runtime_error(e.what() +
                                 (e.other() ? std::string(": ") + e.other()->what() : std::string()));
    }
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
        throw std::runtime_error(e.what() +
                                 (e.other() ? std::string(": ") + e.other()->what() : std::string()));
    }
}
