#include "quik/TransactionWriter.h"

#include "common/Codec.h"
#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "notify/MailNotifier.h"
#include "quik/PriceText.h"
#include "settings/Settings.h"

#include <QFile>

TTransactionWriter::TTransactionWriter(const TPipelineContext& ctx, TMailNotifier& mail) : Ctx(ctx), Mail(mail) {}

QString TTransactionWriter::TransactionLine(qint32 transId, const TOrder& o) {
    return QStringLiteral("TRANS_ID =%1;ACTION=%2;ACCOUNT=%3;SECCODE=%4;CLASSCODE=%5;CLIENT_CODE=%6;OPERATION=%7;"
                          "PRICE=%8;STOPPRICE=%9;Order_key=%10;Stop_Order_key=%11;QUANTITY=%12")
        .arg(QString::number(transId), o.Action, o.Account, o.SecCode, o.ClassCode, o.ClientCode, o.Operation,
             PriceToText(o.Digits, o.Price), PriceToText(o.Digits, o.StopPrice))
        .arg(o.OrderKey, o.StopOrderKey, QString::number(o.Quantity));
}

QString TTransactionWriter::OperatorText(const TOrder& o) {
    if (o.Action.contains(QLatin1String("NEW")))
        return QStringLiteral(" [%1 %2 %3 at %4%5] ")
            .arg(o.Operation, QString::number(o.Quantity), o.Ticker, PriceToText(o.Digits, o.Price),
                 o.IsStop ? QStringLiteral(" Stop") : QString());
    if (o.Action.contains(QLatin1String("KILL"))) return QStringLiteral(" [снятие заявки # %1]").arg(o.OrderKey);
    return QString();
}

QString TTransactionWriter::MarkTableFor(qint32 transId) const { return MarkTable.value(transId); }

void TTransactionWriter::WriteTransaction(const TOrder& order, const TOmegaOrder& alert) {
    const qint32 id = TransSent;
    // Whatever happens below, this number has been given out: the next transaction gets the next one.
    struct TAdvance {
        qint32& Counter;
        bool Done = false;
        ~TAdvance() {
            if (!Done) ++Counter;
        }
    } advance{TransSent};

    const QString line = TransactionLine(id, order);
    RunSql(Ctx.DM.conQuikData(),
           {QStringLiteral("INSERT INTO tOrderNumber (trans_id, id_order, filled, code)"),
            QStringLiteral("VALUES (:trans_id, :id_order, :filled, :code)")},
           {{"trans_id", id}, {"id_order", order.IdOrder}, {"filled", order.Filled ? 1 : 0}, {"code", order.ClientCode}});
    PendingLines << line;
    MarkTable.insert(id, alert.Filled ? QStringLiteral("FilledOrders") : QStringLiteral("ActiveOrders"));

    const QString text = OperatorText(order);
    Ctx.Journal.AddJournalLine(QStringLiteral("Транзакция номер %1%2 по счету %3 отправлена в Quik.").arg(QString::number(id), text, order.ClientCode));
    if (Ctx.Settings.SendTrans_id)
        Mail.SendNotification(QStringLiteral("Транзакция номер %1%2 отправлена в Quik.").arg(QString::number(id), text));

    if (order.Action == QLatin1String("NEW_ORDER")) {
        const QString workspace = WorkspaceFileName(alert.Workspace);
        if (alert.OrderType == QLatin1String("LE") || alert.OrderType == QLatin1String("SE")) {
            try {
                if (!Ctx.DM.tClientOpenPositions->IsOpen()) Ctx.DM.tClientOpenPositions->Open();
                RunSql(Ctx.DM.conQuikData(),
                       {QStringLiteral("INSERT INTO tClientOpenPositions (quantity, symbol, code, System, Signal, Interval, Workspace)"),
                        QStringLiteral("VALUES (:quantity, :symbol, :code, :system, :signal, :interval, :workspace)")},
                       {{"quantity", order.Quantity},
                        {"symbol", alert.Symbol},
                        {"code", order.ClientCode},
                        {"system", alert.System},
                        {"signal", alert.Signal},
                        {"interval", alert.Interval},
                        {"workspace", workspace}});
            } catch (const std::exception&) {
                Ctx.Journal.AddJournalLine(QStringLiteral("Произошла ошибка при добавлении записи в таблицу tClientOpenPositions"));
            }
        } else if (alert.OrderType == QLatin1String("LX") || alert.OrderType == QLatin1String("SX")) {
            RunSql(Ctx.DM.conQuikData(),
                   {QStringLiteral("DELETE"), QStringLiteral("FROM tClientOpenPositions"),
                    QStringLiteral("WHERE code=:code and symbol=:symbol and system=:system and workspace=:workspace and [tClientOpenPositions].[interval] = :interval")},
                   {{"code", order.ClientCode}, {"symbol", order.Ticker}, {"system", alert.System}, {"workspace", workspace}, {"interval", alert.Interval}});
        }
        if (OnOpenPositionsChanged) OnOpenPositionsChanged();
    }
    ++TransSent;
    advance.Done = true;
    if (OnStatusChanged) OnStatusChanged();
    Ctx.Journal.FlushJournal();
}

void TTransactionWriter::FlushTransactions() {
    if (PendingLines.isEmpty()) return;
    QByteArray bytes;
    for (const QString& l : PendingLines) bytes += Cp1251::Encode(l) + "\r\n";
    QFile f(Ctx.Settings.pathTRI);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        throw IoError(QStringLiteral("Не удалось открыть файл транзакций %1: %2").arg(Ctx.Settings.pathTRI, f.errorString()));
    const bool ok = f.write(bytes) == bytes.size() && f.flush();
    const QString err = f.errorString();
    f.close();
    if (!ok) throw IoError(QStringLiteral("Ошибка записи в файл транзакций %1: %2").arg(Ctx.Settings.pathTRI, err));
    PendingLines.clear();
}
