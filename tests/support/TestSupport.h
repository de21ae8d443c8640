#pragma once

#include "common/Clock.h"
#include "common/Journal.h"
#include "quik/OrderRegistry.h"
#include "robot/Engine.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QVariantMap>
#include <functional>
#include <memory>

// Reads a whole file as Windows-1251 text.
QString ReadCp1251(const QString& path);
QByteArray ReadBytes(const QString& path);
// A program started for a test or a benchmark ends with it, also when it is cut short.
void EndWithThisProcess(QProcess& child);
void WriteBytes(const QString& path, const QByteArray& bytes, bool append = false);

// A folder with both databases made from the schema and the QUIK files' places, for one test.
class TTestWorkspace {
public:
    explicit TTestWorkspace(bool demoData = false);
    ~TTestWorkspace();

    QString Path(const QString& name) const { return Dir.filePath(name); }
    QString AlertsPath() const { return Path(QStringLiteral("alerts.db")); }
    QString TradingPath() const { return Path(QStringLiteral("trading.db")); }
    QString TriPath() const { return Path(QStringLiteral("quik/trans.tri")); }
    QString TroPath() const { return Path(QStringLiteral("quik/trans.tro")); }
    QString InfoLogPath() const { return Path(QStringLiteral("quik/info.log")); }

    // Second connections, as the strategy platform and QUIK would have them.
    QSqlDatabase Alerts() const;
    // Opens the alerts connection again: after its file was replaced at its path.
    void ReopenAlerts() const;
    QSqlDatabase Trading() const;

    // Inserts a row; returns its id.
    qint64 Insert(const QSqlDatabase& db, const QString& table, const QVariantMap& values) const;
    // An alert row with believable defaults for the columns not given.
    qint64 InsertAlert(const QString& table, const QVariantMap& values) const;
    // Replaces the clients with `count` active ones, codes 1000, 1001, …
    void SetActiveClients(int count) const;
    // `count` old alert rows in one go, as a table holds them by the middle of a trading day.
    void PreloadAlerts(const QString& table, int count) const;
    void Exec(const QSqlDatabase& db, const QString& sql) const;
    // A Korvex.ini for a headless robot process on this workspace: all trading hours, no mail,
    // connect at start, the table timer at one second; `position` and `quik` add their own lines.
    void WriteRobotIni(const QString& position, const QString& quik = QString(),
                       const QString& mail = QString()) const;
    QVariant Scalar(const QSqlDatabase& db, const QString& sql) const;

private:
    QTemporaryDir Dir;
    QString AlertsConn;
    QString TradingConn;
};

// The real robot program, headless and watching on a workspace, with its output collected.
class TRobotProcess {
public:
    // Starts `exe` with --headless --watch --workdir on the workspace folder; `window` leaves out
    // --headless (the window then shows on the platform of QT_QPA_PLATFORM).
    TRobotProcess(const QString& exe, const TTestWorkspace& ws, bool window = false);
    ~TRobotProcess();
    // Collects output until `done` holds or `ms` pass; returns `done`.
    bool WaitFor(const std::function<bool()>& done, int ms);
    // Asks the robot to shut down in order; true when it ended with exit code 0 within `ms`.
    bool Stop(int ms = 10000);
    QProcess Process;
    QByteArray Out;
};

// An engine on a test workspace, with a manual clock inside the trading session and its settings
// pointing at the workspace. Errors the engine reports are collected instead of shown.
class TTestRobot {
public:
    explicit TTestRobot(TTestWorkspace& ws);
    ~TTestRobot();

    TTestWorkspace& Ws;
    TManualClock Clock;
    TJournal Journal;
    std::unique_ptr<TEngine> Engine;
    QStringList Errors;
    int Sounds = 0;

    TSettings& S() { return Engine->Settings; }
    // As a pass that an error ended leaves the ActiveOrders reader.
    void LeaveActivePassBusy() { Engine->ActiveBusy = true; }
    // The engine's registry, for transactions a test makes itself.
    TOrderRegistry& Registry() { return *Engine->Orders; }
    // A transaction whose line reached the file: a new order of alert `alertId` in `table`, for the
    // client `code`; `limit` makes it a limit order that lives in QUIK once accepted.
    qint32 RecordInFile(const QString& table, qint64 alertId, bool limit = false,
                        const QString& code = QStringLiteral("111"));
    // Connects both databases; fails the test when the connect did not succeed.
    bool Connect();
    // One table-timer tick as the timer runs it; false when it ended with an error.
    bool Tick();
    QStringList JournalTexts() const; // journal lines without their stamps
    QStringList TriLines() const;
};

#define KORVEX_TEST_INIT() QLocale::setDefault(QLocale::c())

// A fresh workspace and robot for every test function: a test class derives from it, calls
// StartRobot() in init() and StopRobot() in cleanup().
class TRobotFixture {
protected:
    std::unique_ptr<TTestWorkspace> Ws;
    std::unique_ptr<TTestRobot> R;
    void StartRobot(bool demoData, bool connect) {
        KORVEX_TEST_INIT();
        Ws = std::make_unique<TTestWorkspace>(demoData);
        R = std::make_unique<TTestRobot>(*Ws);
        if (connect && !R->Connect()) qFatal("the test databases did not connect");
    }
    void StopRobot() {
        R.reset();
        Ws.reset();
    }
};
