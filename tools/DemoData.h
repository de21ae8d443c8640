#pragma once

#include <QSqlDatabase>
#include <QString>

// A small believable trading set-up: instruments of the stock and futures markets, the watched
// workspaces and strategies, three clients and their portfolios.
void FillDemoTradingData(const QSqlDatabase& db);

struct TDemoInstrument {
    const char* Ticker;
    const char* SecCode;
    const char* ClassCode;
    int LotSize;
    int Digits;
    double Slippage;
    double FixVol;
    double Part;
    bool Traded;
    double Price; // a believable price to start the quotes from
};

// The demo instruments, shared by the database initialiser and the simulators.
const QList<TDemoInstrument>& DemoInstruments();
