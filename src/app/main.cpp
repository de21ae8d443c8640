#include "app/Application.h"

#include <QtGlobal>
#ifndef Q_OS_WIN
#include <csignal>
#endif

int main(int argc, char** argv) {
#ifndef Q_OS_WIN
    // A file that reaches its size limit must fail the write, not end the robot.
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader of standard output or a mail server that went away fails the write, not the robot.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    return RunKorvex(argc, argv);
}
