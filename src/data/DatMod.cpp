#include "data/DatMod.h"

#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/QuikField.h"
#include "common/Regional.h"
#include "data/Connection.h"
#include "data/SqlRun.h"
#include "data/TableColumns.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlRecord>
#include <cmath>

namespace {
QAtomicInt InstanceCounter;
}

TDatMod::TDatMod(QObject* parent) : QObject(parent) {
    const int n = InstanceCounter.fetchAndAddRelaxed(1);
    OmegaName = QStringLiteral("conOmega#%1").arg(n);
    QuikName = QStringLiteral("conQuikData#%1").arg(n);
    // Both connections exist from the start, closed; the first connect gives them their files.
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), OmegaName);
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QuikName);

    tFilledOrders =
        new TDataTable(QStringLiteral("tFilledOrders"), QStringLiteral("FilledOrders"), OmegaName, this);
    tActiveOrders =
        new TDataTable(QStringLiteral("tActiveOrders"), QStringLiteral("ActiveOrders"), OmegaName, this);
    tCanceledOrders =
        new TDataTable(QStringLiteral("tCanceledOrders"), QStringLiteral("CanceledOrders"), OmegaName, this);
    tOpenPisitions =
        new TDataTable(QStringLiteral("tOpenPisitions"), QStringLiteral("OpenPositions"), OmegaName, this);
    tParam = new TDataTable(QStringLiteral("tParam"), QStringLiteral("tParam"), QuikName, this);
    tPortfolio = new TDataTable(QStringLiteral("tPortfolio"), QStringLiteral("tPortfolio"), QuikName, this);
    tSecCode = new TDataTable(QStringLiteral("tSecCode"), QStringLiteral("tSecCode"), QuikName, this);
    tWorkSpaces =
        new TDataTable(QStringLiteral("tWorkSpaces"), QStringLiteral("tWorkSpaces"), QuikName, this);
    tStrategy = new TDataTable(QStringLiteral("tStrategy"), QStringLiteral("tStrategy"), QuikName, this);
    tOrderNumber =
        new TDataTable(QStringLiteral("tOrderNumber"), QStringLiteral("tOrderNumber"), QuikName, this);
    tClients = new TDataTable(QStringLiteral("tClients"), QStringLiteral("tClients"), QuikName, this);
    tClientOpenPositions = new TDataTable(QStringLiteral("tClientOpenPositions"),
                                          QStringLiteral("tClientOpenPositions"), QuikName, this);
    tOrderRegistry =
        new TDataTable(QStringLiteral("tOrderRegistry"), QStringLiteral("tOrderRegistry"), QuikName, this);
    SetEditRules();
}

TDatMod::~TDatMod() {
    for (TDataTable* t : Tables())
        delete t;
    QuikHandle = QSqlDatabase();
    for (const QString& name : {OmegaName, QuikName}) {
        ForgetStatements(name);
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isValid()) db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
}

namespace {
// The cells whose values go into a transaction line as they stand.
const QStringList& LineFields(const QString& table) {
    static const QStringList instrument = {"SecCode", "Class_Code", "Ticker"},
                             client = {"Code", "AccountMicex", "AccountFORTS"}, none;
    return table == QLatin1String("tSecCode")   ? instrument
           : table == QLatin1String("tClients") ? client
                                                : none;
}

std::optional<qint64> WholeNumber(const QVariant& v) {
    if (v.typeId() == QMetaType::Double) {
        const double d = v.toDouble();
        if (d != std::trunc(d) || std::fabs(d) > 1e15) return std::nullopt;
        return static_cast<qint64>(d);
    }
    return Regional::ParseInteger(v.toString());
}

std::optional<double> Number(const QVariant& v) {
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong)
        return v.toDouble();
    return Regional::ParseDecimalAnySeparator(Regional::WithoutGroups(v.toString()));
}

// Why a value cannot stand in a cell of an instrument or a client; empty when it can. An empty cell
// is left to the checks of the post and of the sizing.
QString ValueProblem(const QString& table, const QString& field, const QVariant& value) {
    const QString text = value.isNull() ? QString() : value.toString();
    if (LineFields(table).contains(field, Qt::CaseInsensitive)) {
        const QString problem = QuikFieldProblem(text);
        if (!problem.isEmpty())
            return QStringLiteral("\"%1\" содержит %2. Quik получил бы не ту строку транзакции; "
                                  "исправьте значение.")
                .arg(JournalField(text, 40), problem);
        return QString();
    }
    if (table != QLatin1String("tSecCode") || text.trimmed().isEmpty()) return QString();
    const QString shown = JournalField(text.trimmed(), 40);
    if (field.compare(QLatin1String("LotSize"), Qt::CaseInsensitive) == 0) {
        const auto v = WholeNumber(value);
        if (!v || *v <= 0) return shown + QStringLiteral(" не подходит: нужно целое число больше 0.");
    } else if (field.compare(QLatin1String("Digits"), Qt::CaseInsensitive) == 0) {
        const auto v = WholeNumber(value);
        if (!v || *v < -10 || *v > 10)
            return shown + QStringLiteral(" не подходит: нужно целое число от -10 до 10.");
    } else if (field.compare(QLatin1String("Slippage"), Qt::CaseInsensitive) == 0) {
        const auto v = Number(value);
        if (!v || !std::isfinite(*v) || *v < 0)
            return shown + QStringLiteral(" не подходит: нужно число не меньше 0.");
    }
    return QString();
}

// An instrument is named by its QUIK code, or by its ticker while it has none yet; a client by its code.
QString RowCode(const QString& table, const QSqlRecord& row) {
    if (table == QLatin1String("tClients")) return ColumnText(row, QStringLiteral("Code"));
    const QString code = ColumnText(row, QStringLiteral("SecCode"));
    return code.trimmed().isEmpty() ? ColumnText(row, QStringLiteral("Ticker")) : code;
}

const QStringList& CheckedFields(const QString& table) {
    static const QStringList instrument = {"SecCode", "Class_Code", "Ticker",
                                           "LotSize", "Digits",     "Slippage"};
    return table == QLatin1String("tSecCode") ? instrument : LineFields(table);
}
} // namespace

void TDatMod::SetEditRules() {
    for (TDataTable* t : {tSecCode, tClients}) {
        const QString table = t->TableName();
        TTableModel* m = t->Model();
        // Refused as typed: the cell keeps its value and the message names the cell.
        m->BeforeSetData = [this, table, m](int row, const QString& field, const QVariant& value) {
            const QString problem = ValueProblem(table, field, value);
            if (problem.isEmpty()) return true;
            emit PostRefused(CellName(table, RowCode(table, m->record(row)), field) + QStringLiteral(": ") +
                             problem);
            return false;
        };
        // A value the database already held is refused at the post of its row all the same.
        m->BeforePost = [this, table](const QSqlRecord& row) {
            if (table == QLatin1String("tSecCode") && ColumnText(row, QStringLiteral("SecCode")).isEmpty()) {
                emit PostRefused(QStringLiteral("Введите данные в поле \"Код в Quik`е\""));
                return false;
            }
            for (const QString& field : CheckedFields(table)) {
                const QString problem = ValueProblem(table, field, ColumnValue(row, field));
                if (problem.isEmpty()) continue;
                emit PostRefused(CellName(table, RowCode(table, row), field) + QStringLiteral(": ") +
                                 problem);
                return false;
            }
            return true;
        };
    }
    connect(tSecCode->Model(), &TTableModel::AfterPost, this, &TDatMod::SecCodeChanged, Qt::UniqueConnection);
}

QList<TDataTable*> TDatMod::Tables() const {
    return {tFilledOrders, tActiveOrders, tCanceledOrders, tOpenPisitions, tParam,   tPortfolio,
            tSecCode,      tWorkSpaces,   tStrategy,       tOrderNumber,   tClients, tClientOpenPositions,
            tOrderRegistry};
}

QSqlDatabase TDatMod::conOmega() const {
    return QSqlDatabase::database(OmegaName, false);
}
const QSqlDatabase& TDatMod::conQuikData() const {
    if (!QuikHandle.isValid()) QuikHandle = QSqlDatabase::database(QuikName, false);
    return QuikHandle;
}
bool TDatMod::OmegaConnected() const {
    return conOmega().isOpen();
}
bool TDatMod::QuikDataConnected() const {
    return conQuikData().isOpen();
}

void TDatMod::RememberFile(const QString& connectionName, const QString& setting) {
    const TConnectionTarget target = ConnectionTargetFor(setting);
    if (target.Driver == QLatin1String("QSQLITE"))
        OpenedFiles.insert(connectionName, {target.DatabaseName, FileIdentity(target.DatabaseName)});
    else
        OpenedFiles.remove(connectionName);
}

QStringList TDatMod::CheckDatabaseFiles(bool* alertsReplaced) {
    QStringList told;
    if (alertsReplaced) *alertsReplaced = false;
    for (const QString& name : {OmegaName, QuikName}) {
        auto f = OpenedFiles.constFind(name);
        if (f == OpenedFiles.cend() || !QSqlDatabase::database(name, false).isOpen()) continue;
        const QString now = FileIdentity(f->Path);
        if (now == f->Identity) continue;
        const QString path = QDir::toNativeSeparators(f->Path);
        if (alertsReplaced && name == OmegaName && !now.isEmpty()) {
            *alertsReplaced = true;
            for (TDataTable* t : Tables())
                if (t->ConnectionName() == name) t->Close();
            ForgetStatements(name);
            QSqlDatabase::database(name, false).close();
            continue;
        }
        told << (now.isEmpty() ? QStringLiteral("Файл базы данных %1 исчез: подключение закрыто. "
                                                "Верните файл и подключитесь заново.")
                                     .arg(path)
                               : QStringLiteral("Файл базы данных %1 заменен другим файлом: подключение "
                                                "закрыто. Подключитесь заново.")
                                     .arg(path));
        // The robot must not go on with a file that is no longer the one at the path.
        for (TDataTable* t : Tables())
            if (t->ConnectionName() == name) t->Close();
        ForgetStatements(name);
        QSqlDatabase::database(name, false).close();
    }
    return told;
}

void TDatMod::Reconnected(const QString& connectionName) {
    for (TDataTable* t : Tables())
        if (t->ConnectionName() == connectionName) t->Rebind();
}

bool TDatMod::OpenOmega(const QString& setting) {
    // Tables on a reopened connection are read afresh at their next use.
    for (TDataTable* t : Tables())
        if (t->ConnectionName() == OmegaName) t->Close();
    const bool switched = OpenConnection(OmegaName, setting);
    RememberFile(OmegaName, setting);
    Reconnected(OmegaName);
    return switched;
}

bool TDatMod::OpenQuikData(const QString& setting) {
    for (TDataTable* t : Tables())
        if (t->ConnectionName() == QuikName) t->Close();
    QuikHandle = QSqlDatabase();
    const bool switched = OpenConnection(QuikName, setting);
    RememberFile(QuikName, setting);
    Reconnected(QuikName);
    return switched;
}

TDatMod::TBusyGuard::TBusyGuard(TDatMod& dm, const QString& conn) : DM(dm), Conn(conn) {
    ++DM.Busy[Conn];
}
TDatMod::TBusyGuard::~TBusyGuard() {
    --DM.Busy[Conn];
}

bool TDatMod::ConnectionBusy(const QString& connectionName) const {
    return Busy.value(connectionName) > 0;
}

void TDatMod::RefreshDataSet(TDataTable* table) {
    if (ConnectionBusy(table->ConnectionName())) return;
    if (!QSqlDatabase::database(table->ConnectionName(), false).isOpen()) {
        table->Close();
        return;
    }
    try {
        table->Refresh();
    } catch (const std::exception&) {
        table->Close();
    }
}

qint64 TDatMod::GetLastID(TDataTable* table) {
    if (!table->IsOpen()) return -1;
    try {
        TSqlRows q = RunSql(QSqlDatabase::database(table->ConnectionName(), false),
                            {QStringLiteral("SELECT Max(id) AS LastID"),
                             QStringLiteral("FROM [%1]").arg(table->TableName())});
        if (!q.next()) return 0;
        return q.value(0).isNull() ? 0 : q.value(0).toLongLong();
    } catch (const std::exception&) {
        return -1;
    }
}

void TDatMod::ClearOrderNumbers() {
    tOrderNumber->Close();
    RunSql(conQuikData(), {QStringLiteral("DELETE"), QStringLiteral("FROM tOrderNumber")});
    tOrderNumber->Open();
}

TSecCodeSum TDatMod::qSecCodeSum() {
    // Summed here, not in SQL: an instrument is traded by the same rule the sizing reads it with (any
    // non-zero value, as Access stores True as -1), whatever wrote the table.
    TSqlRows q = RunSql(conQuikData(),
                        {QStringLiteral("Select Traded, FixVol, Part"), QStringLiteral("From tSecCode")});
    TSecCodeSum s;
    while (q.next()) {
        const QSqlRecord& r = q.record();
        if (!ColumnBool(r, QStringLiteral("Traded"))) continue;
        ++s.SumTraded;
        s.SumFixVol += ColumnDouble(r, QStringLiteral("FixVol"));
        s.SumPart += ColumnDouble(r, QStringLiteral("Part"));
    }
    return s;
}

TPortfolioSum TDatMod::qPortfolioSum() {
    TSqlRows q = RunSql(
        conQuikData(),
        {QStringLiteral("Select Count(id_client) as SumId_client,  Sum(openassets) as SumOpenAssets,"),
         QStringLiteral("Sum(shorts) as SumShorts, Sum(longs) as Sumlongs, Sum(CurAssets) as SumCurAssets,"),
         QStringLiteral("Sum(OpenAllAssets) as SumOpenAllAssets, Sum(CurAllAssets) as SumCurAllAssets,"),
         QStringLiteral(
             "Avg(margin) as AvgMargin, Avg(leverage) as AvgLeverage, Avg(curLeverage) as AvgCurLeverage,"),
         QStringLiteral("Sum(profitloss) as SumProfitLoss, Avg(change) as AvgChange"),
         QStringLiteral("From tPortfolio")});
    TPortfolioSum s;
    if (q.next()) {
        const QSqlRecord r = q.record();
        s.SumId_client = ColumnInt(r, QStringLiteral("SumId_client"));
        s.SumOpenAssets = ColumnDouble(r, QStringLiteral("SumOpenAssets"));
        s.SumShorts = ColumnDouble(r, QStringLiteral("SumShorts"));
        s.Sumlongs = ColumnDouble(r, QStringLiteral("Sumlongs"));
        s.SumCurAssets = ColumnDouble(r, QStringLiteral("SumCurAssets"));
        s.SumOpenAllAssets = ColumnDouble(r, QStringLiteral("SumOpenAllAssets"));
        s.SumCurAllAssets = ColumnDouble(r, QStringLiteral("SumCurAllAssets"));
        s.AvgMargin = ColumnDouble(r, QStringLiteral("AvgMargin"));
        s.AvgLeverage = ColumnDouble(r, QStringLiteral("AvgLeverage"));
        s.AvgCurLeverage = ColumnDouble(r, QStringLiteral("AvgCurLeverage"));
        s.SumProfitLoss = ColumnDouble(r, QStringLiteral("SumProfitLoss"));
        s.AvgChange = ColumnDouble(r, QStringLiteral("AvgChange"));
    }
    return s;
}
