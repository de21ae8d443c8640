#include "app/CommandLine.h"

std::optional<TCommandLine> ParseCommandLine(const QStringList& args, QString* error) {
    TCommandLine cl;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--headless")) {
            cl.Headless = true;
        } else if (a == QLatin1String("--watch")) {
            cl.Watch = true;
        } else if (a == QLatin1String("--workdir")) {
            if (i + 1 >= args.size()) {
                if (error) *error = QStringLiteral("--workdir needs a folder");
                return std::nullopt;
            }
            cl.WorkDir = args[++i];
        } else if (a.startsWith(QLatin1String("--workdir="))) {
            cl.WorkDir = a.mid(10);
        } else {
            if (error)
                *error = QStringLiteral(
                             "Unknown argument: %1\nUsage: korvex [--headless] [--watch] [--workdir DIR]")
                             .arg(a);
            return std::nullopt;
        }
    }
    return cl;
}
