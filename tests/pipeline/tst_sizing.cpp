#include "pipeline/PositionSizing.h"
#include "support/TestSupport.h"

#include <QTest>

namespace {
const QString NotFound = QStringLiteral("Не найден код акции %1 в таблице \"Торгуемых бумаг\"!");
const QString General =
    QStringLiteral("Произошла ошибка при обращении к таблице \"Торгуемых бумаг\" для тикера %1!");
const QString NoClient = QStringLiteral("Не найден код клиента%1 в таблице \"Клиентский портфель\"!");
} // namespace

class TestSizing : public QObject, TRobotFixture {
    Q_OBJECT

    void Instrument(const QVariantMap& overrides) {
        QVariantMap row = {{"SecCode", "TST"}, {"Ticker", "TST"},   {"Class_Code", "TQBR"},
                           {"Digits", 2},      {"Traded", 1},       {"LotSize", 10},
                           {"Slippage", 0.5},  {"FixVol", 30000.0}, {"Part", 20.0}};
        for (auto it = overrides.begin(); it != overrides.end(); ++it)
            row[it.key()] = it.value();
        Ws->Insert(Ws->Trading(), "tSecCode", row);
    }
    TOrder Order(int qty, double price, const QString& op = "B", const QString& type = "LE") {
        TOrder o;
        o.Ticker = "TST";
        o.ClientCode = "111";
        o.Operation = op;
        o.Quantity = qty;
        o.Price = price;
        o.OrderType = type;
        return o;
    }
    TOrder Sized(TOrder o, const TOmegaOrder& alert = TOmegaOrder()) {
        SizeOrder(R->Engine->Context(), o, alert);
        return o;
    }

private slots:
    void init() {
        StartRobot(false, true);
        R->Journal.FlushJournal();
    }
    void cleanup() { StopRobot(); }

    void modes_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QVariantMap>("instrument");
        QTest::addColumn<int>("qty");
        QTest::addColumn<double>("price");
        QTest::addColumn<double>("assets");
        QTest::addColumn<int>("lots");
        QTest::newRow("0: 25 units, lot 10") << 0 << QVariantMap{} << 25 << 1.0 << 0.0 << 2;
        QTest::newRow("1: 30000 / 33.3 / 100") << 1 << QVariantMap{{"LotSize", 100}} << 1 << 33.3 << 0.0 << 9;
        QTest::newRow("2: 20% of 1e6 / 250 / 10") << 2 << QVariantMap{} << 1 << 250.0 << 1000000.0 << 80;
        QTest::newRow("3: instrument sum") << 3 << QVariantMap{{"FixVol", 5000.0}} << 1 << 49.0 << 0.0 << 10;
        QTest::newRow("4: instrument part")
            << 4 << QVariantMap{{"Part", 10.0}} << 1 << 100.0 << 1000000.0 << 100;
        QTest::newRow("0.99 lot gives 0") << 0 << QVariantMap{} << 9 << 1.0 << 0.0 << 0;
        QTest::newRow("negative assets give negative lots")
            << 2 << QVariantMap{} << 1 << 250.0 << -1000000.0 << -80;
        QTest::newRow("no choice keeps units") << -1 << QVariantMap{} << 25 << 1.0 << 0.0 << 25;
    }
    void modes() {
        QFETCH(int, mode);
        QFETCH(QVariantMap, instrument);
        QFETCH(int, qty);
        QFETCH(double, price);
        QFETCH(double, assets);
        QFETCH(int, lots);
        Instrument(instrument);
        Ws->Insert(Ws->Trading(), "tPortfolio", {{"id_client", "111"}, {"curallassets", assets}});
        R->S().PositionSize = mode;
        const TOrder o = Sized(Order(qty, price));
        QCOMPARE(o.Quantity, lots);
        QCOMPARE(o.SecCode, QStringLiteral("TST"));
        QCOMPARE(o.ClassCode, QStringLiteral("TQBR"));
        QCOMPARE(o.Digits, 2);
        QVERIFY(o.Traded);
        QCOMPARE(R->JournalTexts().size(), 2); // only the two connect lines
    }

    void traded_anyNonZero_inSizingAndInTheTotals_data() {
        QTest::addColumn<QVariant>("traded");
        QTest::addColumn<bool>("isTraded");
        QTest::newRow("1") << QVariant(1) << true;
        QTest::newRow("-1 as Access writes it") << QVariant(-1) << true;
        QTest::newRow("2") << QVariant(2) << true;
        QTest::newRow("0") << QVariant(0) << false;
    }
    void traded_anyNonZero_inSizingAndInTheTotals() {
        QFETCH(QVariant, traded);
        QFETCH(bool, isTraded);
        Instrument({{"Traded", traded}});
        QCOMPARE(Sized(Order(10, 1.0)).Traded, isTraded);
        const TSecCodeSum sum = R->Engine->DatMod().qSecCodeSum();
        QCOMPARE(sum.SumTraded, isTraded ? 1 : 0);
        QCOMPARE(sum.SumFixVol, isTraded ? 30000.0 : 0.0);
    }

    void slippage_raisesBuysLowersSells() {
        Instrument({});
        QCOMPARE(Sized(Order(10, 100, "B")).StopPrice, 100.5);
        QCOMPARE(Sized(Order(10, 100, "S")).StopPrice, 99.5);
        QCOMPARE(Sized(Order(10, 100, "")).StopPrice, 99.5); // unrecognised operation counts as a sell
    }

    void failures_journalTheirLineAndLeaveZero_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QVariantMap>("instrument");
        QTest::addColumn<QString>("ticker");
        QTest::addColumn<double>("price");
        QTest::addColumn<bool>("portfolio");
        QTest::addColumn<QString>("line");
        QTest::newRow("unknown ticker")
            << 0 << QVariantMap{} << "NONE" << 1.0 << true << NotFound.arg("NONE");
        QTest::newRow("lot size 0") << 0 << QVariantMap{{"LotSize", 0}} << "TST" << 1.0 << true
                                    << General.arg("TST");
        QTest::newRow("price 0 in mode 1")
            << 1 << QVariantMap{} << "TST" << 0.0 << true << General.arg("TST");
        QTest::newRow("empty slippage") << 0 << QVariantMap{{"Slippage", QVariant()}} << "TST" << 1.0 << true
                                        << QStringLiteral("Ордер # 0 (ActiveOrders) не отправлен: строка "
                                                          "тикера TST в таблице \"Торгуемых бумаг\" не "
                                                          "читается: поле Slippage пусто.");
        QTest::newRow("no portfolio in mode 2")
            << 2 << QVariantMap{} << "TST" << 1.0 << false << NoClient.arg("111");
        QTest::newRow("no portfolio in mode 4")
            << 4 << QVariantMap{} << "TST" << 1.0 << false << NoClient.arg("111");
    }
    void failures_journalTheirLineAndLeaveZero() {
        QFETCH(int, mode);
        QFETCH(QVariantMap, instrument);
        QFETCH(QString, ticker);
        QFETCH(double, price);
        QFETCH(bool, portfolio);
        QFETCH(QString, line);
        Instrument(instrument);
        if (portfolio) Ws->Insert(Ws->Trading(), "tPortfolio", {{"id_client", "111"}, {"curallassets", 1e6}});
        R->S().PositionSize = mode;
        TOrder o = Order(100, price);
        o.Ticker = ticker;
        o = Sized(o);
        QCOMPARE(o.Quantity, 0);
        QVERIFY(o.Refused);
        // The line says what failed: the general line carries the failure's own words.
        QVERIFY2(R->JournalTexts().last().startsWith(line), qPrintable(R->JournalTexts().last()));
        QCOMPARE(R->JournalTexts().size(), 3);
    }

    void badSettingNumber_isTheGeneralFailure() {
        Instrument({});
        R->S().PositionSize = 1;
        R->S().FixVol = "lots";
        QCOMPARE(Sized(Order(1, 10)).Quantity, 0);
        QVERIFY(R->JournalTexts().last().startsWith(General.arg("TST")));
    }

    void tickerWithQuotesAndSqlWords_isLookedUpAsText() {
        Instrument({{"Ticker", "A\"B' OR 1=1 --"}});
        TOrder o = Order(20, 1);
        o.Ticker = "A\"B' OR 1=1 --";
        QCOMPARE(Sized(o).Quantity, 2);
        o.Ticker = "\" OR \"\"=\"";
        QCOMPARE(Sized(o).Quantity, 0);
    }

    void exactExit_takesRecordedQuantity() {
        TOmegaOrder alert;
        alert.System = "Breakout(20,2)";
        alert.Workspace = "C:\\Omega\\Trend.orw";
        alert.Interval = "5 min";
        R->S().ExitQty = true;
        R->S().PositionSize = 0;
        Ws->Insert(Ws->Trading(), "tClientOpenPositions",
                   {{"code", "111"},
                    {"symbol", "TST"},
                    {"quantity", 7},
                    {"System", "Breakout(20,2)"},
                    {"Workspace", "Trend.orw"},
                    {"Interval", "5 min"}});
        Ws->Insert(Ws->Trading(), "tClientOpenPositions",
                   {{"code", "111"},
                    {"symbol", "TST"},
                    {"quantity", 9},
                    {"System", "Breakout(20,2)"},
                    {"Workspace", "Trend.orw"},
                    {"Interval", "5 min"}});
        // The instrument is missing: no line can be written, whatever is recorded.
        QCOMPARE(Sized(Order(100, 10, "S", "LX"), alert).Quantity, 0);
        QCOMPARE(R->JournalTexts().last(), NotFound.arg("TST"));
        // Two entries of the same keys: the exact exit closes both.
        Instrument({});
        QCOMPARE(Sized(Order(100, 10, "S", "LX"), alert).Quantity, 16);
        // A client without a portfolio fails the sizing mode, not the exit.
        R->S().PositionSize = 2;
        QCOMPARE(Sized(Order(100, 10, "S", "LX"), alert).Quantity, 16);
        R->S().PositionSize = 0;
        // An entry never looks at the open positions; an exact exit with nothing recorded sells nothing.
        QCOMPARE(Sized(Order(100, 10, "B", "LE"), alert).Quantity, 10);
        alert.Interval = "1 min";
        QCOMPARE(Sized(Order(100, 10, "S", "SX"), alert).Quantity, 0);
        QVERIFY2(R->JournalTexts().last().contains("не учтена в книге"),
                 qPrintable(R->JournalTexts().last()));
        R->S().ExitQty = false;
        alert.Interval = "5 min";
        QCOMPARE(Sized(Order(100, 10, "S", "LX"), alert).Quantity, 10);
    }
};

QTEST_GUILESS_MAIN(TestSizing)
#include "tst_sizing.moc"
