#include "quik/ResultReader.h"

#include "common/Codec.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "notify/MailNotifier.h"
#include "quik/ResultLine.h"
#include "quik/TransactionWriter.h"
#include "settings/Settings.h"

#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>

TResultReader::TResultReader(const TPipelineContext& ctx, TMailNotifier& mail, const TTransactionWriter& writer)
    : Ctx(ctx), Mail(mail), Writer(writer) {}

void TResultReader::actCheckTROExecute() {
    QFile f(Ctx.Settings.pathTRO);
    if (!f.exists()) return;
    if (!f.open(QIODevice::ReadOnly))
        throw IoError(QStringLiteral("Не удалось открыть файл %1: %2").arg(Ctx.Settings.pathTRO, f.errorString()));
    if (f.size() < ReadOffset) {
        // QUIK started the file anew: every line in it is new to us.
        ReadOffset = 0;
        TroLinesRead = 0;
    }
    f.seek(ReadOffset);
    QByteArray data = f.readAll();
    f.close();
    const int nul = data.indexOf('\0');
    if (nul >= 0) data.truncate(nul);

    int pos = 0;
    while (pos < data.size()) {
        int end = pos;
        while (end < data.size() && data[end] != '\r' && data[end] != '\n') ++end;
        if (end >= data.size()) break;  // no line break yet: QUIK is still writing this line
        int next = end + 1;
        if (data[end] == '\r') {
            if (next >= data.size()) break;  // a CR whose LF may still come
            if (data[next] == '\n') ++next;
        }
        HandleLine(Cp1251::Decode(data.mid(pos, end - pos)));
        ReadOffset += next - pos;
        ++TroLinesRead;
        pos = next;
    }
    Ctx.Journal.FlushJournal();
}

void TResultReader::HandleLine(const QString& line) {
    const TResultLine r = ParseResultLine(line);
    const auto transId = Regional::ParseInteger(r.TRANS_ID);
    if (!transId) {
        Ctx.Journal.AddJournalLine(QStringLiteral("Строка %1 файла результатов без номера транзакции пропущена: \"%2\"")
                                       .arg(TroLinesRead + 1)
                                       .arg(line));
        return;
    }
    if (r.STATUS == QLatin1String("3")) {
        const QString text = QStringLiteral("Транзакция номер %1 успешно выполнена.").arg(r.TRANS_ID);
        Ctx.Journal.AddJournalLine(text);
        if (Ctx.Settings.SendTrans_done) Mail.SendNotification(text);
        ++TransDone;
        QSqlQuery q = RunSql(Ctx.DM.conQuikData(),
                             {QStringLiteral("SELECT trans_id, id_order, filled"), QStringLiteral("FROM tOrderNumber"), QStringLiteral("WHERE trans_id = :trans_id")},
                             {{"trans_id", *transId}});
        if (q.next()) {
            const QSqlRecord row = q.record();
            const int idOrder = ColumnInt(row, QStringLiteral("id_order"));
            QString table = Writer.MarkTableFor(static_cast<qint32>(*transId));
            if (table.isEmpty())
                table = ColumnBool(row, QStringLiteral("filled")) ? QStringLiteral("FilledOrders") : QStringLiteral("ActiveOrders");
            RunSql(Ctx.DM.conOmega(),
                   {QStringLiteral("UPDATE %1").arg(table), QStringLiteral("SET [order number] = :order_number"), QStringLiteral("WHERE id = :id")},
                   {{"order_number", QString::number(idOrder)}, {"id", idOrder}});
        }
    }
    if (r.STATUS == QLatin1String("0")) {
        Ctx.Journal.AddJournalLine(QStringLiteral("Транзакция номер %1 отправлена на сервер Quik.").arg(r.TRANS_ID));
        ++TransAtServer;
    }
    if (OnStatusChanged) OnStatusChanged();
    RunSql(Ctx.DM.conQuikData(),
           {QStringLiteral("UPDATE tOrderNumber"),
            QStringLiteral("SET status =:status,trans_name= :trans_name ,description= :description, order_number=:order_number"),
            QStringLiteral("WHERE trans_id = :trans_id")},
           {{"status", r.STATUS},
            {"trans_name", ResultText(r.TRANS_NAME)},
            {"description", ResultText(r.DESCRIPTION)},
            {"order_number", r.ORDER_NUMBER},
            {"trans_id", *transId}});
}
