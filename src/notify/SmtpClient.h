#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

// How the connection to the mail server is protected; the values are those of the [Mail] Security key.
enum class TMailSecurity {
    None = 0,     // plain text, as mail servers spoke before TLS (port 25)
    StartTls = 1, // plain greeting, then STARTTLS before anything else is said (port 587)
    Tls = 2,      // TLS from the first byte (port 465)
};

// The [Mail] Security value as a choice; nothing for a value out of range, which is an error of the
// settings: no mail may go out with a protection the operator did not choose.
std::optional<TMailSecurity> MailSecurityOf(int setting);

// The time limits of one exchange, in seconds. The defaults are those of RFC 5321 §4.5.3.2: a server
// that is slow to answer the end of the data has usually taken the mail, and giving up early would
// report a delivered mail as lost.
struct TMailLimits {
    int Connect = 30;    // resolving the name, the TCP connection and, for TLS, the handshake
    int Greeting = 300;  // the server's greeting
    int Reply = 300;     // the reply to EHLO, STARTTLS, AUTH, MAIL FROM and RCPT TO
    int DataStart = 120; // the reply to DATA
    int Data = 180;      // sending the message
    int DataEnd = 600;   // the reply to the end of the data
};

// Raised by the owner of an exchange to end it within a fraction of a second.
using TMailStop = std::shared_ptr<std::atomic<bool>>;

// A failed exchange, in the operator's words (Russian, UTF-8) that say what happened and quote the
// server's code and text where it answered, and the system's error text where the system failed, as
// they came: those are what an administrator searches for. Temporary: trying again later may succeed.
class TMailError : public std::runtime_error {
public:
    TMailError(const std::string& words, bool temporary) : std::runtime_error(words), Temp(temporary) {}
    bool Temporary() const { return Temp; }

private:
    bool Temp;
};

// A connection refused because it could not be made secure: the server's certificate did not pass its
// check, the server did not offer STARTTLS, or the TLS handshake failed.
class TMailSecurityError : public TMailError {
public:
    explicit TMailSecurityError(const std::string& words) : TMailError(words, false) {}
};

// The server refused the user name and password.
class TMailAuthenticationError : public TMailError {
public:
    using TMailError::TMailError;
};

// Where and how to connect.
struct TMailServer {
    QString Host;
    int Port = 25;
    TMailSecurity Security = TMailSecurity::None;
    QString TrustedCertificate; // a certificate file trusted beside the system's authorities
    bool Authenticate = false;
    QString User;
    QString Password;
    QString FromAddress; // its domain names this end in the hello when the machine has no full name
};

// What became of one message, recipient by recipient.
struct TSendOutcome {
    struct TRefusal {
        QString Address;
        QString Reason; // e.g. "сервер отказал получателю (550 5.1.1 …)"
        bool Temporary = false;
    };
    QStringList Accepted;
    QList<TRefusal> Refused;
    // The end of the data went out and no answer came: the mail may have been delivered.
    QStringList Unconfirmed;
    QString UnconfirmedReason;
};

// One SMTP session. VMime stays behind this class: nothing outside this folder sees it. One object
// belongs to one thread at a time; objects share no state of their own.
class TSmtpClient {
public:
    explicit TSmtpClient(const TMailLimits& limits = {}, TMailStop stop = nullptr);
    ~TSmtpClient();

    // Connects, waits for the greeting, says EHLO with a full domain name (the machine's, else the
    // domain of the sender's address, else the address literal of this end), secures the connection
    // as chosen and, when asked, logs in with LOGIN, the user name and the password in UTF-8. With
    // STARTTLS or TLS the server's certificate must lead to one of the system's trusted authorities or
    // to a certificate of the trusted file and be issued for the host; the login goes only inside TLS.
    // Throws TMailError (or its two kinds) and leaves the client disconnected.
    void Connect(const TMailServer& server);
    bool IsConnected() const;
    // The TLS version of the open connection ("TLS 1.3"), empty for a plain one.
    QString TlsVersion() const;
    // Sends one text/plain message to each recipient that the server takes; `body` is already
    // Windows-1251, the sender's name and the subject are sent in Windows-1251 too. Never throws: what
    // went wrong is in the outcome, and a broken connection leaves the client disconnected.
    TSendOutcome Send(const QString& fromAddress, const QString& fromName, const QStringList& recipients,
                      const QString& subject, const QByteArray& body);
    // Says QUIT and closes the connection; never throws.
    void Disconnect();

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};
