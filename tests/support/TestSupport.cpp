#include "support/TestSupport.h"

#include "DemoData.h"
#include "common/Codec.h"
#include "data/SchemaInstaller.h"
#include "data/SqlRun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QUuid>
#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

void EndWithThisProcess(QProcess& child) {
#ifdef Q_OS_LINUX
    child.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
#else
    Q_UNUSED(child);
#endif
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

QString ReadCp1251(const QString& path) {
    return Cp1251::Decode(ReadBytes(path));
}

void WriteBytes(const QString& path, const QByteArray& bytes, bool append) {
    QFile f(path);
    if (!f.open(append ? QIODevice::Append : (QIODevice::WriteOnly | QIODevice::Truncate)))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

TTestWorkspace::TTestWorkspace(bool demoData) {
    CreateDatabase(AlertsPath(), TDatabaseKind::Alerts);
    CreateDatabase(TradingPath(), TDatabaseKind::Trading);
    QDir(Dir.path()).mkdir(QStringLiteral("quik"));
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    AlertsConn = QStringLiteral("test-alerts-") + id;
    TradingConn = QStringLiteral("test-trading-") + id;
    QSqlDatabase a = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), AlertsConn);
    a.setDatabaseName(AlertsPath());
    a.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    a.open();
    QSqlDatabase t = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), TradingConn);
    t.setDatabaseName(TradingPath());
    t.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    t.open();
    if (demoData) FillDemoTradingData(t);
}

TTestWorkspace::~TTestWorkspace() {
    for (const QString& c : {AlertsConn, TradingConn}) {
        QSqlDatabase::database(c, false).close();
        QSqlDatabase::removeDatabase(c);
    }
}

QSqlDatabase TTestWorkspace::Alerts() const {
    return QSqlDatabase::database(AlertsConn, false);
}
void TTestWorkspace::ReopenAlerts() const {
    QSqlDatabase db = QSqlDatabase::database(AlertsConn, false);
    db.close();
    db.open();
}

QSqlDatabase TTestWorkspace::Trading() const {
    return QSqlDatabase::database(TradingConn, false);
}

qint64 TTestWorkspace::Insert(const QSqlDatabase& db, const QString& table, const QVariantMap& values) const {
    QStringList cols, marks;
    for (auto it = values.begin(); it != values.end(); ++it) {
        cols << QStringLiteral("\"%1\"").arg(it.key());
        marks << QStringLiteral("?");
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(table, cols.join(','), marks.join(',')));
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec()) qFatal("insert into %s failed: %s", qPrintable(table), qPrintable(q.lastError().text()));
    return q.lastInsertId().toLongLong();
}

qint64 TTestWorkspace::InsertAlert(const QString& table, const QVariantMap& values) const {
    QVariantMap row = {
        {QStringLiteral("Symbol"), QStringLiteral("SBER")},
        {QStringLiteral("Description"), QStringLiteral("Сбербанк")},
        {QStringLiteral("OrderType"), QStringLiteral("LE")},
        {QStringLiteral("Order"), QStringLiteral("Buy 100 at 285.40 Limit")},
        {QStringLiteral("System"), QStringLiteral("Breakout(20,2)")},
        {QStringLiteral("Workspace"), QStringLiteral("C:\\Omega\\MyWork\\Trend.orw")},
        {QStringLiteral("Signal"), QStringLiteral("BO-L")},
        {QStringLiteral("Interval"), QStringLiteral("5 min")},
    };
    if (table == QLatin1String("FilledOrders")) {
        row[QStringLiteral("Fill Price")] = 285.40;
        row[QStringLiteral("Time Filled")] = QStringLiteral("2026-01-15 11:00:00");
    }
    for (auto it = values.begin(); it != values.end(); ++it)
        row[it.key()] = it.value();
    return Insert(Alerts(), table, row);
}

void TTestWorkspace::SetActiveClients(int count) const {
    Exec(Trading(), "DELETE FROM tClients");
    for (int c = 0; c < count; ++c)
        Insert(Trading(), "tClients",
               {{"Code", QString::number(1000 + c)},
                {"AccountMicex", "L01"},
                {"AccountFORTS", "SPB"},
                {"Active", 1}});
}

void TTestWorkspace::PreloadAlerts(const QString& table, int count) const {
    const qint64 first = InsertAlert(table, {});
    QStringList cols;
    QSqlQuery info(Alerts());
    info.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table));
    while (info.next())
        if (info.value(1).toString().compare(QLatin1String("ID"), Qt::CaseInsensitive) != 0)
            cols << QLatin1Char('"') + info.value(1).toString() + QLatin1Char('"');
    info.finish();
    Exec(Alerts(),
         QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                        "INSERT INTO %2 (%3) SELECT %3 FROM %2, n WHERE %2.ID = %4")
             .arg(QString::number(count), table, cols.join(','), QString::number(first)));
}

void TTestWorkspace::Exec(const QSqlDatabase& db, const QString& sql) const {
    QSqlQuery q(db);
    if (!q.exec(sql)) qFatal("%s failed: %s", qPrintable(sql), qPrintable(q.lastError().text()));
}

void TTestWorkspace::WriteRobotIni(const QString& position, const QString& quik, const QString& mail) const {
    WriteBytes(Path(QStringLiteral("Korvex.ini")),
               QStringLiteral("[Position]\r\ntime1=0:00:00\r\ntime2=23:59:59\r\n%1"
                              "[Quik]\r\npathTRI=%2\r\npathTRO=%3\r\npathInfoLog=%4\r\nAlerts=%5\r\nQuikData="
                              "%6\r\nConnect=-1\r\nintTable=1\r\n%7"
                              "[Mail]\r\n%8")
                   .arg(position, TriPath(), TroPath(), InfoLogPath(), AlertsPath(), TradingPath(), quik,
                        mail.isEmpty() ? QStringLiteral("Email1=\r\nEmail2=\r\n") : mail)
                   .toUtf8());
}

QVariant TTestWorkspace::Scalar(const QSqlDatabase& db, const QString& sql) const {
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next()) return {};
    return q.value(0);
}

TRobotProcess::TRobotProcess(const QString& exe, const TTestWorkspace& ws, bool window) {
    Process.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args = {"--watch", "--workdir", ws.Path(".")};
    if (!window) args.prepend("--headless");
    EndWithThisProcess(Process);
    Process.start(exe, args);
    Process.waitForStarted();
}

TRobotProcess::~TRobotProcess() {
    if (Process.state() != QProcess::NotRunning) {
        Process.kill();
        Process.waitForFinished();
    }
}

bool TRobotProcess::WaitFor(const std::function<bool()>& done, int ms) {
    QDeadlineTimer t(ms);
    while (!done() && !t.hasExpired()) {
        Process.waitForReadyRead(100);
        Out += Process.readAll();
    }
    return done();
}

bool TRobotProcess::Stop(int ms) {
    Process.terminate(); // SIGTERM here, a close request on Windows
    const bool ended = Process.waitForFinished(ms);
    Out += Process.readAll();
    return ended && Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == 0;
}

TTestRobot::TTestRobot(TTestWorkspace& ws)
    : Ws(ws), Clock(QDateTime(QDate(2026, 1, 15), QTime(12, 0))), Journal(Clock) {
    Journal.Open(ws.Path(QStringLiteral("Korvex.log")));
    Engine = std::make_unique<TEngine>(Journal, Clock, ws.Path(QStringLiteral("Korvex.ini")));
    Engine->ErrorReport().ShowBox = [this](const QString& t) { Errors << t; };
    Engine->InformationSound = [this] { ++Sounds; };
    S().Alerts = ws.AlertsPath();
    S().QuikData = ws.TradingPath();
    S().pathTRI = ws.TriPath();
    S().pathTRO = ws.TroPath();
    S().pathInfoLog = ws.InfoLogPath();
    S().Email1.clear();
    S().Email2.clear();
    // Nothing here listens: a mail attempt fails at once and is only journalled.
    S().SMTP = QStringLiteral("127.0.0.1");
    S().Port = QStringLiteral("1");
}

TTestRobot::~TTestRobot() = default;

bool TTestRobot::Connect() {
    return Engine->RunEvent([this] { Engine->actConnectToBaseExecute(); }) &&
           Engine->DatMod().OmegaConnected();
}

bool TTestRobot::Tick() {
    return Engine->RunEvent([this] { Engine->timTable(); });
}

QStringList TTestRobot::JournalTexts() const {
    // A stamp is "date time "; the texts the tests compare never hold the stamp's pattern.
    QStringList out;
    static const QRegularExpression stamp(QStringLiteral("^\\d{1,2} \\w{3} \\d{4} \\d{1,2}:\\d{2}:\\d{2} "));
    for (const QString& l : Journal.Lines()) {
        QString t = l;
        t.remove(stamp);
        out << t;
    }
    return out;
}

QStringList TTestRobot::TriLines() const {
    QString text = ReadCp1251(Ws.TriPath());
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

qint32 TTestRobot::RecordInFile(const QString& table, qint64 alertId, bool limit, const QString& code) {
    TOrder o;
    o.Action = QStringLiteral("NEW_ORDER");
    o.Account = QStringLiteral("L01-00000F00");
    o.SecCode = o.Ticker = QStringLiteral("SBER");
    o.ClassCode = QStringLiteral("TQBR");
    o.ClientCode = code;
    o.Operation = QStringLiteral("B");
    o.Price = o.StopPrice = 100;
    o.Quantity = 1;
    o.Digits = 2;
    o.Filled = !limit;
    o.IdOrder = alertId;
    // Neither entry nor exit: the position book is not part of what such a test looks at.
    o.OrderType = QString();
    TOmegaOrder a;
    a.ID = alertId;
    a.Filled = table == QLatin1String("FilledOrders");
    a.Symbol = o.Ticker;
    a.OrderType = o.OrderType;
    const qint32 id = static_cast<qint32>(Engine->Registry().NextTransId());
    Engine->Writer().WriteTransaction(o, a);
    Engine->Writer().FlushTransactions();
    return id;
}
