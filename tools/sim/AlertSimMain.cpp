// korvex-alertsim: the strategy platform's side of the alerts database, for demos and tests.
#include "AlertSimulator.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString alerts, trading;
    double rate = 3;
    int count = -1;
    bool all = false;
    quint32 seed = 7;
    const QStringList a = app.arguments();
    for (int i = 1; i < a.size(); ++i) {
        auto next = [&]() { return i + 1 < a.size() ? a[++i] : QString(); };
        if (a[i] == "--alerts")
            alerts = next();
        else if (a[i] == "--trading")
            trading = next();
        else if (a[i] == "--rate")
            rate = next().toDouble();
        else if (a[i] == "--count")
            count = next().toInt();
        else if (a[i] == "--all")
            all = true;
        else if (a[i] == "--seed")
            seed = next().toUInt();
        else {
            std::fprintf(
                stderr,
                "Usage: korvex-alertsim --alerts DB --trading DB [--rate SECONDS] [--count N] [--all] "
                "[--seed N]\n"
                "Writes alert rows as the strategy platform does: one event every SECONDS (default 3),\n"
                "N events in all (default: until stopped), or N events at once with --all.\n");
            return 2;
        }
    }
    if (alerts.isEmpty() || trading.isEmpty()) return 2;
    TAlertSimulator sim(alerts, trading, seed);
    if (all) {
        for (int i = 0; i < std::max(count, 1); ++i)
            std::printf("%s\n", sim.Step().toUtf8().constData());
        return 0;
    }
    QTimer timer;
    int done = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        std::printf("%s\n", sim.Step().toUtf8().constData());
        std::fflush(stdout);
        if (count > 0 && ++done >= count) app.quit();
    });
    timer.start(static_cast<int>(rate * 1000));
    return app.exec();
}
