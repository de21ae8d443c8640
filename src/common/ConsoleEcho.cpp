#include "common/ConsoleEcho.h"

#include <QByteArray>
#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {
qint64 WriteSome(int fd, const char* data, qint64 size) {
#ifdef Q_OS_WIN
    return _write(fd, data, static_cast<unsigned>(std::min<qint64>(size, 1 << 30)));
#else
    return ::write(fd, data, static_cast<size_t>(size));
#endif
}
} // namespace

// Shared with the printing thread, which may outlive the echo when its reader never reads again.
struct TConsoleEcho::TState {
    int Fd = -1;
    std::mutex Lock;
    std::condition_variable Wake;
    std::condition_variable Drained;
    std::deque<QByteArray> Queue;
    qint64 LeftOut = 0;
    bool Stopping = false;
    bool Busy = false;   // the thread is printing what it took from the queue
    bool Broken = false; // the reader went away: nothing more is printed

    static QByteArray Note(qint64 leftOut) {
        return "(" + QByteArray::number(leftOut) +
               " journal lines not printed: standard output was not read; the journal file has them)\n";
    }

    // Whole bytes or nothing more: false when the reader is gone.
    bool WriteAll(const QByteArray& bytes) const {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const qint64 n = WriteSome(Fd, bytes.constData() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += n;
        }
        return true;
    }

    void Run() {
        std::unique_lock<std::mutex> lock(Lock);
        for (;;) {
            Wake.wait(lock, [this] { return Stopping || !Queue.empty() || LeftOut > 0; });
            if (Queue.empty() && LeftOut == 0) break; // stopping, all printed
            QByteArray bytes;
            while (!Queue.empty()) {
                bytes += Queue.front();
                Queue.pop_front();
            }
            // The lines left out came after all that was queued.
            if (LeftOut > 0) {
                bytes += Note(LeftOut);
                LeftOut = 0;
            }
            Busy = true;
            lock.unlock();
            const bool ok = WriteAll(bytes);
            lock.lock();
            Busy = false;
            if (!ok) {
                Broken = true;
                Queue.clear();
                LeftOut = 0;
            }
            Drained.notify_all();
            if (Broken) break;
        }
        Busy = false;
        Drained.notify_all();
    }
};

TConsoleEcho::TConsoleEcho(int fd) : State(std::make_shared<TState>()) {
    State->Fd = fd;
    std::thread([state = State] { state->Run(); }).detach();
}

TConsoleEcho::~TConsoleEcho() {
    std::unique_lock<std::mutex> lock(State->Lock);
    State->Stopping = true;
    State->Wake.notify_all();
    State->Drained.wait_for(lock, std::chrono::seconds(1),
                            [this] { return State->Broken || (State->Queue.empty() && !State->Busy); });
}

void TConsoleEcho::Add(const QStringList& lines) {
    std::lock_guard<std::mutex> lock(State->Lock);
    if (State->Broken) return;
    for (const QString& l : lines) {
        if (static_cast<int>(State->Queue.size()) >= MaxQueued) {
            ++State->LeftOut;
            continue;
        }
        if (State->LeftOut > 0) {
            State->Queue.push_back(TState::Note(State->LeftOut));
            State->LeftOut = 0;
        }
        State->Queue.push_back(l.toUtf8() + '\n');
    }
    State->Wake.notify_one();
}
