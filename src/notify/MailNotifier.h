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
    // Connect, send one line, disconnect; while a hold is on, the line waits for its end.
    virtual void SendNotification(const QString& text);

    // Held while a database transaction keeps QUIK or the strategy platform waiting: a mail exchange
    // takes seconds, and what comes up meanwhile goes out, in order, when the last hold ends.
    class THold {
    public:
        explicit THold(TMailNotifier& mail);
        ~THold();
        THold(const THold&) = delete;
        THold& operator=(const THold&) = delete;

    private:
        TMailNotifier& Mail;
    };

    bool IsConnected() const;
    // Seconds to wait for the connection and for each reply (10 and 30 unless changed).
    void SetTimeouts(int connectSeconds, int replySeconds);

private:
    void Deliver(const QString& text);
    int Holds = 0;
    QStringList Held;
    const TSettings& Settings;
    TJournal& Journal;
    std::unique_ptr<TSmtpClient> Client;
};
