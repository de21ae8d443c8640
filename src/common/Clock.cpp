#include "common/Clock.h"

QDateTime TClock::Now() const {
    return QDateTime::currentDateTime();
}
