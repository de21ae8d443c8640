#pragma once

#include "notify/SmtpClient.h"

#include <QString>
#include <optional>

struct TSettings;

// What the options dialog's "Коннект" and "Тест" found out, stage by stage.
struct TMailTestOutcome {
    bool Connected = false;
    QString TlsVersion; // empty: the connection was not encrypted
    bool Authenticated = false;
    bool Sent = false;
    int Recipients = 0;  // those the server took the mail for
    bool Closed = false; // the connection of a "Коннект" was closed again
    QString Failure;     // why it stopped, in the mail client's words; empty on success

    bool Succeeded() const { return Failure.isEmpty() && (Sent || Closed); }
    // The answer shown in the dialog, stage by stage, the reason as the client gave it.
    QString Report() const;
    // The one journal line of the test: the same stages.
    QString JournalLine() const;

private:
    QString Stages() const;
};

// Connects with the mail settings as they stand (security and trusted certificate included),
// authenticates when Auten is on, sends `text` to Email1 and Email2 when there is one, and closes the
// connection, on a client of its own: it shares nothing with the notifier, so it may run on any
// thread. Raising `stop` ends it within a fraction of a second. Never throws; a failure is in the
// outcome.
TMailTestOutcome RunMailTest(const TSettings& settings, const std::optional<QString>& text,
                             const TMailLimits& limits = {}, TMailStop stop = nullptr);
