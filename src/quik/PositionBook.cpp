#include "quik/PositionBook.h"

#include "data/DatMod.h"
#include "data/SqlRun.h"

#include <QSqlRecord>
#include <algorithm>

namespace {
// One row a line: "+" for a row opened, "-" for one closed, then its fields separated by tabs, each
// percent-encoded where it holds a tab, a line break or a percent sign.
QString Field(const QString& v) {
    if (std::none_of(v.cbegin(), v.cend(), [](QChar c) {
            return c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('%');
        }))
        return v;
    QString out = v;
    out.replace(QLatin1Char('%'), QStringLiteral("%25"));
    out.replace(QLatin1Char('\t'), QStringLiteral("%09"));
    out.replace(QLatin1Char('\n'), QStringLiteral("%0A"));
    return out;
}
QString Unfield(QString v) {
    if (!v.contains(QLatin1Char('%'))) return v;
    v.replace(QStringLiteral("%09"), QStringLiteral("\t"));
    v.replace(QStringLiteral("%0A"), QStringLiteral("\n"));
    v.replace(QStringLiteral("%25"), QStringLiteral("%"));
    return v;
}
void RowsToText(QString& out, QChar mark, const std::vector<TPositionBook::TRow>& rows) {
    for (const auto& r : rows) {
        const QString* fields[] = {&r.Signal,     &r.Key.Code,      &r.Key.Symbol,  &r.Key.Side,
                                   &r.Key.System, &r.Key.Workspace, &r.Key.Interval};
        qsizetype size = out.size() + 40;
        for (const QString* f : fields)
            size += f->size() + 1;
        out.reserve(size);
        out.append(mark);
        out.append(QString::number(r.Id));
        out.append(QLatin1Char('\t'));
        out.append(QString::number(r.Quantity));
        for (const QString* f : fields) {
            out.append(QLatin1Char('\t'));
            out.append(Field(*f));
        }
        out.append(QLatin1Char('\n'));
    }
}

QString RowText(const TPositionBook::TRow& p) {
    return QStringLiteral("%1 %2 (%3)").arg(QString::number(p.Quantity), p.Key.Symbol, p.Key.System);
}

// The rows of a key: its side, or none recorded (a row of before sides were kept).
const QString KeyWhere = QStringLiteral(
    "WHERE code=:code and symbol=:symbol and system=:system and workspace=:workspace and "
    "[tClientOpenPositions].[interval] = :interval and (side = :side or side IS NULL or side = '')");
} // namespace

QString TPositionBook::TEffect::ToText() const {
    QString out;
    RowsToText(out, QLatin1Char('+'), Added);
    RowsToText(out, QLatin1Char('-'), Removed);
    return out;
}

TPositionBook::TEffect TPositionBook::TEffect::FromText(const QString& text) {
    TEffect e;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.mid(1).split(QLatin1Char('\t'));
        if (f.size() < 9) continue;
        TRow r;
        r.Id = f[0].toLongLong();
        r.Quantity = f[1].toInt();
        r.Signal = Unfield(f[2]);
        r.Key = {Unfield(f[3]), Unfield(f[4]), Unfield(f[5]), Unfield(f[6]), Unfield(f[7]), Unfield(f[8])};
        (line.startsWith(QLatin1Char('+')) ? e.Added : e.Removed).push_back(r);
    }
    return e;
}

QString TPositionBook::SideOf(const QString& orderType) {
    if (orderType == QLatin1String("LE") || orderType == QLatin1String("LX")) return QStringLiteral("L");
    if (orderType == QLatin1String("SE") || orderType == QLatin1String("SX")) return QStringLiteral("S");
    return QString();
}

std::vector<TPositionBook::TRow> TPositionBook::RowsOf(const TKey& key) const {
    const TSqlRows rows = RunSql(Ctx.DM.conQuikData(),
                                 {QStringLiteral("SELECT id, quantity, symbol, System, Signal, Workspace, "
                                                 "Interval, code, side FROM tClientOpenPositions"),
                                  KeyWhere},
                                 {{"code", key.Code},
                                  {"symbol", key.Symbol},
                                  {"system", key.System},
                                  {"workspace", key.Workspace},
                                  {"interval", key.Interval},
                                  {"side", key.Side}});
    std::vector<TRow> out;
    out.reserve(rows.Rows.size());
    for (const QSqlRecord& r : rows.Rows)
        out.push_back(
            {ColumnInt64(r, QStringLiteral("id")), ColumnInt(r, QStringLiteral("quantity")),
             ColumnText(r, QStringLiteral("Signal")),
             TKey{ColumnText(r, QStringLiteral("code")), ColumnText(r, QStringLiteral("symbol")),
                  ColumnText(r, QStringLiteral("side")), ColumnText(r, QStringLiteral("System")),
                  ColumnText(r, QStringLiteral("Workspace")), ColumnText(r, QStringLiteral("Interval"))}});
    return out;
}

std::optional<qint64> TPositionBook::Held(const TKey& key) const {
    const std::vector<TRow> rows = RowsOf(key);
    if (rows.empty()) return std::nullopt;
    qint64 sum = 0;
    for (const TRow& r : rows)
        sum += r.Quantity;
    return sum;
}

TPositionBook::TRow TPositionBook::Open(const TKey& key, qint32 quantity, const QString& signal) {
    const TSqlRows ins =
        RunSql(Ctx.DM.conQuikData(),
               {QStringLiteral("INSERT INTO tClientOpenPositions (quantity, symbol, code, System, Signal, "
                               "Interval, Workspace, side)"),
                QStringLiteral(
                    "VALUES (:quantity, :symbol, :code, :system, :signal, :interval, :workspace, :side)")},
               {{"quantity", quantity},
                {"symbol", key.Symbol},
                {"code", key.Code},
                {"system", key.System},
                {"signal", signal},
                {"interval", key.Interval},
                {"workspace", key.Workspace},
                {"side", key.Side}});
    bool ok = false;
    const qint64 id = ins.LastInsertId.toLongLong(&ok);
    return TRow{ok ? id : -1, quantity, signal, key};
}

std::vector<TPositionBook::TRow> TPositionBook::Close(const TKey& key) {
    std::vector<TRow> removed = RowsOf(key);
    for (const TRow& r : removed)
        RunSql(Ctx.DM.conQuikData(), {QStringLiteral("DELETE FROM tClientOpenPositions WHERE id = :id")},
               {{"id", r.Id}});
    return removed;
}

QString TPositionBook::TakeBack(const TEffect& effect) {
    const QSqlDatabase db = Ctx.DM.conQuikData();
    QStringList done;
    for (const TRow& p : effect.Added) {
        if (p.Id >= 0)
            RunSql(db, {QStringLiteral("DELETE FROM tClientOpenPositions WHERE id = :id")}, {{"id", p.Id}});
        done << QStringLiteral("позиция %1 снята с учета").arg(RowText(p));
    }
    for (const TRow& p : effect.Removed) {
        RunSql(
            db,
            {QStringLiteral("INSERT INTO tClientOpenPositions (id, quantity, symbol, code, System, Signal, "
                            "Interval, Workspace, side)"),
             QStringLiteral("VALUES (:id, :quantity, :symbol, :code, :system, :signal, :interval, "
                            ":workspace, :side)")},
            {{"id", p.Id},
             {"quantity", p.Quantity},
             {"symbol", p.Key.Symbol},
             {"code", p.Key.Code},
             {"system", p.Key.System},
             {"signal", p.Signal},
             {"interval", p.Key.Interval},
             {"workspace", p.Key.Workspace},
             {"side", p.Key.Side}});
        done << QStringLiteral("позиция %1 восстановлена").arg(RowText(p));
    }
    return done.join(QStringLiteral(", "));
}

QString TPositionBook::EnsurePositionSide(const QSqlDatabase& db) {
    const QSqlRecord columns = db.record(QStringLiteral("tClientOpenPositions"));
    if (columns.isEmpty() || columns.indexOf(QStringLiteral("side")) >= 0) return QString();
    RunSql(db, {QStringLiteral("ALTER TABLE tClientOpenPositions ADD COLUMN side VARCHAR(1)")});
    return QStringLiteral("В таблицу tClientOpenPositions добавлено поле side (длинная или короткая "
                          "позиция); записанные раньше позиции закрываются выходом любой стороны.");
}
