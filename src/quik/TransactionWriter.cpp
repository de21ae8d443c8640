#include "quik/TransactionWriter.h"

#include "common/Clock.h"
#include "common/Codec.h"
#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/LineAppend.h"
#include "common/QuikField.h"
#include "common/Regional.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "data/TableColumns.h"
#include "notify/MailNotifier.h"
#include "quik/PriceText.h"
#include "settings/Settings.h"

#include <QFile>
#include <algorithm>

TTransactionWriter::TTransactionWriter(const TPipelineContext& ctx, TMailNotifier& mail,
                                       TOrderRegistry& registry, TPositionBook& book)
    : Ctx(ctx), Mail(mail), Registry(registry), Book(book) {}

qint64 TTransactionWriter::RetryPeriodMs(const QString& setting) {
    const auto v = Regional::ParseInteger(setting);
    if (!v || *v < 1) return 30000;
    return std::min<qint64>(*v, 3600) * 1000;
}

QString TTransactionWriter::UnsafeField(const TOrder& o, const TSettings& settings) {
    const QString* const values[] = {&o.ClientCode, &o.Account,      &o.SecCode, &o.ClassCode,
                                     &o.OrderKey,   &o.StopOrderKey, &o.Action,  &o.Operation};
    for (int i = 0; i < 8; ++i) {
        const QString problem = QuikFieldProblem(*values[i]);
        if (problem.isEmpty()) continue;
        // The cell is named as the operator finds it: the key of the settings, or the window, the row
        // and the column title of the table it came from.
        const QString accountField = o.ClassCode == QLatin1String("SPBFUT") ? QStringLiteral("AccountFORTS")
                                     : o.ClassCode == QLatin1String("GTS")  ? QStringLiteral("Code")
                                                                            : QStringLiteral("AccountMicex");
        const QString clientField = i == 0 ? QStringLiteral("Code") : accountField;
        QString where;
        if (i < 2)
            where = settings.rgpSingleMulti == 0
                        ? QStringLiteral("настройки [Quik], ключ ") + clientField
                        : CellName(QStringLiteral("tClients"), o.ClientCode, clientField);
        else if (i < 4)
            where = CellName(QStringLiteral("tSecCode"), o.Ticker,
                             i == 2 ? QStringLiteral("SecCode") : QStringLiteral("Class_Code"));
        else if (i < 6)
            where = QStringLiteral("Отчет по транзакциям, колонка \"%1\"")
                        .arg(ColumnTitle(QStringLiteral("tOrderNumber"), QStringLiteral("order_number")));
        else
            where = i == 6 ? QStringLiteral("ордер, поле ACTION") : QStringLiteral("ордер, поле OPERATION");
        return where + QStringLiteral(": \"") + JournalField(*values[i]) + QStringLiteral("\" содержит ") +
               problem;
    }
    return QString();
}

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

QString TTransactionWriter::SideWord(const QString& operation) {
    if (operation == QLatin1String("B")) return QStringLiteral("покупка");
    if (operation == QLatin1String("S")) return QStringLiteral("продажа");
    return operation;
}

QString TTransactionWriter::OperatorText(const TOrder& o) {
    return OperatorText(o, PriceToText(o.Digits, o.Price));
}

QString TTransactionWriter::OperatorText(const TOrder& o, const QString& price) {
    // The operator's words; the line itself keeps QUIK's.
    if (o.Action.contains(QLatin1String("NEW")))
        return QStringLiteral(" [") + SideWord(o.Operation) + QLatin1Char(' ') + QString::number(o.Quantity) +
               QLatin1Char(' ') + o.Ticker + QStringLiteral(" по ") + price +
               (o.IsStop ? QStringLiteral(", стоп") : QString()) + QStringLiteral("] ");
    if (o.Action.contains(QLatin1String("KILL")))
        return QStringLiteral(" [снятие заявки # ") + o.OrderKey + QLatin1Char(']');
    return QString();
}

TTransactionWriter::TRecorded TTransactionWriter::RecordTransaction(const TOrder& order,
                                                                    const TOmegaOrder& alert, qint64 seenMs,
                                                                    const TRecordOptions& options) {
    // A field that would make QUIK read another line, or a key twice, is no order.
    const QString unsafe = options.FieldsChecked ? QString() : UnsafeField(order, Ctx.Settings);
    if (!unsafe.isEmpty())
        throw ConversionError(QStringLiteral("Ордер # ") + AlertRef(alert) + QStringLiteral(" по счету ") +
                              JournalField(order.ClientCode) + QStringLiteral(" не отправлен: ") + unsafe +
                              QLatin1Char('.'));
    // A price that cannot be written as a number is no order: QUIK would read another one.
    const std::optional<QString> price = TryPriceToText(order.Digits, order.Price);
    const std::optional<QString> stopPrice = TryPriceToText(order.Digits, order.StopPrice);
    if (!price || !stopPrice)
        throw ConversionError(QStringLiteral("Ордер # ") + AlertRef(alert) + QStringLiteral(": цена ") +
                              QString::number(price ? order.StopPrice : order.Price, 'g', 17) +
                              QStringLiteral(" не может быть записана с точностью ") +
                              QString::number(order.Digits) +
                              QStringLiteral(" (Digits). Транзакция не отправлена."));

    TOrderRecord rec;
    rec.AlertTable = !options.AlertTable.isEmpty() ? options.AlertTable
                     : alert.Filled                ? QStringLiteral("FilledOrders")
                                                   : QStringLiteral("ActiveOrders");
    rec.AlertId = order.IdOrder;
    rec.Code = order.ClientCode;
    rec.Account = order.Account;
    rec.SecCode = order.SecCode;
    rec.ClassCode = order.ClassCode;
    rec.Ticker = order.Ticker;
    rec.Strategy = alert.System;
    rec.Signal = alert.Signal;
    rec.Workspace = WorkspaceFileName(alert.Workspace);
    rec.Interval = alert.Interval;
    rec.Action = order.Action;
    rec.Operation = order.Operation;
    // Entry or exit is the alert's word; the order carries it too.
    rec.OrderType = alert.OrderType.isEmpty() ? order.OrderType : alert.OrderType;
    rec.Quantity = order.Quantity;
    rec.Price = order.Price;
    rec.StopPrice = order.StopPrice;
    rec.Digits = order.Digits;
    rec.Market = order.Filled && !order.IsStop;
    rec.Manual = options.Manual;
    rec.Cancels = options.Cancels;

    // A market order changes the book when it is recorded (taken back should QUIK refuse it); a
    // limit or stop order only when the platform reports its fill.
    TPositionBook::TEffect effect;
    if (rec.Action == QLatin1String("NEW_ORDER") && rec.Market) {
        const TPositionBook::TKey key{rec.Code,     rec.Ticker,    TPositionBook::SideOf(rec.OrderType),
                                      rec.Strategy, rec.Workspace, rec.Interval};
        if (TPositionBook::IsEntry(rec.OrderType))
            effect.Added.push_back(Book.Open(key, rec.Quantity, rec.Signal));
        else if (TPositionBook::IsExit(rec.OrderType))
            effect.Removed = Book.Close(key);
    }
    rec.Book = effect.ToText();
    const qint32 cancels = rec.Cancels;
    const qint32 id = Registry.Record(std::move(rec));
    if (cancels > 0) {
        Registry.SetKill(cancels, id);
        Registry.Move(cancels, TOrderEvent::KillSent);
    }
    // tOrderNumber is the report of QUIK's answers: the transaction gets its row there too.
    RunSql(Ctx.DM.conQuikData(),
           {QStringLiteral("INSERT INTO tOrderNumber (trans_id, id_order, filled, code)"),
            QStringLiteral("VALUES (:trans_id, :id_order, :filled, :code)")},
           {{"trans_id", id},
            {"id_order", order.IdOrder},
            {"filled", order.Filled ? 1 : 0},
            {"code", order.ClientCode}});

    TRecorded r;
    r.TransId = id;
    r.Line = TransactionLine(id, order, *price, *stopPrice);
    // The setting is read again only when its text changed.
    if (RetryText.isNull() || Ctx.Settings.RetryPeriod != RetryText) {
        RetryText = Ctx.Settings.RetryPeriod.isNull() ? QLatin1String("") : Ctx.Settings.RetryPeriod;
        RetryMs = RetryPeriodMs(RetryText);
    }
    r.DeadlineMs = seenMs + RetryMs;
    r.OpenPositionsChanged = !effect.Empty();

    const QString idText = QString::number(id), text = OperatorText(order, *price);
    r.JournalText = QStringLiteral("Транзакция номер ") + idText + text + QStringLiteral(" по счету ") +
                    order.ClientCode + QStringLiteral(" отправлена в Quik.");
    // The same without the client code, made only for a mail that goes out.
    if (Ctx.Settings.SendTrans_id)
        r.MailText =
            QStringLiteral("Транзакция номер ") + idText + text + QStringLiteral(" отправлена в Quik.");
    return r;
}

QString TTransactionWriter::TakeBackEffect(qint32 transId) {
    const TOrderRecord* rec = Registry.Find(transId);
    if (!rec || rec->Book.isEmpty()) return QString();
    const TPositionBook::TEffect effect = TPositionBook::TEffect::FromText(rec->Book);
    const QString text = Book.TakeBack(effect);
    Registry.SetBook(transId, QString());
    QSet<qint64> opened;
    for (const auto& row : effect.Added)
        if (row.Id >= 0) opened.insert(row.Id);
    if (opened.isEmpty()) return text;
    for (const TOrderRecord& later : Registry.All()) {
        if (later.TransId <= transId || later.Book.isEmpty()) continue;
        TPositionBook::TEffect e = TPositionBook::TEffect::FromText(later.Book);
        const auto before = e.Removed.size();
        std::erase_if(e.Removed, [&](const TPositionBook::TRow& row) { return opened.contains(row.Id); });
        if (e.Removed.size() != before) Registry.SetBook(later.TransId, e.ToText());
    }
    return text;
}

QString TTransactionWriter::TakeBackUnsent(qint32 transId) {
    const TOrderRecord* rec = Registry.Find(transId);
    if (!rec || rec->Stage != TOrderStage::Recorded) return QString();
    const qint32 cancels = rec->Cancels;
    QString text;
    TDbTransaction tx(Ctx.DM.conQuikData());
    Registry.Begin();
    try {
        text = TakeBackEffect(transId);
        Registry.Move(transId, TOrderEvent::LineGivenUp);
        if (cancels > 0) Registry.Move(cancels, TOrderEvent::KillFailed);
        RunSql(Ctx.DM.conQuikData(), {QStringLiteral("DELETE FROM tOrderNumber WHERE trans_id = :t")},
               {{"t", transId}});
        tx.Commit();
    } catch (...) {
        Registry.Rollback();
        throw;
    }
    Registry.Commit();
    return text;
}

void TTransactionWriter::ReleaseTransactions(const QList<TRecorded>& done) {
    bool positions = false;
    for (const TRecorded& r : done) {
        PendingLines << r.Line;
        Pending << TPending{r.TransId, r.DeadlineMs, r.JournalText, r.MailText};
        positions = positions || r.OpenPositionsChanged;
    }
    if (positions && OnOpenPositionsChanged) OnOpenPositionsChanged();
}

void TTransactionWriter::WriteTransaction(const TOrder& order, const TOmegaOrder& alert) {
    QList<TRecorded> done;
    {
        TDbTransaction tx(Ctx.DM.conQuikData());
        Registry.Begin();
        try {
            done << RecordTransaction(order, alert, Ctx.Clock.MonotonicMs());
            tx.Commit();
        } catch (...) {
            Registry.Rollback();
            throw;
        }
        Registry.Commit();
    }
    ReleaseTransactions(done);
}

void TTransactionWriter::GiveUp(int index, const QString& why) {
    const qint32 id = Pending[index].Id;
    PendingLines.removeAt(index);
    Pending.removeAt(index);
    QString taken;
    try {
        taken = TakeBackUnsent(id);
    } catch (const std::exception& e) {
        Ctx.Journal.AddJournalLine(QStringLiteral("Транзакция номер %1 не отправлена в Quik: %2. Запись "
                                                  "книги не отменена (%3); повтор при следующей записи.")
                                       .arg(QString::number(id), why, ErrorText(e)));
        Undone << qMakePair(id, why);
        return;
    }
    Ctx.Journal.AddJournalLine(
        QStringLiteral("Транзакция номер %1 не отправлена в Quik: %2.").arg(QString::number(id), why) +
        (taken.isEmpty() ? QString() : QStringLiteral(" Отменено: ") + taken + QLatin1Char('.')));
    if (!taken.isEmpty() && OnOpenPositionsChanged) OnOpenPositionsChanged();
}

void TTransactionWriter::TakeBackLater() {
    for (int i = 0; i < Undone.size();) {
        QString taken;
        try {
            taken = TakeBackUnsent(Undone[i].first);
        } catch (const std::exception&) {
            return; // the database still refuses: the next flush tries again
        }
        Ctx.Journal.AddJournalLine(QStringLiteral("Транзакция номер %1: запись книги отменена%2.")
                                       .arg(QString::number(Undone[i].first),
                                            taken.isEmpty() ? QString() : QStringLiteral(": ") + taken));
        if (!taken.isEmpty() && OnOpenPositionsChanged) OnOpenPositionsChanged();
        Undone.removeAt(i);
    }
}

int TTransactionWriter::GiveUpPending(const QString& why) {
    int n = 0;
    // A line cut short goes too: the next start empties the file, and QUIK never takes half a line.
    FirstLineWritten = 0;
    for (int i = 0; i < PendingLines.size();) {
        GiveUp(i, why);
        ++n;
    }
    TakeBackLater();
    Ctx.Journal.FlushJournal();
    if (n > 0 && OnStatusChanged) OnStatusChanged();
    return n;
}

bool TTransactionWriter::FlushTransactions() {
    if (!Undone.isEmpty()) TakeBackLater();
    if (PendingLines.isEmpty() && LastFlushError.isEmpty()) return true;
    const QString path = LocalFilePath(Ctx.Settings.pathTRI);
    // Lines never started whose alert is older than the retry period are not sent late.
    const qint64 now = PendingLines.isEmpty() ? 0 : Ctx.Clock.MonotonicMs();
    bool givenUp = false;
    for (int i = FirstLineWritten > 0 ? 1 : 0; i < PendingLines.size();) {
        if (now <= Pending[i].DeadlineMs) {
            ++i;
            continue;
        }
        const QString period = QString::number(RetryPeriodMs(Ctx.Settings.RetryPeriod) / 1000);
        GiveUp(
            i,
            LastFlushError.isEmpty()
                ? QStringLiteral("ордер старше %1 с (RetryPeriod), поздний сигнал не исполняется").arg(period)
                : QStringLiteral("файл транзакций %1 недоступен дольше %2 с")
                      .arg(Ctx.Settings.pathTRI, period));
        givenUp = true;
    }
    if (givenUp && OnStatusChanged) OnStatusChanged();
    if (PendingLines.isEmpty()) {
        LastFlushError.clear();
        return true;
    }

    QFile f(path);
    QString err;
    int done = 0;
    // Unbuffered, so that a short write tells exactly how many bytes reached the file.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        err = f.errorString();
    } else {
        qint64 written = 0, wanted = 0;
        // What reached the file is dropped; a line cut short is finished by the next flush.
        done = AppendLines(f, PendingLines, FirstLineWritten, &written, &wanted);
        // A short write that the system did not call an error is a full disk all the same.
        if (written < wanted)
            err = f.error() == QFileDevice::NoError || written > 0
                      ? QStringLiteral("записано %1 из %2 байт, диск заполнен").arg(written).arg(wanted)
                      : f.errorString();
        f.close();
    }
    if (done > 0) {
        // Only now does the operator hear that the line went to QUIK, and only now is it mailed.
        QStringList journal;
        QList<qint32> ids;
        journal.reserve(done);
        ids.reserve(done);
        for (int i = 0; i < done; ++i) {
            ids << Pending[i].Id;
            journal << Pending[i].JournalText;
        }
        LinesSent += done;
        Registry.LinesWritten(ids);
        Ctx.Journal.AddJournalLines(journal);
        if (Ctx.Settings.SendTrans_id)
            for (int i = 0; i < done; ++i)
                if (!Pending[i].MailText.isEmpty()) Mail.SendNotification(Pending[i].MailText);
        PendingLines.remove(0, done);
        Pending.remove(0, done);
        if (OnStatusChanged) OnStatusChanged();
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
