#pragma once

#include <QStringList>
#include <memory>

// Prints journal lines to a file descriptor (standard output) from a thread of its own: a reader that
// stops reading (a full pipe) holds up that thread, never the robot, and a reader that went away
// ends the printing, not the robot. While the reader lags, at most MaxQueued lines wait; the ones
// beyond are left out and their number printed when it reads again. The journal file has them all.
class TConsoleEcho {
public:
    explicit TConsoleEcho(int fd);
    // Waits up to a second for what is queued to be printed; a reader that still does not read is
    // left behind.
    ~TConsoleEcho();
    TConsoleEcho(const TConsoleEcho&) = delete;
    TConsoleEcho& operator=(const TConsoleEcho&) = delete;

    void Add(const QStringList& lines);

    static constexpr int MaxQueued = 10000;

private:
    struct TState;
    std::shared_ptr<TState> State;
};
