#pragma once

#include <QString>
#include <QStringList>

// The files the program reads beside itself at run time: its help pages and its icons. Installed, they
// live in <prefix>/share/korvex next to <prefix>/bin; in the build tree, in <build>/share/korvex. Both
// are found relative to the running executable, never through the source tree.

// The folder that holds help/ and icons/. When no candidate holds the help, the installed place, so
// that what is reported missing names where it should have been.
QString ProgramDataDir();

// The folder of the help pages (help/index.html is the contents).
QString HelpDir();

// The file of an icon by its name without extension ("app", "start", "tray0").
QString IconFile(const QString& name);

// The program's own files that are not where it looks for them, as full paths; empty when all are found.
QStringList MissingProgramFiles();
