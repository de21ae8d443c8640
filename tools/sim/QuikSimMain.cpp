// korvex-quiksim: the QUIK terminal's side of the files and tables, for demos and tests.
#include "QuikSimulator.h"
#include "common/FileNames.h"
#include "settings/SettingsFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
#ifndef Q_OS_WIN
int Pipe[2];
void OnSignal(int sig) {
    char c = static_cast<char>(sig);
    [[maybe_unused]] auto n = ::write(Pipe[0], &c, 1);
}
#endif
int Usage() {
    std::fprintf(stderr,
                 "Usage: korvex-quiksim --workdir DIR | --tri F --tro F --infolog F --trading DB\n"
                 "       [--poll-ms 200] [--log-ms 1000] [--quotes-ms 2000] [--history F]\n"
                 "Answers the robot's .TRI lines in the .TRO file, grows info.log, exports quotes.\n"
                 "The file <info.log>.down drops the server link while it exists (info.log stops growing);\n"
                 "on POSIX systems SIGUSR1 drops it and SIGUSR2 restores it as well.\n");
    return 2;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TQuikSimulator::TPaths paths;
    int pollMs = 200, logMs = 1000, quotesMs = 2000;
    QString history;
    const QStringList a = app.arguments();
    for (int i = 1; i < a.size(); ++i) {
        auto next = [&]() { return i + 1 < a.size() ? a[++i] : QString(); };
        if (a[i] == "--workdir") {
            TSettings s;
            TSettingsFile(QDir(next()).filePath(QStringLiteral("Korvex.ini"))).Load(s);
            paths = {LocalFilePath(s.pathTRI), LocalFilePath(s.pathTRO), LocalFilePath(s.pathInfoLog),
                     LocalFilePath(s.QuikData)};
        } else if (a[i] == "--tri")
            paths.Tri = next();
        else if (a[i] == "--tro")
            paths.Tro = next();
        else if (a[i] == "--infolog")
            paths.InfoLog = next();
        else if (a[i] == "--trading")
            paths.TradingDb = next();
        else if (a[i] == "--history")
            history = next();
        else if (a[i] == "--poll-ms")
            pollMs = next().toInt();
        else if (a[i] == "--log-ms")
            logMs = next().toInt();
        else if (a[i] == "--quotes-ms")
            quotesMs = next().toInt();
        else
            return Usage();
    }
    if (paths.Tri.isEmpty() || paths.Tro.isEmpty()) return Usage();
    TQuikSimulator sim(paths);
    sim.SetHistory(history);

#ifndef Q_OS_WIN
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, Pipe);
    QSocketNotifier notifier(Pipe[1], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char c;
        if (::read(Pipe[1], &c, 1) != 1) return;
        if (c == SIGUSR1)
            sim.SetConnected(false);
        else if (c == SIGUSR2)
            sim.SetConnected(true);
        else
            app.quit();
        std::fprintf(stderr, "quiksim: server link %s\n", sim.IsConnected() ? "up" : "down");
    });
    for (int s : {SIGUSR1, SIGUSR2, SIGINT, SIGTERM})
        std::signal(s, OnSignal);
#endif

    QTimer poll, log, quotes;
    QObject::connect(&poll, &QTimer::timeout, [&] { sim.AnswerTransactions(); });
    QObject::connect(&log, &QTimer::timeout, [&] { sim.GrowInfoLog(); });
    // Exported on every period, as QUIK does; a failed export is said and tried again next time.
    auto exportQuotes = [&] {
        const QString error = sim.ExportQuotes();
        if (!error.isEmpty())
            std::fprintf(stderr, "quiksim: quotes and portfolios not exported: %s\n",
                         error.toUtf8().constData());
    };
    QObject::connect(&quotes, &QTimer::timeout, exportQuotes);
    poll.start(pollMs);
    log.start(logMs);
    if (!paths.TradingDb.isEmpty() && quotesMs > 0) {
        exportQuotes();
        quotes.start(quotesMs);
    }
    sim.GrowInfoLog();
    return app.exec();
}
