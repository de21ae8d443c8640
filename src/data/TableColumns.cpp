#include "data/TableColumns.h"

#include "common/Journal.h"

#include <QHash>

QStringList DeclaredColumns(const QString& tableObject) {
    static const QHash<QString, QStringList> columns = {
        {QStringLiteral("tFilledOrders"),
         {"ID",          "Symbol",          "Description",      "OrderType",
          "Order",       "Fill Price",      "FillPriceLong",    "FillPriceBaseCode",
          "Slippage",    "SlippageLong",    "SlippageBaseCode", "Time Placed",
          "Time Filled", "System",          "Signal",           "Workspace",
          "Interval",    "Position Number", "Order Number",     "Alert String",
          "hWindow",     "AlertType"}},
        {QStringLiteral("tActiveOrders"),
         {"ID", "Symbol", "Description", "OrderType", "Order", "Last", "LastLong", "LastBaseCode",
          "Time Placed", "System", "Signal", "Workspace", "Interval", "Position Number", "Order Number",
          "Alert String", "hWindow", "AlertType"}},
        {QStringLiteral("tCanceledOrders"),
         {"ID", "Symbol", "Description", "OrderType", "Order", "Time Placed", "Time Canceled", "System",
          "Signal", "Workspace", "Interval", "Position Number", "Order Number", "Canceled Number",
          "Alert String", "hWindow", "AlertType"}},
        {QStringLiteral("tOpenPisitions"),
         {"ID",           "Symbol",       "Description",  "Entry Price", "EntryLong",  "EntryBaseCode",
          "Last",         "LastLong",     "LastBaseCode", "Profit",      "ProfitLong", "ProfitBaseCode",
          "Entry Time",   "System",       "Signal",       "Workspace",   "Interval",   "Position Number",
          "Order Number", "Alert String", "hWindow",      "AlertType"}},
        {QStringLiteral("tParam"),
         {"code",       "bid",         "biddepth",  "biddeptht",    "numbids",    "offer",
          "offerdepth", "offerdeptht", "numoffers", "open",         "high",       "low",
          "last",       "qtylast",     "timelast",  "voltoday",     "valtoday",   "vallast",
          "waprice",    "hibid",       "lowoffer",  "numtrades",    "prevprice",  "lotsize",
          "closeprice", "lastchange",  "lastvalue", "currentvalue", "openvalue",  "chngopen",
          "chngclose",  "shortname",   "stock",     "classname",    "class_code", "id"}},
        {QStringLiteral("tPortfolio"),
         {"ddate", "id_client", "openassets", "shorts", "longs", "curassets", "openallassets", "curallassets",
          "margin", "leverage", "curleverage", "change", "profitloss", "firm", "id"}},
        {QStringLiteral("tSecCode"),
         {"SecCode", "FixVol", "Part", "Traded", "LotSize", "Class_Code", "Ticker", "Slippage", "Digits"}},
        {QStringLiteral("tWorkSpaces"), {"id_workspace", "workspace"}},
        {QStringLiteral("tStrategy"), {"id_strategy", "strategy"}},
        {QStringLiteral("tOrderNumber"),
         {"trans_id", "id_order", "filled", "order_number", "status", "description", "trans_name", "id",
          "code"}},
        {QStringLiteral("tClients"),
         {"id", "Code", "client", "AccountMicex", "AccountFORTS", "note", "Active"}},
        {QStringLiteral("tClientOpenPositions"),
         {"id", "symbol", "quantity", "System", "Signal", "Workspace", "Interval", "code"}},
        {QStringLiteral("tOrderRegistry"),
         {"id",       "day",          "trans_id",   "recorded",    "alert_table", "alert_id",
          "code",     "account",      "ticker",     "action",      "operation",   "order_type",
          "quantity", "price",        "stop_price", "digits",      "manual",      "cancels",
          "stage",    "order_number", "status",     "description", "answered"}},
    };
    return columns.value(tableObject);
}

QString ColumnTitle(const QString& tableObject, const QString& field) {
    static const QHash<QString, QHash<QString, QString>> titles = {
        {QStringLiteral("tSecCode"),
         {{"Ticker", "Тикер в Омеге"},
          {"Traded", "Торгуется"},
          {"FixVol", "Сумма"},
          {"Part", "Доля счета (%)"},
          {"Slippage", "Проск-е (%)"},
          {"LotSize", "Лот"},
          {"Class_Code", "Код класса"},
          {"Digits", "Знаки после запятой"},
          {"SecCode", "Код в Quik`е"}}},
        {QStringLiteral("tClients"),
         {{"Code", "Код клиента"},
          {"Active", "Активен"},
          {"client", "Владелец счета"},
          {"AccountMicex", "Счет на ММВБ"},
          {"AccountFORTS", "Счет на ФОРТС"},
          {"note", "Комментарии"}}},
        {QStringLiteral("tOrderNumber"), {{"order_number", "Номер заявки в квике"}}},
    };
    const auto& columns = titles.value(tableObject);
    for (auto it = columns.cbegin(); it != columns.cend(); ++it)
        if (it.key().compare(field, Qt::CaseInsensitive) == 0) return it.value();
    return field;
}

QString CellName(const QString& tableObject, const QString& rowCode, const QString& field) {
    static const QHash<QString, QString> tables = {
        {QStringLiteral("tSecCode"), QStringLiteral("Инструменты")},
        {QStringLiteral("tClients"), QStringLiteral("Клиенты")},
        {QStringLiteral("tOrderNumber"), QStringLiteral("Отчет по транзакциям")}};
    const QString row = rowCode.trimmed().isEmpty()
                            ? QStringLiteral("новая строка")
                            : QStringLiteral("строка \"%1\"").arg(JournalField(rowCode.trimmed(), 40));
    return QStringLiteral("%1, %2, колонка \"%3\"")
        .arg(tables.value(tableObject, tableObject), row, ColumnTitle(tableObject, field));
}
