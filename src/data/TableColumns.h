#pragma once

#include <QString>
#include <QStringList>

// The columns each table object declares. A database that lacks one of them cannot open that table.
QStringList DeclaredColumns(const QString& tableObject);
