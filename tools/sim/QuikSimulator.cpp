#include "QuikSimulator.h"
#include "common/FileNames.h"

#include "DemoData.h"
#include "common/Codec.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/SqlRun.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <cmath>

namespace {
QHash<QString, QString> Fields(const QString& line) {
    QHash<QString, QString> f;
    for (const QString& part : line.split(QLatin1Char(';'))) {
        const int eq = part.indexOf(QLatin1Char('='));
        if (eq > 0) f.insert(part.left(eq).trimmed().toUpper(), part.mid(eq + 1).trimmed());
    }
    return f;
}

QString Result(const QString& id, int status, const QString& name, const QString& description,
               const QString& orderNumber = QString()) {
    QString s = QStringLiteral("TRANS_ID=%1;STATUS=%2;TRANS_NAME=\"%3\";DESCRIPTION=\"%4\";")
                    .arg(id)
                    .arg(status)
                    .arg(name, description);
    if (!orderNumber.isEmpty()) s += QStringLiteral("ORDER_NUMBER=%1;").arg(orderNumber);
    return s;
}
} // namespace

TQuikSimulator::TQuikSimulator(const TPaths& paths, quint32 seed) : Paths(paths), Random(seed) {
    Conn = QStringLiteral("quiksim-") + QUuid::createUuid().toString();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Conn);
    db.setDatabaseName(paths.TradingDb);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    db.open();
    for (const TDemoInstrument& i : DemoInstruments())
        Prices.insert(QString::fromLatin1(i.SecCode), i.Price);
}

TQuikSimulator::~TQuikSimulator() {
    QSqlDatabase::database(Conn, false).close();
    QSqlDatabase::removeDatabase(Conn);
}

void TQuikSimulator::Append(const QString& path, const QStringList& lines) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) return;
    QByteArray bytes;
    for (const QString& l : lines)
        bytes += Cp1251::Encode(l) + "\r\n";
    f.write(bytes);
}

bool TQuikSimulator::KnownInstrument(const QString& secCode, const QString& classCode) {
    try {
        TSqlRows q =
            RunSql(QSqlDatabase::database(Conn, false),
                   {QStringLiteral("SELECT count(*) FROM tSecCode WHERE SecCode = :s AND Class_Code = :c")},
                   {{"s", secCode}, {"c", classCode}});
        return q.next() && q.value(0).toInt() > 0;
    } catch (...) {
        return false;
    }
}

QStringList TQuikSimulator::Answer(const QString& line) {
    const auto f = Fields(line);
    const QString id = f.value(QStringLiteral("TRANS_ID"));
    const QString action = f.value(QStringLiteral("ACTION"));
    QStringList out{Result(id, 0, action, QStringLiteral("Транзакция отправлена на сервер"))};
    if (action == QLatin1String("NEW_ORDER") || action == QLatin1String("NEW_STOP_ORDER")) {
        const auto qty = Regional::ParseInteger(f.value(QStringLiteral("QUANTITY")));
        const QString price = f.value(QStringLiteral("PRICE"));
        if (!KnownInstrument(f.value(QStringLiteral("SECCODE")), f.value(QStringLiteral("CLASSCODE"))))
            out << Result(id, 4, action, QStringLiteral("Указан неверный код класса или инструмента"));
        else if (!qty || *qty < 1)
            out << Result(
                id, 5, action,
                QStringLiteral("Неверно указано количество: %1").arg(f.value(QStringLiteral("QUANTITY"))));
        else if (!price.contains(QRegularExpression(QStringLiteral("[1-9]"))))
            out << Result(id, 4, action, QStringLiteral("Не указана цена заявки"));
        else {
            const QString number = QString::number(NextOrderNumber++);
            LiveOrders.insert(number);
            out << Result(id, 3, action, QStringLiteral("Заявка №%1 успешно зарегистрирована").arg(number),
                          number);
        }
    } else if (action == QLatin1String("KILL_ORDER") || action == QLatin1String("KILL_STOP_ORDER")) {
        const QString key =
            f.value(action == QLatin1String("KILL_STOP_ORDER") ? QStringLiteral("STOP_ORDER_KEY")
                                                               : QStringLiteral("ORDER_KEY"));
        if (LiveOrders.remove(key))
            out << Result(id, 3, action, QStringLiteral("Заявка №%1 снята").arg(key), key);
        else
            out << Result(id, 4, action,
                          QStringLiteral("Не найдена заявка с номером %1")
                              .arg(key.isEmpty() ? QStringLiteral("(пусто)") : key));
    } else {
        out << Result(id, 6, action, QStringLiteral("Транзакция не поддерживается: %1").arg(action));
    }
    return out;
}

int TQuikSimulator::AnswerTransactions() {
    QFile f(Paths.Tri);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    // The robot empties the file, or puts a new one at its path, when it starts.
    const QString identity = FileIdentity(Paths.Tri);
    if (f.size() < TriOffset || identity != TriIdentity) TriOffset = 0;
    TriIdentity = identity;
    f.seek(TriOffset);
    const QByteArray data = f.readAll();
    int answered = 0;
    int pos = 0;
    for (int nl = data.indexOf('\n', pos); nl >= 0; nl = data.indexOf('\n', pos)) {
        const QString line = Cp1251::Decode(data.mid(pos, nl - pos)).trimmed();
        if (!line.isEmpty()) {
            const QStringList answer = Answer(line);
            Append(Paths.Tro, answer);
            if (!History.isEmpty()) Append(History, QStringList{line} + answer);
            ++answered;
        }
        pos = nl + 1;
    }
    TriOffset += pos;
    return answered;
}

bool TQuikSimulator::IsConnected() const {
    return Connected && !QFile::exists(LinkDownMarker());
}

void TQuikSimulator::GrowInfoLog() {
    if (!IsConnected()) return;
    Append(Paths.InfoLog, {QDateTime::currentDateTime().toString(Qt::ISODate) +
                           QStringLiteral(" Обмен данными с сервером")});
}

QString TQuikSimulator::ExportQuotes() {
    QSqlDatabase db = QSqlDatabase::database(Conn, false);
    try {
        // The write lock is taken up front: a read snapshot of a deferred transaction that the robot's
        // commit overtook could never be turned into a write.
        TDbTransaction tx(db);
        for (const TDemoInstrument& i : DemoInstruments()) {
            const QString code = QString::fromLatin1(i.SecCode);
            double& p = Prices[code];
            p = std::max(i.Price * 0.5, p * (1 + (Random.generateDouble() - 0.5) * 0.004));
            const double step = i.Digits >= 0 ? std::pow(10.0, -i.Digits) : 10.0 * -i.Digits;
            p = std::round(p / step) * step;
            const double spread = step * (1 + Random.bounded(3));
            TSqlRows q = RunSql(db, {QStringLiteral("SELECT id FROM tParam WHERE code = :c")}, {{"c", code}});
            const bool exists = q.next();
            const QStringList sql =
                exists
                    ? QStringList{QStringLiteral("UPDATE tParam SET bid=:bid, offer=:offer, last=:last, "
                                                 "high=max(high,:last), low=min(low,:last),"),
                                  QStringLiteral(
                                      " biddepth=:bd, offerdepth=:od, lastchange=:chg, "
                                      "voltoday=voltoday+:vol, valtoday=valtoday+:val, timelast=:t"),
                                  QStringLiteral("WHERE code=:c")}
                    : QStringList{
                          QStringLiteral("INSERT INTO tParam (code, stock, shortname, class_code, lotsize, "
                                         "bid, offer, last, open, high, low, closeprice,"),
                          QStringLiteral(" biddepth, offerdepth, lastchange, voltoday, valtoday, timelast)"),
                          QStringLiteral("VALUES (:c, :c, :c, :class, :lot, :bid, :offer, :last, :last, "
                                         ":last, :last, :last, :bd, :od, :chg, :vol, :val, :t)")};
            const int bd = Random.bounded(1, 500), od = Random.bounded(1, 500);
            const int vol = Random.bounded(1, 1000) * i.LotSize;
            const double val = p * i.LotSize * Random.bounded(1, 1000);
            const QString t = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            // A statement takes exactly its own values: the update has no class and lot to set.
            if (exists)
                RunSql(db, sql,
                       {{"bid", p - spread},
                        {"offer", p + spread},
                        {"last", p},
                        {"bd", bd},
                        {"od", od},
                        {"chg", (p - i.Price) / i.Price * 100},
                        {"vol", vol},
                        {"val", val},
                        {"t", t},
                        {"c", code}});
            else
                RunSql(db, sql,
                       {{"c", code},
                        {"class", QString::fromLatin1(i.ClassCode)},
                        {"lot", i.LotSize},
                        {"bid", p - spread},
                        {"offer", p + spread},
                        {"last", p},
                        {"bd", bd},
                        {"od", od},
                        {"chg", (p - i.Price) / i.Price * 100},
                        {"vol", vol},
                        {"val", val},
                        {"t", t}});
        }
        // Portfolios drift with the market.
        RunSql(db,
               {QStringLiteral("UPDATE tPortfolio SET curassets = round(curassets * :k, 2), curallassets = "
                               "round(curallassets * :k, 2),"),
                QStringLiteral(" profitloss = round(curallassets * :k - openallassets, 2), change = "
                               "round((curallassets * :k / openallassets - 1) * 100, 2),"),
                QStringLiteral(" ddate = :t")},
               {{"k", 1 + (Random.generateDouble() - 0.5) * 0.002},
                {"t", QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))}});
        tx.Commit();
    } catch (const std::exception& e) {
        // Rolled back; the next export tries again, as QUIK keeps exporting.
        return ErrorText(e);
    }
    return QString();
}
