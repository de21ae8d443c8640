#include "quik/OrderRegistry.h"

#include "common/Clock.h"
#include "common/KorvexError.h"
#include "data/DatMod.h"
#include "data/SchemaInstaller.h"
#include "data/SqlRun.h"

#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlRecord>
#include <algorithm>
#include <limits>

namespace {
// The schema is written for SQLite; another engine (Access through ODBC) gets its own words for the
// same columns.
QString ForEngine(const QSqlDatabase& db, QString ddl) {
    if (db.driver() && db.driver()->dbmsType() == QSqlDriver::SQLite) return ddl;
    if (db.driverName() == QLatin1String("QSQLITE")) return ddl;
    ddl.remove(QStringLiteral(" COLLATE NOCASE"));
    ddl.replace(QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT"), QStringLiteral("COUNTER PRIMARY KEY"));
    ddl.replace(QStringLiteral("BOOLEAN NOT NULL DEFAULT 0"), QStringLiteral("BIT"));
    ddl.replace(QRegularExpression(QStringLiteral("\\bTEXT\\b")), QStringLiteral("MEMO"));
    ddl.replace(QRegularExpression(QStringLiteral("\\bREAL\\b")), QStringLiteral("DOUBLE"));
    return ddl;
}

const QString RecordColumns = QStringLiteral(
    "day, trans_id, run_id, recorded, alert_table, alert_id, code, account, seccode, classcode, ticker, "
    "strategy, signal, workspace, bar_interval, action, operation, order_type, quantity, price, "
    "stop_price, digits, market, manual, cancels, stage, order_number, status, trans_name, description, "
    "answered, kill_trans, cancel_wanted, book");

QString IsoTime(const QDateTime& t) {
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}
} // namespace

QStringList TOrderRegistry::EnsureTables(const QSqlDatabase& db) {
    QStringList made;
    const QStringList tables = db.tables();
    auto has = [&](const QString& name) {
        return std::any_of(tables.cbegin(), tables.cend(),
                           [&](const QString& t) { return t.compare(name, Qt::CaseInsensitive) == 0; });
    };
    const std::pair<QString, QString> own[] = {
        {QStringLiteral("tOrderRegistry"), QStringLiteral("транзакции дня и ответы Quik на них")},
        {QStringLiteral("tLinesInFile"), QStringLiteral("номера транзакций, записанных в файл транзакций")},
        {QStringLiteral("tWatchState"), QStringLiteral("последние обработанные ордера")}};
    for (const auto& [table, what] : own) {
        if (has(table)) continue;
        for (const QString& ddl : SchemaStatementsFor(TDatabaseKind::Trading, table))
            RunSql(db, {ForEngine(db, ddl)});
        made << QStringLiteral("В базе данных Quik создана таблица %1: робот хранит в ней %2.")
                    .arg(table, what);
    }
    return made;
}

void TOrderRegistry::Load(const QString& day, qint64 runId, qint64 atLeast) {
    // Read again in the same day (after the database failed): lines this run knows to be in the file,
    // whose stage the database has not taken yet, stay in the file.
    QSet<qint32> inFile;
    if (day == Day)
        for (const TOrderRecord& r : Records)
            if (r.Stage == TOrderStage::InFile) inFile.insert(r.TransId);
    IsReady = false;
    // What the run knew stays known should the database refuse the reading.
    std::deque<TOrderRecord> kept;
    kept.swap(Records);
    const QList<qint32> keptUnsaved = InFileUnsaved;
    Records.clear();
    ByAlert.clear();
    Wanted.clear();
    Exits.clear();
    InFileUnsaved.clear();
    Scope.reset();
    try {
        const TSqlRows rows =
            RunSql(Ctx.DM.conQuikData(),
                   {QStringLiteral("SELECT ") + RecordColumns,
                    QStringLiteral("FROM tOrderRegistry WHERE day = :day ORDER BY trans_id")},
                   {{"day", day}});
        // The runs of numbers whose lines reached the file.
        std::vector<std::pair<qint64, qint64>> written;
        for (const QSqlRecord& q :
             RunSql(Ctx.DM.conQuikData(),
                    {QStringLiteral("SELECT first_trans, last_trans FROM tLinesInFile WHERE day = :day")},
                    {{"day", day}})
                 .Rows)
            written.emplace_back(ColumnInt64(q, QStringLiteral("first_trans")),
                                 ColumnInt64(q, QStringLiteral("last_trans")));
        std::sort(written.begin(), written.end());
        const auto inWritten = [&written](qint64 id) {
            auto it = std::upper_bound(written.begin(), written.end(),
                                       std::pair<qint64, qint64>(id, std::numeric_limits<qint64>::max()));
            return it != written.begin() && std::prev(it)->second >= id;
        };
        qint64 highest = 0, lastRun = 0;
        for (const QSqlRecord& q : rows.Rows) {
            TOrderRecord r;
            r.Day = ColumnText(q, QStringLiteral("day"));
            r.TransId = static_cast<qint32>(ColumnInt64(q, QStringLiteral("trans_id")));
            r.RunId = ColumnInt64(q, QStringLiteral("run_id"));
            r.Recorded = QDateTime::fromString(ColumnText(q, QStringLiteral("recorded")), Qt::ISODate);
            r.AlertTable = ColumnText(q, QStringLiteral("alert_table"));
            r.AlertId = ColumnInt64(q, QStringLiteral("alert_id"));
            r.Code = ColumnText(q, QStringLiteral("code"));
            r.Account = ColumnText(q, QStringLiteral("account"));
            r.SecCode = ColumnText(q, QStringLiteral("seccode"));
            r.ClassCode = ColumnText(q, QStringLiteral("classcode"));
            r.Ticker = ColumnText(q, QStringLiteral("ticker"));
            r.Strategy = ColumnText(q, QStringLiteral("strategy"));
            r.Signal = ColumnText(q, QStringLiteral("signal"));
            r.Workspace = ColumnText(q, QStringLiteral("workspace"));
            r.Interval = ColumnText(q, QStringLiteral("bar_interval"));
            r.Action = ColumnText(q, QStringLiteral("action"));
            r.Operation = ColumnText(q, QStringLiteral("operation"));
            r.OrderType = ColumnText(q, QStringLiteral("order_type"));
            r.Quantity = ColumnInt(q, QStringLiteral("quantity"));
            r.Price = ColumnDouble(q, QStringLiteral("price"));
            r.StopPrice = ColumnDouble(q, QStringLiteral("stop_price"));
            r.Digits = ColumnInt(q, QStringLiteral("digits"));
            r.Market = ColumnBool(q, QStringLiteral("market"));
            r.Manual = ColumnBool(q, QStringLiteral("manual"));
            r.Cancels = static_cast<qint32>(ColumnInt64(q, QStringLiteral("cancels")));
            r.Stage = static_cast<TOrderStage>(std::clamp(ColumnInt(q, QStringLiteral("stage")), 0, 9));
            r.OrderNumber = ColumnInt64(q, QStringLiteral("order_number"));
            const QVariant status = ColumnValue(q, QStringLiteral("status"));
            r.Status = status.isNull() ? -1 : status.toInt();
            r.TransName = ColumnText(q, QStringLiteral("trans_name"));
            r.Description = ColumnText(q, QStringLiteral("description"));
            r.Answered = QDateTime::fromString(ColumnText(q, QStringLiteral("answered")), Qt::ISODate);
            r.KillTrans = static_cast<qint32>(ColumnInt64(q, QStringLiteral("kill_trans")));
            r.CancelWanted = ColumnBool(q, QStringLiteral("cancel_wanted"));
            r.Book = ColumnText(q, QStringLiteral("book"));
            if (r.Stage == TOrderStage::Recorded && inWritten(r.TransId)) r.Stage = TOrderStage::InFile;
            if (r.Stage == TOrderStage::Recorded && inFile.contains(r.TransId)) {
                r.Stage = TOrderStage::InFile;
                InFileUnsaved << r.TransId;
            }
            highest = std::max<qint64>(highest, r.TransId);
            lastRun = std::max(lastRun, r.RunId);
            Records.push_back(std::move(r));
            Index(static_cast<qsizetype>(Records.size()) - 1);
        }
        Next = std::max<qint64>({highest + 1, atLeast + 1, 1});
        // A run is told from the day's earlier ones by its number, whatever the clocks say; read
        // again within the run, it keeps its own.
        runId = Run != 0 && day == Day ? Run : std::max(runId, lastRun + 1);
    } catch (const std::exception& e) {
        Records.swap(kept);
        ByAlert.clear();
        Wanted.clear();
        Exits.clear();
        for (qsizetype i = 0; i < static_cast<qsizetype>(Records.size()); ++i)
            Index(i);
        InFileUnsaved = keptUnsaved;
        Reason = QStringLiteral("реестр транзакций (таблица tOrderRegistry) не читается: ") + ErrorText(e);
        throw;
    }
    Day = day;
    Run = runId;
    IsReady = true;
    Reason.clear();
}

void TOrderRegistry::NumbersUsedUpTo(qint64 highest) {
    Next = std::max(Next, highest + 1);
}

void TOrderRegistry::Index(qsizetype at) {
    const TOrderRecord& r = Records[static_cast<size_t>(at)];
    if (r.IsNew()) ByAlert.insert(r.AlertId, r.TransId);
    if (r.CancelWanted) Wanted.insert(r.TransId);
    TrackExit(r);
}

void TOrderRegistry::TrackExit(const TOrderRecord& r) {
    const bool exit = r.OrderType == QLatin1String("LX") || r.OrderType == QLatin1String("SX");
    const bool open = r.Stage != TOrderStage::Filled && r.Stage != TOrderStage::Refused &&
                      r.Stage != TOrderStage::GivenUp && r.Stage != TOrderStage::Cancelled &&
                      r.Stage != TOrderStage::Done;
    if (exit && r.CanLive() && open)
        Exits.insert(r.TransId);
    else
        Exits.remove(r.TransId);
}

QList<const TOrderRecord*> TOrderRegistry::OpenExits() const {
    QList<const TOrderRecord*> out;
    for (const qint32 id : Exits)
        if (const TOrderRecord* r = Find(id)) out << r;
    return out;
}

qsizetype TOrderRegistry::PositionOf(qint32 transId) const {
    // The records are in the order of their numbers, which only grow: the newest is asked for most.
    if (Records.empty() || transId > Records.back().TransId) return -1;
    const qsizetype last = static_cast<qsizetype>(Records.size()) - 1;
    // Numbers given out in a row sit in a row: where a number would be is tried first.
    const qint64 guess = last - (static_cast<qint64>(Records.back().TransId) - transId);
    if (guess >= 0 && Records[static_cast<size_t>(guess)].TransId == transId) return guess;
    const auto it = std::lower_bound(Records.cbegin(), Records.cend(), transId,
                                     [](const TOrderRecord& r, qint32 id) { return r.TransId < id; });
    return it != Records.cend() && it->TransId == transId ? it - Records.cbegin() : -1;
}

TOrderRecord* TOrderRegistry::At(qint32 transId) {
    const qsizetype at = PositionOf(transId);
    return at < 0 ? nullptr : &Records[static_cast<size_t>(at)];
}

const TOrderRecord* TOrderRegistry::Find(qint32 transId) const {
    return const_cast<TOrderRegistry*>(this)->At(transId);
}

qint32 TOrderRegistry::Record(TOrderRecord r) {
    if (!IsReady)
        throw KorvexError(QStringLiteral("Транзакции не отправляются: ") + Reason +
                          QStringLiteral(". Повтор на следующем такте."));
    if (Next > MaxTransId)
        throw KorvexError(QStringLiteral("Номера транзакций дня исчерпаны (последний %1): транзакции не "
                                         "отправляются до следующего торгового дня.")
                              .arg(MaxTransId));
    // Numbers only grow: a number at or below one held would be given out twice.
    if (!Records.empty() && Next <= Records.back().TransId)
        throw KorvexError(
            QStringLiteral("Номер транзакции %1 не больше последнего выданного (%2): транзакции "
                           "не отправляются.")
                .arg(Next)
                .arg(Records.back().TransId));
    r.TransId = static_cast<qint32>(Next);
    // A dispatch records many transactions within one second: the moment is stored to the second, so
    // its local time and texts are made once a second (the zone's arithmetic is dear).
    const qint64 second = Ctx.Clock.NowMs() / 1000;
    if (second != StampSecond) {
        StampSecond = second;
        StampMoment = Ctx.Clock.Now();
        StampMoment.setTime(
            QTime(StampMoment.time().hour(), StampMoment.time().minute(), StampMoment.time().second()));
        StampDay = StampMoment.date().toString(Qt::ISODate);
        StampText = IsoTime(StampMoment);
    }
    r.Recorded = StampMoment;
    r.Day = StampDay;
    r.RunId = Run;
    // A literal statement, prepared once: recording the 100,000th transaction of a day costs what
    // the first did. What QUIK has not answered yet is left to the columns' defaults.
    RunSql(Ctx.DM.conQuikData(),
           {QStringLiteral(
                "INSERT INTO tOrderRegistry (day, trans_id, run_id, recorded, alert_table, alert_id, "
                "code, account, seccode, classcode, ticker, strategy, signal, workspace, bar_interval, "
                "action, operation, order_type, quantity, price, stop_price, digits, market, manual, "
                "cancels, stage, book)"),
            QStringLiteral("VALUES (:day, :trans_id, :run_id, :recorded, :alert_table, :alert_id, :code, "
                           ":account, :seccode, :classcode, :ticker, :strategy, :signal, :workspace, "
                           ":bar_interval, :action, :operation, :order_type, :quantity, :price, :stop_price, "
                           ":digits, :market, :manual, :cancels, :stage, :book)")},
           {{"day", r.Day},
            {"trans_id", r.TransId},
            {"run_id", r.RunId},
            {"recorded", StampText},
            {"alert_table", r.AlertTable},
            {"alert_id", r.AlertId},
            {"code", r.Code},
            {"account", r.Account},
            {"seccode", r.SecCode},
            {"classcode", r.ClassCode},
            {"ticker", r.Ticker},
            {"strategy", r.Strategy},
            {"signal", r.Signal},
            {"workspace", r.Workspace},
            {"bar_interval", r.Interval},
            {"action", r.Action},
            {"operation", r.Operation},
            {"order_type", r.OrderType},
            {"quantity", r.Quantity},
            {"price", r.Price},
            {"stop_price", r.StopPrice},
            {"digits", r.Digits},
            {"market", r.Market ? 1 : 0},
            {"manual", r.Manual ? 1 : 0},
            {"cancels", r.Cancels > 0 ? QVariant(r.Cancels) : QVariant()},
            {"stage", static_cast<int>(r.Stage)},
            {"book", r.Book}});
    ++Next;
    Records.push_back(std::move(r));
    Index(static_cast<qsizetype>(Records.size()) - 1);
    return Records.back().TransId;
}

void TOrderRegistry::Begin() {
    Scope = TScope{static_cast<qsizetype>(Records.size()), {}, std::nullopt};
}

void TOrderRegistry::Commit() {
    Scope.reset();
}

void TOrderRegistry::Rollback() {
    if (!Scope) return;
    // The numbers of a dispatch rolled back never reached a line; still, a run never gives a number
    // out twice.
    while (static_cast<qsizetype>(Records.size()) > Scope->Size) {
        const TOrderRecord& r = Records.back();
        ByAlert.remove(r.AlertId, r.TransId);
        Exits.remove(r.TransId);
        Wanted.remove(r.TransId);
        Records.pop_back();
    }
    for (auto it = Scope->Before.cbegin(); it != Scope->Before.cend(); ++it)
        if (TOrderRecord* r = At(it.key())) {
            *r = it.value();
            TrackExit(*r);
            if (r->CancelWanted)
                Wanted.insert(r->TransId);
            else
                Wanted.remove(r->TransId);
        }
    if (Scope->InFileUnsaved) InFileUnsaved = *Scope->InFileUnsaved;
    Scope.reset();
}

void TOrderRegistry::Keep(qint32 transId) {
    if (!Scope || Scope->Before.contains(transId)) return;
    const qsizetype at = PositionOf(transId);
    if (at < 0 || at >= Scope->Size) return; // recorded in the scope: removed whole
    Scope->Before.insert(transId, Records[static_cast<size_t>(at)]);
}

void TOrderRegistry::Persist(const TOrderRecord& r) {
    RunSql(
        Ctx.DM.conQuikData(),
        {QStringLiteral("UPDATE tOrderRegistry SET stage = :stage, order_number = :order_number, status = "
                        ":status, trans_name = :trans_name, description = :description, answered = "
                        ":answered, kill_trans = :kill_trans, cancel_wanted = :cancel_wanted, book = :book"),
         QStringLiteral("WHERE day = :day and trans_id = :trans_id")},
        {{"stage", static_cast<int>(r.Stage)},
         {"order_number", r.OrderNumber > 0 ? QVariant(r.OrderNumber) : QVariant()},
         {"status", r.Status >= 0 ? QVariant(r.Status) : QVariant()},
         {"trans_name", r.TransName},
         {"description", r.Description},
         {"answered", IsoTime(r.Answered)},
         {"kill_trans", r.KillTrans > 0 ? QVariant(r.KillTrans) : QVariant()},
         {"cancel_wanted", r.CancelWanted ? 1 : 0},
         {"book", r.Book},
         {"day", r.Day},
         {"trans_id", r.TransId}});
}

bool TOrderRegistry::Move(qint32 transId, TOrderEvent event) {
    TOrderRecord* r = At(transId);
    if (!r) return false;
    const auto next = NextStage(r->Stage, event);
    if (!next) return false;
    Keep(transId);
    const TOrderRecord before = *r;
    r->Stage = *next;
    if (event == TOrderEvent::KillFailed || event == TOrderEvent::KillDone) r->KillTrans = 0;
    try {
        Persist(*r);
    } catch (...) {
        *r = before;
        throw;
    }
    InFileUnsaved.removeOne(transId);
    TrackExit(*r);
    return true;
}

void TOrderRegistry::StoreAnswer(qint32 transId, int status, qint64 orderNumber, const QString& name,
                                 const QString& description) {
    TOrderRecord* r = At(transId);
    if (!r) return;
    Keep(transId);
    const TOrderRecord before = *r;
    r->Status = status;
    if (r->OrderNumber <= 0 && orderNumber > 0) r->OrderNumber = orderNumber;
    if (!name.isEmpty()) r->TransName = name;
    if (!description.isEmpty()) r->Description = description;
    r->Answered = Ctx.Clock.Now();
    try {
        Persist(*r);
    } catch (...) {
        *r = before;
        throw;
    }
}

void TOrderRegistry::SetKill(qint32 transId, qint32 killTrans) {
    TOrderRecord* r = At(transId);
    if (!r) return;
    Keep(transId);
    const TOrderRecord before = *r;
    r->KillTrans = killTrans;
    if (killTrans > 0) r->CancelWanted = false;
    try {
        Persist(*r);
    } catch (...) {
        *r = before;
        throw;
    }
    if (!r->CancelWanted) Wanted.remove(transId);
}

void TOrderRegistry::SetCancelWanted(qint32 transId, bool wanted) {
    TOrderRecord* r = At(transId);
    if (!r || r->CancelWanted == wanted) return;
    Keep(transId);
    r->CancelWanted = wanted;
    try {
        Persist(*r);
    } catch (...) {
        r->CancelWanted = !wanted;
        throw;
    }
    if (wanted)
        Wanted.insert(transId);
    else
        Wanted.remove(transId);
}

void TOrderRegistry::SetBook(qint32 transId, const QString& book) {
    TOrderRecord* r = At(transId);
    if (!r || r->Book == book) return;
    Keep(transId);
    const QString before = r->Book;
    r->Book = book;
    try {
        Persist(*r);
    } catch (...) {
        r->Book = before;
        throw;
    }
}

void TOrderRegistry::LinesWritten(const QList<qint32>& ids) {
    for (const qint32 id : ids) {
        TOrderRecord* r = At(id);
        if (!r) continue;
        if (const auto next = NextStage(r->Stage, TOrderEvent::LineWritten)) {
            r->Stage = *next;
            InFileUnsaved << id;
        }
    }
}

void TOrderRegistry::SaveLinesWritten() {
    if (InFileUnsaved.isEmpty()) return;
    if (Scope && !Scope->InFileUnsaved) Scope->InFileUnsaved = InFileUnsaved;
    // The lines of a flush are consecutive numbers: one short row per run of them.
    std::sort(InFileUnsaved.begin(), InFileUnsaved.end());
    for (qsizetype i = 0; i < InFileUnsaved.size();) {
        qsizetype j = i;
        const TOrderRecord* first = Find(InFileUnsaved[i]);
        const QString day = first ? first->Day : Day;
        while (j + 1 < InFileUnsaved.size() && InFileUnsaved[j + 1] == InFileUnsaved[j] + 1 &&
               Find(InFileUnsaved[j + 1]) && Find(InFileUnsaved[j + 1])->Day == day)
            ++j;
        RunSql(Ctx.DM.conQuikData(),
               {QStringLiteral("INSERT INTO tLinesInFile (day, first_trans, last_trans)"),
                QStringLiteral("VALUES (:day, :first, :last)")},
               {{"day", day}, {"first", InFileUnsaved[i]}, {"last", InFileUnsaved[j]}});
        i = j + 1;
    }
    InFileUnsaved.clear();
}

void TOrderRegistry::SaveLinesWrittenNow() {
    if (InFileUnsaved.isEmpty()) return;
    try {
        TDbTransaction tx(Ctx.DM.conQuikData());
        SaveLinesWritten();
        tx.Commit();
    } catch (const std::exception&) {
        // The .TRI holds the lines: a restart reads them from there. Written with the next commit.
    }
}

QList<const TOrderRecord*> TOrderRegistry::OrdersOfAlert(const QString& table, qint64 alertId) const {
    QList<const TOrderRecord*> out;
    const QList<qint32> ids = ByAlert.values(alertId);
    for (const qint32 id : ids)
        if (const TOrderRecord* r = Find(id); r && r->AlertTable.compare(table, Qt::CaseInsensitive) == 0)
            out << r;
    std::sort(out.begin(), out.end(),
              [](const TOrderRecord* a, const TOrderRecord* b) { return a->TransId < b->TransId; });
    return out;
}

QList<const TOrderRecord*> TOrderRegistry::LiveOrders(const QString& day, bool* anyAwaiting) const {
    QList<const TOrderRecord*> out;
    if (anyAwaiting) *anyAwaiting = false;
    for (const TOrderRecord& r : Records) {
        if (!r.CanLive() || r.Day != day) continue;
        if (r.Stage == TOrderStage::Accepted && r.KillTrans == 0) out << &r;
        if (AwaitsAnswer(r.Stage)) {
            out << &r;
            if (anyAwaiting) *anyAwaiting = true;
        }
    }
    return out;
}

QList<const TOrderRecord*> TOrderRegistry::WantedCancellations() const {
    QList<const TOrderRecord*> out;
    for (const qint32 id : Wanted)
        if (const TOrderRecord* r = Find(id);
            r && r->Stage == TOrderStage::Accepted && r->KillTrans == 0 && r->OrderNumber > 0)
            out << r;
    std::sort(out.begin(), out.end(),
              [](const TOrderRecord* a, const TOrderRecord* b) { return a->TransId < b->TransId; });
    return out;
}
