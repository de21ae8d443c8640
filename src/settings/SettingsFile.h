#pragma once

#include "settings/Settings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Korvex.ini: sections Position, Quik, Mail and Risk, keys and sections matched without regard to case,
// Windows-1251 text, Booleans written "-1"/"0", the password stored scrambled (one that the scrambled
// line cannot hold, such as one with "ю", goes to PasswordHex beside it).
class TSettingsFile {
public:
    explicit TSettingsFile(QString path) : FilePath(std::move(path)) {}
    const QString& Path() const { return FilePath; }

    // Reads every key in order, each on its own. A missing file or key gives the default. A value
    // that does not read (a choice index or Security that is not an integer, a Boolean that is
    // neither a number nor True/False) takes the default (Security: -1, no choice) and reading goes
    // on with the next key. Returns one text per such key, naming the file, the section, the key,
    // the value and what was taken; empty when every key read. Never throws.
    QStringList Load(TSettings& s) const;
    // Writes every key, updating keys where they stand and appending missing keys and sections.
    // Throws IoError "Unable to write to <path>" when the system refuses the write; the file is
    // then left as it was.
    void Save(const TSettings& s) const;

    // Every key in file order, as "Section/Key".
    static QStringList KeyOrder();

private:
    QString FilePath;
};

// The text of an error in one value of the file: "<file>, [<section>] <key>: <error>".
QString SettingsValueError(const QString& path, const QString& section, const QString& key,
                           const QString& error);

// (b + 2) mod 256 on every byte when storing, (b - 2) mod 256 when reading.
QByteArray ScramblePassword(const QByteArray& text, bool store);
