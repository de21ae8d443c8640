// From an alert row committed by another process (this one) to its line in the .TRI file, through
// the real headless robot: with intTable 1 s, waking on change and plain polling, for one account and
// for a group of 20 clients; then from a .TRO line written by another process to its tOrderNumber
// row updated. Arrivals are spread evenly over the timer period, the clock starts after the commit,
// and every alert must arrive with all its lines. Three runs of each; min/median/max.
// The one-account cases run again with a mail for every transaction (SendTrans_id on) to an SMTP
// server that takes the connection and never answers, each such run interleaved with its run without
// mail: the mail queue must not hold a line back.
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QThread>
#include <algorithm>
#include <cstdio>

namespace {
struct TFigures {
    double Median = 0, Worst = 0;
    bool Complete = true;
    bool MailWaited = true; // with mail on: the robot's mails were still waiting on the silent server
};

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One run: `alerts` alerts to the robot, then as many result lines. With `silentMailPort`, every
// transaction's mail goes to the server on that port.
std::pair<TFigures, TFigures> Run(bool wake, int clients, int alerts, quint16 silentMailPort = 0) {
    TTestWorkspace ws(true);
    ws.SetActiveClients(std::max(clients, 1));
    ws.WriteRobotIni(QStringLiteral("rgpFilled=1\r\nrgpSingleMulti=%1\r\n").arg(clients > 1 ? 1 : 0),
                     QStringLiteral("WakeOnChange=%1\r\n").arg(wake ? "-1" : "0"),
                     silentMailPort == 0 ? QString()
                                         : QStringLiteral("SMTP=127.0.0.1\r\nPort=%1\r\n"
                                                          "Email1=ops@example.test\r\nSendTrans_id=-1\r\n")
                                               .arg(silentMailPort));
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
    // With mail waiting, the queue gets up to the reply limit at exit.
    p.waitForFinished(120000);
    if (silentMailPort != 0)
        lines.MailWaited = ReadCp1251(ws.Path("Korvex.log"))
                               .contains(QStringLiteral("Очередь писем остановлена при выходе"));
    lines.Median = Median(toLine);
    lines.Worst = *std::max_element(toLine.begin(), toLine.end());
    results.Median = Median(toRow);
    results.Worst = *std::max_element(toRow.begin(), toRow.end());
    return {lines, results};
}

void Print(const char* what, const std::vector<TFigures>& runs) {
    std::vector<double> med, worst;
    bool complete = true, mailWaited = true;
    for (const TFigures& f : runs) {
        med.push_back(f.Median);
        worst.push_back(f.Worst);
        complete = complete && f.Complete;
        mailWaited = mailWaited && f.MailWaited;
    }
    std::sort(med.begin(), med.end());
    std::sort(worst.begin(), worst.end());
    std::printf("  %-48s median %6.1f / %6.1f / %6.1f ms   worst %6.1f / %6.1f / %6.1f ms%s%s\n", what,
                med.front(), med[med.size() / 2], med.back(), worst.front(), worst[worst.size() / 2],
                worst.back(), complete ? "" : "   SOME NEVER ARRIVED",
                mailWaited ? "" : "   NO MAIL WAITED ON THE SERVER");
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int alerts = argc > 1 ? atoi(argv[1]) : 40;
    // "wake" or "poll" for one mode only; "mail" for the one-account cases without and with mail only.
    QList<QByteArray> words;
    for (int i = 2; i < argc; ++i)
        words << QByteArray(argv[i]);
    const bool onlyWake = words.contains("wake"), onlyPoll = words.contains("poll");
    const bool onlyMail = words.contains("mail");
    // Connections wait in the listen queue, never accepted: the robot's mail gets no greeting.
    QTcpServer silent;
    silent.setMaxPendingConnections(1);
    if (!silent.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    silent.pauseAccepting();
    std::printf(
        "alert committed -> .TRI line, result line -> tOrderNumber row; intTable 1 s, %d alerts a run,\n"
        "min / median / max over 3 runs\n",
        alerts);
    for (bool wake : {true, false})
        for (int clients : {1, 20}) {
            if ((onlyWake && !wake) || (onlyPoll && wake) || (onlyMail && clients != 1)) continue;
            const bool withMail = clients == 1;
            std::vector<TFigures> lines, results, mailLines, mailResults;
            for (int run = 0; run < 3; ++run) {
                auto [l, r] = Run(wake, clients, alerts);
                lines.push_back(l);
                results.push_back(r);
                if (!withMail) continue;
                auto [ml, mr] = Run(wake, clients, alerts, silent.serverPort());
                mailLines.push_back(ml);
                mailResults.push_back(mr);
            }
            const QByteArray name = QStringLiteral("%1, %2 %3")
                                        .arg(wake ? "waking" : "polling")
                                        .arg(clients)
                                        .arg(clients == 1 ? "account" : "clients")
                                        .toUtf8();
            Print(QByteArray(name + ": alert -> line").constData(), lines);
            Print(QByteArray(name + ": result -> row").constData(), results);
            if (!withMail) continue;
            Print(QByteArray(name + ", silent mail: alert -> line").constData(), mailLines);
            Print(QByteArray(name + ", silent mail: result -> row").constData(), mailResults);
        }
    return 0;
}
