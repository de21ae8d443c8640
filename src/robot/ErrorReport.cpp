#include "robot/ErrorReport.h"

#include "common/Journal.h"

#include <cstdio>

void TErrorReport::Report(const QString& text) {
    ++Count;
    Last = text;
    if (Reported) Reported(text);
    if (ShowBox && !BoxOpen && text != ShownText) {
        ShownText = text;
        BoxOpen = true;
        Journal.AddJournalLine(text);
        Journal.FlushJournal();
        ShowBox(text);
        BoxOpen = false;
        return;
    }
    Journal.AddJournalLine(text);
    if (!ShowBox) std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    Journal.FlushJournal();
}
