#include "quik/ResultReader.h"

#include "common/Codec.h"
#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "notify/MailNotifier.h"
#include "quik/ResultLine.h"
#include "quik/TransactionBook.h"
#include "settings/Settings.h"

#include <QFile>
#include <QSqlRecord>

TResultReader::TResultReader(const TPipelineContext& ctx, TMailNotifier& mail, TTransactionBook& book)
    : Ctx(ctx), Mail(mail), Book(book) {}

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
    struct TLine {
        QByteArray Bytes;
        qint64 Offset;
    };
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
    if (!lines.isEmpty()) {
        // One commit per database for the whole reading: QUIK answers hundreds of lines a second.
        // The alerts database is the strategy platform's: it is locked only for the marks themselves,
        // written together at the end, never while the lines are worked through.
        Marks.clear();
        Corrections.clear();
        StatusChanged = false;
        Book.BeginBatch();
        try {
            TDbTransaction trading(Ctx.DM.conQuikData());
            int number = TroLinesRead;
            for (const TLine& l : lines)
                HandleLine(l.Bytes, l.Offset, ++number);
            trading.Commit();
            Book.CommitBatch();
        } catch (...) {
            Book.RollbackBatch();
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
    ReadOffset += consumed;
    TroLinesRead += lines.size();
    Progress.clear();
    WriteMarks();
    Ctx.Journal.FlushJournal();
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
    const TTransactionBook::TAnswerResult answer =
        Book.Answer(static_cast<qint32>(*transId), statusText, orderNumber);
    if (answer.Answer == TTransactionBook::TAnswer::Unknown) {
        // An earlier run's new order that QUIK accepted only now still lives in QUIK and can be pulled.
        if (statusText == QLatin1String("3") &&
            Book.AcceptEarlier(static_cast<qint32>(*transId), orderNumber)) {
            if (!progress.Announced)
                Ctx.Journal.AddJournalLine(
                    QStringLiteral("Транзакция номер %1 прошлого запуска принята Quik: "
                                   "заявка %2 перенесена, ее можно снять.")
                        .arg(QString::number(*transId), QString::number(orderNumber)));
            progress.Announced = true;
            return;
        }
        if (!progress.Announced)
            Ctx.Journal.AddJournalLine(
                QStringLiteral("Строка %1 файла результатов: транзакция номер %2 в этом запуске не "
                               "отправлялась, результат пропущен: \"%3\"")
                    .arg(QString::number(number), r.TRANS_ID, ForJournal(bytes)));
        progress.Announced = true;
        return;
    }
    // The same answer again, or one that would move the transaction back: it changes nothing.
    if (answer.Answer == TTransactionBook::TAnswer::Repeated) {
        progress.Announced = true;
        return;
    }
    const QString idText = QString::number(*transId);
    if (!progress.Announced) {
        if (statusText == QLatin1String("3")) {
            const QString text =
                QStringLiteral("Транзакция номер ") + idText + QStringLiteral(" успешно выполнена.");
            Ctx.Journal.AddJournalLine(text);
            if (Ctx.Settings.SendTrans_done) Mail.SendNotification(text);
            ++TransDone;
        } else if (statusText == QLatin1String("0")) {
            Ctx.Journal.AddJournalLine(QStringLiteral("Транзакция номер ") + idText +
                                       QStringLiteral(" отправлена на сервер Quik."));
            ++TransAtServer;
        } else if (TTransactionBook::IsRefusal(statusText)) {
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
    if (!answer.Corrected.isEmpty())
        Corrections << QStringLiteral("Транзакция номер ") + idText +
                           QStringLiteral(" отвергнута, книга исправлена: ") + answer.Corrected +
                           QLatin1Char('.');
    if (statusText == QLatin1String("3") && !progress.Marked) {
        const TTransactionBook::TEffect* e = Book.Find(static_cast<qint32>(*transId));
        TSqlRows q =
            RunSql(Ctx.DM.conQuikData(),
                   {QStringLiteral("SELECT trans_id, id_order, filled"), QStringLiteral("FROM tOrderNumber"),
                    QStringLiteral("WHERE trans_id = :trans_id")},
                   {{"trans_id", *transId}});
        if (q.next()) {
            const QSqlRecord row = q.record();
            const qint64 idOrder = ColumnInt64(row, QStringLiteral("id_order"));
            QString table;
            if (e && e->MarkTable == 'F') table = QStringLiteral("FilledOrders");
            if (e && e->MarkTable == 'A') table = QStringLiteral("ActiveOrders");
            if (table.isEmpty())
                table = ColumnBool(row, QStringLiteral("filled")) ? QStringLiteral("FilledOrders")
                                                                  : QStringLiteral("ActiveOrders");
            // The accounts of one alert answer one after another: its row is marked once.
            if (Marks.isEmpty() || Marks.last().Id != idOrder || Marks.last().Table != table)
                Marks << TAlertMark{table, idOrder};
        }
        progress.Marked = true;
    }
    RunSql(Ctx.DM.conQuikData(),
           {QStringLiteral("UPDATE tOrderNumber"),
            QStringLiteral("SET status =:status,trans_name= :trans_name ,description= :description, "
                           "order_number=:order_number"),
            QStringLiteral("WHERE trans_id = :trans_id")},
           {{"status", statusText},
            {"trans_name", ResultText(r.TRANS_NAME)},
            {"description", ResultText(r.DESCRIPTION)},
            {"order_number", answer.OrderNumber},
            {"trans_id", *transId}});
}
