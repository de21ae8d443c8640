#pragma once

#include <QColor>
#include <QHash>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QVector>
#include <functional>
#include <limits>

// How one column of a grid shows its field: the title, the display format of the table object
// ("### ### ##0.000": blanks group the digits, the decimals after the point), and whether it edits.
struct TGridColumn {
    TGridColumn(QString field, QString title, QString format = QString(), int width = 0)
        : Field(std::move(field)), Title(std::move(title)), Format(std::move(format)), Width(width) {}
    QString Field;
    QString Title; // empty: the header shows the field name
    QString Format;
    int Width = 0; // 0: the grid's default
};

// A code shown as a word in its colour (QUIK's result statuses).
struct TCodeWord {
    QString Text;
    QColor Color;
};

// Shows the listed fields of a table model in the listed order with their titles and formats;
// Booleans as check boxes; every cell read-only unless the grid is editable.
class TFieldsProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    TFieldsProxy(QVector<TGridColumn> columns, bool editable, QObject* parent = nullptr);

    void setSourceModel(QAbstractItemModel* model) override;
    const QVector<TGridColumn>& Columns() const { return GridColumns; }
    // The proxy column that shows `field`, -1 when none.
    int ColumnOf(const QString& field) const;
    QString FieldAt(int proxyColumn) const;

    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The display format of a price: the decimals of the row's instrument.
    static inline const QString PriceFormat = QStringLiteral("price");
    // The Digits of the instrument of a source row, UnknownDigits when there is none: a price shows as
    // the transaction line writes it (Digits below 0 included), or as stored for an unknown instrument.
    static constexpr int UnknownDigits = std::numeric_limits<int>::min();
    std::function<int(int sourceRow)> PriceDigits;
    // The display format of a date-time shown by its time alone (a report of one day).
    static inline const QString TimeFormat = QStringLiteral("time");
    // A grid's own look of a cell (a colour by the row's side or sign, a text made of two fields);
    // an invalid value leaves the cell as its column shows it.
    std::function<QVariant(int sourceRow, const QString& field, int role)> Decorate;

    // Shows the codes of `field` as words; a code not listed shows as stored.
    void SetCodeWords(const QString& field, QHash<QString, TCodeWord> words);

    // A number in a display format of the table objects.
    static QString FormatNumber(double value, const QString& format);

signals:
    // The fields were matched to the source's columns anew (after the table was opened).
    void ColumnsMapped();

protected:
    bool filterAcceptsColumn(int sourceColumn, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex&, const QModelIndex&) const override { return false; }

private:
    void MapColumns();
    const TGridColumn* ColumnOfSource(int sourceColumn) const;
    bool IsBoolean(int sourceColumn) const;
    QVector<TGridColumn> GridColumns;
    QVector<int> SourceToColumn; // source column -> index in GridColumns, or -1
    QList<QMetaObject::Connection> SourceConnections;
    QHash<QString, QHash<QString, TCodeWord>> CodeWords; // by field, lower case
    bool Editable;
};
