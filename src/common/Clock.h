#pragma once

#include <QDateTime>

// The robot's sense of "now": trading hours, journal stamps. Tests put a manual clock in its place.
class TClock {
public:
    virtual ~TClock() = default;
    virtual QDateTime Now() const;
    // The same moment as milliseconds since the epoch, without the local time zone's arithmetic:
    // what intervals and ages are measured in.
    virtual qint64 NowMs() const;
    // Milliseconds on a clock that never jumps (the wall clock may be set back or forward): what ages,
    // retry periods and the breaker's minute are measured on. Its zero means nothing.
    virtual qint64 MonotonicMs() const;
};

class TManualClock : public TClock {
public:
    explicit TManualClock(QDateTime at = QDateTime(QDate(2026, 1, 15), QTime(12, 0))) { Set(at); }
    QDateTime Now() const override { return At; }
    qint64 NowMs() const override { return AtMs; }
    qint64 MonotonicMs() const override { return AtMs; }
    void Set(const QDateTime& at) {
        At = at;
        AtMs = at.toMSecsSinceEpoch();
    }
    void SetTime(const QTime& t) {
        QDateTime at = At;
        at.setTime(t);
        Set(at);
    }

private:
    QDateTime At;
    qint64 AtMs = 0;
};
