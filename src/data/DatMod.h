#pragma once

#include "data/DataTable.h"

#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <optional>

class TJournal;
struct TSettings;

// Instrument totals over the traded rows of tSecCode (NULL sums read as 0).
struct TSecCodeSum {
    int SumTraded = 0;
    double SumFixVol = 0;
    double SumPart = 0;
};

// Portfolio totals over tPortfolio (empty sums and averages read as 0).
struct TPortfolioSum {
    int SumId_client = 0;
    double SumOpenAssets = 0, SumShorts = 0, Sumlongs = 0, SumCurAssets = 0, SumOpenAllAssets = 0,
           SumCurAllAssets = 0, AvgMargin = 0, AvgLeverage = 0, AvgCurLeverage = 0, SumProfitLoss = 0,
           AvgChange = 0;
};

// The data module: both database connections and every table object of the program. Statements that
// the robot builds at the moment of use run through the named query operations below, every value
// bound as a parameter.
class TDatMod : public QObject {
    Q_OBJECT
public:
    explicit TDatMod(QObject* parent = nullptr);
    ~TDatMod() override;

    QSqlDatabase conOmega() const;
    // The trading connection's handle, kept: it is asked for on every statement of a dispatch.
    const QSqlDatabase& conQuikData() const;
    bool OmegaConnected() const;
    bool QuikDataConnected() const;

    // Opens one connection from its setting; true when an SQLite file was switched to WAL mode now.
    // Throws KorvexError with the engine's message.
    bool OpenOmega(const QString& setting);
    bool OpenQuikData(const QString& setting);

    // Alerts database tables.
    TDataTable* tFilledOrders;
    TDataTable* tActiveOrders;
    TDataTable* tCanceledOrders;
    TDataTable* tOpenPisitions;
    // Trading database tables.
    TDataTable* tParam;
    TDataTable* tPortfolio;
    TDataTable* tSecCode;
    TDataTable* tWorkSpaces;
    TDataTable* tStrategy;
    TDataTable* tOrderNumber;
    TDataTable* tClients;
    TDataTable* tClientOpenPositions;
    // The robot's registry of the day's transactions, for the transaction report; the engine reads and
    // writes the registry with its own statements, never through this object.
    TDataTable* tOrderRegistry;

    QList<TDataTable*> Tables() const;

    // Whether the SQLite files of the open connections are still the files that were opened. A file
    // that vanished or was replaced at its path closes its connection and its tables; returns a text
    // for each. A closed connection is not looked at, so each loss is told once.
    // `alertsReplaced` (when given) is set when the alerts database's file was replaced by another
    // (not when it vanished); that one is then left to the caller to reopen.
    QStringList CheckDatabaseFiles(bool* alertsReplaced = nullptr);

    // Re-reads what changed in one table (nothing when the database did not change), keeping its
    // current row by id; a failure closes the table, and the next refresh opens it again. Never throws.
    void RefreshDataSet(TDataTable* table);
    // True while a statement of the connection is running or its rows are being read.
    bool ConnectionBusy(const QString& connectionName) const;

    // Highest id of an alert table: -1 when the table is closed or cannot be read, 0 when it is
    // empty. It does not depend on how a grid sorts or what it has read.
    qint64 GetLastID(TDataTable* table);

    // "DELETE FROM tOrderNumber", with the table closed around it. Throws on failure.
    void ClearOrderNumbers();

    TSecCodeSum qSecCodeSum();
    TPortfolioSum qPortfolioSum();

    // Marks a statement's lifetime as busy for its connection (see ConnectionBusy).
    class TBusyGuard {
    public:
        TBusyGuard(TDatMod& dm, const QString& conn);
        ~TBusyGuard();
        TBusyGuard(const TBusyGuard&) = delete;
        TBusyGuard& operator=(const TBusyGuard&) = delete;

    private:
        TDatMod& DM;
        QString Conn;
    };

    // The checks a typed tSecCode or tClients row passes before it is written: a refused row stays in
    // editing and PostRefused says why.
    void SetEditRules();

signals:
    void PostRefused(const QString& message);
    void SecCodeChanged(); // after every post and delete of a tSecCode row

private:
    void Reconnected(const QString& connectionName);
    void RememberFile(const QString& connectionName, const QString& setting);
    struct TOpenedFile {
        QString Path;
        QString Identity;
    };
    QHash<QString, TOpenedFile> OpenedFiles; // SQLite connections by name
    QString OmegaName;
    QString QuikName;
    // Taken when first asked for, dropped before its connection is opened anew or removed: a handle
    // held across a driver switch would keep the old connection alive.
    mutable QSqlDatabase QuikHandle;
    QHash<QString, int> Busy;
};
