#include "common/KorvexError.h"
#include "pipeline/OrderBuilders.h"
#include "support/TestSupport.h"

#include <QTest>

class TestBuilders : public QObject, TRobotFixture {
    Q_OBJECT

    const TClientAccount Account{"111", "L01-00000F00", "SPB01"};

    TOmegaOrder Alert(const QString& text, bool filled = false, double fillPrice = 0) {
        TOmegaOrder a;
        a.ID = 42;
        a.Symbol = "TST";
        a.OrderType = "LE";
        a.Order = text;
        a.Filled = filled;
        a.FillPrice = fillPrice;
        return a;
    }
    void Instrument(const QString& classCode = "TQBR") {
        Ws->Insert(Ws->Trading(), "tSecCode",
                   {{"SecCode", "TSTQ"},
                    {"Ticker", "TST"},
                    {"Class_Code", classCode},
                    {"Digits", 2},
                    {"Traded", 1},
                    {"LotSize", 1},
                    {"Slippage", 1.0}});
    }

private slots:
    void init() {
        StartRobot(false, true);
        R->S().PositionSize = 0;
        R->S().ExitQty = false;
    }
    void cleanup() { StopRobot(); }

    void parse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("quantity");
        QTest::addColumn<double>("price");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<bool>("market");
        QTest::newRow("stop order") << "Buy 100 at 25.50 Stop"
                                    << "B" << 100 << 25.50 << true << false;
        QTest::newRow("price as last word is not read") << "Sell 10 at 12.5"
                                                        << "S" << 10 << 0.0 << false << false;
        QTest::newRow("lower-case buy") << "buy 10 at 12.5 Limit"
                                        << "B" << 10 << 12.5 << false << false;
        QTest::newRow("comma separator") << "SELL 10 at 5,176 Stop"
                                         << "S" << 10 << 5.176 << true << false;
        QTest::newRow("bracket ends a word") << "Sell 5(at 7.25 x"
                                             << "S" << 5 << 7.25 << false << false;
        QTest::newRow("Stoploss sets stop") << "Sell 1 at 9 Stoploss"
                                            << "S" << 1 << 9.0 << true << false;
        QTest::newRow("nonstop sets stop") << "Sell 1 at 9 nonstop"
                                           << "S" << 1 << 9.0 << true << false;
        QTest::newRow("market any case") << "Buy 3 at 0 mArKeT"
                                         << "B" << 3 << 0.0 << false << true;
        QTest::newRow("bad price keeps 0") << "Buy 3 at x.y Limit"
                                           << "B" << 3 << 0.0 << false << false;
    }
    void parse() {
        QFETCH(QString, text);
        TOrder o;
        ParseOrderText(o, Alert(text));
        QTEST(o.Operation, "operation");
        QTEST(o.Quantity, "quantity");
        QTEST(o.Price, "price");
        QTEST(o.IsStop, "stop");
        QTEST(o.Filled, "market");
    }

    void parse_badQuantity_isAClearConversionFailure() {
        TOrder o;
        try {
            ParseOrderText(o, Alert("Buy  100 at 25.50 Stop")); // two blanks: the quantity word is empty
            QFAIL("expected a conversion failure");
        } catch (const ConversionError& e) {
            QVERIFY2(e.Message.contains("Ордер # 42") && e.Message.contains("Buy  100"),
                     qPrintable(e.Message));
        }
        QVERIFY_THROWS_EXCEPTION(ConversionError, ParseOrderText(o, Alert("Buy 1.5 at 2 x")));
    }

    // An alert whose side or quantity does not read is refused with a line naming it, never dropped.
    void parse_unreadableSideOrQuantity_refusesTheAlert_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("other verb") << "Short 10 at 100 Limit";
        QTest::newRow("zero") << "Buy 0 at 100 Limit";
        QTest::newRow("negative") << "Sell -5 at 100 Limit";
        QTest::newRow("no quantity") << "Buy";
    }
    void parse_unreadableSideOrQuantity_refusesTheAlert() {
        QFETCH(QString, text);
        TOrder o;
        try {
            ParseOrderText(o, Alert(text));
            QFAIL("expected a refusal");
        } catch (const ConversionError& e) {
            QVERIFY2(e.Message.startsWith("Ордер # 42"), qPrintable(e.Message));
        }
    }

    // A price that does not read, or cannot be a price, never reaches QUIK: the alert is refused.
    void newOrder_unusablePrice_refusesTheAlert_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("filled");
        QTest::addColumn<double>("fillPrice");
        QTest::newRow("price word unread") << "Buy 5 at x Stop" << false << 0.0;
        QTest::newRow("price is the last word") << "Buy 5 at 100" << false << 0.0;
        QTest::newRow("fill price 0") << "Buy 5 at 1 Limit" << true << 0.0;
        QTest::newRow("fill price negative") << "Buy 5 at 1 Limit" << true << -100.1;
        QTest::newRow("fill price NaN") << "Buy 5 at 1 Limit" << true << qQNaN();
        QTest::newRow("fill price 1e300") << "Buy 5 at 1 Limit" << true << 1e300;
    }
    void newOrder_unusablePrice_refusesTheAlert() {
        QFETCH(QString, text);
        QFETCH(bool, filled);
        QFETCH(double, fillPrice);
        Instrument();
        TOrder o;
        QVERIFY_THROWS_EXCEPTION(
            ConversionError, BuildNewOrder(R->Engine->Context(), o, Alert(text, filled, fillPrice), Account));
    }

    void newOrder_priceTable_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("filled");
        QTest::addColumn<QString>("action");
        QTest::addColumn<double>("price");
        QTest::addColumn<double>("stopPrice");
        // Alert price 100, slippage 1%: a buy is adjusted to 101.
        QTest::newRow("limit") << "Buy 5 at 100 Limit" << false << "NEW_ORDER" << 100.0 << 101.0;
        QTest::newRow("stop") << "Buy 5 at 100 Stop" << false << "NEW_STOP_ORDER" << 101.0 << 100.0;
        QTest::newRow("market") << "Buy 5 at 100 Market" << false << "NEW_ORDER" << 101.0 << 101.0;
        QTest::newRow("filled, stop text ignored")
            << "Buy 5 at 7 Stop" << true << "NEW_ORDER" << 101.0 << 101.0;
        QTest::newRow("stop and market")
            << "Buy 5 at 100 StopMarket" << false << "NEW_STOP_ORDER" << 100.0 << 100.0;
    }
    void newOrder_priceTable() {
        QFETCH(QString, text);
        QFETCH(bool, filled);
        QFETCH(double, price);
        QFETCH(double, stopPrice);
        Instrument();
        TOrder o;
        QVERIFY(BuildNewOrder(R->Engine->Context(), o, Alert(text, filled, 100), Account));
        QTEST(o.Action, "action");
        QVERIFY2(qFuzzyCompare(o.Price, price), qPrintable(QString::number(o.Price)));
        QVERIFY2(qFuzzyCompare(o.StopPrice, stopPrice), qPrintable(QString::number(o.StopPrice)));
        QCOMPARE(o.IdOrder, 42);
        QCOMPARE(o.ClientCode, QStringLiteral("111"));
        QCOMPARE(o.Ticker, QStringLiteral("TST"));
        QCOMPARE(o.SecCode, QStringLiteral("TSTQ"));
        QVERIFY(o.OrderKey.isEmpty() && o.StopOrderKey.isEmpty());
    }

    void routing_byClassCode_data() {
        QTest::addColumn<QString>("classCode");
        QTest::addColumn<QString>("account");
        QTest::newRow("futures") << "SPBFUT"
                                 << "SPB01";
        QTest::newRow("GTS") << "GTS"
                             << "111";
        QTest::newRow("stock") << "TQBR"
                               << "L01-00000F00";
        QTest::newRow("case matters") << "spbfut"
                                      << "L01-00000F00";
        QTest::newRow("none") << ""
                              << "L01-00000F00";
    }
    void routing_byClassCode() {
        QFETCH(QString, classCode);
        QFETCH(QString, account);
        QCOMPARE(RouteAccount(classCode, Account), account);
    }

    void newOrder_belowOneLot_orWithoutAccount_isNotBuilt_withOneLine() {
        Instrument();
        Ws->Exec(Ws->Trading(), "UPDATE tSecCode SET LotSize = 10");
        TOrder o;
        const int before = R->JournalTexts().size();
        QVERIFY(!BuildNewOrder(R->Engine->Context(), o, Alert("Buy 5 at 100 Limit"), Account));
        QCOMPARE(R->JournalTexts().size(), before + 1);
        QVERIFY(R->JournalTexts().last().contains("меньше одного лота"));
        // Unknown instrument: journalled by the sizing alone, nothing built.
        TOmegaOrder a = Alert("Buy 50 at 100 Limit");
        a.Symbol = "NONE";
        QVERIFY(!BuildNewOrder(R->Engine->Context(), o, a, Account));
        QCOMPARE(R->JournalTexts().size(), before + 2);
        // A client without an account for the class gets no line with ACCOUNT= empty.
        QVERIFY(!BuildNewOrder(R->Engine->Context(), o, Alert("Buy 50 at 100 Limit"), {"111", "", "SPB01"}));
        QVERIFY(R->JournalTexts().last().contains("AccountMicex"));
    }

    void cancellation_cases() {
        Instrument();
        auto record = [&](int trans, int idOrder, bool filled, const QString& code, const QVariant& number) {
            Ws->Insert(Ws->Trading(), "tOrderNumber",
                       {{"trans_id", trans},
                        {"id_order", idOrder},
                        {"filled", filled ? 1 : 0},
                        {"code", code},
                        {"order_number", number}});
        };
        TOrder o;
        const auto ctx = R->Engine->Context();
        // Nothing recorded yet, or QUIK has not reported a number: nothing to cancel.
        QVERIFY(!BuildKillOrder(ctx, o, Alert("Buy 5 at 100 Limit"), Account));
        record(0, 42, false, "111", QVariant());
        QVERIFY(!BuildKillOrder(ctx, o, Alert("Buy 5 at 100 Limit"), Account));
        record(1, 42, false, "111", 0);
        QVERIFY(!BuildKillOrder(ctx, o, Alert("Buy 5 at 100 Limit"), Account));
        // Two transactions for the alert: the later one's number is cancelled.
        record(3, 42, false, "111", 5555);
        record(2, 42, false, "111", 4444);
        record(4, 42, false, "222", 7777); // another client
        record(5, 42, true, "111", 8888);  // a market transaction
        QVERIFY(BuildKillOrder(ctx, o, Alert("Buy 5 at 100 Limit"), Account));
        QCOMPARE(o.Action, QStringLiteral("KILL_ORDER"));
        QCOMPARE(o.OrderKey, QStringLiteral("5555"));
        QVERIFY(o.StopOrderKey.isEmpty());
        QCOMPARE(o.Account, QStringLiteral("L01-00000F00"));
        QVERIFY(BuildKillOrder(ctx, o, Alert("Sell 5 at 100 Stop"), Account));
        QCOMPARE(o.Action, QStringLiteral("KILL_STOP_ORDER"));
        QCOMPARE(o.OrderKey, QStringLiteral("5555"));
        QCOMPARE(o.StopOrderKey, QStringLiteral("5555"));
        // The lookup goes by the alert's own Filled flag: an executed alert finds its market transaction.
        QVERIFY(BuildKillOrder(ctx, o, Alert("Buy 5 at 100 Limit", true, 100), Account));
        QCOMPARE(o.OrderKey, QStringLiteral("8888"));
        // The instrument missing from tSecCode blocks the cancellation too.
        TOmegaOrder a = Alert("Buy 5 at 100 Limit");
        a.Symbol = "NONE";
        QVERIFY(!BuildKillOrder(ctx, o, a, Account));
    }
};

QTEST_GUILESS_MAIN(TestBuilders)
#include "tst_builders.moc"
