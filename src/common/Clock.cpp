#include "common/Clock.h"

QDateTime TClock::Now() const {
    return QDateTime::currentDateTime();
}

qint64 TClock::NowMs() const {
    return QDateTime::currentMSecsSinceEpoch();
}
