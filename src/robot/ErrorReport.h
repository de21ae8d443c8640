#pragma once

#include <QString>
#include <functional>

class TJournal;

// The general error report: an error that nothing caught ends its event and is shown to the operator.
// With windows it is a message box, one at a time: errors that arrive while a box is open go to the
// journal. Without windows it goes to the journal and standard error.
class TErrorReport {
public:
    explicit TErrorReport(TJournal& journal) : Journal(journal) {}

    // Shows the text in a box and returns when the operator closed it. Unset: headless.
    std::function<void(const QString&)> ShowBox;

    void Report(const QString& text);
    int ReportedCount() const { return Count; }
    QString LastReported() const { return Last; }

private:
    TJournal& Journal;
    bool BoxOpen = false;
    int Count = 0;
    QString Last;
};
