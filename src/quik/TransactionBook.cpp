#include "quik/TransactionBook.h"

#include "common/Clock.h"
#include "common/FileNames.h"
#include "common/Journal.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"

#include <QSqlRecord>

namespace {
QString PositionText(const TTransactionBook::TPositionRow& p) {
    return QStringLiteral("%1 %2 (%3)").arg(QString::number(p.Quantity), p.Symbol, p.System);
}
} // namespace

TTransactionBook::TEffect TTransactionBook::Record(qint32 transId, const TOrder& order,
                                                   const TOmegaOrder& alert) {
    const QSqlDatabase db = Ctx.DM.conQuikData();
    RunSql(db,
           {QStringLiteral("INSERT INTO tOrderNumber (trans_id, id_order, filled, code)"),
            QStringLiteral("VALUES (:trans_id, :id_order, :filled, :code)")},
           {{"trans_id", transId},
            {"id_order", order.IdOrder},
            {"filled", order.Filled ? 1 : 0},
            {"code", order.ClientCode}});
    TEffect e;
    e.MarkTable = alert.Filled ? 'F' : 'A';
    if (order.Action.startsWith(QLatin1String("KILL"))) {
        e.Kind = TKind::Cancel;
        e.Pulls = order.OrderKey.toLongLong();
    } else if (order.Action.startsWith(QLatin1String("NEW"))) {
        e.Sent = std::make_shared<const TOrder>(order);
    }
    if (order.Action != QLatin1String("NEW_ORDER")) return e;

    const QString workspace = WorkspaceFileName(alert.Workspace);
    if (alert.OrderType == QLatin1String("LE") || alert.OrderType == QLatin1String("SE")) {
        e.Kind = TKind::Entry;
        try {
            const TSqlRows ins = RunSql(
                db,
                {QStringLiteral("INSERT INTO tClientOpenPositions (quantity, symbol, code, System, Signal, "
                                "Interval, Workspace)"),
                 QStringLiteral(
                     "VALUES (:quantity, :symbol, :code, :system, :signal, :interval, :workspace)")},
                {{"quantity", order.Quantity},
                 {"symbol", alert.Symbol},
                 {"code", order.ClientCode},
                 {"system", alert.System},
                 {"signal", alert.Signal},
                 {"interval", alert.Interval},
                 {"workspace", workspace}});
            bool ok = false;
            const qint64 row = ins.LastInsertId.toLongLong(&ok);
            e.Added.push_back({ok ? row : -1, order.Quantity, alert.Symbol, alert.System, alert.Signal,
                               workspace, alert.Interval, order.ClientCode});
        } catch (const std::exception&) {
            Ctx.Journal.AddJournalLine(
                QStringLiteral("Произошла ошибка при добавлении записи в таблицу tClientOpenPositions"));
        }
    } else if (alert.OrderType == QLatin1String("LX") || alert.OrderType == QLatin1String("SX")) {
        e.Kind = TKind::Exit;
        // What the exit closes is kept, so that it can be put back should the exit not go out.
        const QStringList where{QStringLiteral("FROM tClientOpenPositions"),
                                QStringLiteral("WHERE code=:code and symbol=:symbol and system=:system and "
                                               "workspace=:workspace and [tClientOpenPositions].[interval] = "
                                               ":interval")};
        const TSqlRows rows =
            RunSql(db,
                   QStringList{QStringLiteral("SELECT id, quantity, symbol, System, Signal, Workspace, "
                                              "Interval, code")} +
                       where,
                   {{"code", order.ClientCode},
                    {"symbol", order.Ticker},
                    {"system", alert.System},
                    {"workspace", workspace},
                    {"interval", alert.Interval}});
        for (const QSqlRecord& r : rows.Rows)
            e.Removed.push_back(
                {ColumnInt64(r, QStringLiteral("id")), ColumnInt(r, QStringLiteral("quantity")),
                 ColumnText(r, QStringLiteral("symbol")), ColumnText(r, QStringLiteral("System")),
                 ColumnText(r, QStringLiteral("Signal")), ColumnText(r, QStringLiteral("Workspace")),
                 ColumnText(r, QStringLiteral("Interval")), ColumnText(r, QStringLiteral("code"))});
        RunSql(db, QStringList{QStringLiteral("DELETE")} + where,
               {{"code", order.ClientCode},
                {"symbol", order.Ticker},
                {"system", alert.System},
                {"workspace", workspace},
                {"interval", alert.Interval}});
    }
    return e;
}

void TTransactionBook::Add(qint32 transId, TEffect effect) {
    if (Base < 0) Base = transId;
    if (transId < Base) { // numbers grow within a run: only a caller that records out of order gets here
        Effects.insert(Effects.begin(), static_cast<size_t>(Base - transId), TEffect{});
        Base = transId;
    }
    const size_t at = static_cast<size_t>(transId - Base);
    if (Effects.size() <= at) Effects.resize(at + 1);
    if (effect.Kind == TKind::Cancel && effect.Pulls > 0) Live.KillSent(effect.Pulls, transId);
    Effects[at] = std::move(effect);
}

TTransactionBook::TEffect* TTransactionBook::At(qint32 transId) {
    if (Base < 0 || transId < Base) return nullptr;
    const size_t at = static_cast<size_t>(transId - Base);
    if (at >= Effects.size()) return nullptr;
    TEffect& e = Effects[at];
    // A hole: a number given out to a dispatch that was rolled back.
    if (e.Kind == TKind::Other && e.MarkTable == 0) return nullptr;
    return &e;
}

const TTransactionBook::TEffect* TTransactionBook::Find(qint32 transId) const {
    return const_cast<TTransactionBook*>(this)->At(transId);
}

void TTransactionBook::LineWritten(qint32 transId) {
    TEffect* e = At(transId);
    if (!e || e->Stage != TStage::Committed) return;
    e->Stage = TStage::InFile;
    ++Sent;
    if (e->Sent) Live.Awaiting(transId, e->MarkTable == 'F', *e->Sent);
}

bool TTransactionBook::AcceptEarlier(qint32 transId, qint64 orderNumber) {
    if (orderNumber <= 0 || !Live.AwaitsEarlier(transId)) return false;
    if (InBatch)
        BatchLive.push_back([this, transId, orderNumber] { Live.AcceptAwaited(transId, orderNumber); });
    else
        Live.AcceptAwaited(transId, orderNumber);
    return true;
}

void TTransactionBook::Keep(qint32 transId) {
    if (!InBatch || BatchKept.contains(transId)) return;
    if (const TEffect* e = At(transId)) {
        BatchKept.insert(transId);
        BatchBefore.emplace_back(transId, *e);
    }
}

QString TTransactionBook::TakeBack(qint32 transId, TEffect& e) {
    const QSqlDatabase db = Ctx.DM.conQuikData();
    QStringList done;
    for (const TPositionRow& p : e.Added) {
        if (p.Id >= 0)
            RunSql(db, {QStringLiteral("DELETE FROM tClientOpenPositions WHERE id = :id")}, {{"id", p.Id}});
        done << QStringLiteral("позиция %1 снята с учета").arg(PositionText(p));
        // A later exit that closed this row must not put it back.
        for (size_t i = static_cast<size_t>(transId - Base) + 1; i < Effects.size(); ++i) {
            auto& removed = Effects[i].Removed;
            for (size_t k = 0; k < removed.size(); ++k)
                if (removed[k].Id == p.Id && p.Id >= 0) {
                    Keep(Base + static_cast<qint32>(i));
                    Effects[i].Removed.erase(Effects[i].Removed.begin() + static_cast<qsizetype>(k));
                    break;
                }
        }
    }
    for (const TPositionRow& p : e.Removed) {
        RunSql(
            db,
            {QStringLiteral("INSERT INTO tClientOpenPositions (id, quantity, symbol, code, System, Signal, "
                            "Interval, Workspace)"),
             QStringLiteral(
                 "VALUES (:id, :quantity, :symbol, :code, :system, :signal, :interval, :workspace)")},
            {{"id", p.Id},
             {"quantity", p.Quantity},
             {"symbol", p.Symbol},
             {"code", p.Code},
             {"system", p.System},
             {"signal", p.Signal},
             {"interval", p.Interval},
             {"workspace", p.Workspace}});
        done << QStringLiteral("позиция %1 восстановлена").arg(PositionText(p));
    }
    e.Added.clear();
    e.Removed.clear();
    return done.join(QStringLiteral(", "));
}

QString TTransactionBook::GiveUp(qint32 transId) {
    TEffect* e = At(transId);
    if (!e || e->Stage != TStage::Committed) return QString();
    TEffect copy = *e;
    QString text;
    try {
        TDbTransaction tx(Ctx.DM.conQuikData());
        text = TakeBack(transId, *e);
        RunSql(Ctx.DM.conQuikData(), {QStringLiteral("DELETE FROM tOrderNumber WHERE trans_id = :t")},
               {{"t", transId}});
        tx.Commit();
    } catch (...) {
        *e = std::move(copy);
        throw;
    }
    e->Stage = TStage::GivenUp;
    e->Sent.reset();
    if (e->Kind == TKind::Cancel) Live.KillFailed(e->Pulls, transId);
    return text;
}

TTransactionBook::TAnswerResult TTransactionBook::Answer(qint32 transId, const QString& status,
                                                         qint64 orderNumber) {
    TAnswerResult r;
    TEffect* e = At(transId);
    // A line that never reached the file cannot have an answer: the number is not this run's.
    if (!e || e->Stage == TStage::Committed || e->Stage == TStage::GivenUp) return r;
    r.Answer = TAnswer::Repeated;
    r.OrderNumber = e->OrderNumber;
    if (e->Stage == TStage::Done || e->Stage == TStage::Refused) return r;
    const bool inProgress = InProgress(status);
    if (inProgress && e->Stage == TStage::AtServer) return r;
    Keep(transId);
    if (e->OrderNumber <= 0 && orderNumber > 0) e->OrderNumber = orderNumber;
    r.OrderNumber = e->OrderNumber;
    r.Answer = TAnswer::Applied;
    // What lives in QUIK changes with the reading's commit.
    auto live = [this](std::function<void()> change) {
        if (InBatch)
            BatchLive.push_back(std::move(change));
        else
            change();
    };
    if (inProgress) {
        e->Stage = TStage::AtServer;
    } else if (status == QLatin1String("3")) {
        e->Stage = TStage::Done;
        if (e->Kind == TKind::Cancel) {
            live([this, pulls = e->Pulls] { Live.Pulled(pulls); });
        } else if (e->Sent) {
            live([this, number = e->OrderNumber, transId, fromFilled = e->MarkTable == 'F', sent = e->Sent] {
                Live.Answered(transId);
                if (number > 0) Live.Accepted(number, transId, fromFilled, *sent);
            });
        }
        e->Sent.reset();
    } else {
        e->Stage = TStage::Refused;
        if (e->Kind == TKind::Entry || e->Kind == TKind::Exit) r.Corrected = TakeBack(transId, *e);
        if (e->Kind == TKind::Cancel)
            live([this, pulls = e->Pulls, transId] { Live.KillFailed(pulls, transId); });
        e->Sent.reset();
    }
    return r;
}

void TTransactionBook::BeginBatch() {
    InBatch = true;
    BatchBefore.clear();
    BatchKept.clear();
    BatchLive.clear();
}

void TTransactionBook::CommitBatch() {
    InBatch = false;
    for (const auto& change : BatchLive)
        change();
    BatchLive.clear();
    BatchBefore.clear();
    BatchKept.clear();
    SaveLive();
}

void TTransactionBook::RollbackBatch() {
    for (auto& [id, before] : BatchBefore)
        if (TEffect* e = At(id)) *e = std::move(before);
    BatchLive.clear();
    CommitBatch();
}

void TTransactionBook::SaveLive() {
    if (!Live.Dirty) return;
    if (!Live.Save(Ctx.Clock.Now().date()) && !LiveSaveFailed) {
        LiveSaveFailed = true;
        Ctx.Journal.AddJournalLine(QStringLiteral("Не удалось записать файл заявок для переноса после "
                                                  "перезапуска; повтор при следующем изменении."));
    } else if (!Live.Dirty) {
        LiveSaveFailed = false;
    }
}
