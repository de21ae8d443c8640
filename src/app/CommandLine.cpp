#include "app/CommandLine.h"

namespace {

const char* const Usage = "Usage: korvex [--headless] [--watch] [--workdir DIR]\n"
                          "       korvex --help | --version\n";

void Fail(QString* error, const QString& text) {
    if (error) *error = text + QLatin1Char('\n') + QLatin1String(Usage);
}

} // namespace

std::optional<TCommandLine> ParseCommandLine(const QStringList& args, QString* error, TQtOptions qtOptions) {
    TCommandLine cl;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--headless")) {
            cl.Headless = true;
        } else if (a == QLatin1String("--watch")) {
            cl.Watch = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            cl.Help = true;
        } else if (a == QLatin1String("--version")) {
            cl.Version = true;
        } else if (a == QLatin1String("--workdir")) {
            if (i + 1 >= args.size()) {
                Fail(error, QStringLiteral("--workdir needs a folder"));
                return std::nullopt;
            }
            cl.WorkDir = args[++i];
        } else if (a.startsWith(QLatin1String("--workdir="))) {
            cl.WorkDir = a.mid(10);
        } else if (qtOptions == TQtOptions::Pass && !a.startsWith(QLatin1String("--"))) {
            // A Qt option or its value: the application object takes it out, or the second pass rejects it.
        } else {
            Fail(error, QStringLiteral("Unknown argument: %1").arg(a));
            return std::nullopt;
        }
    }
    return cl;
}

QString CommandLineHelp() {
    return QLatin1String(Usage) +
           QStringLiteral("\n"
                          "Korvex, a trading robot: sends the strategy platform's order alerts to the QUIK\n"
                          "terminal as transactions and reads QUIK's results back.\n"
                          "\n"
                          "  --workdir DIR  make DIR the working folder (Korvex.ini, Korvex.log) first\n"
                          "  --headless     run without a window; the journal is also printed to standard\n"
                          "                 output; SIGINT or SIGTERM shuts the robot down\n"
                          "  --watch        start watching once both databases are connected\n"
                          "  -h, --help     print this help and exit\n"
                          "  --version      print the version and exit\n"
                          "\n"
                          "Exit status: 0 after a normal shutdown, 1 when the journal cannot be opened,\n"
                          "2 for a bad argument or an unusable working folder.\n"
                          "See korvex(1) and the help pages in the program (F1).\n");
}

QString CommandLineVersion() {
    return QStringLiteral("korvex " KORVEX_VERSION "\n");
}
