#include "quik/TransactionWriter.h"

#include "common/Clock.h"
#include "common/Codec.h"
#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/LineAppend.h"
#include "common/Regional.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "notify/MailNotifier.h"
#include "quik/PriceText.h"
#include "settings/Settings.h"

#include <QFile>

TTransactionWriter::TTransactionWriter(const TPipelineContext& ctx, TMailNotifier& mail)
    : Ctx(ctx), Mail(mail) {}

QString TTransactionWriter::TransactionLine(qint32 transId, const TOrder& o) {
    return TransactionLine(transId, o, PriceToText(o.Digits, o.Price), PriceToText(o.Digits, o.StopPrice));
}

QString TTransactionWriter::TransactionLine(qint32 transId, const TOrder& o, const QString& price,
                                            const QString& stopPrice) {
    // Concatenated, not formatted: a "%1" inside an account or a code must reach QUIK as it stands.
    // One allocation for the whole line: this runs for every account of every alert.
    return QLatin1String("TRANS_ID =") + QString::number(transId) + QLatin1String(";ACTION=") + o.Action +
           QLatin1String(";ACCOUNT=") + o.Account + QLatin1String(";SECCODE=") + o.SecCode +
           QLatin1String(";CLASSCODE=") + o.ClassCode + QLatin1String(";CLIENT_CODE=") + o.ClientCode +
           QLatin1String(";OPERATION=") + o.Operation + QLatin1String(";PRICE=") + price +
           QLatin1String(";STOPPRICE=") + stopPrice + QLatin1String(";Order_key=") + o.OrderKey +
           QLatin1String(";Stop_Order_key=") + o.StopOrderKey + QLatin1String(";QUANTITY=") +
           QString::number(o.Quantity);
}

QString TTransactionWriter::OperatorText(const TOrder& o) {
    return OperatorText(o, PriceToText(o.Digits, o.Price));
}

QString TTransactionWriter::OperatorText(const TOrder& o, const QString& price) {
    if (o.Action.contains(QLatin1String("NEW")))
        return QStringLiteral(" [") + o.Operation + QLatin1Char(' ') + QString::number(o.Quantity) +
               QLatin1Char(' ') + o.Ticker + QStringLiteral(" at ") + price +
               (o.IsStop ? QStringLiteral(" Stop") : QString()) + QStringLiteral("] ");
    if (o.Action.contains(QLatin1String("KILL")))
        return QStringLiteral(" [снятие заявки # ") + o.OrderKey + QLatin1Char(']');
    return QString();
}

QString TTransactionWriter::MarkTableFor(qint32 transId) const {
    if (transId < 0 || static_cast<size_t>(transId) >= MarkKinds.size()) return QString();
    switch (MarkKinds[transId]) {
    case 'F':
        return QStringLiteral("FilledOrders");
    case 'A':
        return QStringLiteral("ActiveOrders");
    default:
        return QString();
    }
}

TTransactionWriter::TRecorded TTransactionWriter::RecordTransaction(const TOrder& order,
                                                                    const TOmegaOrder& alert) {
    // A price that cannot be written as a number is no order: QUIK would read another one.
    const std::optional<QString> price = TryPriceToText(order.Digits, order.Price);
    const std::optional<QString> stopPrice = TryPriceToText(order.Digits, order.StopPrice);
    if (!price || !stopPrice)
        throw ConversionError(
            QStringLiteral("Ордер # ") + QString::number(alert.ID) + QStringLiteral(": цена ") +
            QString::number(price ? order.StopPrice : order.Price, 'g', 17) +
            QStringLiteral(" не может быть записана с точностью ") + QString::number(order.Digits) +
            QStringLiteral(" (Digits). Транзакция не отправлена."));
    // The number is given out now, whatever happens below.
    const qint32 id = TransSent++;
    TRecorded r;
    r.TransId = id;
    r.Line = TransactionLine(id, order, *price, *stopPrice);
    r.FromFilled = alert.Filled;

    const QSqlDatabase db = Ctx.DM.conQuikData();
    RunSql(db,
           {QStringLiteral("INSERT INTO tOrderNumber (trans_id, id_order, filled, code)"),
            QStringLiteral("VALUES (:trans_id, :id_order, :filled, :code)")},
           {{"trans_id", id},
            {"id_order", order.IdOrder},
            {"filled", order.Filled ? 1 : 0},
            {"code", order.ClientCode}});

    const QString idText = QString::number(id), text = OperatorText(order, *price);
    r.JournalText = QStringLiteral("Транзакция номер ") + idText + text + QStringLiteral(" по счету ") +
                    order.ClientCode + QStringLiteral(" отправлена в Quik.");
    // The same without the client code, made only for a mail that goes out.
    if (Ctx.Settings.SendTrans_id)
        r.MailText =
            QStringLiteral("Транзакция номер ") + idText + text + QStringLiteral(" отправлена в Quik.");

    if (order.Action == QLatin1String("NEW_ORDER")) {
        const QString workspace = WorkspaceFileName(alert.Workspace);
        if (alert.OrderType == QLatin1String("LE") || alert.OrderType == QLatin1String("SE")) {
            try {
                RunSql(db,
                       {QStringLiteral("INSERT INTO tClientOpenPositions (quantity, symbol, code, System, "
                                       "Signal, Interval, Workspace)"),
                        QStringLiteral(
                            "VALUES (:quantity, :symbol, :code, :system, :signal, :interval, :workspace)")},
                       {{"quantity", order.Quantity},
                        {"symbol", alert.Symbol},
                        {"code", order.ClientCode},
                        {"system", alert.System},
                        {"signal", alert.Signal},
                        {"interval", alert.Interval},
                        {"workspace", workspace}});
            } catch (const std::exception&) {
                Ctx.Journal.AddJournalLine(
                    QStringLiteral("Произошла ошибка при добавлении записи в таблицу tClientOpenPositions"));
            }
        } else if (alert.OrderType == QLatin1String("LX") || alert.OrderType == QLatin1String("SX")) {
            RunSql(db,
                   {QStringLiteral("DELETE"), QStringLiteral("FROM tClientOpenPositions"),
                    QStringLiteral("WHERE code=:code and symbol=:symbol and system=:system and "
                                   "workspace=:workspace and [tClientOpenPositions].[interval] = :interval")},
                   {{"code", order.ClientCode},
                    {"symbol", order.Ticker},
                    {"system", alert.System},
                    {"workspace", workspace},
                    {"interval", alert.Interval}});
        }
        r.OpenPositionsChanged = true;
    }
    return r;
}

void TTransactionWriter::ReleaseTransactions(const QList<TRecorded>& done) {
    bool positions = false;
    const qint64 now = Ctx.Clock.NowMs();
    QStringList journal;
    journal.reserve(done.size());
    for (const TRecorded& r : done) {
        PendingLines << r.Line;
        PendingSince << now;
        PendingIds << r.TransId;
        if (r.TransId >= 0) {
            if (MarkKinds.size() <= static_cast<size_t>(r.TransId)) MarkKinds.resize(r.TransId + 1, 0);
            MarkKinds[r.TransId] = r.FromFilled ? 'F' : 'A';
        }
        journal << r.JournalText;
        positions = positions || r.OpenPositionsChanged;
    }
    Ctx.Journal.AddJournalLines(journal);
    for (const TRecorded& r : done)
        if (Ctx.Settings.SendTrans_id) Mail.SendNotification(r.MailText);
    if (positions && OnOpenPositionsChanged) OnOpenPositionsChanged();
    if (!done.isEmpty() && OnStatusChanged) OnStatusChanged();
}

void TTransactionWriter::WriteTransaction(const TOrder& order, const TOmegaOrder& alert) {
    QList<TRecorded> done;
    {
        TDbTransaction tx(Ctx.DM.conQuikData());
        done << RecordTransaction(order, alert);
        tx.Commit();
    }
    ReleaseTransactions(done);
}

bool TTransactionWriter::FlushTransactions() {
    if (PendingLines.isEmpty() && LastFlushError.isEmpty()) return true;
    const QString path = LocalFilePath(Ctx.Settings.pathTRI);
    // Lines never started that waited past the retry period are not sent late.
    const auto retry = Regional::ParseInteger(Ctx.Settings.RetryPeriod);
    const qint64 limitMs = (retry && *retry > 0 ? *retry : 30) * 1000;
    const qint64 now = PendingLines.isEmpty() ? 0 : Ctx.Clock.NowMs();
    for (int i = FirstLineWritten > 0 ? 1 : 0; i < PendingLines.size();) {
        if (now - PendingSince[i] <= limitMs) {
            ++i;
            continue;
        }
        Ctx.Journal.AddJournalLine(
            QStringLiteral(
                "Транзакция номер %1 не отправлена в Quik: файл транзакций %2 недоступен дольше %3 с.")
                .arg(QString::number(PendingIds[i]), Ctx.Settings.pathTRI, QString::number(limitMs / 1000)));
        PendingLines.removeAt(i);
        PendingSince.removeAt(i);
        PendingIds.removeAt(i);
    }
    if (PendingLines.isEmpty()) {
        LastFlushError.clear();
        return true;
    }

    QFile f(path);
    QString err;
    // Unbuffered, so that a short write tells exactly how many bytes reached the file.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        err = f.errorString();
    } else {
        qint64 written = 0, wanted = 0;
        // What reached the file is dropped; a line cut short is finished by the next flush.
        const int done = AppendLines(f, PendingLines, FirstLineWritten, &written, &wanted);
        PendingLines.remove(0, done);
        PendingSince.remove(0, done);
        PendingIds.remove(0, done);
        // A short write that the system did not call an error is a full disk all the same.
        if (written < wanted)
            err = f.error() == QFileDevice::NoError || written > 0
                      ? QStringLiteral("записано %1 из %2 байт, диск заполнен").arg(written).arg(wanted)
                      : f.errorString();
        f.close();
    }

    if (err.isEmpty()) {
        if (!LastFlushError.isEmpty())
            Ctx.Journal.AddJournalLine(
                QStringLiteral("Файл транзакций %1 снова доступен: отложенные строки записаны.")
                    .arg(Ctx.Settings.pathTRI));
        LastFlushError.clear();
        return true;
    }
    const QString message =
        QStringLiteral("Не удалось записать в файл транзакций %1: %2").arg(Ctx.Settings.pathTRI, err);
    if (LastFlushError.isEmpty())
        Ctx.Journal.AddJournalLine(message +
                                   QStringLiteral(". Строк ждут записи: %1.").arg(PendingLines.size()));
    LastFlushError = message;
    return false;
}
