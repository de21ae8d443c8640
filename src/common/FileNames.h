#pragma once

#include <QString>

// The file-name part of a path as the strategy platform writes it: the text after the last "\" or ":"
// (the whole text when it has neither). A path that ends in a backslash gives an empty name.
QString WorkspaceFileName(const QString& path);

// A file path from the settings as this system takes it. The settings may carry Windows paths
// (the defaults do); off Windows their backslashes are folder separators.
QString LocalFilePath(const QString& settingPath);

// What tells a file from another one put at its path later: its device and inode where there are such,
// its creation time elsewhere. Empty when there is no file.
QString FileIdentity(const QString& path);
