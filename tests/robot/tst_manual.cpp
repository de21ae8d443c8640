#include "support/TestSupport.h"

#include <QTest>

class TestManual : public QObject, TRobotFixture {
    Q_OBJECT

    TEngine& E() { return *R->Engine; }

private slots:
    void init() {
        StartRobot(true, false);
        R->S().PositionSize = 0;
    }
    void cleanup() { StopRobot(); }

    void enabling_followsPageChanges_notConnects() {
        E().PageControl1Change(TMainPage::tshActiveOrders); // not connected yet
        QVERIFY(!E().Actions().actSendNewOrderManual && !E().Actions().actSendKillOrderManual);
        QVERIFY(R->Connect());
        QVERIFY(!E().Actions().actSendNewOrderManual); // a connect does not re-evaluate
        E().PageControl1Change(TMainPage::tshFilledOrders);
        QVERIFY(E().Actions().actSendNewOrderManual && E().Actions().actSendKillOrderManual);
        E().PageControl1Change(TMainPage::tshQuotes);
        QVERIFY(!E().Actions().actSendNewOrderManual && !E().Actions().actSendKillOrderManual);
    }

    void manualOrder_onAnEmptyTable_oneLineNoBox() {
        QVERIFY(R->Connect());
        E().PageControl1Change(TMainPage::tshFilledOrders);
        QVERIFY(E().RunEvent([&] { E().actSendNewOrderManualExecute(); }));
        QVERIFY(R->Errors.isEmpty());
        QVERIFY(R->TriLines().isEmpty());
        QCOMPARE(R->JournalTexts().last(),
                 QStringLiteral("Ордер не выбран: таблица FilledOrders пуста. Ничего не отправлено."));
    }

    void manualNew_fromActivePage_isNotFilled_andSkipsFiltersAndTradedCheck() {
        QVERIFY(R->Connect());
        Ws->InsertAlert(
            "ActiveOrders",
            {{"Symbol", "MGNT"}, {"Order", "Sell 3 at 5100 Limit"}, {"Workspace", "Nowhere.orw"}});
        R->Clock.SetTime(QTime(3, 0)); // outside the session
        QVERIFY(R->Tick());
        E().PageControl1Change(TMainPage::tshActiveOrders);
        QVERIFY(E().RunEvent([&] { E().actSendNewOrderManualExecute(); }));
        QCOMPARE(R->TriLines().size(), 1);
        QVERIFY(R->TriLines()[0].contains("SECCODE=MGNT;"));
        QVERIFY(R->TriLines()[0].contains("PRICE=5100.0;STOPPRICE=5094.9;"));
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT filled FROM tOrderNumber").toInt(), 0);
        QCOMPARE(R->Sounds, 1);
    }

    // A market order QUIK carried out is done: there is nothing left to cancel.
    void manualNew_fromFilledPage_usesTheFillPrice_thenCancelFindsItDone() {
        QVERIFY(R->Connect());
        Ws->InsertAlert("FilledOrders",
                        {{"Order", "Buy 20 at 1 Limit"}, {"Fill Price", 131.0}, {"Symbol", "GAZP"}});
        QVERIFY(R->Tick());
        E().PageControl1Change(TMainPage::tshFilledOrders);
        QVERIFY(E().RunEvent([&] { E().actSendNewOrderManualExecute(); }));
        QVERIFY(R->TriLines()[0].contains("PRICE=131.13;STOPPRICE=131.13;"));
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT filled FROM tOrderNumber").toInt(), 1);
        WriteBytes(Ws->TroPath(), "TRANS_ID=1;STATUS=3;ORDER_NUMBER=4242;\r\n");
        QVERIFY(R->Tick());
        QVERIFY(E().RunEvent([&] { E().actSendKillOrderManualExecute(); }));
        QCOMPARE(R->TriLines().size(), 1);
        QVERIFY2(R->JournalTexts().last().endsWith("снимать нечего, заявка рыночная и исполнена."),
                 qPrintable(R->JournalTexts().last()));
    }

    void manualNew_inGroupMode_asksWithWhatGoesOut_noSendsNothing_yesMarksManual() {
        QVERIFY(R->Connect());
        R->S().rgpSingleMulti = 1;
        Ws->InsertAlert("FilledOrders",
                        {{"Order", "Sell 20 at 1 Limit"}, {"Fill Price", 131.0}, {"Symbol", "GAZP"}});
        QVERIFY(R->Tick());
        E().PageControl1Change(TMainPage::tshFilledOrders);
        QStringList asked;
        bool answer = false;
        E().ConfirmManualOrder = [&](const QString& q) {
            asked << q;
            return answer;
        };
        QVERIFY(E().RunEvent([&] { E().actSendNewOrderManualExecute(); }));
        QCOMPARE(asked.size(), 1);
        for (const char* part :
             {"Инструмент: GAZP", "Направление: продажа", "Лотов: ", "Цена: 130", "Счетов: 3"})
            QVERIFY2(asked[0].contains(QString::fromUtf8(part)), qPrintable(asked[0]));
        QVERIFY(!QFileInfo::exists(Ws->TriPath()) || R->TriLines().isEmpty());
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tOrderNumber").toInt(), 0);
        QVERIFY(R->JournalTexts().last().contains("не отправлен: оператор отказался"));
        answer = true;
        QVERIFY(E().RunEvent([&] { E().actSendNewOrderManualExecute(); }));
        QCOMPARE(R->TriLines().size(), 3);
        QCOMPARE(R->JournalTexts().filter("отправлена в Quik (вручную).").size(), 3);
        // Switched off: no question.
        R->S().ConfirmManualOrders = false;
        QVERIFY(E().RunEvent([&] { E().actSendNewOrderManualExecute(); }));
        QCOMPARE(asked.size(), 2);
        QCOMPARE(R->TriLines().size(), 6);
    }

    void confirmedManualOrder_journalsWhatTheBuildersFindOnce() {
        QVERIFY(R->Connect());
        Ws->InsertAlert("FilledOrders", {{"Order", "Buy 20 at 1 Limit"}, {"Symbol", "NOSUCH"}});
        QVERIFY(R->Tick());
        E().PageControl1Change(TMainPage::tshFilledOrders);
        E().ConfirmManualOrder = [](const QString&) { return true; };
        const int before = R->JournalTexts().filter("Не найден код акции NOSUCH").size();
        QVERIFY(E().RunEvent([&] { E().actSendNewOrderManualExecute(); }));
        QCOMPARE(R->JournalTexts().filter("Не найден код акции NOSUCH").size(), before + 1);
    }

    void otherPage_doesNothingAtAll() {
        QVERIFY(R->Connect());
        Ws->InsertAlert("ActiveOrders", {});
        QVERIFY(R->Tick());
        E().PageControl1Change(TMainPage::tshQuotes);
        E().actSendNewOrderManualExecute();
        QCOMPARE(R->Sounds, 0);
        QVERIFY(!QFileInfo::exists(Ws->TriPath()) || R->TriLines().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestManual)
#include "tst_manual.moc"
