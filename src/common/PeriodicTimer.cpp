#include "common/PeriodicTimer.h"

#include <limits>

TPeriodicTimer::TPeriodicTimer(QObject* parent) : QObject(parent) {
    // A coarse timer may fire up to 5 % late: a second's period would wait up to 50 ms more.
    Timer.setTimerType(Qt::PreciseTimer);
    connect(&Timer, &QTimer::timeout, this, &TPeriodicTimer::Tick);
}

void TPeriodicTimer::SetIntervalMs(qint64 ms) {
    if (ms == Interval) return;
    Interval = ms;
    Apply();
}

void TPeriodicTimer::SetEnabled(bool on) {
    if (on == On) return;
    On = on;
    Apply();
}

void TPeriodicTimer::Apply() {
    if (On && Interval > 0 && Interval <= std::numeric_limits<int>::max()) {
        Timer.start(static_cast<int>(Interval));
    } else {
        Timer.stop();
    }
}
