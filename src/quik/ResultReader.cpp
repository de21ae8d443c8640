#include "quik/ResultReader.h"

#include "common/Codec.h"
#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "notify/MailNotifier.h"
#include "quik/OrderRegistry.h"
#include "quik/ResultLine.h"
#include "quik/TransactionWriter.h"
#include "settings/Settings.h"

#include <QFile>
#include <QSqlRecord>

TResultReader::TResultReader(const TPipelineContext& ctx, TMailNotifier& mail, TOrderRegistry& registry,
                             TTransactionWriter& writer)
    : Ctx(ctx), Mail(mail), Registry(registry), Writer(writer) {}

namespace {
// Text from QUIK's file as the journal shows it: printable and of a sane length.
QString ForJournal(const QByteArray& bytes) {
    return JournalField(DecodeResultLine(bytes));
}

bool HasControlBytes(const QByteArray& bytes) {
    for (char c : bytes)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return true;
    return false;
}
} // namespace

void TResultReader::actCheckTROExecute() {
    const QString path = LocalFilePath(Ctx.Settings.pathTRO);
    QFile f(path);
    if (!f.exists()) return;
    if (!f.open(QIODevice::ReadOnly))
        throw IoError(
            QStringLiteral("Не удалось открыть файл %1: %2").arg(Ctx.Settings.pathTRO, f.errorString()));
    // A file put at the path in place of the one read so far is told by its identity, not by its size:
    // QUIK's new file may already be longer than the old offset, and every line in it is new to us.
    const QString identity = FileIdentity(path);
    const bool replaced = !ReadIdentity.isEmpty() && identity != ReadIdentity;
    if (replaced || f.size() < ReadOffset) {
        if (replaced && ReadOffset > 0)
            Ctx.Journal.AddJournalLine(
                QStringLiteral("Файл результатов %1 заменен новым: он читается с начала.")
                    .arg(Ctx.Settings.pathTRO));
        ReadOffset = 0;
        TroLinesRead = 0;
        Progress.clear();
    }
    ReadIdentity = identity;
    f.seek(ReadOffset);
    const QByteArray data = f.readAll();
    f.close();

    // The whole lines of this reading, with their offsets; a line without its break waits.
    QList<TLine> lines;
    qint64 consumed = 0;
    int pos = 0;
    while (pos < data.size()) {
        int end = pos;
        while (end < data.size() && data[end] != '\r' && data[end] != '\n')
            ++end;
        if (end >= data.size()) break; // no line break yet: QUIK is still writing this line
        int next = end + 1;
        if (data[end] == '\r' && next < data.size() && data[next] == '\n') ++next;
        // A CR LF cut between two readings leaves a bare LF: an empty line, passed over like any.
        if (end > pos) lines.append({data.mid(pos, end - pos), ReadOffset + pos});
        consumed = next;
        pos = next;
    }
    HandleLines(lines);
    ReadOffset += consumed;
    TroLinesRead += lines.size();
    Progress.clear();
    WriteMarks();
    Ctx.Journal.FlushJournal();
}

void TResultReader::HandleLines(const QList<TLine>& lines) {
    if (lines.isEmpty()) return;
    // One commit per database for the whole reading: QUIK answers hundreds of lines a second.
    // The alerts database is the strategy platform's: it is locked only for the marks themselves,
    // written together at the end, never while the lines are worked through.
    Marks.clear();
    Corrections.clear();
    StatusChanged = false;
    try {
        TDbTransaction trading(Ctx.DM.conQuikData());
        Registry.Begin();
        int number = TroLinesRead;
        for (const TLine& l : lines)
            HandleLine(l.Bytes, l.Offset, ++number);
        trading.Commit();
        Registry.Commit();
    } catch (...) {
        Registry.Rollback();
        Corrections.clear();
        // The marks of a reading rolled back are made again when it is read again.
        if (!Marks.isEmpty())
            for (TLineProgress& p : Progress)
                p.Marked = false;
        Marks.clear();
        if (StatusChanged && OnStatusChanged) OnStatusChanged();
        throw;
    }
    // The platform's database is marked after QUIK's answers took effect: a platform that holds
    // its database keeps the marks waiting, never the book. They are written with the next reading.
    MarksLater += Marks;
    Marks.clear();
    if (!Corrections.isEmpty()) {
        Ctx.Journal.AddJournalLines(Corrections);
        if (OnOpenPositionsChanged) OnOpenPositionsChanged();
    }
    Corrections.clear();
    if (StatusChanged && OnStatusChanged) OnStatusChanged();
}

void TResultReader::ReadEarlierAnswers(const QByteArray& bytes) {
    QList<TLine> lines;
    qint64 from = 0;
    // Only whole lines: one QUIK was still writing has its answer again in the new file.
    while (from < bytes.size()) {
        qint64 end = from;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        if (end >= bytes.size()) break;
        if (end > from) lines.append({bytes.mid(from, end - from), -1 - from});
        from = end + 1;
    }
    Earlier = true;
    struct TReset {
        bool& Flag;
        QHash<qint64, TLineProgress>& Progress;
        ~TReset() {
            Flag = false;
            Progress.clear();
        }
    } reset{Earlier, Progress};
    HandleLines(lines);
    WriteMarks();
}

void TResultReader::WriteMarks() {
    if (MarksLater.isEmpty()) return;
    try {
        const QSqlDatabase omega = Ctx.DM.conOmega();
        TDbTransaction marks(omega);
        for (const TAlertMark& m : MarksLater)
            RunSql(omega,
                   {QStringLiteral("UPDATE ") + m.Table, QStringLiteral("SET [order number] = :order_number"),
                    QStringLiteral("WHERE id = :id")},
                   {{"order_number", QString::number(m.Id)}, {"id", m.Id}});
        marks.Commit();
        MarksLater.clear();
        MarksFailure.clear();
    } catch (const std::exception& e) {
        const QString text =
            QStringLiteral("Отметки исполненных ордеров (%1) не записаны в базу сигналов: %2. "
                           "Повтор при следующем чтении результатов.")
                .arg(MarksLater.size())
                .arg(ErrorText(e));
        if (MarksFailure.isEmpty()) Ctx.Journal.AddJournalLine(text);
        MarksFailure = text;
    }
}

void TResultReader::HandleLine(const QByteArray& bytes, qint64 offset, int number) {
    TLineProgress& progress = Progress[offset];
    if (HasControlBytes(bytes)) {
        if (progress.Announced) return;
        progress.Announced = true;
        Ctx.Journal.AddJournalLine(
            QStringLiteral("Строка %1 файла результатов содержит управляющие символы и пропущена: \"%2\"")
                .arg(QString::number(number), ForJournal(bytes)));
        return;
    }
    bool utf8 = false;
    const QString line = DecodeResultLine(bytes, &utf8);
    if (utf8 && !Utf8Told) {
        Utf8Told = true;
        Ctx.Journal.AddJournalLine(QStringLiteral("Файл результатов %1 записан в UTF-8, а не в Windows-1251: "
                                                  "его строки читаются как UTF-8.")
                                       .arg(Ctx.Settings.pathTRO));
    }
    const TResultLine r = ParseResultLine(line);
    const auto transId = Regional::ParseInteger(r.TRANS_ID);
    if (!transId || *transId < INT_MIN || *transId > INT_MAX) {
        if (!progress.Announced)
            Ctx.Journal.AddJournalLine(
                QStringLiteral("Строка %1 файла результатов без номера транзакции пропущена: \"%2\"")
                    .arg(QString::number(number), ForJournal(bytes)));
        progress.Announced = true;
        return;
    }
    // A line without a status says nothing about the transaction: it must not take anything back.
    const auto status = Regional::ParseInteger(r.STATUS);
    if (!status || *status < 0) {
        if (!progress.Announced)
            Ctx.Journal.AddJournalLine(
                QStringLiteral("Строка %1 файла результатов без статуса транзакции пропущена: \"%2\"")
                    .arg(QString::number(number), ForJournal(bytes)));
        progress.Announced = true;
        return;
    }
    const QString statusText = QString::number(*status);
    const qint64 orderNumber = Regional::ParseInteger(r.ORDER_NUMBER).value_or(0);
    const qint32 id = static_cast<qint32>(*transId);
    const TOrderRecord* rec = Registry.Find(id);
    // A number never given out, or one whose line never reached the file, cannot have an answer.
    if (!rec || rec->Stage == TOrderStage::Recorded || rec->Stage == TOrderStage::GivenUp) {
        if (!progress.Announced && !Earlier)
            Ctx.Journal.AddJournalLine(
                QStringLiteral("Строка %1 файла результатов: транзакция номер %2 роботом не отправлялась, "
                               "результат пропущен: \"%3\"")
                    .arg(QString::number(number), r.TRANS_ID, ForJournal(bytes)));
        progress.Announced = true;
        return;
    }
    const bool accepted = statusText == QLatin1String("3");
    const TOrderEvent event =
        (statusText == QLatin1String("0") || statusText == QLatin1String("1")) ? TOrderEvent::SentToServer
        : accepted ? (rec->CanLive() ? TOrderEvent::AcceptedLive : TOrderEvent::Executed)
                   : TOrderEvent::Refused;
    const TOrderStage before = rec->Stage;
    const qint64 numberBefore = rec->OrderNumber;
    const qint32 cancels = rec->Cancels;
    if (!Registry.Move(id, event)) {
        // The same answer again, or one that would move the transaction back: it changes nothing but
        // a number QUIK gave only now.
        if (accepted && orderNumber > 0 && numberBefore <= 0 && !AwaitsAnswer(before) &&
            before != TOrderStage::Refused) {
            Registry.StoreAnswer(id, *status, orderNumber, ResultText(r.TRANS_NAME),
                                 ResultText(r.DESCRIPTION));
            UpdateReport(id, statusText, r, orderNumber);
        }
        progress.Announced = true;
        return;
    }
    Registry.StoreAnswer(id, *status, orderNumber, ResultText(r.TRANS_NAME), ResultText(r.DESCRIPTION));
    rec = Registry.Find(id);
    const QString idText = QString::number(*transId);
    if (!progress.Announced) {
        if (accepted) {
            const QString text =
                QStringLiteral("Транзакция номер ") + idText + QStringLiteral(" успешно выполнена.");
            Ctx.Journal.AddJournalLine(text);
            if (Ctx.Settings.SendTrans_done) Mail.SendNotification(text);
            ++TransDone;
        } else if (event == TOrderEvent::SentToServer) {
            Ctx.Journal.AddJournalLine(QStringLiteral("Транзакция номер ") + idText +
                                       QStringLiteral(" отправлена на сервер Quik."));
            ++TransAtServer;
        } else {
            // QUIK's own words say why: the operator acts on them, so they go to the journal as sent.
            QString why = JournalField(ResultText(r.DESCRIPTION).trimmed());
            if (why.isEmpty()) why = QStringLiteral("без описания");
            const QString text =
                QStringLiteral("Транзакция номер ") + idText + QStringLiteral(" отвергнута: ") + why;
            Ctx.Journal.AddJournalLine(text);
            if (OnRefusal) OnRefusal(text);
            ++TransRefused;
        }
        progress.Announced = true;
        StatusChanged = true;
    }
    if (event == TOrderEvent::Refused) {
        const QString corrected = Writer.TakeBackEffect(id);
        if (!corrected.isEmpty())
            Corrections << QStringLiteral("Транзакция номер ") + idText +
                               QStringLiteral(" отвергнута, книга исправлена: ") + corrected +
                               QLatin1Char('.');
        if (cancels > 0) Registry.Move(cancels, TOrderEvent::KillFailed);
        if (rec->CancelWanted) {
            Registry.SetCancelWanted(id, false);
            Corrections << QStringLiteral("Снятие заявки транзакции номер %1 не отправлено: Quik ее отверг.")
                               .arg(idText);
        }
    } else if (accepted && cancels > 0) {
        Registry.Move(cancels, TOrderEvent::KillDone);
    }
    if (accepted && rec->IsNew() && !progress.Marked) {
        // The accounts of one alert answer one after another: its row is marked once.
        if (rec->AlertTable == QLatin1String("FilledOrders") ||
            rec->AlertTable == QLatin1String("ActiveOrders"))
            if (Marks.isEmpty() || Marks.last().Id != rec->AlertId || Marks.last().Table != rec->AlertTable)
                Marks << TAlertMark{rec->AlertTable, rec->AlertId};
        progress.Marked = true;
    }
    UpdateReport(id, statusText, r, rec->OrderNumber);
}

void TResultReader::UpdateReport(qint32 transId, const QString& status, const TResultLine& r,
                                 qint64 orderNumber) {
    RunSql(Ctx.DM.conQuikData(),
           {QStringLiteral("UPDATE tOrderNumber"),
            QStringLiteral("SET status =:status,trans_name= :trans_name ,description= :description, "
                           "order_number=:order_number"),
            QStringLiteral("WHERE trans_id = :trans_id")},
           {{"status", status},
            {"trans_name", ResultText(r.TRANS_NAME)},
            {"description", ResultText(r.DESCRIPTION)},
            {"order_number", orderNumber},
            {"trans_id", transId}});
}
