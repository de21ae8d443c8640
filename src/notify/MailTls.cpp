#include "notify/MailTls.h"

#include "common/Regional.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <stdexcept>

namespace MailTls {

namespace cert = vmime::security::cert;

QStringList SystemAuthorityFiles() {
    // Debian and its kin first; the others where their families keep the bundle.
    return {QStringLiteral("/etc/ssl/certs/ca-certificates.crt"),
            QStringLiteral("/etc/pki/tls/certs/ca-bundle.crt"), QStringLiteral("/etc/ssl/cert.pem")};
}

TCertificates ReadCertificates(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error(
            QStringLiteral("не удалось прочитать файл сертификата %1").arg(path).toStdString());
    const QByteArray data = f.readAll();
    TCertificates out;
    static const QByteArray begin("-----BEGIN CERTIFICATE-----");
    static const QByteArray end("-----END CERTIFICATE-----");
    // The library imports one certificate at a time: a bundle is cut into its PEM blocks.
    for (qsizetype at = data.indexOf(begin); at >= 0; at = data.indexOf(begin, at + 1)) {
        const qsizetype stop = data.indexOf(end, at);
        if (stop < 0) break;
        const QByteArray block = data.mid(at, stop + end.size() - at) + '\n';
        if (auto c = cert::X509Certificate::import(reinterpret_cast<const vmime::byte_t*>(block.constData()),
                                                   static_cast<size_t>(block.size())))
            out.push_back(c);
    }
    if (out.empty() && !data.isEmpty()) // DER holds a single certificate
        if (auto c = cert::X509Certificate::import(reinterpret_cast<const vmime::byte_t*>(data.constData()),
                                                   static_cast<size_t>(data.size())))
            out.push_back(c);
    if (out.empty())
        throw std::runtime_error(QStringLiteral("в файле %1 нет сертификата").arg(path).toStdString());
    return out;
}

namespace {

// In the operator's regional form, as every date the robot shows.
std::string Date(const vmime::datetime& d) {
    return Regional::ShortDate(QDate(d.getYear(), d.getMonth(), d.getDay())).toStdString();
}

} // namespace

TCertificateCheck::TCertificateCheck(std::string host, TCertificates authorities, TCertificates extra)
    : Host(std::move(host)), Authorities(std::move(authorities)), Extra(std::move(extra)) {}

void TCertificateCheck::Refuse(const std::string& reason) {
    Reason = reason;
    throw cert::certificateException(reason);
}

void TCertificateCheck::verify(vmime::shared_ptr<cert::certificateChain> chain, const vmime::string&) {
    // The name is checked against what the operator typed, not against what the socket resolved.
    std::vector<vmime::shared_ptr<cert::X509Certificate>> certs;
    for (size_t i = 0; chain && i < chain->getCount(); ++i)
        if (auto c = vmime::dynamicCast<cert::X509Certificate>(chain->getAt(i))) certs.push_back(c);
    if (certs.empty()) Refuse("сервер не прислал сертификат X.509");
    const auto& leaf = certs.front();

    const vmime::datetime now = vmime::datetime::now();
    if (now > leaf->getExpirationDate())
        Refuse("сертификат сервера просрочен " + Date(leaf->getExpirationDate()));
    if (now < leaf->getActivationDate())
        Refuse("сертификат сервера действует только с " + Date(leaf->getActivationDate()));

    // Walk up the chain the server sent until a certificate is signed by an authority we trust; a
    // certificate the operator trusts by itself ends the walk too.
    bool trusted = false;
    for (size_t i = 0; i < certs.size() && !trusted; ++i) {
        for (const auto& t : Extra)
            if (certs[i]->equals(t)) trusted = true;
        for (const auto* list : {&Authorities, &Extra})
            for (const auto& a : *list)
                if (!trusted && certs[i]->checkIssuer(a) && certs[i]->verify(a)) trusted = true;
        if (trusted) break;
        const bool linked =
            i + 1 < certs.size() && certs[i]->checkIssuer(certs[i + 1]) && certs[i]->verify(certs[i + 1]);
        if (!linked) break;
        if (now > certs[i + 1]->getExpirationDate())
            Refuse("промежуточный сертификат сервера просрочен " + Date(certs[i + 1]->getExpirationDate()));
    }
    if (!trusted) Refuse("сертификат сервера выдан неизвестным центром сертификации (ему нет доверия)");

    std::vector<std::string> names;
    if (!leaf->verifyHostName(Host, &names)) {
        // The common name is usually among the alternative names too: each name once.
        std::vector<std::string> unique;
        std::string listed;
        for (const auto& n : names)
            if (std::find(unique.begin(), unique.end(), n) == unique.end()) {
                unique.push_back(n);
                listed += (listed.empty() ? "" : ", ") + n;
            }
        Refuse("чужое имя: сертификат сервера выдан для " +
               (listed.empty() ? std::string("другого имени") : listed) + ", а не для " + Host);
    }
}

void TVersionProbe::Sent(const vmime::byte_t* data, size_t count) {
    // A TLS handshake record; SMTP text never starts with this byte.
    if (!HelloSent && count >= 2 && data[0] == 0x16 && data[1] == 0x03) HelloSent = true;
}

void TVersionProbe::Received(const vmime::byte_t* data, size_t count) {
    if (!HelloSent || Done) return;
    Buffer.append(reinterpret_cast<const char*>(data), count);
    Parse();
}

QString TVersionProbe::Version() const {
    return Found;
}

void TVersionProbe::Parse() {
    const auto* b = reinterpret_cast<const unsigned char*>(Buffer.data());
    const size_t n = Buffer.size();
    auto u16 = [b](size_t at) { return static_cast<unsigned>(b[at] << 8 | b[at + 1]); };
    if (n < 5) return;
    const size_t record = 5 + u16(3);
    // The server's hello is the first message of the first record; anything else means no answer here.
    if (b[0] != 0x16 || Buffer.size() > 1 << 16) {
        Done = true;
        return;
    }
    if (n < record) return;
    Done = true;
    if (n < 9 + 2 + 32 + 1 || b[5] != 0x02) return;
    unsigned version = u16(9);
    size_t at = 9 + 2 + 32;
    at += 1 + b[at]; // session id
    at += 2 + 1;     // cipher suite, compression
    if (at + 2 <= record) {
        const size_t end = std::min(record, at + 2 + u16(at));
        // TLS 1.3 keeps 1.2 in the old field and names itself in the supported_versions extension.
        for (at += 2; at + 4 <= end; at += 4 + u16(at + 2))
            if (u16(at) == 0x002b && u16(at + 2) == 2 && at + 6 <= end) version = u16(at + 4);
    }
    if (version >= 0x0301 && version <= 0x0304)
        Found = QStringLiteral("TLS 1.%1").arg(version - 0x0301);
    else
        Found = QStringLiteral("0x%1").arg(version, 4, 16, QLatin1Char('0'));
}

} // namespace MailTls
