#include "DemoData.h"

#include "data/SqlRun.h"

const QList<TDemoInstrument>& DemoInstruments() {
    static const QList<TDemoInstrument> list = {
        {"SBER", "SBER", "TQBR", 10, 2, 0.10, 50000, 10, true, 285.40},
        {"GAZP", "GAZP", "TQBR", 10, 2, 0.10, 40000, 10, true, 131.25},
        {"LKOH", "LKOH", "TQBR", 1, 1, 0.05, 100000, 15, true, 7012.5},
        {"GMKN", "GMKN", "TQBR", 10, 2, 0.10, 30000, 5, true, 118.36},
        {"MGNT", "MGNT", "TQBR", 1, 1, 0.10, 30000, 5, false, 5120.0},
        {"SiH7", "SiH7", "SPBFUT", 1, 0, 0.02, 100000, 10, true, 91250},
        {"RIH7", "RIH7", "SPBFUT", 1, -1, 0.05, 150000, 10, true, 112340},
    };
    return list;
}

void FillDemoTradingData(const QSqlDatabase& db) {
    for (const TDemoInstrument& i : DemoInstruments())
        RunSql(
            db,
            {QStringLiteral("INSERT INTO tSecCode (SecCode, FixVol, Part, Traded, LotSize, Class_Code, "
                            "Ticker, Slippage, Digits)"),
             QStringLiteral("VALUES (:sec, :fixvol, :part, :traded, :lot, :class, :ticker, :slip, :digits)")},
            {{"sec", QString::fromLatin1(i.SecCode)},
             {"fixvol", i.FixVol},
             {"part", i.Part},
             {"traded", i.Traded ? 1 : 0},
             {"lot", i.LotSize},
             {"class", QString::fromLatin1(i.ClassCode)},
             {"ticker", QString::fromLatin1(i.Ticker)},
             {"slip", i.Slippage},
             {"digits", i.Digits}});
    for (const char* w : {"Trend.orw", "Scalper.orw"})
        RunSql(db, {QStringLiteral("INSERT INTO tWorkSpaces (workspace) VALUES (:w)")},
               {{"w", QString::fromLatin1(w)}});
    for (const char* s : {"Breakout", "MACross", "Channel"})
        RunSql(db, {QStringLiteral("INSERT INTO tStrategy (strategy) VALUES (:s)")},
               {{"s", QString::fromLatin1(s)}});
    struct Client {
        const char* Code;
        QString Owner;
        const char* Micex;
        const char* Forts;
        double Assets;
    };
    const Client clients[] = {
        {"111", QStringLiteral("Иванов И. И."), "L01-00000F00", "SPB01", 1500000},
        {"222", QStringLiteral("Петров П. П."), "L01-00000F01", "SPB02", 800000},
        {"333", QStringLiteral("ООО \"Вектор\""), "L01-00000F02", "SPB03", 5200000},
    };
    for (const Client& c : clients) {
        RunSql(
            db,
            {QStringLiteral("INSERT INTO tClients (Code, client, AccountMicex, AccountFORTS, note, Active)"),
             QStringLiteral("VALUES (:code, :client, :micex, :forts, :note, 1)")},
            {{"code", QString::fromLatin1(c.Code)},
             {"client", c.Owner},
             {"micex", QString::fromLatin1(c.Micex)},
             {"forts", QString::fromLatin1(c.Forts)},
             {"note", QString()}});
        RunSql(db,
               {QStringLiteral("INSERT INTO tPortfolio (ddate, id_client, openassets, shorts, longs, "
                               "curassets, openallassets, curallassets,"),
                QStringLiteral(" margin, leverage, curleverage, change, profitloss, firm)"),
                QStringLiteral("VALUES (datetime('now','localtime'), :code, :a, 0, 0, :a, :a, :a, 0, 1, 0, "
                               "0, 0, 'NC0011100000')")},
               {{"code", QString::fromLatin1(c.Code)}, {"a", c.Assets}});
    }
}
