#pragma once

#include <QWidget>
#include <functional>
#include <optional>

class TDbGrid;
class TEngine;
class QSqlRecord;
class QModelIndex;

// "Открытые позиции (QUIK)": the robot's position book, which exact exits close from. The operator may
// correct it, but never by a stray keystroke: a changed quantity, a deleted and an added position are
// each confirmed first and journalled with the client, the keys and the quantities; a refusal leaves
// the book as it was. The keys of a recorded position are written once: only its quantity edits.
class TBookPage : public QWidget {
    Q_OBJECT
public:
    TBookPage(TEngine& engine, QWidget* parent = nullptr);

    TDbGrid* Grid() const { return BookGrid; }
    // Asks the operator; replaced in tests.
    std::function<bool(const QString&)> Confirm;
    std::function<void(const QString&)> ShowMessage;

    // A new row at the end, its first column in editing.
    void AddPosition();
    // Deletes the selected position after confirmation.
    void DeleteSelected();
    // Writes what the operator changed, after confirmation; a refusal puts the book back.
    void Commit();
    // Whether a cell may be edited: every cell of a new row, the quantity of a recorded one.
    bool MayEdit(const QModelIndex& proxyIndex) const;
    // A cell's value was changed in the grid (before it is written).
    void Edited(const QModelIndex& proxyIndex, const QVariant& before, const QVariant& after);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    static QString Describe(const QSqlRecord& r);
    void Journal(const QString& text);
    TEngine& Robot;
    TDbGrid* BookGrid;
    struct TChange {
        qint64 Id = 0;
        QString Keys;
        QVariant Before, After;
    };
    std::optional<TChange> Change; // a quantity typed and not yet written
    bool Committing = false;
};
