#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QObject;
class TJournal;
class TSmtpClient;
struct TSettings;

// Short e-mail notifications to the two configured recipients. Every step is journalled; no failure
// leaves this class: the caller always goes on.
//
// Notifications go into a queue worked by a thread of its own: a mail exchange takes seconds, and a
// silent server up to the reply limit, while trading must never wait for it. The queue keeps the
// order, holds at most QueueLimit mails (what does not fit is counted in one journal line) and
// takes the settings as they stand when the mail is raised. The worker never touches the journal:
// its lines are handed back to the thread that owns the notifier.
//
// The direct exchange (MailConnect, MailSend, MailDisconnect, SendNow) runs on the caller's thread:
// the options dialog's buttons use it to give the operator an answer.
class TMailNotifier {
public:
    TMailNotifier(const TSettings& settings, TJournal& journal);
    // Stops the queue as StopQueue does.
    virtual ~TMailNotifier();

    static constexpr int QueueLimit = 1000;

    // Opens and, when Auten is on, authenticates the connection unless one is open.
    bool MailConnect();
    void MailDisconnect();
    void MailSend(const QString& fromAddress, const QString& fromName, const QStringList& body,
                  const QString& recipients, const QString& subject);
    // Connect, send one line, disconnect, on the caller's thread.
    void SendNow(const QString& text);
    // Queues one line for the worker; returns at once.
    virtual void SendNotification(const QString& text);

    // Lets the queue finish for at most the reply limit, then journals what is left unsent. Later
    // notifications are journalled as not sent.
    void StopQueue();
    // Waits (handling events) until the queue is empty and the worker idle, or `ms` have passed;
    // the worker's journal lines are in the journal on return. True when idle.
    bool WaitIdle(int ms);
    // Mails queued and not yet taken by the worker, plus the one being sent.
    int Backlog() const;

    bool IsConnected() const;
    // Seconds to wait for the connection and for each reply (10 and 30 unless changed).
    void SetTimeouts(int connectSeconds, int replySeconds);

    struct TQueue;

private:
    void TakeWorkerLines();
    void ReportDropped();
    const TSettings& Settings;
    TJournal& Journal;
    std::unique_ptr<TSmtpClient> Client;
    std::shared_ptr<TQueue> Queue;
    std::unique_ptr<QObject> Receiver; // lives on the owner's thread: the worker's lines arrive here
    int ReplySeconds = 30;
};
