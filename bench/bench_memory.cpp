// Resident memory of the robot in window mode (offscreen) after 10,000 and 100,000 transactions:
// group mode with 20 clients, the QUIK simulator answering every line, alerts pushed by this process.
// Goal: under 150 MB after 100,000. The transactions must really have gone out (counted in the file).
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <cstdio>

namespace {
double RssMb(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& l : f.readAll().split('\n'))
        if (l.startsWith("VmRSS:")) return l.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int target = argc > 1 ? atoi(argv[1]) : 100000;
    const int clients = 20;
    TTestWorkspace ws(true);
    ws.SetActiveClients(clients);
    ws.WriteRobotIni("rgpFilled=1\r\nrgpSingleMulti=1\r\n");
    QProcess robot, quik;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    robot.setProcessEnvironment(env);
    EndWithThisProcess(robot);
    EndWithThisProcess(quik);
    robot.start(QStringLiteral(KORVEX_EXE), {"--watch", "--workdir", ws.Path(".")});
    robot.waitForStarted();
    QDeadlineTimer up(20000);
    while (!ReadBytes(ws.Path("Korvex.log")).contains(QByteArray("\xc7\xe0\xe3\xf0\xf3\xe7\xea\xe0")) &&
           !up.hasExpired())
        QThread::msleep(50);
    quik.start(QStringLiteral(QUIKSIM_EXE),
               {"--tri", ws.TriPath(), "--tro", ws.TroPath(), "--infolog", ws.InfoLogPath(), "--trading",
                ws.TradingPath(), "--poll-ms", "50", "--quotes-ms", "1000"});
    quik.waitForStarted();
    std::printf("window mode (offscreen), %d clients; start: %.1f MB\n", clients, RssMb(robot.processId()));
    auto lines = [&] { return ReadBytes(ws.TriPath()).count("\r\n"); };
    int sent = 0, reported = 0;
    const int marks[] = {10000, target};
    for (int mark : marks) {
        if (mark > target || mark <= reported) continue;
        while (sent * clients < mark) {
            ws.Exec(ws.Alerts(), "BEGIN");
            for (int i = 0; i < 25; ++i)
                ws.InsertAlert("FilledOrders", {});
            ws.Exec(ws.Alerts(), "COMMIT");
            sent += 25;
            QThread::msleep(100);
        }
        QDeadlineTimer limit(600000);
        while (lines() < mark && !limit.hasExpired())
            QThread::msleep(500);
        QThread::msleep(3000); // the results of the last ones, the grids refreshed
        const int n = lines();
        std::printf("  after %7d transactions: %6.1f MB%s\n", n, RssMb(robot.processId()),
                    n < mark ? "   (NOT ALL SENT)" : "");
        reported = mark;
    }
    quik.kill();
    quik.waitForFinished();
    robot.terminate();
    robot.waitForFinished(20000);
    return 0;
}
