#pragma once

#include <QString>

struct TSettings;

// What the options dialog's "Тест" found out, stage by stage.
struct TMailTestOutcome {
    bool Connected = false;
    QString TlsVersion; // empty: the connection was not encrypted
    bool Authenticated = false;
    bool Sent = false;
    int Recipients = 0;
    QString Failure; // why it stopped, in the mail client's words (English); empty on success

    bool Succeeded() const { return Sent && Failure.isEmpty(); }
    // The answer shown in the dialog (Russian, the reason as the client gave it).
    QString Report() const;
    // The one journal line of the test (English, like the mail client's other lines).
    QString JournalLine() const;
};

// Connects with the mail settings as they stand (security and trusted certificate included),
// authenticates when Auten is on, sends `text` to Email1 and Email2, and disconnects, on a client of
// its own: it shares nothing with the notifier, so it may run on any thread. Never throws; a failure
// is in the outcome.
TMailTestOutcome RunMailTest(const TSettings& settings, const QString& text, int connectSeconds = 10,
                             int replySeconds = 30);
