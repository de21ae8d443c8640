#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class TJournal;
class TSmtpClient;
struct TSettings;

// Short e-mail notifications to the two configured recipients. Settings are read at the moment of
// use, so the options dialog's buttons work with the values being edited. Every step is journalled;
// no failure leaves this class: the caller always goes on.
class TMailNotifier {
public:
    TMailNotifier(const TSettings& settings, TJournal& journal);
    virtual ~TMailNotifier();

    // Opens and, when Auten is on, authenticates the connection unless one is open.
    bool MailConnect();
    void MailDisconnect();
    void MailSend(const QString& fromAddress, const QString& fromName, const QStringList& body,
                  const QString& recipients, const QString& subject);
    // Connect, send one line, disconnect.
    virtual void SendNotification(const QString& text);

    bool IsConnected() const;
    // Seconds to wait for the connection and for each reply (10 and 30 unless changed).
    void SetTimeouts(int connectSeconds, int replySeconds);

private:
    const TSettings& Settings;
    TJournal& Journal;
    std::unique_ptr<TSmtpClient> Client;
};
