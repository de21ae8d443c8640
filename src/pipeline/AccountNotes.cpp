#include "pipeline/AccountNotes.h"

#include "common/Journal.h"
#include "pipeline/PipelineContext.h"

void TPipelineContext::NoteRefusal(const QString& head, const QString& account, const QString& why) const {
    if (Memo.Active)
        Memo.Notes.Refused(head, account, why);
    else
        Journal.AddJournalLine(TAccountNotes::RefusalLine(head, {account}, why));
}

void TPipelineContext::NoteOnce(const QString& line) const {
    if (Memo.Active)
        Memo.Notes.Once(line);
    else
        Journal.AddJournalLine(line);
}

QString TAccountNotes::RefusalLine(const QString& head, const QStringList& accounts, const QString& why) {
    return head + (accounts.size() > 1 ? QStringLiteral(" по счетам ") : QStringLiteral(" по счету ")) +
           accounts.join(QStringLiteral(", ")) + QStringLiteral(" не отправлен: ") + why + QLatin1Char('.');
}

void TAccountNotes::Refused(const QString& head, const QString& account, const QString& why, bool alarm) {
    for (TEntry& e : Notes)
        if (e.Line.isEmpty() && e.Head == head && e.Why == why) {
            if (!e.Accounts.contains(account)) e.Accounts << account;
            e.Alarm = e.Alarm || alarm;
            return;
        }
    Notes.push_back(TEntry{head, why, QString(), {account}, alarm});
}

void TAccountNotes::Once(const QString& line) {
    if (line.isEmpty()) return;
    for (const TEntry& e : Notes)
        if (e.Line == line) return;
    Notes.push_back(TEntry{QString(), QString(), line, {}, false});
}

std::vector<TAccountNotes::TNote> TAccountNotes::Take() {
    std::vector<TNote> out;
    out.reserve(Notes.size());
    for (const TEntry& e : Notes)
        out.push_back({e.Line.isEmpty() ? RefusalLine(e.Head, e.Accounts, e.Why) : e.Line, e.Alarm});
    Notes.clear();
    return out;
}
