#pragma once

#include <QHash>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlDatabase>
#include <QString>

// Stands in for the QUIK terminal through its files and tables only: answers every transaction line
// appended to the .TRI file in the .TRO file, grows info.log while "connected", and exports quotes and
// portfolios into the trading database.
class TQuikSimulator {
public:
    struct TPaths {
        QString Tri, Tro, InfoLog, TradingDb;
    };
    explicit TQuikSimulator(const TPaths& paths, quint32 seed = 1);
    ~TQuikSimulator();

    // Answers the complete lines appended since the last call. Returns how many it answered.
    int AnswerTransactions();
    // One line more in info.log while connected.
    void GrowInfoLog();
    // One step of the random walk of quotes and portfolios, in one transaction. Returns why it failed
    // (nothing was written then), empty when it was written.
    QString ExportQuotes();

    void SetConnected(bool on) { Connected = on; }
    // Every line taken and its answers are appended to this file as well (for tests); empty: none.
    void SetHistory(const QString& path) { History = path; }
    // Connected unless told otherwise, or while the file "<info.log>.down" exists (a switch that
    // works the same on every system: create it to drop the server link, delete it to restore it).
    bool IsConnected() const;
    QString LinkDownMarker() const { return Paths.InfoLog + QStringLiteral(".down"); }

    // The answer to one transaction line: the two result lines QUIK would write.
    QStringList Answer(const QString& line);

private:
    void Append(const QString& path, const QStringList& lines);
    bool KnownInstrument(const QString& secCode, const QString& classCode);
    TPaths Paths;
    QString Conn;
    qint64 TriOffset = 0;
    QString TriIdentity;
    QString History; // a new file put at the path is read from its start
    bool Connected = true;
    qint64 NextOrderNumber = 4100000;
    QSet<QString> LiveOrders;
    QHash<QString, double> Prices;
    QRandomGenerator Random;
};
