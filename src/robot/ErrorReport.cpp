#include "robot/ErrorReport.h"

#include "common/Journal.h"
#include "common/KorvexError.h"

#include <cstdio>

void TErrorReport::Report(const QString& text) {
    ++Count;
    Last = text;
    if (ShowBox && !BoxOpen) {
        BoxOpen = true;
        ShowBox(text);
        BoxOpen = false;
        return;
    }
    Journal.AddJournalLine(text);
    if (!ShowBox) std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    try {
        Journal.FlushJournal();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", ErrorText(e).toUtf8().constData());
    }
}
