#include "quik/LinkMonitor.h"
#include "quik/TransactionWriter.h"
#include "support/TestSupport.h"
#include "ui/DbGrid.h"
#include "ui/HelpViewer.h"
#include "ui/MainWindow.h"
#include "ui/OptionsDialog.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>

class TestMainWindow : public QObject, TRobotFixture {
    Q_OBJECT

    std::unique_ptr<TfmMain> W;
    QStringList Messages;

private slots:
    void init() {
        StartRobot(true, false);
        W = std::make_unique<TfmMain>(*R->Engine);
        W->ShowMessage = [this](const QString& m) { Messages << m; };
        Messages.clear();
    }
    void cleanup() {
        W.reset();
        StopRobot();
    }

    void startState_captionActionsPanels() {
        QCOMPARE(W->windowTitle(), QStringLiteral("Korvex v2.0"));
        QVERIFY(!W->actStartWatch->isEnabled() && !W->actStopWatch->isEnabled());
        QVERIFY(!W->actSendNewOrderManual->isEnabled() && !W->actSendKillOrderManual->isEnabled());
        QVERIFY(W->actClients->isEnabled() && W->actOpt->isEnabled() && W->actConnectToBase->isEnabled());
        QCOMPARE(W->StatusPanels[0]->text(), QStringLiteral("Подключение к Omega: Нет"));
        QCOMPARE(W->StatusPanels[2]->text(), QStringLiteral("Связь Quik с сервером: Н/Д"));
        QCOMPARE(W->StatusPanels[3]->text(), QStringLiteral("Отправлено транзакций: 0/0/0"));
        QCOMPARE(W->StatusPanels[4]->text(), QStringLiteral("SINGLE"));
        QCOMPARE(W->PageControl1->count(), 8);
        QCOMPARE(W->PageControl1->tabText(3), QStringLiteral("Исполненные ордера"));
        QCOMPARE(W->PageControl1->currentIndex(), 0);
    }

    void pullAllOrders_asksWithTheCount_noSendsNothing_yesCancels() {
        QVERIFY(W->actPullAllOrders->isEnabled());
        QVERIFY(W->menuBar()->actions()[0]->menu()->actions().contains(W->actPullAllOrders));
        QVERIFY(R->Connect());
        R->S().rgpFilled = 0;
        R->Engine->actStartWatchExecute();
        Ws->InsertAlert("ActiveOrders", {{"Order", "Buy 100 at 280 Limit"}});
        QVERIFY(R->Tick());
        WriteBytes(Ws->TroPath(), "TRANS_ID=0;STATUS=3;ORDER_NUMBER=77;\r\n", true);
        QVERIFY(R->Tick());
        QStringList asked;
        bool answer = false;
        W->Confirm = [&](const QString& q) {
            asked << q;
            return answer;
        };
        W->actPullAllOrders->trigger();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].contains(": 1 (по всем счетам)"), qPrintable(asked[0]));
        QCOMPARE(R->TriLines().size(), 1);
        QVERIFY(R->Engine->Watching);
        answer = true;
        W->actPullAllOrders->trigger();
        QCOMPARE(R->TriLines().size(), 2);
        QVERIFY(R->TriLines()[1].contains("ACTION=KILL_ORDER") && R->TriLines()[1].contains("Order_key=77;"));
        QVERIFY(!R->Engine->Watching);
    }

    void breaker_showsInTheStatusBar_untilWatchingStartsAgain() {
        R->S().MaxTransPerMinute = "1";
        QVERIFY(R->Connect());
        R->Engine->actStartWatchExecute();
        Ws->InsertAlert("FilledOrders", {});
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(R->TriLines().size(), 1);
        QVERIFY(!R->Engine->Watching);
        QCOMPARE(W->StatusPanels.last()->text(), QStringLiteral("Автостоп: 2 транзакций за минуту, предел 1"));
        R->Engine->actStartWatchExecute();
        QCOMPARE(W->StatusPanels.last()->text(), QString());
    }

    void statusBar_countsAndLinkState() {
        QVERIFY(R->Connect());
        QCOMPARE(W->StatusPanels[0]->text(), QStringLiteral("Подключение к Omega: OK"));
        QCOMPARE(W->StatusPanels[1]->text(), QStringLiteral("Подключение к Quik: OK"));
        TOrder o;
        o.Action = "NEW_ORDER";
        o.Quantity = 1;
        for (int i = 0; i < 3; ++i) R->Engine->Writer().WriteTransaction(o, TOmegaOrder());
        WriteBytes(Ws->TroPath(), "TRANS_ID=0;STATUS=0;\r\n");
        QVERIFY(R->Tick());
        QCOMPARE(W->StatusPanels[3]->text(), QStringLiteral("Отправлено транзакций: 3/1/0"));
        R->S().QuikConnect = false;
        R->Engine->Monitor().QuikLinkState = 1;
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[2]->text(), QStringLiteral("Связь Quik с сервером: Н/Д"));
        R->S().QuikConnect = true;
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[2]->text(), QStringLiteral("Связь Quik с сервером: ОК"));
        R->S().rgpSingleMulti = 1;
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[4]->text(), QStringLiteral("MULTI"));
        R->S().rgpSingleMulti = -1;  // no choice: the panel keeps its text
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[4]->text(), QStringLiteral("MULTI"));
    }

    void manualActions_followPageChangesAndConnection() {
        W->PageControl1->setCurrentIndex(2);  // active orders, not connected
        QVERIFY(!W->actSendNewOrderManual->isEnabled());
        QVERIFY(R->Connect());
        QVERIFY(!W->actSendNewOrderManual->isEnabled());  // a connect alone changes nothing
        W->PageControl1->setCurrentIndex(5);
        QVERIFY(!W->actSendNewOrderManual->isEnabled());
        W->PageControl1->setCurrentIndex(2);
        QVERIFY(W->actSendNewOrderManual->isEnabled() && W->actSendKillOrderManual->isEnabled());
        W->PageControl1->setCurrentIndex(3);
        QVERIFY(W->actSendNewOrderManual->isEnabled());
        W->PageControl1->setCurrentIndex(7);
        QVERIFY(!W->actSendKillOrderManual->isEnabled());
    }

    void trayFrames_acrossPassesAndAStop() {
        QVERIFY(R->Connect());
        W->actStartWatch->trigger();
        QVERIFY(!W->actStartWatch->isEnabled() && W->actStopWatch->isEnabled());
        QList<int> frames;
        for (int i = 0; i < 6; ++i) {
            QVERIFY(R->Tick());
            frames << W->ShownTrayFrame();
        }
        QCOMPARE(frames, (QList<int>{1, 2, 3, 0, 1, 2}));
        W->actStopWatch->trigger();
        QCOMPARE(W->ShownTrayFrame(), 0);
        W->actStartWatch->trigger();
        QVERIFY(R->Tick());
        QCOMPARE(W->ShownTrayFrame(), 3);
    }

    void portfolioFooter_emptyAndFilled() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        Ws->Exec(Ws->Trading(), "DELETE FROM tPortfolio");
        QVERIFY(R->Connect());
        QCOMPARE(W->grdPortfolio->FooterText("id_client"), QStringLiteral("0"));
        QCOMPARE(W->grdPortfolio->FooterText("curallassets"), QStringLiteral("0,00"));
        QCOMPARE(W->grdPortfolio->FooterText("margin"), QStringLiteral("0"));
        QCOMPARE(W->grdPortfolio->FooterText("leverage"), QString());
        Ws->Exec(Ws->Trading(), "INSERT INTO tPortfolio (id_client, curallassets, margin, profitloss) VALUES ('1', 1234567.5, 2, -10), ('2', 1000, 4, 0.25)");
        QVERIFY(R->Tick());
        QCOMPARE(W->grdPortfolio->FooterText("id_client"), QStringLiteral("2"));
        QCOMPARE(W->grdPortfolio->FooterText("curallassets"), QStringLiteral("1\u00a0235\u00a0567,50"));
        QCOMPARE(W->grdPortfolio->FooterText("margin"), QStringLiteral("3"));
        QCOMPARE(W->grdPortfolio->FooterText("profitloss"), QStringLiteral("-9,75"));
        QCOMPARE(W->grdPortfolio->View()->model()->rowCount(), 2);
        QLocale::setDefault(QLocale::c());
    }

    void grids_showTheListedColumnsInOrder() {
        QVERIFY(R->Connect());
        QHeaderView* h = W->RxDBGrid4->View()->horizontalHeader();
        QStringList titles;
        for (int v = 0; v < h->count(); ++v)
            titles << W->RxDBGrid4->Proxy()->headerData(h->logicalIndex(v), Qt::Horizontal, Qt::DisplayRole).toString();
        QCOMPARE(titles, (QStringList{"ID ордера", "Символ", "Тип ордера", "Ордер", "Цена испол.", "Номер заявки", "Проскал.", "Время подачи",
                                      "Время испол.", "Стратегия", "Сигнал", "Раб. область", "Интервал", "Номер позиции"}));
    }

    void executedOrders_sortByTitleClick_lastIdUnaffected() {
        QVERIFY(R->Connect());
        Ws->InsertAlert("FilledOrders", {{"Symbol", "ZZZ"}});
        Ws->InsertAlert("FilledOrders", {{"Symbol", "AAA"}});
        QVERIFY(R->Tick());
        QHeaderView* h = W->RxDBGrid4->View()->horizontalHeader();
        const int col = W->RxDBGrid4->Proxy()->ColumnOf("Symbol");
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(h->sectionViewportPosition(col) + 5, h->height() / 2));
        QCOMPARE(R->Engine->DatMod().tFilledOrders->SortColumn(), QStringLiteral("Symbol"));
        QCOMPARE(W->RxDBGrid4->Proxy()->index(0, col).data().toString(), QStringLiteral("AAA"));
        QVERIFY(R->Tick());
        QCOMPARE(W->RxDBGrid4->Proxy()->index(0, col).data().toString(), QStringLiteral("AAA"));  // stays sorted
        QCOMPARE(R->Engine->DatMod().GetLastID(R->Engine->DatMod().tFilledOrders), 2);
    }

    void optionsResult_okSaves_cancelReloads_invalidShowsAgain() {
        R->Engine->LoadSettings();
        R->S().Code = "555";
        QVERIFY(!W->HandleOptionsResult(1));
        QVERIFY(ReadCp1251(Ws->Path("Korvex.ini")).contains("Code=555\r\n"));
        R->S().Code = "999";
        R->S().intTable = "7";  // saved periods take effect only at the next load
        QVERIFY(!W->HandleOptionsResult(1));
        QCOMPARE(R->Engine->timUpdateTable.IntervalMs(), 1000);
        R->S().Code = "unsaved";
        QVERIFY(!W->HandleOptionsResult(2));
        QCOMPARE(R->S().Code, QStringLiteral("999"));
        QCOMPARE(W->fmOpt->edtCode->text(), QStringLiteral("999"));
        QCOMPARE(R->Engine->timUpdateTable.IntervalMs(), 7000);
        QVERIFY(W->HandleOptionsResult(4));
    }

    void journalMemo_helpAndMinimizeWithoutTray() {
        R->Journal.AddJournalLine("hello memo");
        QVERIFY(W->mLog->toPlainText().endsWith("hello memo"));
        W->actHelpCont->trigger();
        QVERIFY(W->Help->CurrentPage().toString().endsWith("index.html"));
        W->show();
        QApplication::setActiveWindow(W.get());
        QTest::keyClick(W.get(), Qt::Key_F1);
        QVERIFY(W->Help->CurrentPage().toString().endsWith("main-window.html"));
        QVERIFY(!W->HasTray());  // offscreen: no tray, so minimizing keeps the window reachable
        W->showMinimized();
        QApplication::processEvents();
        QVERIFY(W->isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
