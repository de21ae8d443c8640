// korvex-initdb: creates an alerts or a trading database from the shipped schema.
#include "DemoData.h"
#include "common/KorvexError.h"
#include "data/SchemaInstaller.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QStringList>
#include <cstdio>

namespace {
int Usage() {
    std::fprintf(stderr, "Usage: korvex-initdb (--alerts FILE | --trading FILE [--demo])\n"
                         "Creates a new database; an existing file is never overwritten.\n");
    return 2;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString alerts, trading;
    bool demo = false;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--alerts") && i + 1 < args.size())
            alerts = args[++i];
        else if (args[i] == QLatin1String("--trading") && i + 1 < args.size())
            trading = args[++i];
        else if (args[i] == QLatin1String("--demo"))
            demo = true;
        else
            return Usage();
    }
    if (alerts.isEmpty() == trading.isEmpty()) return Usage();
    if (demo && trading.isEmpty()) return Usage();
    try {
        if (!alerts.isEmpty()) {
            CreateDatabase(alerts, TDatabaseKind::Alerts);
        } else {
            CreateDatabase(trading, TDatabaseKind::Trading);
            if (demo) {
                {
                    QSqlDatabase db =
                        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("demo"));
                    db.setDatabaseName(trading);
                    if (!db.open()) throw KorvexError(QStringLiteral("Не удалось открыть %1").arg(trading));
                    FillDemoTradingData(db);
                    db.close();
                }
                QSqlDatabase::removeDatabase(QStringLiteral("demo"));
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", ErrorText(e).toUtf8().constData());
        return 1;
    }
    return 0;
}
