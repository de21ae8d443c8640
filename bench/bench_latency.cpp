// From an alert row committed by another process to its line in the .TRI file, with intTable 1:
// median and worst of 100 alerts, through the real headless program.
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int alerts = argc > 1 ? atoi(argv[1]) : 100;
    TTestWorkspace ws(true);
    ws.WriteRobotIni("rgpFilled=1\r\n");
    QProcess p;
    p.start(QStringLiteral(KORVEX_EXE), {"--headless", "--watch", "--workdir", ws.Path(".")});
    p.waitForStarted();
    QThread::msleep(1500);
    std::vector<double> ms;
    for (int i = 0; i < alerts; ++i) {
        const int before = ReadBytes(ws.TriPath()).count('\n');
        QElapsedTimer t;
        t.start();
        ws.InsertAlert("FilledOrders", {});
        QDeadlineTimer limit(5000);
        while (ReadBytes(ws.TriPath()).count('\n') == before && !limit.hasExpired()) QThread::msleep(2);
        ms.push_back(t.nsecsElapsed() / 1e6);
        QThread::msleep(113 * (i % 9));  // arrive at points spread over the timer period
    }
    p.terminate();  // SIGTERM here, a close request on Windows
    p.waitForFinished();
    std::sort(ms.begin(), ms.end());
    std::printf("alert row to .TRI line, intTable 1, %d alerts\n", alerts);
    std::printf("  median %7.1f ms   worst %7.1f ms\n", ms[ms.size() / 2], ms.back());
    return 0;
}
