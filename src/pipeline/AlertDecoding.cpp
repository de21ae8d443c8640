#include "pipeline/AlertDecoding.h"

#include "common/Clock.h"
#include "common/FileNames.h"
#include "common/KorvexError.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "settings/Settings.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace {
// In the order of TAlertColumns.
const char* const AlertColumnNames[TAlertColumns::Count] = {
    "Fill Price", "Time Filled", "ID",        "Symbol", "Description", "OrderType",
    "Order",      "System",      "Workspace", "Signal", "Interval",    "Order Number"};
} // namespace

TAlertColumns AlertColumns(const QSqlRecord& row) {
    TAlertColumns c;
    for (int i = 0; i < TAlertColumns::Count; ++i)
        c.At[i] = row.indexOf(QLatin1String(AlertColumnNames[i])); // without regard to case
    return c;
}

void LoadOmegaOrder(TOmegaOrder& a, const QSqlRecord& row, bool filledSource) {
    LoadOmegaOrder(a, row, filledSource, AlertColumns(row));
}

void LoadOmegaOrder(TOmegaOrder& a, const QSqlRecord& row, bool filledSource, const TAlertColumns& columns) {
    auto value = [&](int column) {
        const int at = columns.At[column];
        if (at < 0)
            throw KorvexError(
                QStringLiteral("Поле '%1' не найдено").arg(QLatin1String(AlertColumnNames[column])));
        return row.value(at);
    };
    auto text = [&](int column) { return TextValue(value(column)); };
    ClearOmegaOrder(a);
    if (filledSource) {
        a.FillPrice = DoubleValue(value(TAlertColumns::FillPrice));
        a.TimeFilledValue = value(TAlertColumns::TimeFilled);
        a.Filled = true;
    }
    a.ID = Int64Value(value(TAlertColumns::ID));
    a.Symbol = text(TAlertColumns::Symbol);
    a.Description = text(TAlertColumns::Description);
    a.OrderType = text(TAlertColumns::OrderType);
    a.Order = text(TAlertColumns::Order);
    a.System = text(TAlertColumns::System);
    a.Workspace = text(TAlertColumns::Workspace);
    a.Signal = text(TAlertColumns::Signal);
    a.Interval = text(TAlertColumns::Interval);
    a.OrderNumber = text(TAlertColumns::OrderNumber);
}

QString StrategyKey(const QString& system) {
    const int bracket = system.indexOf(QLatin1Char('('));
    const QString before = bracket < 0 ? QString() : system.left(bracket);
    return before.isEmpty() ? system : before;
}

namespace {

// Whole-value lookup without regard to case over the table's current contents; an empty key and
// empty or NULL values match nothing. A found row is made current in the table object when it is open.
bool LookUp(const TPipelineContext& ctx, TDataTable* table, const QString& column, const QString& key,
            qint64 stamp) {
    // The column's values are read again only when the table may have changed.
    TPipelineContext::TKeptColumn& kept = ctx.FilterColumns[table->TableName()];
    if (stamp < 0 || stamp != kept.Stamp) {
        TSqlRows q = RunSql(ctx.DM.conQuikData(), {QStringLiteral("SELECT %1").arg(column),
                                                   QStringLiteral("FROM %1").arg(table->TableName())});
        kept.Values.clear();
        // A NULL or empty row is a row not filled in: it lets no alert through, not even one whose
        // workspace or strategy is empty.
        while (q.next())
            if (const QString v = q.value(0).toString(); !v.isEmpty()) kept.Values << v;
        kept.Stamp = stamp;
    }
    if (key.isEmpty()) return false;
    bool found = false;
    for (const QString& v : kept.Values)
        if (v.compare(key, Qt::CaseInsensitive) == 0) {
            found = true;
            break;
        }
    if (found && table->IsOpen()) {
        const int col = table->Model()->record().indexOf(column);
        for (int r = 0; col >= 0 && r < table->RowCount(); ++r)
            if (table->Model()
                    ->data(table->Model()->index(r, col))
                    .toString()
                    .compare(key, Qt::CaseInsensitive) == 0) {
                table->SetCurrent(r);
                break;
            }
    }
    return found;
}

} // namespace

bool CheckFilters(const TPipelineContext& ctx, const TOmegaOrder& alert) {
    // Within a pass the tables are looked at once; outside one, on every call.
    std::vector<qint64> stamps = ctx.PassFilterStamps ? *ctx.PassFilterStamps : std::vector<qint64>();
    if (stamps.empty()) {
        stamps = TableChangeStamps(ctx.DM.conQuikData(),
                                   {ctx.DM.tWorkSpaces->TableName(), ctx.DM.tStrategy->TableName()});
        if (ctx.PassFilterStamps) ctx.PassFilterStamps = stamps;
    }
    const bool workspaceOk = LookUp(ctx, ctx.DM.tWorkSpaces, QStringLiteral("workspace"),
                                    WorkspaceFileName(alert.Workspace), stamps[0]);
    const bool strategyOk =
        LookUp(ctx, ctx.DM.tStrategy, QStringLiteral("strategy"), StrategyKey(alert.System), stamps[1]);
    const QTime now = ctx.Clock.Now().time();
    // Both bounds are read every time, so that each unreadable one is reported.
    const auto start = ctx.SessionBounds.Read(TSessionBounds::Start, ctx.Settings.time1, ctx.Journal);
    const auto end = ctx.SessionBounds.Read(TSessionBounds::End, ctx.Settings.time2, ctx.Journal);
    const bool timeOk = start && end && !(now < *start) && !(now > *end);
    return workspaceOk && strategyOk && timeOk;
}
