#include "quik/LiveOrders.h"

#include <QFile>
#include <QSaveFile>
#include <QUrl>
#include <algorithm>

namespace {
// One order a line: key=value pairs separated by tabs, values percent-encoded.
QByteArray Enc(const QString& s) {
    return QUrl::toPercentEncoding(s);
}
QString Dec(const QByteArray& b) {
    return QUrl::fromPercentEncoding(b);
}
} // namespace

int TLiveOrders::Load(const QDate& today, int* otherDay) {
    Orders.clear();
    Waiting.clear();
    Dirty = false;
    if (otherDay) *otherDay = 0;
    QFile f(FilePath);
    if (FilePath.isEmpty() || !f.open(QIODevice::ReadOnly)) return 0;
    QString day;
    QList<TLive> read;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("Day=")) {
            day = QString::fromLatin1(line.mid(4));
            continue;
        }
        const bool awaiting = line.startsWith("await=");
        if (!line.startsWith("order=") && !awaiting) continue;
        QHash<QByteArray, QByteArray> v;
        for (const QByteArray& pair : line.split('\t')) {
            const int eq = pair.indexOf('=');
            if (eq > 0) v.insert(pair.left(eq), pair.mid(eq + 1));
        }
        TLive l;
        bool ok = false;
        l.OrderNumber = v.value("order").toLongLong(&ok);
        l.TransId = v.value("trans").toInt();
        if (awaiting) {
            l.OrderNumber = 0;
            ok = l.TransId >= 0;
        }
        if (!ok || (!awaiting && l.OrderNumber <= 0)) continue;
        l.FromFilled = v.value("filled") == "1";
        l.Carried = true;
        TOrder& o = l.Order;
        o.Action = Dec(v.value("action"));
        o.Operation = Dec(v.value("operation"));
        o.Quantity = v.value("quantity").toInt();
        o.Price = v.value("price").toDouble();
        o.StopPrice = v.value("stopprice").toDouble();
        o.IsStop = o.Action == QLatin1String("NEW_STOP_ORDER");
        o.Filled = v.value("market") == "1";
        o.ClientCode = Dec(v.value("code"));
        o.Account = Dec(v.value("account"));
        o.SecCode = Dec(v.value("seccode"));
        o.Ticker = Dec(v.value("ticker"));
        o.ClassCode = Dec(v.value("classcode"));
        o.OrderType = Dec(v.value("ordertype"));
        o.Digits = v.value("digits").toInt();
        o.IdOrder = v.value("alert").toLongLong();
        read << l;
    }
    if (day != today.toString(Qt::ISODate)) {
        if (otherDay) *otherDay = static_cast<int>(read.size());
        Dirty = !read.isEmpty();
        return 0;
    }
    for (const TLive& l : read)
        if (l.OrderNumber > 0)
            Orders.insert(l.OrderNumber, l);
        else
            Waiting.insert(l.TransId, l);
    return Count();
}

bool TLiveOrders::Save(const QDate& today) {
    if (FilePath.isEmpty()) return false;
    QSaveFile f(FilePath);
    if (!f.open(QIODevice::WriteOnly)) return false;
    QByteArray text = "[LiveOrders]\r\nDay=" + today.toString(Qt::ISODate).toLatin1() + "\r\n";
    QList<TLive> all = Orders.values() + Waiting.values();
    std::sort(all.begin(), all.end(), [](const TLive& a, const TLive& b) { return a.TransId < b.TransId; });
    for (const TLive& l : all) {
        const TOrder& o = l.Order;
        text += (l.OrderNumber > 0 ? "order=" + QByteArray::number(l.OrderNumber) : QByteArray("await=")) +
                "\ttrans=" + QByteArray::number(l.TransId) + "\tfilled=" + (l.FromFilled ? "1" : "0") +
                "\talert=" + QByteArray::number(o.IdOrder) + "\taction=" + Enc(o.Action) +
                "\toperation=" + Enc(o.Operation) + "\tquantity=" + QByteArray::number(o.Quantity) +
                "\tprice=" + QByteArray::number(o.Price, 'g', 17) +
                "\tstopprice=" + QByteArray::number(o.StopPrice, 'g', 17) +
                "\tmarket=" + (o.Filled ? "1" : "0") + "\tcode=" + Enc(o.ClientCode) +
                "\taccount=" + Enc(o.Account) + "\tseccode=" + Enc(o.SecCode) + "\tticker=" + Enc(o.Ticker) +
                "\tclasscode=" + Enc(o.ClassCode) + "\tordertype=" + Enc(o.OrderType) +
                "\tdigits=" + QByteArray::number(o.Digits) + "\r\n";
    }
    f.write(text);
    if (!f.commit()) return false;
    Dirty = false;
    return true;
}

void TLiveOrders::Accepted(qint64 orderNumber, qint32 transId, bool fromFilled, const TOrder& order) {
    if (orderNumber <= 0) return;
    TLive l;
    l.OrderNumber = orderNumber;
    l.TransId = transId;
    l.FromFilled = fromFilled;
    l.Order = order;
    Orders.insert(orderNumber, l);
    Dirty = true;
}

void TLiveOrders::Awaiting(qint32 transId, bool fromFilled, const TOrder& order) {
    TLive l;
    l.TransId = transId;
    l.FromFilled = fromFilled;
    l.Order = order;
    Waiting.insert(transId, l);
    Dirty = true;
}

void TLiveOrders::Answered(qint32 transId) {
    if (Waiting.remove(transId) > 0) Dirty = true;
}

bool TLiveOrders::AcceptAwaited(qint32 transId, qint64 orderNumber) {
    const auto it = Waiting.constFind(transId);
    if (it == Waiting.cend() || !it->Carried || orderNumber <= 0) return false;
    TLive l = *it;
    Waiting.erase(it);
    l.OrderNumber = orderNumber;
    Orders.insert(orderNumber, l);
    Dirty = true;
    return true;
}

void TLiveOrders::KillSent(qint64 orderNumber, qint32 killTrans) {
    auto it = Orders.find(orderNumber);
    if (it != Orders.end()) it->KillTrans = killTrans;
}

void TLiveOrders::KillFailed(qint64 orderNumber, qint32 killTrans) {
    auto it = Orders.find(orderNumber);
    if (it != Orders.end() && it->KillTrans == killTrans) it->KillTrans = -1;
}

void TLiveOrders::Pulled(qint64 orderNumber) {
    if (Orders.remove(orderNumber) > 0) Dirty = true;
}

std::optional<qint64> TLiveOrders::NumberFor(qint64 alertId, bool market, const QString& code) const {
    std::optional<qint64> found;
    qint32 latest = -1;
    for (const TLive& l : Orders)
        if (l.Order.IdOrder == alertId && l.Order.Filled == market &&
            l.Order.ClientCode.compare(code, Qt::CaseInsensitive) == 0 && l.TransId >= latest) {
            latest = l.TransId;
            found = l.OrderNumber;
        }
    return found;
}

QList<TLiveOrders::TLive> TLiveOrders::ToPull() const {
    QList<TLive> out;
    for (const TLive& l : Orders)
        if (l.KillTrans < 0) out << l;
    std::sort(out.begin(), out.end(), [](const TLive& a, const TLive& b) { return a.TransId < b.TransId; });
    return out;
}
