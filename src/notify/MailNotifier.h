#pragma once

#include "notify/SmtpClient.h"

#include <QList>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>

class QObject;
class TJournal;
struct TSettings;

// Short e-mail notifications to the two configured recipients. Every step is journalled; no failure
// leaves this class: the caller always goes on.
//
// Notifications go into a queue worked by a thread of its own: a mail exchange takes seconds, and a
// slow server minutes, while trading must never wait for it. Each recipient is served on its own: a
// refusal of one does not keep the mail from the other, and a temporary refusal or a broken connection
// is tried again after RetryDelays (then given up with one line) while that recipient's later mails
// wait behind it, so each recipient gets its mails in the order they were raised. The queue holds at
// most QueueLimit mails and lives in memory only: what is left at exit is named and lost. It takes the
// settings as they stand when the mail is raised. The worker never touches the journal: its lines are
// handed back to the thread that owns the notifier.
//
// The worker is always joined before the notifier goes: every wait of its exchange ends within a
// fraction of a second once the stop is raised, so nothing it uses is destroyed before it ends.
class TMailNotifier {
public:
    TMailNotifier(const TSettings& settings, TJournal& journal);
    // Stops the queue as StopQueue does.
    virtual ~TMailNotifier();

    static constexpr int QueueLimit = 1000;

    // Queues one line for the worker; returns at once. A mail that cannot go out as the settings stand
    // (no recipient, a port that is not a number, a Security out of range) is journalled and dropped.
    virtual void SendNotification(const QString& text);
    // Start-up: journals what in the mail settings stops mail or endangers the password (a Security
    // value out of range, a password that would cross the network in clear), one line each.
    void CheckSettings();

    // Lets the worker send what is due for at most the exit wait (5 s unless changed), stops it, and
    // journals each mail left unsent by its text. Later notifications are journalled as not sent.
    void StopQueue();
    // Waits (handling events) until the worker has nothing due (the queue is empty, or holds only mails
    // waiting for a later try), or `ms` have passed; the worker's journal lines are in the journal on
    // return. True when it has nothing due.
    bool WaitIdle(int ms);
    // Mails queued and not yet sent to every recipient, those waiting for a later try included.
    int Backlog() const;

    // The time limits of each exchange (RFC 5321's unless changed).
    void SetLimits(const TMailLimits& limits);
    // The waits before the second, third… try of a temporary failure.
    void SetRetryDelays(const QList<std::chrono::milliseconds>& delays);
    void SetExitWait(std::chrono::milliseconds wait);

    struct TQueue;

private:
    void TakeWorkerLines();
    void ReportDropped(bool now);
    // False, with one journal line until it changes, when [Mail] Security is none of the choices.
    bool SecurityKnown();

    const TSettings& Settings;
    TJournal& Journal;
    std::unique_ptr<TQueue> Queue;
    std::unique_ptr<QObject> Receiver; // lives on the owner's thread: the worker's lines arrive here
    std::chrono::milliseconds ExitWait{5000};
    // A full queue is journalled at its first drop, then at most once a minute while it stays full.
    int Dropped = 0;
    QString LastDropped;
    std::optional<std::chrono::steady_clock::time_point> DropReported;
    // The [Mail] Security value last journalled as out of range, and the mails not sent since.
    std::optional<int> SecurityReported;
    int HeldBack = 0;
};
