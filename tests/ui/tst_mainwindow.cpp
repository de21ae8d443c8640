#include "quik/LinkMonitor.h"
#include "quik/TransactionWriter.h"
#include "support/TestSupport.h"
#include "ui/BookPage.h"
#include "ui/DbGrid.h"
#include "ui/HelpViewer.h"
#include "ui/JournalView.h"
#include "ui/MainWindow.h"
#include "ui/OptionsDialog.h"
#include "ui/StatePanel.h"

#include "common/Regional.h"
#include "ui/ClientsDialog.h"
#include "ui/FieldsProxy.h"

#include "common/KorvexError.h"

#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

class TestMainWindow : public QObject, TRobotFixture {
    Q_OBJECT

    std::unique_ptr<TfmMain> W;
    QStringList Messages;
    QStringList Told; // tray messages, "!" before an alarm

    void NewWindow() {
        W = std::make_unique<TfmMain>(*R->Engine);
        W->ShowMessage = [this](const QString& m) { Messages << m; };
        W->Notify = [this](const QString&, const QString& text, bool alarm) {
            Told << (alarm ? "!" : "") + text;
        };
    }
    // A row of the day's registry as the engine records it.
    void Registered(int transId, const QVariantMap& values, int daysBack = 0) {
        QVariantMap row{{"day", R->Clock.Now().date().addDays(-daysBack).toString("yyyy-MM-dd")},
                        {"trans_id", transId},
                        {"recorded", R->Clock.Now().toString("yyyy-MM-dd HH:mm:ss")},
                        {"alert_table", "FilledOrders"},
                        {"alert_id", transId + 100},
                        {"code", "111"},
                        {"ticker", "SBER"},
                        {"action", "NEW_ORDER"},
                        {"operation", "B"},
                        {"quantity", 5},
                        {"price", 285.4},
                        {"digits", 2},
                        {"stage", 3}};
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            row[it.key()] = it.value();
        Ws->Insert(Ws->Trading(), "tOrderRegistry", row);
    }

private slots:
    void init() {
        StartRobot(true, false);
        Messages.clear();
        Told.clear();
        NewWindow();
    }
    void cleanup() {
        W.reset();
        StopRobot();
    }

    void startState_captionActionsPanels() {
        QCOMPARE(W->windowTitle(), QStringLiteral("Korvex v2.0 — загрузка выключена"));
        QCOMPARE(W->TrayImage(), QStringLiteral("stopped"));
        QVERIFY(!W->actStartWatch->isEnabled() && !W->actStopWatch->isEnabled());
        QVERIFY(!W->actSendNewOrderManual->isEnabled() && !W->actSendKillOrderManual->isEnabled());
        QVERIFY(W->actClients->isEnabled() && W->actOpt->isEnabled() && W->actConnectToBase->isEnabled());
        QCOMPARE(W->StatusPanels[0]->text(), QStringLiteral("Подключение к Omega: Нет"));
        QCOMPARE(W->StatusPanels[2]->text(), QStringLiteral("Связь Quik с сервером: Н/Д"));
        QCOMPARE(W->StatusPanels[3]->text(), QStringLiteral("Отправлено 0, на сервере 0, исполнено 0"));
        QCOMPARE(W->StatusPanels[4]->text(), QStringLiteral("Режим: один счет"));
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
        WriteBytes(Ws->TroPath(), "TRANS_ID=1;STATUS=3;ORDER_NUMBER=77;\r\n", true);
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
        QVERIFY(R->Engine->Watching());
        answer = true;
        W->actPullAllOrders->trigger();
        QCOMPARE(R->TriLines().size(), 2);
        QVERIFY(R->TriLines()[1].contains("ACTION=KILL_ORDER") && R->TriLines()[1].contains("Order_key=77;"));
        QVERIFY(!R->Engine->Watching());
    }

    void breaker_showsInTheStatusBar_untilWatchingStartsAgain() {
        R->S().MaxTransPerMinute = "1";
        QVERIFY(R->Connect());
        R->Engine->actStartWatchExecute();
        Ws->InsertAlert("FilledOrders", {});
        Ws->InsertAlert("FilledOrders", {});
        QVERIFY(R->Tick());
        QCOMPARE(R->TriLines().size(), 1);
        QVERIFY(!R->Engine->Watching());
        // Beside the watch state, in the title, in the tray's image, and told once with a sound.
        QCOMPARE(W->ErrorPanel->text(), QStringLiteral("Автостоп: 2 транзакций за минуту, предел 1"));
        QCOMPARE(W->ErrorPanel->Tone(), TStatePanel::TTone::Alarm);
        QVERIFY(W->windowTitle().contains(QStringLiteral("АВТОСТОП")));
        QCOMPARE(W->TrayImage(), QStringLiteral("alarm"));
        W->UpdateStatusBar();
        QCOMPARE(Told,
                 QStringList{"!Автостоп: 2 транзакций за минуту, предел 1. Загрузка ордеров остановлена."});
        R->Engine->actStartWatchExecute();
        QCOMPARE(W->ErrorPanel->text(), QStringLiteral("Ошибок нет"));
        QVERIFY(W->TrayImage().startsWith("frame"));
    }

    void statusPanels_stayUnderAHint_showWatchingAndTheLastError_trayTipSaysTheSame() {
        W->show();
        QVERIFY(R->Connect());
        W->actStartWatch->trigger();
        W->statusBar()->showMessage(W->actStopWatch->statusTip()); // a toolbar button under the pointer
        QApplication::processEvents();
        for (TStatePanel* l : W->StatusPanels + QList<TStatePanel*>{W->WatchPanel, W->ErrorPanel})
            QVERIFY(l->isVisible());
        QCOMPARE(W->WatchPanel->text(), QStringLiteral("Загрузка: ВКЛ"));
        R->Engine->RunEvent([] { throw KorvexError(QStringLiteral("База данных заблокирована")); });
        QVERIFY(W->ErrorPanel->text().endsWith(QStringLiteral("База данных заблокирована")));
        W->actStopWatch->trigger();
        QCOMPARE(W->WatchPanel->text(), QStringLiteral("Загрузка: выкл"));
        for (const QString& part : {W->WatchPanel->text(), W->StatusPanels[3]->text(), W->ErrorPanel->text()})
            QVERIFY(W->TrayText().contains(part));
    }

    void statusBar_countsAndLinkState() {
        QVERIFY(R->Connect());
        QCOMPARE(W->StatusPanels[0]->text(), QStringLiteral("Подключение к Omega: OK"));
        QCOMPARE(W->StatusPanels[1]->text(), QStringLiteral("Подключение к Quik: OK"));
        TOrder o;
        o.Action = "NEW_ORDER";
        o.Quantity = 1;
        for (int i = 0; i < 3; ++i)
            R->Engine->Writer().WriteTransaction(o, TOmegaOrder());
        WriteBytes(Ws->TroPath(), "TRANS_ID=1;STATUS=0;\r\n");
        QVERIFY(R->Tick());
        QCOMPARE(W->StatusPanels[3]->text(), QStringLiteral("Отправлено 3, на сервере 1, исполнено 0"));
        R->S().QuikConnect = false;
        R->Engine->Monitor().QuikLinkState = 1;
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[2]->text(), QStringLiteral("Связь Quik с сервером: Н/Д"));
        R->S().QuikConnect = true;
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[2]->text(), QStringLiteral("Связь Quik с сервером: ОК"));
        QCOMPARE(W->StatusPanels[2]->Tone(), TStatePanel::TTone::Plain);
        // The server link lost: an alarm in the bar and first in the tray's tool tip.
        R->Engine->Monitor().QuikLinkState = TLinkMonitor::Broken;
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[2]->text(), QStringLiteral("Связь Quik с сервером: Нет"));
        QCOMPARE(W->StatusPanels[2]->Tone(), TStatePanel::TTone::Alarm);
        QCOMPARE(W->TrayText().section('\n', 1, 1), QStringLiteral("\u26a0 Связь Quik с сервером: Нет"));
        QCOMPARE(W->ErrorPanel->text(), QStringLiteral("Нет связи Quik с сервером"));
        QCOMPARE(W->TrayImage(), QStringLiteral("alarm"));
        W->UpdateStatusBar(); // told once, not at every refresh
        R->Engine->Monitor().QuikLinkState = TLinkMonitor::Connected;
        W->UpdateStatusBar();
        QCOMPARE(Told, (QStringList{"!Quik потерял связь со своим сервером: заявки не доходят до биржи.",
                                    "Связь Quik с сервером восстановлена."}));
        R->S().rgpSingleMulti = 1;
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[4]->text(), QStringLiteral("Режим: группа счетов"));
        R->S().rgpSingleMulti = -1; // no choice: the panel keeps its text
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[4]->text(), QStringLiteral("Режим: группа счетов"));
    }

    void manualSend_onlyOnTheRowTheOperatorSelected_whichStaysInViewWhileRowsArrive() {
        QVERIFY(R->Connect());
        for (int i = 0; i < 3; ++i)
            Ws->InsertAlert("ActiveOrders",
                            {{"Order", "Buy 100 at 280 Limit"}, {"Time Placed", "2026-01-15 10:31:05"}});
        QVERIFY(R->Tick());
        W->resize(1366, 768);
        W->show();
        W->PageControl1->setCurrentWidget(W->RxDBGrid2);
        QApplication::processEvents();
        // The engine would allow it on this page; nothing is selected, so nothing is offered.
        QVERIFY(R->Engine->Actions().actSendNewOrderManual);
        QVERIFY(!W->actSendNewOrderManual->isEnabled() && !W->actSendKillOrderManual->isEnabled());
        QTableView* v = W->RxDBGrid2->View();
        const QModelIndex second = W->RxDBGrid2->Proxy()->index(1, 0);
        QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, v->visualRect(second).center());
        QVERIFY(W->actSendNewOrderManual->isEnabled() && W->actSendKillOrderManual->isEnabled());
        QStringList asked;
        W->Confirm = [&](const QString& q) {
            asked << q;
            return false;
        };
        W->actSendNewOrderManual->trigger();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(
            asked[0].startsWith(QStringLiteral("Выбранная строка: «Активные ордера» (ActiveOrders), ID 2, "
                                               "время подачи ")) &&
                asked[0].contains(QStringLiteral("ордер «Buy 100 at 280 Limit»")),
            qPrintable(asked[0]));
        QVERIFY(R->TriLines().isEmpty());
        // Rows keep coming: the selected row stays where the operator sees it, and a hint says why
        // the grid does not follow them.
        for (int i = 0; i < 80; ++i)
            Ws->InsertAlert("ActiveOrders", {});
        QVERIFY(R->Tick());
        QApplication::processEvents();
        QCOMPARE(W->RxDBGrid2->SelectedRow(), 1);
        QVERIFY(v->viewport()->rect().contains(v->visualRect(W->RxDBGrid2->Proxy()->index(1, 0))));
        QVERIFY(W->RxDBGrid2->NewRowsHint() && W->RxDBGrid2->NewRowsHint()->isVisible());
        // Let go: following resumes at the newest row, and there is nothing to send.
        QTest::keyClick(v, Qt::Key_Escape);
        QApplication::processEvents();
        QVERIFY(!W->actSendNewOrderManual->isEnabled());
        QCOMPARE(v->verticalScrollBar()->value(), v->verticalScrollBar()->maximum());
        QVERIFY(!W->RxDBGrid2->NewRowsHint()->isVisible());
        QTest::mouseClick(v->viewport(), Qt::LeftButton, {},
                          v->visualRect(W->RxDBGrid2->Proxy()->index(82, 0)).center());
        QVERIFY(W->actSendNewOrderManual->isEnabled());
        W->PageControl1->setCurrentIndex(5);
        QVERIFY(!W->actSendNewOrderManual->isEnabled());
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
        QCOMPARE(W->TrayImage(), QStringLiteral("stopped")); // not a frame of the running animation
        W->actStartWatch->trigger();
        QVERIFY(R->Tick());
        QCOMPARE(W->ShownTrayFrame(), 3);
        // A pass on a change of the alerts database turns it as well (the timer would not come now).
        R->S().intTable = "3600";
        R->Engine->ApplyTimerPeriods();
        QSignalSpy turned(R->Engine.get(), &TEngine::TrayFrameChanged);
        Ws->InsertAlert("FilledOrders", {});
        QTRY_VERIFY(R->TriLines().size() == 1 && !turned.isEmpty());
    }

    void portfolioFooter_emptyAndFilled() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        Ws->Exec(Ws->Trading(), "DELETE FROM tPortfolio");
        QVERIFY(R->Connect());
        QCOMPARE(W->grdPortfolio->FooterText("id_client"), QStringLiteral("0"));
        QCOMPARE(W->grdPortfolio->FooterText("curallassets"), QStringLiteral("0,00"));
        QCOMPARE(W->grdPortfolio->FooterText("margin"), QStringLiteral("0,00"));
        QCOMPARE(W->grdPortfolio->FooterText("leverage"), QStringLiteral("0,00"));
        Ws->Exec(Ws->Trading(),
                 "INSERT INTO tPortfolio (id_client, curallassets, margin, leverage, profitloss) VALUES "
                 "('1', 1234567.5, 2, 1, -10), ('2', 1000, 4.5, 2, 0.25)");
        QVERIFY(R->Tick());
        QCOMPARE(W->grdPortfolio->FooterText("id_client"), QStringLiteral("2"));
        QCOMPARE(W->grdPortfolio->FooterText("curallassets"), QStringLiteral("1\u00a0235\u00a0567,50"));
        QCOMPARE(W->grdPortfolio->FooterText("margin"), QStringLiteral("3,25")); // as the rows show it
        QCOMPARE(W->grdPortfolio->FooterText("leverage"), QStringLiteral("1,50"));
        QCOMPARE(W->grdPortfolio->FooterText("profitloss"), QStringLiteral("-9,75"));
        QCOMPARE(W->grdPortfolio->View()->model()->rowCount(), 2);
        QLocale::setDefault(QLocale::c());
    }

    void grids_showTheListedColumnsInOrder() {
        QVERIFY(R->Connect());
        QHeaderView* h = W->RxDBGrid4->View()->horizontalHeader();
        QStringList titles;
        for (int v = 0; v < h->count(); ++v)
            titles << W->RxDBGrid4->Proxy()
                          ->headerData(h->logicalIndex(v), Qt::Horizontal, Qt::DisplayRole)
                          .toString();
        QCOMPARE(titles, (QStringList{"ID ордера", "Символ", "Тип ордера", "Ордер", "Цена испол.",
                                      "Номер заявки", "Проскал.", "Время подачи", "Время испол.", "Стратегия",
                                      "Сигнал", "Раб. область", "Интервал", "Номер позиции"}));
    }

    void executedOrders_sortByTitleClick_lastIdUnaffected() {
        QVERIFY(R->Connect());
        Ws->InsertAlert("FilledOrders", {{"Symbol", "ZZZ"}});
        Ws->InsertAlert("FilledOrders", {{"Symbol", "AAA"}});
        QVERIFY(R->Tick());
        W->show();
        W->PageControl1->setCurrentWidget(W->RxDBGrid4);
        QHeaderView* h = W->RxDBGrid4->View()->horizontalHeader();
        const int col = W->RxDBGrid4->Proxy()->ColumnOf("Symbol");
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(col) + 5, h->height() / 2));
        QCOMPARE(R->Engine->DatMod().tFilledOrders->SortColumn(), QStringLiteral("Symbol"));
        QCOMPARE(W->RxDBGrid4->Proxy()->index(0, col).data().toString(), QStringLiteral("AAA"));
        QVERIFY(R->Tick());
        QCOMPARE(W->RxDBGrid4->Proxy()->index(0, col).data().toString(),
                 QStringLiteral("AAA")); // stays sorted
        QCOMPARE(R->Engine->DatMod().GetLastID(R->Engine->DatMod().tFilledOrders), 2);
        QVERIFY(h->isSortIndicatorShown());
        QCOMPARE(h->sortIndicatorSection(), col);
        auto clickTitle = [&] {
            QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                              QPoint(h->sectionViewportPosition(col) + 5, h->height() / 2));
        };
        clickTitle(); // the other way
        QCOMPARE(h->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(W->RxDBGrid4->Proxy()->index(0, col).data().toString(), QStringLiteral("ZZZ"));
        clickTitle();
        QCOMPARE(h->sortIndicatorOrder(), Qt::AscendingOrder); // the order the rows are in
        // Any grid sorts, by any column.
        TDbGrid* quotes = qobject_cast<TDbGrid*>(W->PageControl1->widget(5));
        quotes->View()->horizontalHeader()->sectionClicked(quotes->Proxy()->ColumnOf("stock"));
        QCOMPARE(R->Engine->DatMod().tParam->SortColumn(), QStringLiteral("stock"));
        // Following the newest row of a sorted grid goes where the sort puts it, not to the end.
        for (int i = 0; i < 80; ++i)
            Ws->InsertAlert("FilledOrders",
                            {{"Symbol", QStringLiteral("M%1").arg(i, 2, 10, QLatin1Char('0'))}});
        QVERIFY(R->Tick());
        Ws->InsertAlert("FilledOrders", {{"Symbol", "AAB"}});
        QVERIFY(R->Tick());
        QApplication::processEvents();
        QTableView* v = W->RxDBGrid4->View();
        QCOMPARE(W->RxDBGrid4->Proxy()->index(1, col).data().toString(), QStringLiteral("AAB"));
        QVERIFY(v->viewport()->rect().contains(v->visualRect(W->RxDBGrid4->Proxy()->index(1, col))));
    }

    void quotesAndReport_keepTheOperatorsPlace_growingTablesFollowTheNewest() {
        QVERIFY(R->Connect());
        for (int i = 0; i < 60; ++i)
            Ws->Exec(Ws->Trading(),
                     QStringLiteral(
                         "INSERT INTO tParam (code, stock, bid, last) VALUES ('C%1', 'Бумага %1', 10, 10)")
                         .arg(i));
        QVERIFY(R->Tick());
        W->resize(1366, 768);
        W->show();
        W->PageControl1->setCurrentIndex(5);
        auto* quotes = qobject_cast<TDbGrid*>(W->PageControl1->widget(5));
        QTableView* v = quotes->View();
        v->setCurrentIndex(quotes->Proxy()->index(40, quotes->Proxy()->ColumnOf("stock")));
        v->horizontalScrollBar()->setValue(0);
        v->verticalScrollBar()->setValue(v->verticalScrollBar()->maximum() / 2);
        const int vScroll = v->verticalScrollBar()->value();
        // Values change in place, and then QUIK writes the whole table anew.
        for (const char* sql : {"UPDATE tParam SET bid = bid + 1", "DELETE FROM tParam WHERE code = 'C0'"}) {
            Ws->Exec(Ws->Trading(), sql);
            QVERIFY(R->Tick());
            QApplication::processEvents();
            QCOMPARE(quotes->Proxy()->FieldAt(v->currentIndex().column()), QStringLiteral("stock"));
            QCOMPARE(v->horizontalScrollBar()->value(), 0);
            QCOMPARE(v->verticalScrollBar()->value(), vScroll);
        }
        QCOMPARE(v->currentIndex().row(), 39); // row C0 went away above it: the same row stays current

        W->PageControl1->setCurrentIndex(6);
        QTableView* report = W->grdTRO->View();
        int transId = 0;
        auto addResults = [&](int n) {
            for (int i = 0; i < n; ++i)
                Registered(transId++, {});
            QVERIFY(R->Tick());
            QTRY_COMPARE(W->grdTRO->Proxy()->rowCount(), transId); // read once the tick is over
            QApplication::processEvents();
        };
        addResults(5);
        const int numbersWidth = report->verticalHeader()->width();
        addResults(75);
        QCOMPARE(report->verticalHeader()->width(), numbersWidth); // 5 rows or 80: the columns stay put
        QCOMPARE(report->verticalScrollBar()->value(),
                 report->verticalScrollBar()->maximum()); // followed the newest
        report->verticalScrollBar()->setValue(3);         // the operator reads older results
        addResults(5);
        QCOMPARE(report->verticalScrollBar()->value(), 3);
        report->verticalScrollBar()->setValue(report->verticalScrollBar()->maximum());
        addResults(5);
        QCOMPARE(report->verticalScrollBar()->value(), report->verticalScrollBar()->maximum());
        QVERIFY(report->verticalScrollBar()->maximum() > 3);
    }

    void report_holdsTheDaysTransactions_inWords_alsoAfterARestart() {
        Registered(0, {{"stage", 4}, {"description", "Недостаточно средств"}, {"order_number", 0}});
        Registered(
            1,
            {{"operation", "S"}, {"stage", 8}, {"order_number", 4100141}, {"price", 7012.5}, {"digits", 1}});
        Registered(2, {{"action", "KILL_ORDER"}, {"cancels", 1}, {"stage", 9}, {"manual", 1}});
        Registered(9, {{"stage", 3}}, 1); // yesterday's
        QVERIFY(R->Connect());
        QApplication::processEvents();
        TFieldsProxy* p = W->grdTRO->Proxy();
        auto cell = [&p](int row, const char* field) { return p->index(row, p->ColumnOf(field)).data(); };
        for (int restart = 0; restart < 2; ++restart) {
            QCOMPARE(p->rowCount(), 3);
            QCOMPARE(cell(0, "stage").toString(), QStringLiteral("отвергнута: Недостаточно средств"));
            QCOMPARE(cell(0, "order_number").toString(), QString()); // no "0" for a refused one
            QCOMPARE(cell(0, "operation").toString(), QStringLiteral("покупка"));
            QCOMPARE(cell(0, "price").toString(), QStringLiteral("285.40"));
            QCOMPARE(cell(0, "recorded").toString(), Regional::LongTime(QTime(12, 0)));
            QCOMPARE(cell(1, "stage").toString(), QStringLiteral("исполнена"));
            QCOMPARE(cell(1, "operation").toString(), QStringLiteral("продажа"));
            QCOMPARE(cell(1, "price").toString(), QStringLiteral("7012.5"));
            QCOMPARE(cell(1, "order_number").toString(), QStringLiteral("4100141"));
            QCOMPARE(cell(2, "action").toString(), QStringLiteral("снятие заявки (транзакция 1), вручную"));
            const QColor refused = p->index(0, p->ColumnOf("stage")).data(Qt::ForegroundRole).value<QColor>();
            QVERIFY(refused != p->index(1, p->ColumnOf("stage")).data(Qt::ForegroundRole).value<QColor>());
            QCOMPARE(p->index(0, p->ColumnOf("description")).data(Qt::ForegroundRole).value<QColor>(),
                     refused);
            // A restart reads the same day from the registry.
            W.reset();
            R.reset();
            R = std::make_unique<TTestRobot>(*Ws);
            NewWindow();
            QVERIFY(R->Connect());
            QApplication::processEvents();
            p = W->grdTRO->Proxy();
        }
    }

    void pricesWithTheirDecimals_datesRegional() {
        QVERIFY(R->Connect());
        Ws->InsertAlert("FilledOrders",
                        {{"Symbol", "SBER"}, {"Fill Price", 285.4}, {"Time Placed", "2024-03-01 10:31:05"}});
        Ws->InsertAlert("FilledOrders", {{"Symbol", "LKOH"}, {"Fill Price", 7012.5}});
        QVERIFY(R->Tick());
        TFieldsProxy* f = W->RxDBGrid4->Proxy();
        QCOMPARE(f->index(0, f->ColumnOf("Fill Price")).data().toString(),
                 QStringLiteral("285.40")); // SBER: 2 decimals
        QCOMPARE(f->index(1, f->ColumnOf("Fill Price")).data().toString(),
                 QStringLiteral("7012.5")); // LKOH: 1
        // Rounded as the line rounds them: SiH7 to whole points, RIH7 (Digits -1) to tens, grouped
        // as the operator's numbers are.
        Ws->InsertAlert("FilledOrders", {{"Symbol", "SiH7"}, {"Fill Price", 91250.722674399}});
        Ws->InsertAlert("FilledOrders", {{"Symbol", "RIH7"}, {"Fill Price", 111970.722674399}});
        QVERIFY(R->Tick());
        QCOMPARE(f->index(2, f->ColumnOf("Fill Price")).data().toString(), QStringLiteral("91251"));
        QCOMPARE(f->index(3, f->ColumnOf("Fill Price")).data().toString(), QStringLiteral("111970"));
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        QCOMPARE(f->index(3, f->ColumnOf("Fill Price")).data().toString(), QStringLiteral("111\u00a0970"));
        QCOMPARE(f->index(0, f->ColumnOf("Fill Price")).data().toString(), QStringLiteral("285,40"));
        QLocale::setDefault(QLocale::c());
        QCOMPARE(f->index(0, f->ColumnOf("Time Placed")).data().toString(),
                 Regional::ShortDate(QDate(2024, 3, 1)) + " " + Regional::LongTime(QTime(10, 31, 5)));
        QCOMPARE(f->index(0, f->ColumnOf("ID")).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight,
                 int(Qt::AlignRight));
    }

    void columnTitles_areNotCut_at1366x768() {
        QVERIFY(R->Connect());
        W->resize(1366, 768);
        // The font the platform gives the dialog may be larger than the one its grids were made with.
        QFont larger = W->fmOpt->font();
        larger.setPointSizeF(larger.pointSizeF() * 1.3);
        W->fmOpt->setFont(larger);
        W->show();
        W->fmOpt->show();
        W->fmClients->show();
        QApplication::processEvents();
        QList<TDbGrid*> grids = W->findChildren<TDbGrid*>();
        QVERIFY(grids.size() >= 12);
        for (TDbGrid* g : grids) {
            QHeaderView* h = g->View()->horizontalHeader();
            if (h->isHidden()) continue;
            for (int c = 0; c < h->count(); ++c) {
                const QString title = g->Proxy()->headerData(c, Qt::Horizontal).toString();
                QFont bold = h->font(); // as the title shows while a row is current
                bold.setBold(true);
                const int needed = QFontMetrics(bold).horizontalAdvance(title) +
                                   2 * h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
                QVERIFY2(h->sectionSize(c) >= needed, qPrintable(g->objectName() + ": " + title));
            }
        }
        // The last error has room to be read, and a long one is cut inside its panel, not off the bar.
        R->Engine->RunEvent([] {
            throw KorvexError(
                QStringLiteral("Ордер # 1282 (FilledOrders) не отправлен: база данных заблокирована "
                               "другой программой. Повтор на следующем такте."));
        });
        QApplication::processEvents();
        QVERIFY(W->ErrorPanel->width() >= 300);
        QVERIFY(W->ErrorPanel->geometry().right() <= W->statusBar()->width());
    }

    void columnsAndWindow_areKeptAcrossRuns_besideTheSettingsFile() {
        QVERIFY(R->Connect());
        QHeaderView* h = W->RxDBGrid4->View()->horizontalHeader();
        h->resizeSection(W->RxDBGrid4->Proxy()->ColumnOf("Order"), 333);
        h->moveSection(h->visualIndex(W->RxDBGrid4->Proxy()->ColumnOf("Symbol")), 0);
        W->setGeometry(30, 40, 900, 600);
        W->fmOpt->resize(1010, 710); // the options dialog is sized by the operator, too
        const QStringList layout = W->RxDBGrid4->Layout();
        W->SaveUiState();
        W = std::make_unique<TfmMain>(*R->Engine);
        QCOMPARE(W->fmOpt->size(), QSize(1010, 710));
        QCOMPARE(W->RxDBGrid4->Layout(), layout);
        QVERIFY(layout[0].startsWith("Symbol=") && layout.contains("Order=333"));
        QCOMPARE(W->geometry().size(), QSize(900, 600));
        QVERIFY(QFileInfo(Ws->Path("Korvex.ui.ini")).size() > 0);
        QVERIFY(!ReadCp1251(Ws->Path("Korvex.ini")).contains("Order=333"));
    }

    void optionsResult_okSaves_cancelReloads_invalidShowsAgain() {
        R->Engine->LoadSettings();
        R->S().Code = "555";
        QVERIFY(!W->HandleOptionsResult(1));
        QVERIFY(ReadCp1251(Ws->Path("Korvex.ini")).contains("Code=555\r\n"));
        R->S().Code = "999";
        R->S().intTable = "7"; // saved periods take effect only at the next load
        QVERIFY(!W->HandleOptionsResult(1));
        QCOMPARE(R->Engine->timUpdateTable().IntervalMs(), 1000);
        R->S().Code = "unsaved";
        QVERIFY(!W->HandleOptionsResult(2));
        QCOMPARE(R->S().Code, QStringLiteral("999"));
        QCOMPARE(W->fmOpt->edtCode->text(), QStringLiteral("999"));
        QCOMPARE(R->Engine->timUpdateTable().IntervalMs(), 7000);
        QVERIFY(W->HandleOptionsResult(4));
    }

    void journalMemo_helpAndMinimizeWithoutTray() {
        R->Journal.AddJournalLine("hello memo");
        QTRY_VERIFY(W->mLog->toPlainText().endsWith("hello memo"));
        // A burst arrives at once, a line of the memo for each line of the journal.
        const int blocks = W->mLog->document()->blockCount();
        R->Journal.AddJournalLines({"one", "two"});
        R->Journal.AddJournalLine("three");
        QTRY_COMPARE(W->mLog->document()->blockCount(), blocks + 3);
        QVERIFY(W->mLog->document()->lastBlock().text().endsWith(" three"));
        // Bursts while another page is shown: the newest line is in sight once the page is.
        W->resize(900, 600);
        W->show();
        QScrollBar* bar = W->mLog->verticalScrollBar();
        auto burst = [this](int n) {
            QStringList lines;
            for (int i = 0; i < n; ++i)
                lines << QStringLiteral("burst %1").arg(i);
            R->Journal.AddJournalLines(lines);
            QApplication::processEvents();
        };
        for (int i = 0; i < 5; ++i)
            burst(400);
        W->PageControl1->setCurrentWidget(W->JournalPage);
        QApplication::processEvents();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        burst(2000);
        QCOMPARE(bar->value(), bar->maximum());
        // Scrolled away by the operator: the view stays where he put it, until he is back at the end.
        bar->setValue(bar->maximum() / 2);
        const int place = bar->value();
        burst(50);
        QCOMPARE(bar->value(), place);
        bar->setValue(bar->maximum());
        burst(50);
        QCOMPARE(bar->value(), bar->maximum());
        W->hide();
        W->actHelpCont->trigger();
        QVERIFY(W->Help->CurrentPage().toString().endsWith("index.html"));
        W->show();
        QApplication::setActiveWindow(W.get());
        QTest::keyClick(W.get(), Qt::Key_F1); // the section of the page shown
        QVERIFY(W->Help->CurrentPage().path().endsWith("main-window.html"));
        QCOMPARE(W->Help->CurrentPage().fragment(), QStringLiteral("journal"));
        QVERIFY(!W->HasTray()); // offscreen: no tray, so minimizing keeps the window reachable
        W->showMinimized();
        QApplication::processEvents();
        QVERIFY(W->isVisible());
    }

    void statusBar_at1024_showsEveryState() {
        QVERIFY(R->Connect());
        R->S().rgpSingleMulti = 1;
        R->S().QuikConnect = true;
        R->Engine->Monitor().QuikLinkState = TLinkMonitor::Connected;
        TOrder o;
        o.Action = "NEW_ORDER";
        o.Quantity = 1;
        for (int i = 0; i < 120; ++i)
            R->Engine->Writer().WriteTransaction(o, TOmegaOrder());
        W->resize(1024, 600);
        W->show();
        W->actStartWatch->trigger();
        QVERIFY(R->Tick());
        R->Engine->RunEvent([] { throw KorvexError(QStringLiteral("База данных заблокирована")); });
        QApplication::processEvents();
        const QList<TStatePanel*> panels{W->WatchPanel,      W->ErrorPanel,      W->StatusPanels[0],
                                         W->StatusPanels[1], W->StatusPanels[2], W->StatusPanels[3],
                                         W->StatusPanels[4]};
        const QStringList states{
            "ВКЛ", "База данных заблокирована", "Omega: OK", "Quik: OK", "Сервер: ОК", "Отпр. 120", "Группа"};
        int right = -1;
        for (int i = 0; i < panels.size(); ++i) {
            // Each reads its state, side by side, none cut by the bar's edge.
            QVERIFY2(panels[i]->ShownText().contains(states[i]), qPrintable(panels[i]->ShownText()));
            QVERIFY(panels[i]->geometry().left() >= right);
            right = panels[i]->geometry().right();
            QVERIFY(right <= W->statusBar()->width());
        }
        // Wide, the same panels say it in full.
        W->resize(1920, 1080);
        QApplication::processEvents();
        QCOMPARE(W->StatusPanels[0]->ShownText(), QStringLiteral("Подключение к Omega: OK"));
        QCOMPARE(W->StatusPanels[3]->ShownText(),
                 QStringLiteral("Отправлено 120, на сервере 0, исполнено 0"));
    }

    void exit_whileWatching_asks_andStaysOnANo() {
        W->show();
        QStringList asked;
        bool answer = false;
        W->Confirm = [&](const QString& q) {
            asked << q;
            return answer;
        };
        QVERIFY(R->Connect());
        W->actStartWatch->trigger();
        W->actExit->trigger();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].contains(QStringLiteral("загрузка ордеров включена")), qPrintable(asked[0]));
        QVERIFY(W->isVisible() && R->Engine->Watching());
        answer = true;
        W->close();
        QVERIFY(!W->isVisible());
        // Not watching, nothing living in QUIK: it closes without a word.
        W->show();
        R->Engine->actStopWatchExecute();
        W->close();
        QCOMPARE(asked.size(), 2);
        QVERIFY(!W->isVisible());
    }

    void journal_searchFindsALine_ctrlEndReturnsToTheNewest() {
        W->resize(900, 600);
        W->show();
        QStringList lines;
        for (int i = 0; i < 300; ++i)
            lines << (i == 10 ? QStringLiteral("Транзакция номер 7 отвергнута: нет денег")
                      : i == 200 ? QStringLiteral("Транзакция номер 9 отвергнута: лимит")
                                 : QStringLiteral("строка %1").arg(i));
        R->Journal.AddJournalLines(lines);
        QApplication::processEvents();
        QApplication::setActiveWindow(W.get());
        QTest::keyClick(W.get(), Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(W->PageControl1->currentWidget(), W->JournalPage);
        QVERIFY(W->JournalPage->SearchBar()->isVisible());
        W->JournalPage->SearchField()->setText(QStringLiteral("ОТВЕРГНУТА")); // as typed
        QVERIFY(W->mLog->textCursor().block().text().endsWith("лимит"));      // the newest first
        QTest::keyClick(W->JournalPage->SearchField(), Qt::Key_Return);
        QVERIFY(W->mLog->textCursor().block().text().endsWith("нет денег"));
        QTest::keyClick(W->JournalPage->SearchField(), Qt::Key_F3, Qt::ShiftModifier);
        QVERIFY(W->mLog->textCursor().block().text().endsWith("лимит"));
        QVERIFY(!W->JournalPage->Find("нет такой строки"));
        // Scrolled up, new lines arrive below with a hint; Ctrl+End goes back to them and follows.
        QScrollBar* bar = W->mLog->verticalScrollBar();
        W->JournalPage->GoToFirst();
        R->Journal.AddJournalLine("новая строка");
        QApplication::processEvents();
        QVERIFY(bar->value() < bar->maximum());
        QVERIFY(W->JournalPage->NewLinesHint()->isVisible());
        QTest::keyClick(W->mLog, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(!W->JournalPage->NewLinesHint()->isVisible());
        R->Journal.AddJournalLine("еще одна");
        QApplication::processEvents();
        QCOMPARE(bar->value(), bar->maximum());
        // A refusal does not read like a plain line.
        QCOMPARE(TJournalView::KindOf(lines[10]), TJournalView::TKind::Refused);
        QVERIFY(W->mLog->document()->findBlockByNumber(10).layout()->formats() !=
                W->mLog->document()->findBlockByNumber(11).layout()->formats());
    }

    void keyboard_pagesMenusAndCommands() {
        W->show();
        QApplication::setActiveWindow(W.get());
        QTest::keyClick(W.get(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(W->PageControl1->currentIndex(), 1);
        QTest::keyClick(W.get(), Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(W->PageControl1->currentIndex(), 2);
        QTest::keyClick(W.get(), Qt::Key_PageUp, Qt::ControlModifier);
        QTest::keyClick(W.get(), Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(W->PageControl1->currentIndex(), 0);
        for (QAction* a : {W->actStartWatch, W->actStopWatch, W->actSendNewOrderManual,
                           W->actSendKillOrderManual, W->actPullAllOrders}) {
            QVERIFY(!a->shortcut().isEmpty());
            QVERIFY(a->toolTip().contains(a->shortcut().toString(QKeySequence::NativeText)));
        }
        QMenu* file = W->menuBar()->actions()[0]->menu();
        QTest::keyClick(W.get(), Qt::Key_F10);
        QTRY_VERIFY(file->isVisible());
        file->close();
        // Alt and the key of "Ф" under a Latin layout.
        QTest::keyClick(W->PageControl1->currentWidget(), Qt::Key_A, Qt::AltModifier);
        QTRY_VERIFY(file->isVisible());
        file->close();
    }

    void bookEdits_areAskedAndJournalled_aRefusalLeavesTheBook() {
        Ws->Exec(Ws->Trading(),
                 "INSERT INTO tClientOpenPositions (code, symbol, quantity, System, Signal, Workspace, "
                 "Interval) VALUES ('111', 'SBER', 5, 'S1', 'Sig', 'W', '5')");
        QVERIFY(R->Connect());
        W->show();
        QApplication::setActiveWindow(W.get());
        W->PageControl1->setCurrentIndex(1);
        TDbGrid* g = W->Book->Grid();
        QStringList asked;
        bool answer = false;
        W->Book->Confirm = [&](const QString& q) {
            asked << q;
            return answer;
        };
        auto typeQuantity = [&](const QString& text) {
            const QModelIndex q = g->Proxy()->index(0, g->Proxy()->ColumnOf("quantity"));
            g->View()->setCurrentIndex(q);
            g->View()->edit(q);
            QWidget* editor = QApplication::focusWidget();
            QVERIFY(editor && editor != g->View());
            QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(editor, text);
            const int before = asked.size();
            QTest::keyClick(editor, Qt::Key_Return);
            QTRY_COMPARE(asked.size(), before + 1); // asked once the editor closed
        };
        const QString quantity = "SELECT quantity FROM tClientOpenPositions";
        typeQuantity("7");
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].contains(QStringLiteral("клиент 111, SBER, стратегия S1")) &&
                     asked[0].contains(QStringLiteral("было 5, станет 7")),
                 qPrintable(asked[0]));
        QCOMPARE(Ws->Scalar(Ws->Trading(), quantity).toInt(), 5);
        QCOMPARE(g->Proxy()->index(0, g->Proxy()->ColumnOf("quantity")).data().toInt(), 5);
        answer = true;
        typeQuantity("7");
        QCOMPARE(Ws->Scalar(Ws->Trading(), quantity).toInt(), 7);
        QVERIFY(R->JournalTexts().last().contains(
            QStringLiteral("изменил количество позиции (клиент 111, SBER")));
        QVERIFY(R->JournalTexts().last().endsWith(QStringLiteral("было 5, стало 7.")));
        // The keys of a recorded position are written once.
        QVERIFY(!W->Book->MayEdit(g->Proxy()->index(0, g->Proxy()->ColumnOf("symbol"))));
        // Added and deleted, each asked and told.
        W->Book->AddPosition();
        const int row = g->Proxy()->rowCount() - 1;
        QVERIFY(W->Book->MayEdit(g->Proxy()->index(row, g->Proxy()->ColumnOf("symbol"))));
        QCOMPARE(g->View()->currentIndex().row(), row);
        for (auto [field, value] : {std::pair{"code", "222"}, {"symbol", "GAZP"}, {"quantity", "3"}})
            g->Proxy()->setData(g->Proxy()->index(row, g->Proxy()->ColumnOf(field)), value);
        W->Book->Commit();
        QVERIFY(asked.last().startsWith(QStringLiteral("Добавить позицию (клиент 222, GAZP")));
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tClientOpenPositions").toInt(), 2);
        QVERIFY(R->JournalTexts().last().contains(QStringLiteral("добавил позицию (клиент 222, GAZP")));
        g->View()->selectRow(0);
        answer = false;
        W->Book->DeleteSelected();
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tClientOpenPositions").toInt(), 2);
        answer = true;
        W->Book->DeleteSelected();
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tClientOpenPositions").toInt(), 1);
        QVERIFY(R->JournalTexts().last().contains(QStringLiteral("удалил позицию (клиент 111, SBER")));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
