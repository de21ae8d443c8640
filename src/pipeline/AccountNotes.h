#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// What one alert meets on its accounts, said once. The same refusal on several accounts is one line that
// names them all; a line that names no account (the instrument is unknown) is said once however many
// accounts meet it. The lines keep the order they were first met in.
class TAccountNotes {
public:
    struct TNote {
        QString Line;
        bool Alarm = false; // a guard held it back: the operator is told beyond the journal
    };

    // "<head> по счету <account> не отправлен: <why>." — with several accounts for the same head and
    // why: "<head> по счетам <a>, <b> не отправлен: <why>."
    void Refused(const QString& head, const QString& account, const QString& why, bool alarm = false);
    // A line that names no account.
    void Once(const QString& line);
    bool Empty() const { return Notes.empty(); }
    // The lines met so far, each once; the notes are emptied.
    std::vector<TNote> Take();

    static QString RefusalLine(const QString& head, const QStringList& accounts, const QString& why);

private:
    struct TEntry {
        QString Head, Why, Line;
        QStringList Accounts;
        bool Alarm = false;
    };
    std::vector<TEntry> Notes;
};
