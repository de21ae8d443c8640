#include "common/Clock.h"

#include <QElapsedTimer>

QDateTime TClock::Now() const {
    return QDateTime::currentDateTime();
}

qint64 TClock::NowMs() const {
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 TClock::MonotonicMs() const {
    static const QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.elapsed();
}
