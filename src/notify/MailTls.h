#pragma once

// The TLS side of the mail connection: which authorities are trusted, how the server's certificate is
// judged, and which TLS version the two ends agreed on. VMime types: included by SmtpClient.cpp only.

#include <QString>
#include <QStringList>

#include <vmime/vmime.hpp>

#include <string>
#include <vector>

namespace MailTls {

using TCertificates = std::vector<vmime::shared_ptr<vmime::security::cert::X509Certificate>>;

// The files of the system's trusted authorities looked for, in order; the first that exists is used.
QStringList SystemAuthorityFiles();

// Every certificate of a PEM (one or many) or DER file. An unreadable file, or one without any
// certificate, throws std::runtime_error naming the file: an extra authority the operator named and
// that cannot be read must not pass unnoticed.
TCertificates ReadCertificates(const QString& path);

// Judges the server's certificate chain: within its dates, leading to a trusted authority (or being
// one of the extra trusted certificates), and issued for the host name the operator typed. A failure
// throws a VMime certificate exception, which ends the handshake; Failure() keeps the reason in words.
class TCertificateCheck : public vmime::security::cert::certificateVerifier {
public:
    TCertificateCheck(std::string host, TCertificates authorities, TCertificates extra);
    void verify(vmime::shared_ptr<vmime::security::cert::certificateChain> chain,
                const vmime::string& hostname) override;
    const std::string& Failure() const { return Reason; }

private:
    [[noreturn]] void Refuse(const std::string& reason);
    std::string Host;
    TCertificates Authorities;
    TCertificates Extra;
    std::string Reason;
};

// Watches the bytes of the connection below TLS (the mail socket hands them over) for the server's hello,
// which names the version the two ends agreed on; VMime does not tell it. One probe serves one connection on
// one thread.
class TVersionProbe {
public:
    void Sent(const vmime::byte_t* data, size_t count);
    void Received(const vmime::byte_t* data, size_t count);
    // "TLS 1.3", "TLS 1.2"…; empty until the server's hello has been seen.
    QString Version() const;
    // Whether our side began a TLS handshake at all.
    bool Began() const { return HelloSent; }

private:
    void Parse();
    bool HelloSent = false;
    bool Done = false;
    std::string Buffer;
    QString Found;
};

} // namespace MailTls
