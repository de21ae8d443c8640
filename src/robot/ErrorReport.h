#pragma once

#include <QString>
#include <functional>

class TJournal;

// The general error report: an error that nothing caught ends its event and is shown to the operator.
// With windows it is a message box, one at a time: errors that arrive while a box is open go to the
// journal, and so does an error that repeats the one last shown until an event succeeds again (a
// locked database must not bring a box back every second). Without windows it goes to the journal
// and standard error.
class TErrorReport {
public:
    explicit TErrorReport(TJournal& journal) : Journal(journal) {}

    // Shows the text in a box and returns when the operator closed it. Unset: headless.
    std::function<void(const QString&)> ShowBox;
    // Told of every error before it is shown (the window keeps the last one in sight).
    std::function<void(const QString&)> Reported;

    void Report(const QString& text);
    // An event the operator should see without a box: the last-error panel shows it. The caller
    // journals it.
    void Notice(const QString& text) {
        Last = text;
        if (Reported) Reported(text);
    }
    // An event ended well: the next error is shown again, even one with the same text.
    void EventSucceeded() { ShownText.clear(); }
    int ReportedCount() const { return Count; }
    QString LastReported() const { return Last; }

private:
    TJournal& Journal;
    bool BoxOpen = false;
    int Count = 0;
    QString Last;
    QString ShownText;
};
