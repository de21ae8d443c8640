#include "quik/ResultReader.h"
#include "support/TestSupport.h"

#include <QTest>

// Guard rails: order limits, the circuit breaker, "pull every order" and the alerts that arrived
// while the robot was not watching.
class TestGuardRails : public QObject, TRobotFixture {
    Q_OBJECT

    TEngine& E() { return *R->Engine; }
    void Start(int mode, int singleMulti) {
        R->S().rgpFilled = mode;
        R->S().rgpSingleMulti = singleMulti;
        QVERIFY(R->Connect());
        E().actStartWatchExecute();
    }

private slots:
    void init() {
        StartRobot(true, false);
        R->S().PositionSize = 0;
    }
    void cleanup() { StopRobot(); }

    void limits_atJustUnderAndOver_singleAndGroup_data() {
        QTest::addColumn<int>("group");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("limit");
        QTest::addColumn<bool>("sent");
        // "Buy 100 at 285.40": 10 lots of 10 at 285.69 with slippage, 28,569 in money.
        for (int group : {0, 1}) {
            const char* mode = group ? "group" : "single";
            QTest::addRow("%s lots at", mode) << group << "MaxLots"
                                              << "10" << true;
            QTest::addRow("%s lots just over the order", mode) << group << "MaxLots"
                                                               << "11" << true;
            QTest::addRow("%s lots under the order", mode) << group << "MaxLots"
                                                           << "9" << false;
            QTest::addRow("%s money at", mode) << group << "MaxMoney"
                                               << "28569" << true;
            QTest::addRow("%s money just over the order", mode) << group << "MaxMoney"
                                                                << "28569.01" << true;
            QTest::addRow("%s money just under the order", mode) << group << "MaxMoney"
                                                                 << "28568.99" << false;
        }
    }
    void limits_atJustUnderAndOver_singleAndGroup() {
        QFETCH(int, group);
        QFETCH(QString, key);
        QFETCH(QString, limit);
        QFETCH(bool, sent);
        (key == "MaxLots" ? R->S().MaxLots : R->S().MaxMoney) = limit;
        Start(1, group);
        const qint64 id = Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        const int accounts = group ? 3 : 1;
        QCOMPARE(R->TriLines().size(), sent ? accounts : 0);
        // One line for the alert, naming every account it held back.
        const QStringList refused =
            R->JournalTexts().filter(QStringLiteral("Ордер # %1 (FilledOrders) по сч").arg(id));
        QCOMPARE(refused.size(), sent ? 0 : 1);
        if (!sent)
            QVERIFY2(
                refused[0].contains(key) && refused[0].contains("покупка 10 SBER по 285.69") &&
                    refused[0].contains(group ? "по счетам 111, 222, 333 не отправлен" : "по счету 111 не"),
                qPrintable(refused[0]));
        // Counted as QUIK's refusals are.
        QCOMPARE(E().RefusedCount(), sent ? 0 : accounts);
        // The same limit holds for a manual order.
        E().PageControl1Change(TMainPage::tshFilledOrders);
        R->Engine->DatMod().RefreshDataSet(R->Engine->DatMod().tFilledOrders);
        QVERIFY(E().RunEvent([&] { E().actSendNewOrderManualExecute(); }));
        QCOMPARE(R->TriLines().size(), sent ? 2 * accounts : 0);
    }

    // A limit never holds back an exit of what is recorded, and one that does not read keeps the
    // watching from starting.
    void limits_letAnExitCloseTheRecordedQuantity_unreadableOnesKeepWatchingOff() {
        R->S().ExitQty = true;
        Start(1, 0);
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        R->S().MaxLots = "5";
        Ws->InsertAlert("FilledOrders", {{"OrderType", "LX"}, {"Order", "Sell 100 at 285.40 Limit"}});
        QVERIFY(R->Tick());
        QCOMPARE(R->TriLines().size(), 2);
        QVERIFY(R->TriLines().last().endsWith("QUANTITY=10"));
        E().actStopWatchExecute();
        for (const auto& [key, value] :
             std::initializer_list<std::pair<QString, QString>>{{"MaxLots", "abc"},
                                                                {"MaxLots", "1e400"},
                                                                {"MaxMoney", "-1"},
                                                                {"MaxTransPerMinute", "2.5"}}) {
            R->S().MaxLots = R->S().MaxMoney = R->S().MaxTransPerMinute = "0";
            (key == "MaxLots"    ? R->S().MaxLots
             : key == "MaxMoney" ? R->S().MaxMoney
                                 : R->S().MaxTransPerMinute) = value;
            QVERIFY(!E().RunEvent([&] { E().actStartWatchExecute(); }));
            QVERIFY(!E().Watching());
            QVERIFY2(R->Errors.last().contains(key + "=" + value), qPrintable(R->Errors.last()));
        }
        // Either decimal separator, blanks around.
        R->S().MaxTransPerMinute = "0";
        R->S().MaxMoney = " 10000,5 ";
        QVERIFY(E().RunEvent([&] { E().actStartWatchExecute(); }));
        QVERIFY(E().Watching());
    }

    // A typo early in the file must not leave the limits after it unread.
    void settingsWithABadValueEarly_keepTheLimitsAfterIt() {
        E().SaveSettings();
        QByteArray ini = ReadBytes(Ws->Path("Korvex.ini"));
        ini.replace("ExitQty=-1", "ExitQty=maybe").replace("MaxLots=0", "MaxLots=5");
        WriteBytes(Ws->Path("Korvex.ini"), ini);
        const QStringList unread = E().LoadSettings();
        QCOMPARE(unread.size(), 1);
        QVERIFY2(unread[0].contains("[Position] ExitQty: 'maybe'"), qPrintable(unread[0]));
        QCOMPARE(R->JournalTexts().filter("ExitQty"), unread);
        QCOMPARE(R->S().MaxLots, QStringLiteral("5"));
        Start(1, 0);
        const qint64 id = Ws->InsertAlert("FilledOrders", {}); // 10 lots
        QVERIFY(R->Tick());
        QVERIFY(R->TriLines().isEmpty());
        QCOMPARE(R->JournalTexts()
                     .filter(QStringLiteral("Ордер # %1 (FilledOrders) по счету").arg(id))
                     .filter("MaxLots")
                     .size(),
                 1);
    }

    void unwritablePrice_refusesTheAlertWithItsLine_theNextOneGoes() {
        Ws->Exec(Ws->Trading(), "UPDATE tSecCode SET Digits = -1 WHERE Ticker = 'SBER'");
        Start(1, 0);
        const qint64 huge = Ws->InsertAlert("FilledOrders", {{"Fill Price", 1e300}});
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(R->TriLines().size(), 1);
        QVERIFY(R->TriLines()[0].contains("PRICE=290;"));
        QCOMPARE(R->JournalTexts()
                     .filter(QStringLiteral("Ордер # %1 (FilledOrders) не отправлен: цена").arg(huge))
                     .size(),
                 1);
    }

    void pullEveryOrder_cancelsAcceptedOrdersAndStops_notRefusedOrPulledOnes() {
        Start(0, 1);                                                          // advance orders, three clients
        Ws->InsertAlert("ActiveOrders", {{"Order", "Buy 100 at 280 Limit"}}); // trans 0, 1, 2
        Ws->InsertAlert("ActiveOrders", {{"Order", "Sell 100 at 270 Stop"}}); // trans 3, 4, 5: stop orders
        QVERIFY(R->Tick());
        QCOMPARE(R->TriLines().size(), 6);
        // QUIK accepts all but one; the stop order of client 333 is refused.
        QByteArray tro;
        for (int t = 0; t < 6; ++t)
            tro += t == 5 ? QByteArray("TRANS_ID=6;STATUS=4;DESCRIPTION=\"refused\";\r\n")
                          : QStringLiteral("TRANS_ID=%1;STATUS=3;ORDER_NUMBER=%2;\r\n")
                                .arg(t + 1)
                                .arg(700 + t)
                                .toUtf8();
        WriteBytes(Ws->TroPath(), tro, true);
        QVERIFY(R->Tick());
        QCOMPARE(E().PullAllOrdersCount(), 5);
        QVERIFY(E().RunEvent([&] { E().actPullAllOrdersExecute(); }));
        QVERIFY(!E().Watching());
        const QStringList kills = R->TriLines().mid(6);
        QCOMPARE(kills.size(), 5);
        for (int t = 0; t < 3; ++t)
            QCOMPARE(kills.filter(QStringLiteral("ACTION=KILL_ORDER;"))
                         .filter(QStringLiteral("Order_key=%1;Stop_Order_key=;").arg(700 + t))
                         .size(),
                     1);
        for (int t = 3; t < 5; ++t)
            QCOMPARE(kills.filter(QStringLiteral("ACTION=KILL_STOP_ORDER;"))
                         .filter(QStringLiteral("Order_key=%1;Stop_Order_key=%1;").arg(700 + t))
                         .size(),
                     1);
        QVERIFY(kills.filter("705").isEmpty());
        // Each cancellation goes to the client and account of the order it pulls.
        for (int t = 0; t < 5; ++t) {
            const QString sent = R->TriLines()[t];
            const QString account =
                sent.section(";CLIENT_CODE=", 0, 0).section(";ACCOUNT=", 1).section(';', 0, 0);
            const QString client = sent.section(";CLIENT_CODE=", 1).section(';', 0, 0);
            const QStringList kill = kills.filter(QStringLiteral("Order_key=%1;").arg(700 + t));
            QCOMPARE(kill.size(), 1);
            QVERIFY2(kill[0].contains(";CLIENT_CODE=" + client + ";") &&
                         kill[0].contains(";ACCOUNT=" + account + ";"),
                     qPrintable(kill[0]));
        }
        // Pulled once: nothing left to pull.
        QCOMPARE(E().PullAllOrdersCount(), 0);
    }

    void passedOverAlerts_areNamedWhenWatchingStartsAgain() {
        Start(1, 0);
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        E().actStopWatchExecute();
        const qint64 a = Ws->InsertAlert("FilledOrders", {});
        const qint64 b = Ws->InsertAlert("FilledOrders", {});
        E().actStartWatchExecute();
        QVERIFY(R->Tick());
        QCOMPARE(R->TriLines().size(), 1); // late signals stay unsent
        QCOMPARE(
            R->JournalTexts()
                .filter(
                    QStringLiteral(
                        "В таблице FilledOrders пришли без наблюдения и не отправлены ордера: 2 (#%1–#%2)")
                        .arg(a)
                        .arg(b))
                .size(),
            1);
        // Told once: the next start finds nothing new.
        E().actStopWatchExecute();
        E().actStartWatchExecute();
        QCOMPARE(R->JournalTexts().filter("без наблюдения").size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestGuardRails)
#include "tst_guardrails.moc"
