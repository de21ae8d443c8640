#pragma once

#include <QString>
#include <QStringList>
#include <optional>

struct TCommandLine {
    bool Headless = false;
    bool Watch = false;
    bool Help = false;    // --help, -h: print the usage and exit 0
    bool Version = false; // --version: print the version and exit 0
    QString WorkDir;
};

// How Qt's own options (-platform NAME, -style NAME, ...) are treated: they are still in the arguments
// before the application object takes them out, and are errors once it has.
enum class TQtOptions { Reject, Pass };

// korvex [--headless] [--watch] [--workdir DIR] | --help | --version. Returns nothing and sets `error` to
// a message that ends with the usage when an argument is unknown or a folder is missing.
std::optional<TCommandLine> ParseCommandLine(const QStringList& args, QString* error,
                                             TQtOptions qtOptions = TQtOptions::Reject);

// The usage and the options, as --help prints them.
QString CommandLineHelp();

// "korvex 2.0", as --version prints it.
QString CommandLineVersion();
