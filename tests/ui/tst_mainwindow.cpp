#include "quik/LinkMonitor.h"
#include "quik/TransactionWriter.h"
#include "support/TestSupport.h"
#include "ui/DbGrid.h"
#include "ui/HelpViewer.h"
#include "ui/MainWindow.h"
#include "ui/OptionsDialog.h"

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
        QCOMPARE(W->StatusPanels.last()->text(),
                 QStringLiteral("Автостоп: 2 транзакций за минуту, предел 1"));
        R->Engine->actStartWatchExecute();
        QCOMPARE(W->StatusPanels.last()->text(), QString());
    }

    void statusPanels_stayUnderAHint_showWatchingAndTheLastError_trayTipSaysTheSame() {
        W->show();
        QVERIFY(R->Connect());
        W->actStartWatch->trigger();
        W->statusBar()->showMessage(W->actStopWatch->statusTip()); // a toolbar button under the pointer
        QApplication::processEvents();
        for (QLabel* l : W->StatusPanels.mid(0, 5) + QList<QLabel*>{W->WatchPanel, W->ErrorPanel})
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
        QCOMPARE(W->StatusPanels[3]->text(), QStringLiteral("Отправлено транзакций: 3/1/0"));
        R->S().QuikConnect = false;
        R->Engine->Monitor().QuikLinkState = 1;
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[2]->text(), QStringLiteral("Связь Quik с сервером: Н/Д"));
        R->S().QuikConnect = true;
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[2]->text(), QStringLiteral("Связь Quik с сервером: ОК"));
        QVERIFY(W->StatusPanels[2]->styleSheet().isEmpty());
        // The server link lost: an alarm in the bar and first in the tray's tool tip.
        R->Engine->Monitor().QuikLinkState = TLinkMonitor::Broken;
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[2]->text(), QStringLiteral("Связь Quik с сервером: Нет"));
        QVERIFY(W->StatusPanels[2]->styleSheet().contains("#c0392b"));
        QCOMPARE(W->TrayText().section('\n', 1, 1), QStringLiteral("\u26a0 Связь Quik с сервером: Нет"));
        R->S().rgpSingleMulti = 1;
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[4]->text(), QStringLiteral("MULTI"));
        R->S().rgpSingleMulti = -1; // no choice: the panel keeps its text
        W->UpdateStatusBar();
        QCOMPARE(W->StatusPanels[4]->text(), QStringLiteral("MULTI"));
    }

    void manualActions_followPageChangesAndConnection() {
        W->PageControl1->setCurrentIndex(2); // active orders, not connected
        QVERIFY(!W->actSendNewOrderManual->isEnabled());
        QVERIFY(R->Connect());
        QVERIFY(!W->actSendNewOrderManual->isEnabled()); // a connect alone changes nothing
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
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(col) + 5, h->height() / 2));
        QCOMPARE(h->sortIndicatorOrder(), Qt::AscendingOrder); // the order the rows are in
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
        auto addResults = [&](int n) {
            for (int i = 0; i < n; ++i)
                Ws->Exec(Ws->Trading(),
                         "INSERT INTO tOrderNumber (trans_id, id_order, code) VALUES (1, 1, '111')");
            QVERIFY(R->Tick());
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

    void refusedStatus_showsAsAColouredWord_pricesWithTheirDecimals_datesRegional() {
        QVERIFY(R->Connect());
        Ws->Exec(Ws->Trading(), "INSERT INTO tOrderNumber (trans_id, id_order, code, status) VALUES (1, 1, "
                                "'111', 4), (2, 2, '111', 3)");
        Ws->InsertAlert("FilledOrders",
                        {{"Symbol", "SBER"}, {"Fill Price", 285.4}, {"Time Placed", "2024-03-01 10:31:05"}});
        Ws->InsertAlert("FilledOrders", {{"Symbol", "LKOH"}, {"Fill Price", 7012.5}});
        QVERIFY(R->Tick());
        TFieldsProxy* p = W->grdTRO->Proxy();
        const QModelIndex refused = p->index(0, p->ColumnOf("status"));
        QCOMPARE(refused.data().toString(), QStringLiteral("отвергнута"));
        QCOMPARE(p->index(1, p->ColumnOf("status")).data().toString(), QStringLiteral("выполнена"));
        QVERIFY(refused.data(Qt::ForegroundRole).value<QColor>() !=
                p->index(1, p->ColumnOf("status")).data(Qt::ForegroundRole).value<QColor>());
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
        const QStringList layout = W->RxDBGrid4->Layout();
        W->SaveUiState();
        W = std::make_unique<TfmMain>(*R->Engine);
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
        W->PageControl1->setCurrentWidget(W->mLog);
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
        QTest::keyClick(W.get(), Qt::Key_F1);
        QVERIFY(W->Help->CurrentPage().toString().endsWith("main-window.html"));
        QVERIFY(!W->HasTray()); // offscreen: no tray, so minimizing keeps the window reachable
        W->showMinimized();
        QApplication::processEvents();
        QVERIFY(W->isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
