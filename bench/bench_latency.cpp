// From an alert row committed by another process (this one) to its line in the .TRI file, through
// the real headless robot: with intTable 1 s, waking on change and plain polling, for one account and
// for a group of 20 clients; then from a .TRO line written by another process to its tOrderNumber
// row updated. Arrivals are spread evenly over the timer period, the clock starts after the commit,
// and every alert must arrive with all its lines. Three runs of each; min/median/max.
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <algorithm>
#include <cstdio>

namespace {
struct TFigures {
    double Median = 0, Worst = 0;
    bool Complete = true;
};

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One run: `alerts` alerts to the robot, then as many result lines.
std::pair<TFigures, TFigures> Run(bool wake, int clients, int alerts) {
    TTestWorkspace ws(true);
    ws.SetActiveClients(std::max(clients, 1));
    ws.WriteRobotIni(QStringLiteral("rgpFilled=1\r\nrgpSingleMulti=%1\r\n").arg(clients > 1 ? 1 : 0),
                     QStringLiteral("WakeOnChange=%1\r\n").arg(wake ? "-1" : "0"));
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice()); // the echoed journal: a full pipe would stop the robot
    EndWithThisProcess(p);
    p.start(QStringLiteral(KORVEX_EXE), {"--headless", "--watch", "--workdir", ws.Path(".")});
    p.waitForStarted();
    QDeadlineTimer up(20000);
    while (!ReadBytes(ws.Path("Korvex.log")).contains("\r\n") && !up.hasExpired())
        QThread::msleep(20);
    QThread::msleep(1500);
    auto size = [&] { return QFileInfo(ws.TriPath()).size(); };
    std::vector<double> toLine, toRow;
    TFigures lines, results;
    // A first alert, not measured, puts the next arrivals in step with the robot's tick when polling:
    // each following one waits its share of the period after the last line arrived.
    ws.InsertAlert("FilledOrders", {});
    QDeadlineTimer first(5000);
    while (size() == 0 && !first.hasExpired())
        QThread::usleep(200);
    const int warmUpLines = static_cast<int>(ReadBytes(ws.TriPath()).count("\r\n"));
    const int perAlert = std::max(clients, 1);
    int expectedLines = warmUpLines;
    // The shares are the midpoints of `alerts` equal slices of the period, in random order: the
    // arrivals cover the period evenly, without a sample's own scatter.
    std::vector<int> delays(alerts);
    for (int i = 0; i < alerts; ++i)
        delays[i] = static_cast<int>((i + 0.5) * 1000.0 / alerts);
    std::shuffle(delays.begin(), delays.end(), *QRandomGenerator::global());
    for (int i = 0; i < alerts; ++i) {
        QThread::msleep(delays[i]);
        ws.InsertAlert("FilledOrders", {});
        QElapsedTimer t;
        t.start(); // after the commit
        expectedLines += perAlert;
        QDeadlineTimer limit(5000);
        // Polling the file's size is cheap; the line count is checked once the size moved.
        while (!limit.hasExpired()) {
            const qint64 s = size();
            if (s > 0 && ReadBytes(ws.TriPath()).count("\r\n") >= expectedLines) break;
            QThread::usleep(200);
        }
        toLine.push_back(t.nsecsElapsed() / 1e6);
        if (limit.hasExpired()) lines.Complete = false;
    }
    // Results: QUIK's line for each transaction, then its row updated.
    std::shuffle(delays.begin(), delays.end(), *QRandomGenerator::global());
    for (int i = 0; i < alerts; ++i) {
        QThread::msleep(delays[i]);
        const int trans = warmUpLines + i * perAlert;
        WriteBytes(
            ws.TroPath(),
            QStringLiteral("TRANS_ID=%1;STATUS=3;ORDER_NUMBER=%2;\r\n").arg(trans).arg(5000 + trans).toUtf8(),
            true);
        QElapsedTimer t;
        t.start();
        QDeadlineTimer limit(5000);
        const QString sql =
            QStringLiteral("SELECT order_number FROM tOrderNumber WHERE trans_id = %1").arg(trans);
        while (ws.Scalar(ws.Trading(), sql).toInt() != 5000 + trans && !limit.hasExpired())
            QThread::usleep(200);
        toRow.push_back(t.nsecsElapsed() / 1e6);
        if (limit.hasExpired()) results.Complete = false;
    }
    p.terminate();
    p.waitForFinished();
    lines.Median = Median(toLine);
    lines.Worst = *std::max_element(toLine.begin(), toLine.end());
    results.Median = Median(toRow);
    results.Worst = *std::max_element(toRow.begin(), toRow.end());
    return {lines, results};
}

void Print(const char* what, const std::vector<TFigures>& runs) {
    std::vector<double> med, worst;
    bool complete = true;
    for (const TFigures& f : runs) {
        med.push_back(f.Median);
        worst.push_back(f.Worst);
        complete = complete && f.Complete;
    }
    std::sort(med.begin(), med.end());
    std::sort(worst.begin(), worst.end());
    std::printf("  %-34s median %6.1f / %6.1f / %6.1f ms   worst %6.1f / %6.1f / %6.1f ms%s\n", what,
                med.front(), med[med.size() / 2], med.back(), worst.front(), worst[worst.size() / 2],
                worst.back(), complete ? "" : "   SOME NEVER ARRIVED");
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int alerts = argc > 1 ? atoi(argv[1]) : 40;
    // "wake" or "poll" for one mode only; both by default.
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    std::printf(
        "alert committed -> .TRI line, result line -> tOrderNumber row; intTable 1 s, %d alerts a run,\n"
        "min / median / max over 3 runs\n",
        alerts);
    for (bool wake : {true, false})
        for (int clients : {1, 20}) {
            if ((only == "wake" && !wake) || (only == "poll" && wake)) continue;
            std::vector<TFigures> lines, results;
            for (int run = 0; run < 3; ++run) {
                auto [l, r] = Run(wake, clients, alerts);
                lines.push_back(l);
                results.push_back(r);
            }
            const QByteArray name = QStringLiteral("%1, %2 %3")
                                        .arg(wake ? "waking" : "polling")
                                        .arg(clients)
                                        .arg(clients == 1 ? "account" : "clients")
                                        .toUtf8();
            Print(QByteArray(name + ": alert -> line").constData(), lines);
            Print(QByteArray(name + ": result -> row").constData(), results);
        }
    return 0;
}
