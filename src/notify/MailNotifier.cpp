#include "notify/MailNotifier.h"

#include "common/Codec.h"
#include "common/Journal.h"
#include "common/Regional.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QSet>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using TSteady = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// What one mail needs of the settings, taken when it is raised: the worker never reads the settings
// the options dialog may be editing.
struct TMailTarget {
    TMailServer Server;
    QString FromName;
};

bool SameServer(const TMailServer& a, const TMailServer& b) {
    return a.Host.compare(b.Host, Qt::CaseInsensitive) == 0 && a.Port == b.Port && a.Security == b.Security &&
           a.TrustedCertificate == b.TrustedCertificate && a.Authenticate == b.Authenticate &&
           a.User == b.User && a.Password == b.Password;
}

QString Delay(milliseconds ms) {
    if (ms.count() >= 60000 && ms.count() % 60000 == 0)
        return QStringLiteral("%1 мин").arg(ms.count() / 60000);
    return QStringLiteral("%1 с").arg((ms.count() + 999) / 1000);
}

// "после 4 попыток", "после 21 попытки".
QString AfterTries(int n) {
    const bool one = n % 10 == 1 && n % 100 != 11;
    return QStringLiteral("после %1 %2")
        .arg(n)
        .arg(one ? QStringLiteral("попытки") : QStringLiteral("попыток"));
}

QString ServerName(const TMailServer& s) {
    return s.Host + QLatin1Char(':') + QString::number(s.Port);
}

QString Angled(const QStringList& addresses) {
    QStringList out;
    for (const QString& a : addresses)
        out << QLatin1Char('<') + a + QLatin1Char('>');
    return out.join(QStringLiteral(", "));
}

QString Quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Carries the worker's journal lines to the owner's thread.
class TLineReceiver : public QObject {
    Q_OBJECT
public:
    explicit TLineReceiver(std::function<void()> take) : Take(std::move(take)) {}
    Q_INVOKABLE void TakeLines() { Take(); }

private:
    std::function<void()> Take;
};

} // namespace

struct TMailNotifier::TQueue {
    struct TDelivery {
        QString Address;
        int Tries = 0;
        TSteady::time_point Due;
        bool Done = false;
        bool Told = false; // journalled as waiting for a server that could not be reached
    };
    struct TMail {
        quint64 Id = 0;
        QString Text;
        TMailTarget Target;
        std::vector<TDelivery> To;
    };
    // The part of one mail that goes out in one exchange.
    struct TJob {
        quint64 Id = 0;
        QString Text;
        TMailTarget Target;
        QStringList To;
    };
    struct TConnectFailure {
        std::string Words;
        bool Temporary = false;
        bool Security = false;
    };
    // A server that could not be reached: its mails wait for its next try instead of each trying anew.
    struct TDown {
        TMailServer Server;
        TSteady::time_point Until;
        std::string Reason;
    };
    struct TResult {
        std::optional<TConnectFailure> NotConnected;
        bool Tried = false;
        TSendOutcome Outcome;
    };

    std::mutex Lock;
    std::condition_variable Wake; // the worker: a mail arrived, or stop
    std::condition_variable Idle; // the owner: the worker has nothing due, or ended
    std::deque<TMail> Mails;
    std::vector<TDown> Down;
    quint64 LastId = 0;
    bool Busy = false;    // the worker is in an exchange
    bool Resting = false; // the worker waits with nothing due
    bool Stopping = false;
    bool Finished = false;
    TMailStop Stop = std::make_shared<std::atomic<bool>>(false);
    TMailLimits Limits;
    QList<milliseconds> RetryDelays{milliseconds(30000), milliseconds(120000), milliseconds(600000)};
    QStringList Lines;           // the worker's journal lines, not yet taken by the owner
    QObject* Receiver = nullptr; // the owner's
    std::thread Worker;

    // With Lock held.
    void Post(const QString& line) {
        const bool first = Lines.isEmpty();
        Lines << line;
        if (first && Receiver) QMetaObject::invokeMethod(Receiver, "TakeLines", Qt::QueuedConnection);
    }
    void PostNow(const QString& line) {
        std::lock_guard<std::mutex> g(Lock);
        Post(line);
    }

    // With Lock held. What is due now, mail by mail in the order raised; a recipient whose earlier mail
    // waits for a later try gets nothing before it, and a mail for a server that could not be reached
    // waits for that server's next try (said once). `next`: when the next waiting delivery falls due.
    std::vector<TJob> Plan(TSteady::time_point now, std::optional<TSteady::time_point>& next) {
        std::vector<TJob> jobs;
        QSet<QString> behind;
        auto later = [&](TSteady::time_point at) {
            if (!next || at < *next) next = at;
        };
        for (TMail& m : Mails) {
            TJob job{m.Id, m.Text, m.Target, {}};
            const auto down = std::find_if(Down.begin(), Down.end(), [&](const TDown& d) {
                return d.Until > now && SameServer(d.Server, m.Target.Server);
            });
            bool told = false;
            for (TDelivery& d : m.To) {
                if (d.Done) continue;
                const QString key = d.Address.toLower();
                const bool first = !behind.contains(key);
                behind.insert(key);
                if (d.Due <= now && down != Down.end() && !d.Told) {
                    told = true;
                    d.Told = true;
                }
                if (!first) continue;
                if (d.Due <= now && down != Down.end()) d.Due = down->Until;
                if (d.Due <= now)
                    job.To << d.Address;
                else
                    later(d.Due);
            }
            if (told)
                Post(QStringLiteral("Нет связи с почтовым сервером %1: %2; письмо ждёт следующей попытки "
                                    "связи через %3: %4")
                         .arg(ServerName(m.Target.Server), QString::fromStdString(down->Reason),
                              Delay(std::chrono::duration_cast<milliseconds>(down->Until - now)),
                              Quoted(m.Text)));
            if (!job.To.isEmpty()) jobs.push_back(job);
        }
        return jobs;
    }

    // Without Lock: the exchanges of one round, one connection for the mails of the same server.
    std::vector<TResult> Run(const std::vector<TJob>& jobs, const TMailLimits& limits) {
        std::vector<TResult> results(jobs.size());
        TSmtpClient client(limits, Stop);
        std::optional<TMailServer> open;
        std::optional<std::pair<TMailServer, TConnectFailure>> down;
        for (size_t i = 0; i < jobs.size() && !Stop->load(); ++i) {
            const TJob& job = jobs[i];
            TResult& r = results[i];
            // A server that could not be reached in this round is not asked again for each mail.
            if (down && SameServer(down->first, job.Target.Server)) {
                r.NotConnected = down->second;
                continue;
            }
            if (!client.IsConnected() || !open || !SameServer(*open, job.Target.Server)) {
                client.Disconnect();
                try {
                    client.Connect(job.Target.Server);
                    open = job.Target.Server;
                } catch (const TMailError& e) {
                    r.NotConnected = TConnectFailure{e.what(), e.Temporary(),
                                                     dynamic_cast<const TMailSecurityError*>(&e) != nullptr};
                    down = std::make_pair(job.Target.Server, *r.NotConnected);
                    continue;
                }
            }
            PostNow(QStringLiteral("Письмо %1 отправляется: %2%3")
                        .arg(Quoted(job.Text), Angled(job.To), TryNote(job)));
            r.Tried = true;
            r.Outcome = client.Send(job.Target.Server.FromAddress, job.Target.FromName, job.To,
                                    QStringLiteral("Korvex"), Cp1251::Encode(job.Text));
        }
        client.Disconnect();
        return results;
    }

    // " (попытка 2 из 4)" when the job is a later try.
    QString TryNote(const TJob& job) {
        std::lock_guard<std::mutex> g(Lock);
        int tries = 0;
        for (const TMail& m : Mails)
            if (m.Id == job.Id)
                for (const TDelivery& d : m.To)
                    if (job.To.contains(d.Address)) tries = std::max(tries, d.Tries);
        return tries == 0 ? QString()
                          : QStringLiteral(" (попытка %1 из %2)").arg(tries + 1).arg(RetryDelays.size() + 1);
    }

    // With Lock held. The server's mails wait until `until` at the latest.
    void MarkDown(const TMailServer& server, TSteady::time_point until, const std::string& reason) {
        for (TDown& d : Down)
            if (SameServer(d.Server, server)) {
                if (d.Until <= TSteady::now() || until < d.Until) d.Until = until;
                d.Reason = reason;
                return;
            }
        Down.push_back({server, until, reason});
    }

    // With Lock held. Counts a failed try of `d`; the words that say what comes of it.
    QString Failed(TDelivery& d, bool temporary, TSteady::time_point now) {
        if (!temporary) {
            d.Done = true;
            return QStringLiteral(", окончательно");
        }
        ++d.Tries;
        if (d.Tries <= RetryDelays.size()) {
            d.Due = now + RetryDelays[d.Tries - 1];
            return QStringLiteral("; повтор через %1").arg(Delay(RetryDelays[d.Tries - 1]));
        }
        d.Done = true;
        return QStringLiteral("; отправка прекращена %1").arg(AfterTries(d.Tries));
    }

    // With Lock held: what the round did, journalled mail by mail.
    void Apply(const std::vector<TJob>& jobs, const std::vector<TResult>& results) {
        const auto now = TSteady::now();
        // A failure once the stop is raised may be the stop's own: such a mail is named at exit instead.
        const bool stopped = Stop->load();
        for (size_t i = 0; i < jobs.size(); ++i) {
            const TJob& job = jobs[i];
            const TResult& r = results[i];
            auto mail =
                std::find_if(Mails.begin(), Mails.end(), [&](const TMail& m) { return m.Id == job.Id; });
            if (mail == Mails.end()) continue;
            auto delivery = [&](const QString& a) -> TDelivery& {
                return *std::find_if(mail->To.begin(), mail->To.end(),
                                     [&](const TDelivery& d) { return d.Address == a; });
            };
            if (r.Tried)
                Down.erase(
                    std::remove_if(Down.begin(), Down.end(),
                                   [&](const TDown& d) { return SameServer(d.Server, job.Target.Server); }),
                    Down.end());
            if (r.NotConnected && !stopped) {
                QString verdict;
                for (const QString& a : job.To) {
                    TDelivery& d = delivery(a);
                    verdict = Failed(d, r.NotConnected->Temporary, now);
                    d.Told = false;
                    if (!d.Done && r.NotConnected->Temporary)
                        MarkDown(job.Target.Server, d.Due, r.NotConnected->Words);
                }
                Post(QStringLiteral("%1 %2: %3%4: %5")
                         .arg(r.NotConnected->Security
                                  ? QStringLiteral("Нет защищённой связи с почтовым сервером")
                                  : QStringLiteral("Нет связи с почтовым сервером"),
                              ServerName(job.Target.Server), QString::fromStdString(r.NotConnected->Words),
                              verdict, Quoted(job.Text)));
            } else if (r.Tried) {
                const TSendOutcome& o = r.Outcome;
                for (const QString& a : o.Accepted)
                    delivery(a).Done = true;
                if (!o.Accepted.isEmpty())
                    Post(o.Refused.isEmpty() && o.Unconfirmed.isEmpty()
                             ? QStringLiteral("Письмо отправлено")
                             : QStringLiteral("Письмо отправлено: %1").arg(Angled(o.Accepted)));
                for (const TSendOutcome::TRefusal& f : o.Refused) {
                    if (stopped) continue;
                    const QString verdict = Failed(delivery(f.Address), f.Temporary, now);
                    const bool later = !delivery(f.Address).Done;
                    Post(QStringLiteral("%1 <%2>: %3%4: %5")
                             .arg(later ? QStringLiteral("Письмо отложено")
                                        : QStringLiteral("Письмо не доставлено"),
                                  f.Address, f.Reason, verdict, Quoted(job.Text)));
                }
                if (!o.Unconfirmed.isEmpty()) {
                    for (const QString& a : o.Unconfirmed)
                        delivery(a).Done = true;
                    Post(QStringLiteral("Письмо не подтверждено %1: %2; возможно, оно доставлено, и повторно "
                                        "не отправляется: %3")
                             .arg(Angled(o.Unconfirmed), o.UnconfirmedReason, Quoted(job.Text)));
                }
            }
            if (std::all_of(mail->To.begin(), mail->To.end(), [](const TDelivery& d) { return d.Done; }))
                Mails.erase(mail);
        }
    }

    void Work() {
        std::unique_lock<std::mutex> lock(Lock);
        while (!Stop->load()) {
            std::optional<TSteady::time_point> next;
            const std::vector<TJob> jobs = Plan(TSteady::now(), next);
            if (jobs.empty()) {
                Resting = true;
                Idle.notify_all();
                // At exit, what waits for a later try is left to be named.
                if (Stopping) break;
                if (next)
                    Wake.wait_until(lock, *next);
                else
                    Wake.wait(lock);
                continue;
            }
            Resting = false;
            Busy = true;
            const TMailLimits limits = Limits;
            lock.unlock();
            const std::vector<TResult> results = Run(jobs, limits);
            lock.lock();
            Apply(jobs, results);
            Busy = false;
        }
        Busy = false;
        Finished = true;
        Idle.notify_all();
    }
};

TMailNotifier::TMailNotifier(const TSettings& settings, TJournal& journal)
    : Settings(settings), Journal(journal), Queue(std::make_unique<TQueue>()),
      Receiver(std::make_unique<TLineReceiver>([this] { TakeWorkerLines(); })) {
    Queue->Receiver = Receiver.get();
    Queue->Worker = std::thread([q = Queue.get()] { q->Work(); });
}

TMailNotifier::~TMailNotifier() {
    StopQueue();
}

void TMailNotifier::StopQueue() {
    std::unique_lock<std::mutex> lock(Queue->Lock);
    if (!Queue->Worker.joinable()) return;
    Queue->Stopping = true;
    Queue->Wake.notify_all();
    // What is due gets the exit wait; a mail is never worth holding up an exit longer.
    Queue->Idle.wait_for(lock, ExitWait, [&] { return Queue->Finished; });
    Queue->Stop->store(true);
    Queue->Wake.notify_all();
    lock.unlock();
    // Every wait of the worker ends within a fraction of a second once the stop is raised.
    Queue->Worker.join();
    TakeWorkerLines();
    ReportDropped(true);
    QStringList lines;
    for (const TQueue::TMail& m : Queue->Mails) {
        QStringList to;
        for (const TQueue::TDelivery& d : m.To)
            if (!d.Done) to << d.Address;
        lines << QStringLiteral("Письмо %1 не отправлено при выходе: %2").arg(Quoted(m.Text), Angled(to));
    }
    if (!lines.isEmpty()) {
        lines << QStringLiteral("Очередь писем остановлена при выходе, не отправлено писем: %1")
                     .arg(Queue->Mails.size());
        Journal.AddJournalLines(lines);
    }
    Queue->Mails.clear();
    Journal.FlushJournal();
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

void TMailNotifier::ReportDropped(bool now) {
    if (Dropped == 0) return;
    const auto at = TSteady::now();
    if (!now && DropReported && at - *DropReported < std::chrono::minutes(1)) return;
    Journal.AddJournalLine(
        QStringLiteral("Очередь писем полна (%1 писем): пропущено писем: %2, последнее: %3")
            .arg(QueueLimit)
            .arg(Dropped)
            .arg(Quoted(LastDropped)));
    Journal.FlushJournal();
    Dropped = 0;
    DropReported = at;
}

bool TMailNotifier::SecurityKnown() {
    if (MailSecurityOf(Settings.Security)) {
        if (SecurityReported && HeldBack > 0) {
            Journal.AddJournalLine(
                QStringLiteral("Почта снова отправляется: [Mail] Security = %1; пока значение было "
                               "неверным, не отправлено писем: %2")
                    .arg(Settings.Security)
                    .arg(HeldBack));
            Journal.FlushJournal();
        }
        SecurityReported.reset();
        HeldBack = 0;
        return true;
    }
    if (SecurityReported != Settings.Security) {
        Journal.AddJournalLine(
            QStringLiteral("Почта не отправляется: [Mail] Security = %1, а допустимы только 0 (без "
                           "шифрования), 1 (STARTTLS) и 2 (TLS); письма не уходят, пока значение не "
                           "исправлено")
                .arg(Settings.Security));
        Journal.FlushJournal();
        SecurityReported = Settings.Security;
    }
    return false;
}

void TMailNotifier::CheckSettings() {
    if (SecurityKnown() && MailSecurityOf(Settings.Security) == TMailSecurity::None && Settings.Auten) {
        Journal.AddJournalLine(
            QStringLiteral("Внимание: пароль почты передаётся по сети открытым текстом: [Mail] "
                           "Security = 0 (без шифрования), а Auten включён"));
        Journal.FlushJournal();
    }
}

void TMailNotifier::SendNotification(const QString& text) {
    if (!SecurityKnown()) {
        ++HeldBack;
        return;
    }
    auto journal = [this](const QString& line) {
        Journal.AddJournalLine(line);
        Journal.FlushJournal();
    };
    // Each address once, an empty one left out; with neither there is nobody to write to.
    QStringList to;
    for (const QString& a : {Settings.Email1.trimmed(), Settings.Email2.trimmed()})
        if (!a.isEmpty() && !to.contains(a, Qt::CaseInsensitive)) to << a;
    if (to.isEmpty()) {
        journal(QStringLiteral("Письмо не отправлено: нет адреса получателя (Email1 и Email2 пусты): %1")
                    .arg(Quoted(text)));
        return;
    }
    if (Settings.SMTP.trimmed().isEmpty()) {
        journal(QStringLiteral("Нет связи с почтовым сервером: сервер не указан ([Mail] SMTP пуст), "
                               "окончательно: %1")
                    .arg(Quoted(text)));
        return;
    }
    const auto port = Regional::ParseInteger(Settings.Port);
    if (!port || *port < 1 || *port > 65535) {
        journal(QStringLiteral("Нет связи с почтовым сервером %1: неверный порт \"%2\" ([Mail] Port), "
                               "окончательно: %3")
                    .arg(Settings.SMTP.trimmed(), Settings.Port, Quoted(text)));
        return;
    }
    TQueue::TMail mail;
    mail.Text = text;
    mail.Target.Server = {
        Settings.SMTP.trimmed(),     static_cast<int>(*port), *MailSecurityOf(Settings.Security),
        Settings.TrustedCertificate, Settings.Auten,          Settings.User,
        Settings.Password,           Settings.FromAddress};
    mail.Target.FromName = Settings.FromName;
    const auto now = TSteady::now();
    for (const QString& a : to)
        mail.To.push_back({a, 0, now, false});
    bool accepted = false, stopped = false;
    {
        std::lock_guard<std::mutex> lock(Queue->Lock);
        stopped = Queue->Stopping;
        if (!stopped && Queue->Mails.size() < static_cast<size_t>(QueueLimit)) {
            mail.Id = ++Queue->LastId;
            Queue->Mails.push_back(std::move(mail));
            Queue->Resting = false;
            Queue->Wake.notify_one();
            accepted = true;
        }
    }
    if (stopped) {
        journal(QStringLiteral("Письмо не отправлено, очередь писем остановлена: %1").arg(Quoted(text)));
    } else if (!accepted) {
        ++Dropped;
        LastDropped = text;
        ReportDropped(false);
    } else {
        // Once the queue takes mails again, what it could not take is said at once.
        ReportDropped(true);
    }
}

bool TMailNotifier::WaitIdle(int ms) {
    const QDeadlineTimer deadline(ms);
    for (;;) {
        bool idle = false;
        {
            std::lock_guard<std::mutex> lock(Queue->Lock);
            idle = (Queue->Resting && !Queue->Busy) || Queue->Finished;
        }
        TakeWorkerLines();
        if (idle) return true;
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::unique_lock<std::mutex> lock(Queue->Lock);
        Queue->Idle.wait_for(lock, milliseconds(20));
    }
}

int TMailNotifier::Backlog() const {
    std::lock_guard<std::mutex> lock(Queue->Lock);
    return static_cast<int>(Queue->Mails.size());
}

void TMailNotifier::SetLimits(const TMailLimits& limits) {
    std::lock_guard<std::mutex> lock(Queue->Lock);
    Queue->Limits = limits;
}

void TMailNotifier::SetRetryDelays(const QList<milliseconds>& delays) {
    std::lock_guard<std::mutex> lock(Queue->Lock);
    Queue->RetryDelays = delays;
}

void TMailNotifier::SetExitWait(milliseconds wait) {
    ExitWait = wait;
}

#include "MailNotifier.moc"
