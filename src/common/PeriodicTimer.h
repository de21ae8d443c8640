#pragma once

#include <QObject>
#include <QTimer>

// A timer with an "enabled" switch and a period that may be 0: it fires only while enabled with a
// period above 0. (A QTimer with interval 0 would fire on every pass of the event loop.)
class TPeriodicTimer : public QObject {
    Q_OBJECT
public:
    explicit TPeriodicTimer(QObject* parent = nullptr);

    // A period that differs from the current one starts the period anew.
    void SetIntervalMs(qint64 ms);
    qint64 IntervalMs() const { return Interval; }
    void SetEnabled(bool on);
    bool Enabled() const { return On; }
    // True when ticks actually arrive.
    bool IsTicking() const { return Timer.isActive(); }

signals:
    void Tick();

private:
    void Apply();
    QTimer Timer;
    qint64 Interval = 1000;
    bool On = false;
};
