#pragma once

#include "pipeline/PipelineContext.h"

#include <QSqlDatabase>
#include <QString>
#include <vector>

// The clients' open positions (tClientOpenPositions), so that an exit closes exactly what was
// opened. A position is keyed by client, instrument, side, strategy, workspace and interval: a long
// (LE) and a short (SE) on the same keys are two positions, LX closes only the long, SX only the
// short. A row written before positions had a side (side empty) is closed by an exit of either side,
// as it always was.
class TPositionBook {
public:
    explicit TPositionBook(const TPipelineContext& ctx) : Ctx(ctx) {}

    struct TKey {
        QString Code, Symbol, Side, System, Workspace, Interval;
    };
    struct TRow {
        qint64 Id = -1;
        qint32 Quantity = 0;
        QString Signal;
        TKey Key;
    };
    // What one transaction did to the book: the row it opened, the rows it closed.
    struct TEffect {
        std::vector<TRow> Added;
        std::vector<TRow> Removed;
        bool Empty() const { return Added.empty() && Removed.empty(); }
        // Kept with the transaction in the registry, so that a refusal read after a restart can still
        // take it back.
        QString ToText() const;
        static TEffect FromText(const QString& text);
    };

    // "L" for LE and LX, "S" for SE and SX, empty for anything else.
    static QString SideOf(const QString& orderType);
    static bool IsEntry(const QString& orderType) {
        return orderType == QLatin1String("LE") || orderType == QLatin1String("SE");
    }
    static bool IsExit(const QString& orderType) {
        return orderType == QLatin1String("LX") || orderType == QLatin1String("SX");
    }

    // The quantity held for the keys; nothing when no row matches. Throws StoreError.
    std::optional<qint64> Held(const TKey& key) const;
    // Opens a position, on the caller's database transaction. Throws StoreError.
    TRow Open(const TKey& key, qint32 quantity, const QString& signal);
    // Closes every row of the keys, on the caller's transaction; returns them. Throws StoreError.
    std::vector<TRow> Close(const TKey& key);
    // Removes the rows an effect added and puts back those it closed, on the caller's transaction;
    // returns what it did in words (empty: nothing). Throws StoreError.
    QString TakeBack(const TEffect& effect);
    // Makes sure the table has its side column (added to a table made before it); returns the journal
    // line when it was added. Throws StoreError.
    static QString EnsurePositionSide(const QSqlDatabase& db);

private:
    // The rows of the keys. Throws StoreError.
    std::vector<TRow> RowsOf(const TKey& key) const;

    const TPipelineContext& Ctx;
};
