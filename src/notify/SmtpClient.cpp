#include "notify/SmtpClient.h"

#include "common/Codec.h"
#include "notify/MailSocket.h"
#include "notify/MailTls.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>

#include <vmime/vmime.hpp>

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

vmime::string Utf8(const QString& s) {
    return s.toUtf8().toStdString();
}
// The names in the header are Windows-1251, as every text of the robot.
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

// The system's authorities. Without any authority every certificate is refused: there is no way to
// connect without checking.
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

bool FullDomainName(const QString& name) {
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+$"));
    return form.match(name).hasMatch() && QHostAddress().setAddress(name) == false;
}

// The name the robot greets with: servers that require a full domain name refuse a bare machine name.
std::string HelloName(const QString& fromAddress, const MailNet::TMailSocket& socket) {
    const QString host = QHostInfo::localHostName();
    if (FullDomainName(host)) return Utf8(host);
    const QString domain = QHostInfo::localDomainName();
    if (!host.isEmpty() && FullDomainName(host + QLatin1Char('.') + domain))
        return Utf8(host + QLatin1Char('.') + domain);
    const QString mailDomain = fromAddress.section(QLatin1Char('@'), -1).trimmed();
    if (fromAddress.contains(QLatin1Char('@')) && FullDomainName(mailDomain)) return Utf8(mailDomain);
    return socket.LocalAddressLiteral();
}

struct TReply {
    int Code = 0;
    std::vector<std::string> Lines; // the text of each line, without the code
    // The code and the text as the server wrote them, e.g. "550 5.1.1 User unknown".
    std::string Text;
    bool Temporary() const { return Code >= 400 && Code < 500; }
};

// What is awaited while a line goes out and while its reply comes, as a timeout names it.
struct TStep {
    std::string Sending;
    std::string Reply;
};
TStep Command(const std::string& name) {
    return {"отправка " + name, "ответ на " + name};
}

// Lines that begin with a dot get another; the message ends with CR LF before the final dot.
std::string Stuffed(const std::string& message) {
    std::string out;
    out.reserve(message.size() + 64);
    bool lineStart = true;
    for (char c : message) {
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = c == '\n';
    }
    if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
    return out;
}

} // namespace

std::optional<TMailSecurity> MailSecurityOf(int setting) {
    switch (setting) {
    case 0:
        return TMailSecurity::None;
    case 1:
        return TMailSecurity::StartTls;
    case 2:
        return TMailSecurity::Tls;
    default:
        return std::nullopt;
    }
}

struct TSmtpClient::TImpl {
    TMailLimits Limits;
    TMailStop Stop;
    vmime::shared_ptr<MailTls::TVersionProbe> Probe;
    vmime::shared_ptr<MailNet::TMailSocket> Raw;
    vmime::shared_ptr<vmime::net::socket> Io; // Raw, or the TLS socket over it
    std::string Received;                     // read from the server and not yet taken as a line
    std::vector<std::string> Extensions;      // the first words of the EHLO reply's lines
    bool Connected = false;
    bool NeedReset = false; // a transaction began on this connection

    // Why the last operation failed: the socket's words when it ended the operation, else the library's.
    std::string Failure(const vmime::exception& e) const {
        return Raw && !Raw->Reason().empty() ? Raw->Reason() : Described(e);
    }
    bool TemporaryFailure() const {
        if (!Raw) return false;
        switch (Raw->End()) {
        case MailNet::TEnd::NotResolved:
            return !Raw->NameUnknown();
        case MailNet::TEnd::None:
            return false;
        default:
            return true;
        }
    }

    std::string ReadLine() {
        for (;;) {
            const auto at = Received.find('\n');
            if (at != std::string::npos) {
                std::string line = Received.substr(0, at);
                Received.erase(0, at + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            if (Received.size() > 65536) throw vmime::exception("ответ сервера слишком длинный");
            std::string chunk;
            Io->receive(chunk); // waits a moment; the socket ends the wait at the phase's limit
            Received += chunk;
        }
    }

    TReply Read(int seconds, const std::string& phase) {
        Raw->SetLimit(seconds, phase);
        TReply r;
        for (;;) {
            const std::string line = ReadLine();
            if (line.size() < 3 ||
                !std::all_of(line.begin(), line.begin() + 3, [](char d) { return d >= '0' && d <= '9'; }) ||
                (line.size() > 3 && line[3] != ' ' && line[3] != '-'))
                throw vmime::exception("ответ сервера не понят: " + line.substr(0, 80));
            r.Lines.push_back(line.size() > 4 ? line.substr(4) : std::string());
            r.Text += (r.Text.empty() ? line : " " + line.substr(line.size() > 4 ? 4 : line.size()));
            if (line.size() == 3 || line[3] == ' ') {
                r.Code = std::stoi(line.substr(0, 3));
                break;
            }
        }
        for (char& c : r.Text)
            if (static_cast<unsigned char>(c) < 0x20) c = ' ';
        return r;
    }

    void Say(const std::string& line, int seconds, const std::string& phase) {
        Raw->SetLimit(seconds, phase);
        Io->send(line + "\r\n");
    }

    TReply Ask(const std::string& line, int seconds, const TStep& step) {
        Say(line, seconds, step.Sending);
        return Read(seconds, step.Reply);
    }

    void Handshake(const vmime::shared_ptr<MailTls::TCertificateCheck>& check) {
        auto props = vmime::make_shared<vmime::net::tls::TLSProperties>();
        props->setCipherSuite(vmime::net::tls::TLSProperties::CIPHERSUITE_DEFAULT);
        auto tls = vmime::net::tls::TLSSession::create(check, props)->getSocket(Raw);
        Raw->SetLimit(Limits.Connect, "согласование TLS");
        try {
            tls->handshake();
        } catch (const vmime::exception& e) {
            if (!check->Failure().empty()) throw TMailSecurityError(check->Failure());
            if (Raw->End() != MailNet::TEnd::None) throw TMailError(Raw->Reason(), true);
            throw TMailSecurityError("согласование TLS не удалось: " + Described(e));
        }
        Io = tls;
        Received.clear();
    }

    void Hello(const std::string& name) {
        TReply r = Ask("EHLO " + name, Limits.Reply, Command("EHLO"));
        if (r.Code == 250) {
            Extensions.clear();
            for (size_t i = 1; i < r.Lines.size(); ++i) {
                std::string word = r.Lines[i].substr(0, r.Lines[i].find(' '));
                for (char& ch : word)
                    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
                Extensions.push_back(word);
            }
            return;
        }
        // A server from before ESMTP does not know EHLO.
        if (r.Code == 500 || r.Code == 502) {
            r = Ask("HELO " + name, Limits.Reply, Command("HELO"));
            if (r.Code == 250) {
                Extensions.clear();
                return;
            }
        }
        throw TMailError("сервер не принял приветствие " + name + " (" + r.Text + ")", r.Temporary());
    }

    void Login(const QString& user, const QString& password) {
        // UTF-8, as SASL wants it (RFC 4954, 4616): a server that kept a Windows-1251 password refuses.
        TReply r = Ask("AUTH LOGIN", Limits.Reply, Command("AUTH LOGIN"));
        if (r.Code == 334)
            r = Ask(user.toUtf8().toBase64().toStdString(), Limits.Reply,
                    {"отправка имени пользователя", "ответ на имя пользователя"});
        if (r.Code == 334)
            r = Ask(password.toUtf8().toBase64().toStdString(), Limits.Reply,
                    {"отправка пароля", "ответ на пароль"});
        if (r.Code != 235)
            throw TMailAuthenticationError("сервер не принял имя пользователя и пароль (" + r.Text + ")",
                                           r.Temporary());
    }

    void Drop() {
        Connected = false;
        NeedReset = false;
        if (Io) {
            try {
                if (Raw) Raw->SetLimit(1, "закрытие соединения");
                Io->disconnect();
            } catch (...) {
                // Closing a connection that already failed tells nothing new.
            }
        }
        Io.reset();
        Raw.reset();
        Received.clear();
        Extensions.clear();
    }
};

TSmtpClient::TSmtpClient(const TMailLimits& limits, TMailStop stop) : Impl(std::make_unique<TImpl>()) {
    // The library makes its platform object at the first use, without a lock: made here once, before
    // any two threads can ask for it.
    static std::once_flag platform;
    std::call_once(platform, [] { vmime::platform::getHandler(); });
    Impl->Limits = limits;
    Impl->Stop = std::move(stop);
}

TSmtpClient::~TSmtpClient() {
    Disconnect();
}

bool TSmtpClient::IsConnected() const {
    return Impl->Connected && Impl->Raw && Impl->Raw->isConnected();
}

QString TSmtpClient::TlsVersion() const {
    return Impl->Probe ? Impl->Probe->Version() : QString();
}

void TSmtpClient::Connect(const TMailServer& s) {
    Disconnect();
    const QString host = s.Host.trimmed();
    vmime::shared_ptr<MailTls::TCertificateCheck> check;
    if (s.Security != TMailSecurity::None) {
        MailTls::TCertificates extra;
        if (!s.TrustedCertificate.trimmed().isEmpty()) {
            try {
                extra = MailTls::ReadCertificates(s.TrustedCertificate.trimmed());
            } catch (const std::runtime_error& e) {
                throw TMailSecurityError(e.what());
            }
        }
        check =
            vmime::make_shared<MailTls::TCertificateCheck>(Utf8(host), SystemAuthorities(), std::move(extra));
    }
    TImpl& c = *Impl;
    c.Probe = vmime::make_shared<MailTls::TVersionProbe>();
    c.Raw = vmime::make_shared<MailNet::TMailSocket>(c.Stop, c.Probe);
    c.Io = c.Raw;
    try {
        c.Raw->Open(Utf8(host), s.Port, c.Limits.Connect);
        if (s.Security == TMailSecurity::Tls) c.Handshake(check);
        const TReply greeting = c.Read(c.Limits.Greeting, "приветствие сервера");
        if (greeting.Code != 220)
            throw TMailError("сервер отказал в соединении (" + greeting.Text + ")", greeting.Temporary());
        const std::string name = HelloName(s.FromAddress, *c.Raw);
        c.Hello(name);
        if (s.Security == TMailSecurity::StartTls) {
            // STARTTLS is required when chosen: a server that refuses it is left, never spoken to in clear.
            if (std::find(c.Extensions.begin(), c.Extensions.end(), "STARTTLS") == c.Extensions.end())
                throw TMailSecurityError("сервер не предлагает STARTTLS");
            const TReply r = c.Ask("STARTTLS", c.Limits.Reply, Command("STARTTLS"));
            if (r.Code != 220) throw TMailSecurityError("сервер отказал в STARTTLS (" + r.Text + ")");
            c.Handshake(check);
            c.Hello(name);
        }
        if (s.Authenticate) c.Login(s.User, s.Password);
        c.Connected = true;
    } catch (const TMailError&) {
        c.Drop();
        throw;
    } catch (const vmime::exception& e) {
        const TMailError error(c.Failure(e), c.TemporaryFailure());
        c.Drop();
        throw error;
    }
}

TSendOutcome TSmtpClient::Send(const QString& fromAddress, const QString& fromName,
                               const QStringList& recipients, const QString& subject,
                               const QByteArray& body) {
    TSendOutcome out;
    QStringList open = recipients; // not yet settled
    auto refuse = [&](const std::string& why, bool temporary) {
        for (const QString& a : open)
            out.Refused.append({a, QString::fromStdString(why), temporary});
        open.clear();
    };
    if (!IsConnected()) {
        refuse("нет соединения с почтовым сервером", true);
        return out;
    }
    TImpl& c = *Impl;
    std::string data;
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
        vmime::utility::outputStreamStringAdapter os(data);
        msg->generate(os);
    } catch (const vmime::exception& e) {
        refuse("письмо не удалось составить: " + Described(e), false);
        return out;
    }
    bool endSent = false;
    try {
        if (c.NeedReset) c.Ask("RSET", c.Limits.Reply, Command("RSET"));
        c.NeedReset = true;
        TReply r =
            c.Ask("MAIL FROM:<" + Utf8(fromAddress.trimmed()) + ">", c.Limits.Reply, Command("MAIL FROM"));
        if (r.Code != 250) {
            refuse("сервер отказал отправителю " + Utf8(fromAddress) + " (" + r.Text + ")", r.Temporary());
            return out;
        }
        QStringList accepted;
        for (const QString& a : recipients) {
            r = c.Ask("RCPT TO:<" + Utf8(a) + ">", c.Limits.Reply, Command("RCPT TO"));
            if (r.Code == 250 || r.Code == 251) {
                accepted << a;
                continue;
            }
            open.removeOne(a);
            out.Refused.append(
                {a, QString::fromStdString("сервер отказал получателю (" + r.Text + ")"), r.Temporary()});
        }
        if (accepted.isEmpty()) return out;
        r = c.Ask("DATA", c.Limits.DataStart, Command("DATA"));
        if (r.Code != 354) {
            refuse("сервер отказал в передаче письма (" + r.Text + ")", r.Temporary());
            return out;
        }
        c.Say(Stuffed(data) + ".", c.Limits.Data, "передача письма");
        endSent = true;
        r = c.Read(c.Limits.DataEnd, "ответ на конец письма");
        if (r.Code != 250) {
            refuse("сервер не принял письмо (" + r.Text + ")", r.Temporary());
            return out;
        }
        out.Accepted = accepted;
    } catch (const vmime::exception& e) {
        const std::string why = c.Failure(e);
        const MailNet::TEnd end = c.Raw ? c.Raw->End() : MailNet::TEnd::None;
        c.Drop();
        // Only a 250 takes the mail. A server that closes before it has not taken it, and the mail is
        // tried again; one that is silent past the limit has most likely taken it, and trying again
        // would deliver it twice.
        if (endSent && (end == MailNet::TEnd::TimedOut || end == MailNet::TEnd::Stopped)) {
            out.Unconfirmed = open;
            out.UnconfirmedReason = QString::fromStdString(why);
        } else {
            refuse(why, true);
        }
    }
    return out;
}

void TSmtpClient::Disconnect() {
    TImpl& c = *Impl;
    if (c.Connected) {
        try {
            c.Ask("QUIT", std::min(c.Limits.Reply, 10), Command("QUIT"));
        } catch (const vmime::exception&) {
            // The server's goodbye changes nothing that was sent.
        }
    }
    c.Drop();
}
