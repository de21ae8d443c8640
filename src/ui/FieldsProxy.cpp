#include "ui/FieldsProxy.h"

#include "common/Regional.h"
#include "quik/PriceText.h"

#include "data/DataTable.h"
#include <QDateTime>
#include <QRegularExpression>
#include <QSqlField>
#include <QSqlRecord>
#include <cmath>

namespace {
QString RegionalDateTime(const QDateTime& dt) {
    return Regional::ShortDate(dt.date()) + QLatin1Char(' ') + Regional::LongTime(dt.time());
}

// A price as the line writes it, its whole part grouped in thousands as the operator's numbers are.
QString GroupedPrice(const QString& text) {
    const QLocale loc;
    if (loc.numberOptions() & QLocale::OmitGroupSeparator) return text;
    QString out = text;
    const qsizetype sign = out.startsWith(QLatin1Char('-')) ? 1 : 0;
    qsizetype whole = out.indexOf(Regional::DecimalSeparator());
    if (whole < 0) whole = out.size();
    for (qsizetype i = whole - 3; i > sign; i -= 3)
        out.insert(i, loc.groupSeparator());
    return out;
}
} // namespace

TFieldsProxy::TFieldsProxy(QVector<TGridColumn> columns, bool editable, QObject* parent)
    : QSortFilterProxyModel(parent), GridColumns(std::move(columns)), Editable(editable) {
    setDynamicSortFilter(false);
}

void TFieldsProxy::setSourceModel(QAbstractItemModel* model) {
    for (const auto& c : SourceConnections)
        disconnect(c);
    SourceConnections.clear();
    QSortFilterProxyModel::setSourceModel(model);
    MapColumns();
    auto remap = [this] {
        MapColumns();
        invalidateFilter();
        emit ColumnsMapped();
    };
    SourceConnections << connect(model, &QAbstractItemModel::modelReset, this, remap)
                      << connect(model, &QAbstractItemModel::headerDataChanged, this, remap);
    invalidateFilter();
    emit ColumnsMapped();
}

void TFieldsProxy::MapColumns() {
    SourceToColumn.clear();
    auto* src = sourceModel();
    if (!src) return;
    auto* table = qobject_cast<TTableModel*>(src);
    const QSqlRecord rec = table ? table->record() : QSqlRecord();
    for (int c = 0; c < src->columnCount(); ++c) {
        const QString name =
            c < rec.count() ? rec.fieldName(c) : src->headerData(c, Qt::Horizontal).toString();
        int found = -1;
        for (int i = 0; i < GridColumns.size() && found < 0; ++i)
            if (GridColumns[i].Field.compare(name, Qt::CaseInsensitive) == 0) found = i;
        SourceToColumn << found;
    }
}

bool TFieldsProxy::filterAcceptsColumn(int sourceColumn, const QModelIndex&) const {
    return sourceColumn < SourceToColumn.size() && SourceToColumn[sourceColumn] >= 0;
}

const TGridColumn* TFieldsProxy::ColumnOfSource(int sourceColumn) const {
    if (sourceColumn < 0 || sourceColumn >= SourceToColumn.size() || SourceToColumn[sourceColumn] < 0)
        return nullptr;
    return &GridColumns[SourceToColumn[sourceColumn]];
}

int TFieldsProxy::ColumnOf(const QString& field) const {
    for (int c = 0; c < columnCount(); ++c)
        if (FieldAt(c).compare(field, Qt::CaseInsensitive) == 0) return c;
    return -1;
}

QString TFieldsProxy::FieldAt(int proxyColumn) const {
    const QModelIndex s = mapToSource(index(0, proxyColumn));
    int sc = s.isValid() ? s.column() : -1;
    if (sc < 0) {
        // No rows: map through the accepted columns in order.
        int seen = -1;
        for (int c = 0; c < SourceToColumn.size(); ++c)
            if (SourceToColumn[c] >= 0 && ++seen == proxyColumn) sc = c;
    }
    const TGridColumn* column = ColumnOfSource(sc);
    return column ? column->Field : QString();
}

bool TFieldsProxy::IsBoolean(int sourceColumn) const {
    auto* table = qobject_cast<TTableModel*>(sourceModel());
    if (!table) return false;
    const QSqlField f = table->record().field(sourceColumn);
    const QString name = f.name().toLower();
    // SQLite reports declared BOOLEAN columns as integers: the known flag columns are named here.
    return f.metaType().id() == QMetaType::Bool || name == QLatin1String("traded") ||
           name == QLatin1String("filled") || name == QLatin1String("active");
}

QString TFieldsProxy::FormatNumber(double value, const QString& format) {
    const int point = format.indexOf(QLatin1Char('.'));
    const int decimals = point < 0 ? 0 : format.size() - point - 1;
    const QString intPart = point < 0 ? format : format.left(point);
    const bool grouped = intPart.contains(QLatin1Char(' '));
    if (!intPart.contains(QLatin1Char('0')) && decimals == 0 && std::round(value) == 0) return QString();
    QLocale loc;
    QString s = QString::number(std::fabs(value), 'f', decimals);
    QString whole = point < 0 ? s : s.section(QLatin1Char('.'), 0, 0);
    const QString frac = decimals > 0 ? s.section(QLatin1Char('.'), 1) : QString();
    if (grouped)
        for (int i = whole.size() - 3; i > 0; i -= 3)
            whole.insert(i, QLatin1Char(' '));
    QString out = whole + (decimals > 0 ? loc.decimalPoint() + frac : QString());
    if (value < 0 && std::round(std::fabs(value) * std::pow(10, decimals)) != 0)
        out.prepend(QLatin1Char('-'));
    return out;
}

QVariant TFieldsProxy::data(const QModelIndex& index, int role) const {
    const QModelIndex s = mapToSource(index);
    const TGridColumn* column = ColumnOfSource(s.column());
    if (IsBoolean(s.column())) {
        if (role == Qt::CheckStateRole) {
            const QVariant v = sourceModel()->data(s, Qt::EditRole);
            return v.toLongLong() != 0 ||
                           v.toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
                       ? Qt::Checked
                       : Qt::Unchecked;
        }
        if (role == Qt::DisplayRole || role == Qt::EditRole) return QVariant();
    }
    if (Decorate && column &&
        (role == Qt::DisplayRole || role == Qt::ForegroundRole || role == Qt::ToolTipRole ||
         role == Qt::TextAlignmentRole)) {
        const QVariant own = Decorate(s.row(), column->Field, role);
        if (own.isValid()) return own;
    }
    if (column && (role == Qt::DisplayRole || role == Qt::ForegroundRole || role == Qt::ToolTipRole)) {
        auto words = CodeWords.constFind(column->Field.toLower());
        if (words != CodeWords.cend()) {
            const QVariant v = sourceModel()->data(s, Qt::EditRole);
            auto w = words->constFind(v.isNull() ? QString() : v.toString());
            if (w != words->cend()) {
                if (role == Qt::DisplayRole) return w->Text;
                if (role == Qt::ForegroundRole) return w->Color;
                return v.isNull() ? QVariant() : QVariant(v.toString());
            }
        }
    }
    if (role == Qt::DisplayRole) {
        const QVariant v = sourceModel()->data(s, Qt::EditRole);
        if (v.isNull()) return QString();
        if (column && column->Format == PriceFormat) {
            bool ok = false;
            const double d = v.toDouble(&ok);
            const int digits = PriceDigits ? PriceDigits(s.row()) : UnknownDigits;
            const auto text = ok && digits != UnknownDigits ? TryPriceToText(digits, d) : std::nullopt;
            if (text) return GroupedPrice(*text);
            if (ok) return QLocale().toString(d, 'g', 15);
        }
        if (column && column->Format == TimeFormat) {
            const QDateTime dt =
                v.typeId() == QMetaType::QDateTime
                    ? v.toDateTime()
                    : QDateTime::fromString(v.toString().replace(QLatin1Char(' '), QLatin1Char('T')),
                                            Qt::ISODateWithMs);
            return dt.isValid() ? Regional::LongTime(dt.time()) : v.toString();
        }
        if (column && !column->Format.isEmpty() && column->Format != PriceFormat) {
            bool ok = false;
            const double d = v.toDouble(&ok);
            if (ok) return FormatNumber(d, column->Format);
        }
        if (v.typeId() == QMetaType::Double) return QLocale().toString(v.toDouble(), 'g', 15);
        if (v.typeId() == QMetaType::QDateTime) return RegionalDateTime(v.toDateTime());
        if (v.typeId() == QMetaType::QString) {
            // SQLite hands date-times over as ISO text.
            static const QRegularExpression iso(
                QStringLiteral("^\\d{4}-\\d{2}-\\d{2}[ T]\\d{2}:\\d{2}(:\\d{2})?(\\.\\d+)?$"));
            const QString text = v.toString();
            if (text.size() >= 16 && iso.match(text).hasMatch()) {
                const QDateTime dt = QDateTime::fromString(
                    QString(text).replace(QLatin1Char(' '), QLatin1Char('T')), Qt::ISODateWithMs);
                if (dt.isValid()) return RegionalDateTime(dt);
            }
        }
        return v;
    }
    if (role == Qt::TextAlignmentRole) {
        if (column && !column->Format.isEmpty() && column->Format != TimeFormat)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        const QVariant v = sourceModel()->data(s, Qt::EditRole);
        switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
        case QMetaType::Double:
            return int(Qt::AlignRight | Qt::AlignVCenter);
        default:
            break;
        }
    }
    return QSortFilterProxyModel::data(index, role);
}

void TFieldsProxy::SetCodeWords(const QString& field, QHash<QString, TCodeWord> words) {
    CodeWords[field.toLower()] = std::move(words);
}

bool TFieldsProxy::setData(const QModelIndex& index, const QVariant& value, int role) {
    const QModelIndex s = mapToSource(index);
    if (role == Qt::CheckStateRole && IsBoolean(s.column()))
        return sourceModel()->setData(s, value.toInt() == Qt::Checked ? 1 : 0, Qt::EditRole);
    return QSortFilterProxyModel::setData(index, value, role);
}

QVariant TFieldsProxy::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        const QString field = FieldAt(section);
        for (const TGridColumn& c : GridColumns)
            if (c.Field.compare(field, Qt::CaseInsensitive) == 0)
                return c.Title.isEmpty() ? c.Field : c.Title;
    }
    return QSortFilterProxyModel::headerData(section, orientation, role);
}

Qt::ItemFlags TFieldsProxy::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QSortFilterProxyModel::flags(index);
    const QModelIndex s = mapToSource(index);
    if (IsBoolean(s.column())) {
        f &= ~Qt::ItemIsEditable;
        if (Editable)
            f |= Qt::ItemIsUserCheckable;
        else
            f &= ~Qt::ItemIsUserCheckable;
        return f;
    }
    if (!Editable) f &= ~Qt::ItemIsEditable;
    return f;
}
