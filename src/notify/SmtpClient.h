#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <stdexcept>

// A kept-open SMTP connection. VMime stays behind this class: nothing outside this folder sees it.
// Every failure throws std::runtime_error with the library's text.
class TSmtpClient {
public:
    TSmtpClient();
    ~TSmtpClient();

    // Seconds to wait for the connection and for each server reply before giving up.
    void SetTimeouts(int connectSeconds, int replySeconds);

    bool IsConnected() const;
    // Connects (greeting and hello included) and, when `authenticate` is set, authenticates with LOGIN;
    // the user name and the password go to the server as Windows-1251 bytes.
    void Connect(const QString& host, int port, bool authenticate, const QString& user,
                 const QString& password);
    void Disconnect();
    // Sends one text/plain message; `body` is already Windows-1251, the sender's name and the subject
    // are sent in Windows-1251 too.
    void Send(const QString& fromAddress, const QString& fromName, const QStringList& recipients,
              const QString& subject, const QByteArray& body);

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};
