#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <stdexcept>
#include <string>

// How the connection to the mail server is protected; the values are those of the [Mail] Security key.
enum class TMailSecurity {
    None = 0,     // plain text, as mail servers spoke before TLS (port 25)
    StartTls = 1, // plain greeting, then STARTTLS before anything else is said (port 587)
    Tls = 2,      // TLS from the first byte (port 465)
};

// A connection refused because it could not be made secure: the server's certificate did not pass its
// check, the server did not offer STARTTLS, or the TLS handshake failed. what() says why in words.
class TMailSecurityError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The server refused the user name and password.
class TMailAuthenticationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The [Mail] Security value as a choice; a value out of range reads as none, as a file without the key.
TMailSecurity MailSecurityOf(int setting);

// A kept-open SMTP connection. VMime stays behind this class: nothing outside this folder sees it.
// Every failure throws std::runtime_error with the library's text, or TMailSecurityError or
// TMailAuthenticationError. One object
// belongs to one thread at a time; objects share no state of their own.
class TSmtpClient {
public:
    TSmtpClient();
    ~TSmtpClient();

    // Seconds to wait for the connection and for each server reply before giving up.
    void SetTimeouts(int connectSeconds, int replySeconds);

    bool IsConnected() const;
    // Connects (greeting and hello included) and, when `authenticate` is set, authenticates with LOGIN;
    // the user name and the password go to the server as Windows-1251 bytes. With STARTTLS or TLS, the
    // server's certificate must lead to one of the system's trusted authorities or to a certificate of
    // `trustedCertificateFile` (when not empty) and be issued for `host`; the login goes only inside TLS.
    void Connect(const QString& host, int port, bool authenticate, const QString& user,
                 const QString& password, TMailSecurity security = TMailSecurity::None,
                 const QString& trustedCertificateFile = {});
    // The TLS version of the open connection ("TLS 1.3"), empty for a plain one.
    QString TlsVersion() const;
    void Disconnect();
    // Sends one text/plain message; `body` is already Windows-1251, the sender's name and the subject
    // are sent in Windows-1251 too.
    void Send(const QString& fromAddress, const QString& fromName, const QStringList& recipients,
              const QString& subject, const QByteArray& body);

private:
    [[noreturn]] void Refuse(const std::string& reason);
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};
