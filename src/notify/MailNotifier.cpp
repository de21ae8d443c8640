#include "notify/MailNotifier.h"

#include "common/Codec.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "notify/SmtpClient.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QRegularExpression>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace {

// What one mail needs of the settings, taken when it is raised: the worker never reads the settings
// the options dialog may be editing.
struct TMailTarget {
    QString Host;
    QString Port;
    bool Auten = false;
    QString User;
    QString Password;
    QString FromAddress;
    QString FromName;
    QString Email1;
    QString Email2;
    int Security = 0;
    QString TrustedCertificate;
};

TMailTarget TargetOf(const TSettings& s) {
    return {s.SMTP,     s.Port,   s.Auten,  s.User,     s.Password,          s.FromAddress,
            s.FromName, s.Email1, s.Email2, s.Security, s.TrustedCertificate};
}

using TLineSink = std::function<void(const QString&)>;

bool ConnectTo(TSmtpClient& client, const TMailTarget& t, const TLineSink& line) {
    if (client.IsConnected()) return true;
    try {
        auto port = Regional::ParseInteger(t.Port);
        if (!port || *port < 1 || *port > 65535) throw std::runtime_error("invalid port");
        client.Connect(t.Host.trimmed(), static_cast<int>(*port), t.Auten, t.User, t.Password,
                       MailSecurityOf(t.Security), t.TrustedCertificate);
        return true;
    } catch (const TMailSecurityError& e) {
        line(QStringLiteral("Cann`t connect to server securely: %1").arg(QString::fromUtf8(e.what())));
        return false;
    } catch (const std::exception&) {
        line(QStringLiteral("Cann`t connect to server or failed authentication"));
        return false;
    }
}

void DisconnectFrom(TSmtpClient& client, const TLineSink& line) {
    if (!client.IsConnected()) return;
    try {
        client.Disconnect();
    } catch (const std::exception&) {
        line(QStringLiteral("Cann`t disconnect to server"));
    }
}

void SendThrough(TSmtpClient& client, const QString& fromAddress, const QString& fromName,
                 const QStringList& body, const QString& recipients, const QString& subject,
                 const TLineSink& line) {
    try {
        QString joined;
        for (const QString& l : body)
            joined += l + QStringLiteral("\r\n");
        joined.chop(2);
        line(QStringLiteral("Message: \"%1\" is sending to %2").arg(joined, recipients));
        QStringList addresses;
        static const QRegularExpression angle(QStringLiteral("<([^>]*)>"));
        for (auto it = angle.globalMatch(recipients); it.hasNext();) {
            const QString a = it.next().captured(1).trimmed();
            if (!a.isEmpty()) addresses << a;
        }
        client.Send(fromAddress, fromName, addresses, subject, Cp1251::Encode(joined));
        line(QStringLiteral("Success"));
    } catch (const std::exception& e) {
        line(QStringLiteral("Failure: Произошла ошибка во время отправки сообщения: \r\n%1")
                 .arg(QString::fromLocal8Bit(e.what())));
    }
}

// Connect, send one line, disconnect.
void Exchange(TSmtpClient& client, const TMailTarget& t, const QString& text, const TLineSink& line) {
    // An empty address is left out; with neither there is nobody to write to.
    QStringList parts;
    for (const QString& a : {t.Email1.trimmed(), t.Email2.trimmed()})
        if (!a.isEmpty()) parts << QLatin1Char('<') + a + QLatin1Char('>');
    if (parts.isEmpty()) {
        line(QStringLiteral("Message not sent: no recipient address (Email1 and Email2 are empty)"));
        return;
    }
    if (!ConnectTo(client, t, line)) return;
    SendThrough(client, t.FromAddress, t.FromName, {text}, parts.join(QStringLiteral(", ")),
                QStringLiteral("Korvex"), line);
    DisconnectFrom(client, line);
}

} // namespace

// Shared by the owner and the worker; it outlives the owner when a worker is still stuck in an
// exchange at exit.
struct TMailNotifier::TQueue {
    std::mutex Lock;
    std::condition_variable Wake; // the worker: a mail arrived, or stop
    std::condition_variable Idle; // the owner: the queue ran empty
    std::deque<std::pair<QString, TMailTarget>> Mails;
    bool Busy = false; // the worker is in an exchange
    bool Stop = false;
    int ConnectSeconds = 10, ReplySeconds = 30;
    QStringList Lines;           // the worker's journal lines, not yet taken by the owner
    QObject* Receiver = nullptr; // the owner's, while it lives
    int Dropped = 0;             // mails that found the queue full, not yet journalled
    std::thread Worker;

    void Post(const QString& line) {
        // Called with Lock held.
        const bool first = Lines.isEmpty();
        Lines << line;
        if (first && Receiver)
            QMetaObject::invokeMethod(
                Receiver, [this] { TakeLines(); }, Qt::QueuedConnection);
    }
    std::function<void()> TakeLines; // set by the owner
};

namespace {
void WorkQueue(std::shared_ptr<TMailNotifier::TQueue> q) {
    TSmtpClient client;
    std::unique_lock<std::mutex> lock(q->Lock);
    for (;;) {
        q->Wake.wait(lock, [&] { return q->Stop || !q->Mails.empty(); });
        if (q->Mails.empty()) break; // stopped and nothing left
        auto [text, target] = std::move(q->Mails.front());
        q->Mails.pop_front();
        q->Busy = true;
        client.SetTimeouts(q->ConnectSeconds, q->ReplySeconds);
        lock.unlock();
        QStringList lines;
        Exchange(client, target, text, [&](const QString& l) { lines << l; });
        lock.lock();
        for (const QString& l : lines)
            q->Post(l);
        q->Busy = false;
        if (q->Mails.empty()) q->Idle.notify_all();
    }
    q->Busy = false;
    q->Idle.notify_all();
}
} // namespace

TMailNotifier::TMailNotifier(const TSettings& settings, TJournal& journal)
    : Settings(settings), Journal(journal), Client(std::make_unique<TSmtpClient>()),
      Queue(std::make_shared<TQueue>()), Receiver(std::make_unique<QObject>()) {
    Queue->Receiver = Receiver.get();
    Queue->TakeLines = [this] { TakeWorkerLines(); };
    Queue->Worker = std::thread(WorkQueue, Queue);
}

TMailNotifier::~TMailNotifier() {
    StopQueue();
}

void TMailNotifier::StopQueue() {
    std::unique_lock<std::mutex> lock(Queue->Lock);
    if (!Queue->Worker.joinable()) return;
    Queue->Stop = true;
    Queue->Wake.notify_all();
    // At most one reply limit for what is still queued: a mail is never worth holding up an exit.
    const bool finished = Queue->Idle.wait_for(lock, std::chrono::seconds(ReplySeconds),
                                               [&] { return Queue->Mails.empty() && !Queue->Busy; });
    const int left = static_cast<int>(Queue->Mails.size()) + (Queue->Busy ? 1 : 0);
    Queue->Mails.clear();
    Queue->Receiver = nullptr; // the worker, if stuck, must not call back into a notifier that is gone
    lock.unlock();
    if (finished)
        Queue->Worker.join();
    else
        Queue->Worker.detach(); // it holds its own share of the queue and ends with its exchange
    TakeWorkerLines();
    ReportDropped();
    if (left > 0) {
        Journal.AddJournalLine(
            QStringLiteral("Mail queue stopped at exit: %1 message(s) not sent").arg(left));
        Journal.FlushJournal();
    }
}

void TMailNotifier::TakeWorkerLines() {
    QStringList lines;
    {
        std::lock_guard<std::mutex> lock(Queue->Lock);
        lines.swap(Queue->Lines);
    }
    if (lines.isEmpty()) return;
    Journal.AddJournalLines(lines);
    Journal.FlushJournal();
}

void TMailNotifier::ReportDropped() {
    int dropped = 0;
    {
        std::lock_guard<std::mutex> lock(Queue->Lock);
        std::swap(dropped, Queue->Dropped);
    }
    if (dropped == 0) return;
    Journal.AddJournalLine(
        QStringLiteral("Mail queue full (%1 messages): %2 message(s) dropped").arg(QueueLimit).arg(dropped));
    Journal.FlushJournal();
}

void TMailNotifier::SendNotification(const QString& text) {
    bool accepted = false, stopped = false;
    {
        std::lock_guard<std::mutex> lock(Queue->Lock);
        stopped = Queue->Stop;
        if (!stopped && Queue->Mails.size() < static_cast<size_t>(QueueLimit)) {
            Queue->Mails.emplace_back(text, TargetOf(Settings));
            Queue->Wake.notify_one();
            accepted = true;
        } else if (!stopped) {
            ++Queue->Dropped;
        }
    }
    if (stopped) {
        Journal.AddJournalLine(
            QStringLiteral("Message not sent, the mail queue is stopped: \"%1\"").arg(text));
        Journal.FlushJournal();
    }
    // Said once the queue takes mails again, with the count of those it could not.
    if (accepted) ReportDropped();
}

bool TMailNotifier::WaitIdle(int ms) {
    const QDeadlineTimer deadline(ms);
    for (;;) {
        bool idle = false;
        {
            std::lock_guard<std::mutex> lock(Queue->Lock);
            idle = Queue->Mails.empty() && !Queue->Busy;
        }
        TakeWorkerLines();
        if (idle) return true;
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::unique_lock<std::mutex> lock(Queue->Lock);
        Queue->Idle.wait_for(lock, std::chrono::milliseconds(20));
    }
}

int TMailNotifier::Backlog() const {
    std::lock_guard<std::mutex> lock(Queue->Lock);
    return static_cast<int>(Queue->Mails.size()) + (Queue->Busy ? 1 : 0);
}

bool TMailNotifier::IsConnected() const {
    return Client->IsConnected();
}

void TMailNotifier::SetTimeouts(int connectSeconds, int replySeconds) {
    Client->SetTimeouts(connectSeconds, replySeconds);
    ReplySeconds = replySeconds;
    std::lock_guard<std::mutex> lock(Queue->Lock);
    Queue->ConnectSeconds = connectSeconds;
    Queue->ReplySeconds = replySeconds;
}

bool TMailNotifier::MailConnect() {
    const bool result =
        ConnectTo(*Client, TargetOf(Settings), [this](const QString& l) { Journal.AddJournalLine(l); });
    Journal.FlushJournal();
    return result;
}

void TMailNotifier::MailDisconnect() {
    DisconnectFrom(*Client, [this](const QString& l) { Journal.AddJournalLine(l); });
    Journal.FlushJournal();
}

void TMailNotifier::MailSend(const QString& fromAddress, const QString& fromName, const QStringList& body,
                             const QString& recipients, const QString& subject) {
    SendThrough(*Client, fromAddress, fromName, body, recipients, subject,
                [this](const QString& l) { Journal.AddJournalLine(l); });
    Journal.FlushJournal();
}

void TMailNotifier::SendNow(const QString& text) {
    Exchange(*Client, TargetOf(Settings), text, [this](const QString& l) { Journal.AddJournalLine(l); });
    Journal.FlushJournal();
}
