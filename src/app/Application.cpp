#include "app/Application.h"

#include "app/CommandLine.h"
#include "app/SignalWatcher.h"
#include "common/Clock.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/ProgramFiles.h"
#include "notify/MailNotifier.h"
#include "quik/TransactionWriter.h"
#include "robot/Engine.h"
#include "robot/StartupRecovery.h"
#include "ui/MainWindow.h"
#include "ui/QtTranslations.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QMessageBox>
#include <cstdio>
#include <memory>

namespace {

const char* const ApplicationTitle = "Korvex v 2.0";

QStringList RawArguments(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

void Fail(bool headless, const QString& text) {
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    if (!headless) QMessageBox::critical(nullptr, QString::fromLatin1(ApplicationTitle), text);
}

} // namespace

int RunKorvex(int argc, char** argv) {
    // --help, --version and a bad option are answered before any application object exists: they need
    // no display, and a window system that is not there must not turn a typo into a crash.
    QString error;
    const auto early = ParseCommandLine(RawArguments(argc, argv), &error, TQtOptions::Pass);
    if (!early) {
        std::fputs(error.toLocal8Bit().constData(), stderr);
        return 2;
    }
    if (early->Help || early->Version) {
        std::fputs((early->Help ? CommandLineHelp() : CommandLineVersion()).toLocal8Bit().constData(),
                   stdout);
        return 0;
    }
    const bool headless = early->Headless;
    std::unique_ptr<QCoreApplication> app;
    if (headless) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
        // Only closing the main window ends the program: the window may be hidden in the tray while
        // the About box or the help is the last window to close.
        QApplication::setQuitOnLastWindowClosed(false);
        // The desktop matches the window to the installed menu entry and its icon by this name.
        QGuiApplication::setDesktopFileName(QStringLiteral("example.korvex.Korvex"));
        InstallQtTranslations(QLocale());
    }
    QCoreApplication::setApplicationName(QStringLiteral("Korvex"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVEX_VERSION));
    // A termination request during start-up is honoured as soon as the event loop runs. It stops in
    // order without a question, watching or not.
    TSignalWatcher signalWatcher;
    QString exitReason = headless ? QStringLiteral("без окна") : QStringLiteral("окно закрыто");
    std::unique_ptr<TfmMain> window;
    QObject::connect(
        &signalWatcher, &TSignalWatcher::Terminate, app.get(),
        [&exitReason, &window] {
            exitReason = QStringLiteral("получен сигнал завершения");
            // Quitting closes the window: it must not wait for an answer to its exit question.
            if (window) window->AskOnExit = false;
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);

    const auto cl = ParseCommandLine(QCoreApplication::arguments(), &error);
    if (!cl) {
        std::fputs(error.toLocal8Bit().constData(), stderr);
        return 2;
    }
    if (!cl->WorkDir.isEmpty() && !QDir::setCurrent(cl->WorkDir)) {
        Fail(headless, QStringLiteral("Рабочая папка недоступна: %1").arg(cl->WorkDir));
        return 2;
    }

    // One robot per workdir: a second one is refused before it touches anything, its journal included.
    const std::unique_ptr<QLockFile> workDirLock = TStartupRecovery::LockWorkDir(QDir::currentPath(), &error);
    if (!workDirLock) {
        Fail(headless, error);
        return 1;
    }

    // 1. The journal comes first: everything after it can report.
    TClock clock;
    TJournal journal(clock);
    journal.SetEcho(headless);
    QObject::connect(&journal, &TJournal::WriteFailed, [](const QString& message) {
        std::fprintf(stderr, "%s. Торговля продолжается, строки журнала ждут записи.\n",
                     message.toUtf8().constData());
    });
    QObject::connect(&journal, &TJournal::WriteRecovered,
                     [] { std::fprintf(stderr, "Журнал снова записывается.\n"); });
    if (!journal.Open(QDir::current().filePath(QStringLiteral("Korvex.log")), &error)) {
        Fail(headless, error);
        return 1;
    }
    // A restart is found in Korvex.log by this line.
    journal.AddJournalLine(QStringLiteral("Korvex %1 запущен%2, рабочая папка %3.")
                               .arg(QStringLiteral(KORVEX_VERSION),
                                    headless ? QStringLiteral(" без окна") : QString(),
                                    QDir::toNativeSeparators(QDir::currentPath())));
    // The help and the icons are read from files beside the program: an installation that lost them
    // still trades, and says so.
    for (const QString& file : MissingProgramFiles())
        journal.AddJournalLine(QStringLiteral("Не найден файл программы: %1").arg(file));

    int exitCode = 0;
    {
        // 2-3. The long-lived objects: the robot's state, the window, the settings.
        TEngine engine(journal, clock, QDir::current().filePath(QStringLiteral("Korvex.ini")));
        if (!headless) {
            window = std::make_unique<TfmMain>(engine);
            engine.ErrorReport().ShowBox = [](const QString& text) {
                QMessageBox::critical(nullptr, QString::fromLatin1(ApplicationTitle), text);
            };
            engine.InformationSound = [] { QApplication::beep(); };
        }
        engine.RunEvent([&] { engine.LoadSettings(); });
        engine.RunEvent([&] { engine.Mail().CheckSettings(); });

        // One robot per .TRI, whatever its workdir: two would give QUIK the same numbers.
        if (!engine.LockTransactionFile(&error)) {
            journal.AddJournalLine(error);
            journal.FlushJournal();
            window.reset();
            Fail(headless, error);
            journal.Close();
            return 1;
        }

        // 4-6. QUIK's files, the databases, the first size of QUIK's log.
        engine.PrepareTransactionFiles();
        engine.ConnectAtStartUp();
        engine.RunEvent([&] { journal.FlushJournal(); });

        if (cl->Watch) {
            engine.RunEvent([&] {
                if (engine.DatMod().OmegaConnected() && engine.DatMod().QuikDataConnected() &&
                    engine.Actions().actStartWatch)
                    engine.actStartWatchExecute();
            });
        }

        // 7. The event loop.
        if (window) {
            QObject::connect(window.get(), &TfmMain::Closed, app.get(), &QCoreApplication::quit);
            window->ShowAsLeft();
        }
        exitCode = app->exec();

        // Shutdown: lines still waiting for the .TRI file never go out; the book takes back what they
        // did, and the journal names each of them.
        engine.Shutdown();
        int live = 0;
        try {
            live = engine.PullAllOrdersCount();
        } catch (const std::exception&) {
            live = -1;
        }
        journal.AddJournalLine(
            QStringLiteral("Korvex %1 завершает работу (%2)%3.")
                .arg(QStringLiteral(KORVEX_VERSION), exitReason,
                     (engine.Watching() ? QStringLiteral(", загрузка была включена") : QString()) +
                         (live > 0 ? QStringLiteral(", заявок робота в Quik: %1").arg(live) : QString())));
        journal.FlushJournal();
        window.reset();
    }
    journal.Close();
    return exitCode;
}
