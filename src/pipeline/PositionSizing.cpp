#include "pipeline/PositionSizing.h"

#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "settings/Settings.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <cmath>
#include <limits>

namespace {

// A cell the arithmetic needs: an empty cell is a failure, as is a text that is not a number.
double Required(const QSqlRecord& row, const QString& column) {
    const QVariant v = ColumnValue(row, column);
    if (v.isNull() || v.toString().isEmpty())
        throw ConversionError(QStringLiteral("поле %1 пусто").arg(column));
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok)
        throw ConversionError(
            QStringLiteral("поле %1 \"%2\" не является числом").arg(column, JournalField(v.toString(), 40)));
    return d;
}

std::optional<double> Optional(const QSqlRecord& row, const QString& column) {
    try {
        return Required(row, column);
    } catch (const std::exception&) { // missing, empty or not a number
        return std::nullopt;
    }
}

double Need(const std::optional<double>& cell) {
    if (!cell) throw ConversionError(QStringLiteral("a cell the sizing needs does not read"));
    return *cell;
}

// An instrument row's cells as sizing reads them, taken once. A cell every sizing reads (codes,
// Digits, Traded, Slippage) that is missing or does not read fails every sizing of the row.
TPipelineContext::TInstrumentCells InstrumentCells(const QSqlRecord& row) {
    TPipelineContext::TInstrumentCells c;
    try {
        c.SecCode = ColumnText(row, QStringLiteral("SecCode"));
        c.ClassCode = ColumnText(row, QStringLiteral("Class_Code"));
        c.Digits = ColumnInt(row, QStringLiteral("Digits"));
        c.Traded = ColumnBool(row, QStringLiteral("Traded"));
        c.Slippage = Required(row, QStringLiteral("Slippage"));
        c.LotSize = Optional(row, QStringLiteral("LotSize"));
        c.Part = Optional(row, QStringLiteral("Part"));
        c.FixVol = Optional(row, QStringLiteral("FixVol"));
    } catch (const std::exception& e) {
        c.Readable = false;
        c.Unreadable = ErrorText(e);
    }
    return c;
}

double SettingNumber(const QString& text) {
    auto v = Regional::ParseDecimal(text);
    if (!v) throw ConversionError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return *v;
}

double Divide(double a, double b) {
    if (b == 0) throw KorvexError(QStringLiteral("Floating point division by zero"));
    return a / b;
}

// Truncation toward zero into the 32-bit quantity. A value outside its range (an absurd instrument or
// portfolio figure) is refused rather than wrapped into some other quantity.
qint32 Lots(double value) {
    const double t = std::trunc(value);
    if (!std::isfinite(t) || t < std::numeric_limits<qint32>::min() || t > std::numeric_limits<qint32>::max())
        throw KorvexError(QStringLiteral("Invalid floating point operation"));
    return static_cast<qint32>(t);
}

} // namespace

void SizeOrder(const TPipelineContext& ctx, TOrder& order, const TOmegaOrder& alert) {
    TDatMod& dm = ctx.DM;
    const TSettings& s = ctx.Settings;
    bool instrumentKnown = false; // its codes and prices read: a transaction can be written
    try {
        if (!dm.tSecCode->IsOpen()) dm.tSecCode->Open();
        if (!dm.tPortfolio->IsOpen()) dm.tPortfolio->Open();

        // The instrument table is looked at once per alert: rows read before stay while it is unchanged.
        auto& cache = ctx.Instruments;
        if (!ctx.Memo.Active || !ctx.Memo.InstrumentsChecked) {
            const qint64 stamp = ctx.Memo.Active && ctx.Memo.SecCodeStamp
                                     ? *ctx.Memo.SecCodeStamp
                                     : TableChangeStamp(dm.conQuikData(), QStringLiteral("tSecCode"));
            if (stamp < 0 || stamp != cache.Stamp) {
                cache.Rows.clear();
                cache.Stamp = stamp;
            }
            ctx.Memo.InstrumentsChecked = ctx.Memo.Active;
        }
        auto kept = cache.Rows.constFind(order.Ticker);
        if (kept == cache.Rows.cend()) {
            TSqlRows qSecCode = RunSql(dm.conQuikData(),
                                       {QStringLiteral("SELECT *"), QStringLiteral("FROM tSecCode"),
                                        QStringLiteral("WHERE Ticker= :ticker")},
                                       {{"ticker", order.Ticker}});
            std::optional<TPipelineContext::TInstrumentCells> row;
            if (qSecCode.next()) row = InstrumentCells(qSecCode.record());
            kept = cache.Rows.insert(order.Ticker, std::move(row));
        }
        const std::optional<TPipelineContext::TInstrumentCells>& found = *kept;
        if (!found) {
            ctx.NoteOnce(QStringLiteral("Не найден код акции %1 в таблице \"Торгуемых бумаг\"!")
                             .arg(JournalField(order.Ticker)));
            order.Quantity = 0;
            order.Refused = true;
        } else {
            const TPipelineContext::TInstrumentCells& inst = *found;
            if (!inst.Readable) {
                ctx.NoteOnce(
                    QStringLiteral("Ордер # %1 не отправлен: строка тикера %2 в таблице \"Торгуемых бумаг\" "
                                   "не читается: %3.")
                        .arg(AlertRef(alert), JournalField(order.Ticker), inst.Unreadable));
                order.Quantity = 0;
                order.Refused = true;
                ctx.Journal.FlushJournal();
                return;
            }
            order.SecCode = inst.SecCode;
            instrumentKnown = true;
            order.ClassCode = inst.ClassCode;
            order.Digits = inst.Digits;
            order.Traded = inst.Traded;

            const double slip = inst.Slippage / 100;
            order.StopPrice =
                order.Operation == QLatin1String("B") ? order.Price * (1 + slip) : order.Price * (1 - slip);

            // The client's portfolio only for the modes that size by it.
            auto assets = [&]() -> std::optional<double> {
                TSqlRows qPortfolio = RunSql(dm.conQuikData(),
                                             {QStringLiteral("SELECT *"), QStringLiteral("FROM tPortfolio"),
                                              QStringLiteral("WHERE id_client= :client")},
                                             {{"client", order.ClientCode}});
                const bool havePortfolio = qPortfolio.next();
                const QSqlRecord portfolio = havePortfolio ? qPortfolio.record() : QSqlRecord();
                if (!havePortfolio) {
                    ctx.Journal.AddJournalLine(
                        QStringLiteral("Не найден код клиента%1 в таблице \"Клиентский портфель\"!")
                            .arg(JournalField(order.ClientCode)));
                    order.Refused = true;
                    return std::nullopt;
                }
                return Required(portfolio, QStringLiteral("CurAllAssets"));
            };

            switch (s.PositionSize) {
            case 0:
                order.Quantity = Lots(Divide(order.Quantity, Need(inst.LotSize)));
                break;
            case 1:
                order.Quantity =
                    Lots(Divide(Divide(SettingNumber(s.FixVol), order.Price), Need(inst.LotSize)));
                break;
            case 2:
            case 4: {
                const double part = s.PositionSize == 2 ? SettingNumber(s.Part) : Need(inst.Part);
                auto a = assets();
                if (!a) {
                    order.Quantity = 0;
                    break;
                }
                order.Quantity = Lots(Divide(Divide(part / 100 * *a, order.Price), Need(inst.LotSize)));
                break;
            }
            case 3:
                order.Quantity = Lots(Divide(Divide(Need(inst.FixVol), order.Price), Need(inst.LotSize)));
                break;
            default:
                break;
            }
        }
    } catch (const std::exception& e) {
        ctx.NoteOnce(
            QStringLiteral("Произошла ошибка при обращении к таблице \"Торгуемых бумаг\" для тикера %1! %2")
                .arg(JournalField(order.Ticker), ErrorText(e)));
        order.Quantity = 0;
        order.Refused = true;
    }

    // An exact exit closes every recorded row of its keys: two entries, one exit of both.
    // It needs the instrument, not the sizing: a client's missing portfolio does not hold an exit back.
    if (instrumentKnown &&
        (order.OrderType == QLatin1String("LX") || order.OrderType == QLatin1String("SX")) && s.ExitQty) {
        if (!dm.tClientOpenPositions->IsOpen()) dm.tClientOpenPositions->Open();
        // What the book holds, less what exits still on their way will close: an exact exit never
        // sells what the client does not hold. Nothing held: no order, and the operator hears why.
        qint64 held = RecordedExitQuantity(ctx, order.ClientCode, order.Ticker, alert).value_or(0);
        if (ctx.ReservedByExits) held -= ctx.ReservedByExits(order.ClientCode, order.Ticker, alert);
        if (held <= 0) {
            ctx.NoteRefusal(
                QStringLiteral("Ордер # ") + AlertRef(alert), JournalField(order.ClientCode),
                QStringLiteral("позиция %1 стратегии %2 не учтена в книге (выход закрывает только "
                               "учтенное)")
                    .arg(JournalField(order.Ticker), JournalField(alert.System)));
            order.Quantity = 0;
            order.Refused = true;
        } else if (held > std::numeric_limits<qint32>::max()) {
            ctx.Journal.AddJournalLine(
                QStringLiteral("Ордер # %1: записанный объем позиции %2 слишком велик.")
                    .arg(AlertRef(alert))
                    .arg(held));
            order.Quantity = 0;
            order.Refused = true;
        } else {
            order.Quantity = static_cast<qint32>(held);
            order.Refused = false;
        }
    }
    ctx.Journal.FlushJournal();
}

std::optional<qint64> RecordedExitQuantity(const TPipelineContext& ctx, const QString& clientCode,
                                           const QString& ticker, const TOmegaOrder& alert) {
    TSqlRows qExitQty = RunSql(
        ctx.DM.conQuikData(),
        {QStringLiteral("SELECT Quantity"), QStringLiteral("FROM tClientOpenPositions"),
         QStringLiteral("WHERE code=:code and symbol=:symbol and system=:system and "
                        "workspace=:workspace and [tClientOpenPositions].[interval] = :interval and "
                        "(side = :side or side IS NULL or side = '')")},
        {{"side", alert.OrderType.startsWith(QLatin1Char('S')) ? QStringLiteral("S") : QStringLiteral("L")},
         {"code", clientCode},
         {"symbol", ticker},
         {"system", alert.System},
         {"workspace", WorkspaceFileName(alert.Workspace)},
         {"interval", alert.Interval}});
    if (qExitQty.size() == 0) return std::nullopt;
    qint64 sum = 0;
    while (qExitQty.next())
        sum += ColumnInt(qExitQty.record(), QStringLiteral("Quantity"));
    return sum;
}
