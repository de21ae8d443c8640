#pragma once

#include <QString>
#include <QStringList>
#include <optional>

struct TCommandLine {
    bool Headless = false;
    bool Watch = false;
    QString WorkDir;
};

// korvex [--headless] [--watch] [--workdir DIR]. Returns nothing and sets `error` on a bad argument.
std::optional<TCommandLine> ParseCommandLine(const QStringList& args, QString* error);
