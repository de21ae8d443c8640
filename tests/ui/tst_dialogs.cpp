#include "data/DatMod.h"
#include "quik/ResultReader.h"
#include "quik/TransactionWriter.h"
#include "support/TestSupport.h"
#include "ui/AboutBox.h"
#include "ui/ClientsDialog.h"
#include "ui/DbGrid.h"
#include "ui/HelpViewer.h"
#include "ui/MainWindow.h"
#include "ui/NavigatorBar.h"
#include "ui/OptionsDialog.h"
#include "ui/QtTranslations.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class TestDialogs : public QObject, TRobotFixture {
    Q_OBJECT

    std::unique_ptr<TfmMain> W;
    QStringList Messages;
    TfmOpt* Opt() { return W->fmOpt; }

    void Type(QLineEdit* e, const QString& text) {
        e->selectAll();
        e->del();
        QTest::keyClicks(e, text);
    }
    // The instruments grid cell of `field` in `row`.
    QModelIndex Cell(TDbGrid* g, int row, const QString& field) {
        return g->Proxy()->index(row, g->Proxy()->ColumnOf(field));
    }

private slots:
    void init() {
        StartRobot(true, false);
        W = std::make_unique<TfmMain>(*R->Engine);
        Messages.clear();
        W->ShowMessage = [this](const QString& m) { Messages << m; };
        Opt()->ShowMessage = [this](const QString& m) { Messages << m; };
        // The dialog works on the settings file: start it with the workspace's paths.
        R->Engine->SaveSettings();
        R->Engine->LoadSettings();
    }
    void cleanup() {
        W.reset();
        StopRobot();
    }

    void okCheck_badNumberAndBadTime_bothMessagesFocusOnTime() {
        Opt()->open();
        QCOMPARE(Opt()->Pages->currentIndex(), 0); // opens on "Позиции"
        Type(Opt()->edtFixVol, "abc");
        Type(Opt()->edtTime2, "25:00:00");
        Opt()->BitBtn1Click();
        // Each names its field; the dialog stays open where it was.
        QCOMPARE(
            Messages,
            (QStringList{QStringLiteral("Введите верные данные!\nПоле «Фиксированная сумма (руб.)» (страница "
                                        "«Позиции»): «abc»."),
                         QStringLiteral("Введено неверное время!\nПоле «Конец сессии» (страница «Позиции»): "
                                        "«25:00:00».")}));
        QCOMPARE(Opt()->result(), 4);
        QVERIFY(Opt()->isVisible());
        QCOMPARE(Opt()->FailedField, Opt()->edtTime2);
        QCOMPARE(Opt()->focusWidget(), Opt()->edtTime2);
        QVERIFY(W->HandleOptionsResult(Opt()->result())); // shown again
        QCOMPARE(Opt()->edtFixVol->text(), QStringLiteral("abc"));
        QCOMPARE(Opt()->edtTime2->text(), QStringLiteral("25:00:00"));
        QCOMPARE(R->S().FixVol, QStringLiteral("30000")); // nothing that does not read reaches the robot
        QCOMPARE(R->S().time2, QStringLiteral("17:45:00"));
    }

    void timeFields_showOneDigitHours_halfTypedValuesStayInTheDialog() {
        R->S().time1 = "9:30:00";
        W->fmOpt->ShowSettings();
        QCOMPARE(Opt()->edtTime1->text(), QStringLiteral("9:30:00"));
        Opt()->show();
        QApplication::setActiveWindow(Opt());
        Opt()->edtTime2->setFocus();
        Type(Opt()->edtTime2, "25:59:59");
        Opt()->edtCode->setFocus(); // leaves the field
        QCOMPARE(R->S().time2, QStringLiteral("17:45:00"));
        Opt()->edtTime2->setFocus();
        Type(Opt()->edtTime2, "18:00:00");
        QCOMPARE(R->S().time2, QStringLiteral("17:45:00")); // still being typed
        Opt()->edtCode->setFocus();
        QCOMPARE(R->S().time2, QStringLiteral("18:00:00"));
    }

    void clientsGrid_enterKeepsTheEditOpen_cancelUndoesIt() {
        QVERIFY(R->Connect());
        W->fmClients->show();
        QApplication::setActiveWindow(W->fmClients);
        TDbGrid* g = W->fmClients->Grid;
        const QModelIndex cell = Cell(g, 0, "client");
        g->View()->setCurrentIndex(cell);
        g->View()->setFocus();
        g->View()->edit(cell);
        QApplication::processEvents();
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->setText("Сидоров");
        QTest::keyClick(editor, Qt::Key_Return);
        QApplication::processEvents(); // the delegate commits queued
        QCOMPARE(Cell(g, 0, "client").data().toString(), QStringLiteral("Сидоров"));
        QVERIFY(Ws->Scalar(Ws->Trading(), "SELECT client FROM tClients WHERE Code='111'").toString() !=
                QStringLiteral("Сидоров"));
        W->HandleClientsResult(2);
        QVERIFY(Cell(g, 0, "client").data().toString() != QStringLiteral("Сидоров"));
    }

    void f1_inBothDialogs_opensHelpOnTopOfTheModalDialog() {
        W->show();
        Opt()->Pages->setCurrentIndex(3);
        for (QDialog* d : {static_cast<QDialog*>(Opt()), static_cast<QDialog*>(W->fmClients)}) {
            d->open();
            QApplication::setActiveWindow(d);
            QApplication::processEvents();
            QTest::keyClick(d, Qt::Key_F1);
            QVERIFY(W->Help->isVisible());
            QCOMPARE(W->Help->parentWidget(), d); // the modal dialog does not block its own windows
            // The section of what the operator is looking at: the page shown, the client list.
            QVERIFY(W->Help->CurrentPage().toString().endsWith(d == Opt() ? "settings.html#instruments"
                                                                          : "main-window.html#clients"));
            d->reject();
        }
    }

    void qtOwnButtonsAndDialogs_speakRussian() {
        QVERIFY(InstallQtTranslations(QLocale(QLocale::Russian, QLocale::Russia)));
        QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel);
        QCOMPARE(box.button(QDialogButtonBox::Yes)->text().remove('&'), QStringLiteral("Да"));
        QCOMPARE(box.button(QDialogButtonBox::No)->text().remove('&'), QStringLiteral("Нет"));
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text().remove('&'), QStringLiteral("Отмена"));
        InstallQtTranslations(QLocale(QLocale::English));
        QDialogButtonBox english(QDialogButtonBox::Cancel);
        QCOMPARE(english.button(QDialogButtonBox::Cancel)->text().remove('&'), QStringLiteral("Cancel"));
    }

    void numbers_asTheGridsShowThem_areTaken_badOnesMarkedAsTyped() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        Opt()->open();
        Type(Opt()->edtFixVol, QStringLiteral("1\u00a0000\u00a0000,50"));
        Type(Opt()->edtMaxMoney, "2 500 000");
        QVERIFY(!Opt()->edtFixVol->property("invalid").toBool());
        Type(Opt()->edtPart, "12,5%");
        QVERIFY(Opt()->edtPart->property("invalid").toBool()); // marked before OK
        Type(Opt()->edtPart, "12,5");
        QVERIFY(!Opt()->edtPart->property("invalid").toBool());
        Opt()->BitBtn1Click();
        QVERIFY(Messages.isEmpty());
        QCOMPARE(Opt()->result(), 1);
        QCOMPARE(R->S().FixVol, QStringLiteral("1000000,50"));
        QCOMPARE(R->S().MaxMoney, QStringLiteral("2500000"));
        Opt()->open();
        Type(Opt()->edtFixVol, "1 00 000"); // not grouped in threes
        Opt()->BitBtn1Click();
        QCOMPARE(Opt()->result(), 4);
        QLocale::setDefault(QLocale::c());
    }

    void okCheck_zeroAndNegativePass() {
        Opt()->open();
        Type(Opt()->edtPort, "0");
        Type(Opt()->edtIntTable, "-3");
        Opt()->BitBtn1Click();
        QVERIFY(Messages.isEmpty());
        QCOMPARE(Opt()->result(), 1);
    }

    void mailPage_securityProposesItsPort_keepsATypedOne_andWarnsOfAClearPassword() {
        Opt()->open();
        Opt()->Pages->setCurrentIndex(2); // "Сообщения"
        R->S().Security = 3; // as a settings file may hold it: no choice is shown, not the nearest one
        Opt()->ShowSettings();
        QCOMPARE(Opt()->cmbSecurity->currentIndex(), -1);
        R->S().Security = 0;
        Opt()->ShowSettings();
        Type(Opt()->edtPort, "25");
        emit Opt()->edtPort->editingFinished();
        Opt()->chAuten->setChecked(true);
        QVERIFY(Opt()->lblClearPassword->isVisibleTo(Opt()));
        Opt()->cmbSecurity->setCurrentIndex(1);
        QCOMPARE(Opt()->edtPort->text(), QStringLiteral("587"));
        QCOMPARE(R->S().Port, QStringLiteral("587"));
        QVERIFY(!Opt()->lblClearPassword->isVisibleTo(Opt()));
        Opt()->cmbSecurity->setCurrentIndex(2);
        QCOMPARE(R->S().Port, QStringLiteral("465"));
        QCOMPARE(R->S().Security, 2);
        Type(Opt()->edtPort, "2465");
        emit Opt()->edtPort->editingFinished();
        Opt()->cmbSecurity->setCurrentIndex(0);
        QCOMPARE(Opt()->edtPort->text(), QStringLiteral("2465"));
        QCOMPARE(R->S().Port, QStringLiteral("2465"));
        QCOMPARE(R->S().Security, 0);
        QVERIFY(Opt()->lblClearPassword->isVisibleTo(Opt()));
        Opt()->chAuten->setChecked(false);
        QVERIFY(!Opt()->lblClearPassword->isVisibleTo(Opt()));
    }

    void mailTest_answersInTheDialogAndTheJournal() {
        Opt()->open();
        Type(Opt()->edtSMTP, "127.0.0.1");
        Type(Opt()->edtPort, "1"); // nobody listens there
        Opt()->btnMailTest->click();
        QVERIFY(!Opt()->btnMailTest->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!Opt()->MailTestRunning(), 30000);
        QVERIFY(Opt()->btnMailTest->isEnabled());
        QVERIFY2(Opt()->lblMailTest->text().startsWith(QStringLiteral("Ошибка: ")),
                 qPrintable(Opt()->lblMailTest->text()));
        QVERIFY(R->JournalTexts().last().startsWith(QStringLiteral("Проверка почты: ошибка: ")));
    }

    // "Коннект" to a server that takes the connection and never greets runs beside trading: an alert that
    // comes meanwhile reaches the .TRI at the next tick; "Дисконнект" ends the wait and the dialog says so.
    void mailConnect_silentServer_tradingGoesOn_disconnectEndsIt() {
        const int server = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        QVERIFY(bind(server, reinterpret_cast<sockaddr*>(&addr), len) == 0 && listen(server, 4) == 0);
        QVERIFY(getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
        R->S().rgpFilled = 1;
        QVERIFY(R->Connect());
        R->Engine->actStartWatchExecute();
        Opt()->open();
        Type(Opt()->edtSMTP, "127.0.0.1");
        Type(Opt()->edtPort, QString::number(ntohs(addr.sin_port)));
        Opt()->btnMailConnect->click();
        QVERIFY(Opt()->MailTestRunning());
        QVERIFY(!Opt()->btnMailConnect->isEnabled());
        Ws->InsertAlert("FilledOrders", {{"Order", "Buy 100 at 285 Limit"}, {"Fill Price", 285.4}});
        QVERIFY(R->Tick());
        QCOMPARE(R->TriLines().size(), 1);
        QVERIFY(Opt()->MailTestRunning()); // still waiting for the greeting
        Opt()->btnMailDisconnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(!Opt()->MailTestRunning(), 10000);
        close(server);
        QVERIFY(Opt()->btnMailConnect->isEnabled());
        QCOMPARE(Opt()->lblMailTest->text(), QStringLiteral("Ошибка: обмен прерван."));
        QCOMPARE(R->JournalTexts().last(), QStringLiteral("Проверка почты: ошибка: обмен прерван"));
    }

    void riskPage_limitsMustBeWholeOrDecimalAndNotNegative_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("lots 0 is off") << "MaxLots"
                                       << "0" << true;
        QTest::newRow("lots 50") << "MaxLots"
                                 << "50" << true;
        QTest::newRow("lots negative") << "MaxLots"
                                       << "-1" << false;
        QTest::newRow("lots not whole") << "MaxLots"
                                        << "1.5" << false;
        QTest::newRow("money decimal") << "MaxMoney"
                                       << "150000.50" << true;
        QTest::newRow("money text") << "MaxMoney"
                                    << "lots" << false;
        QTest::newRow("per minute negative") << "MaxTransPerMinute"
                                             << "-5" << false;
    }
    void riskPage_limitsMustBeWholeOrDecimalAndNotNegative() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        Opt()->open();
        QCOMPARE(Opt()->Pages->tabText(5), QStringLiteral("Риск"));
        QLineEdit* e = field == "MaxLots"    ? Opt()->edtMaxLots
                       : field == "MaxMoney" ? Opt()->edtMaxMoney
                                             : Opt()->edtMaxTransPerMinute;
        Type(e, text);
        Opt()->BitBtn1Click();
        QCOMPARE(Opt()->result(), accepted ? 1 : 4);
        QCOMPARE(Messages.isEmpty(), accepted);
        if (!accepted) QCOMPARE(Opt()->Pages->currentIndex(), 5);
    }

    void cancel_restoresStoredCode_andReappliesPeriods() {
        R->S().Code = "111";
        R->S().intTable = "2";
        R->Engine->SaveSettings();
        Opt()->open();
        Type(Opt()->edtCode, "777");
        QCOMPARE(R->S().Code, QStringLiteral("777"));
        Opt()->reject();
        QCOMPARE(Opt()->result(), 2);
        W->HandleOptionsResult(Opt()->result());
        QCOMPARE(R->S().Code, QStringLiteral("111"));
        QCOMPARE(Opt()->edtCode->text(), QStringLiteral("111"));
        QCOMPARE(R->Engine->timUpdateTable().IntervalMs(), 2000);
    }

    void lastPage_isKeptBetweenShowings() {
        Opt()->open();
        Opt()->Pages->setCurrentIndex(3);
        Opt()->reject();
        Opt()->open();
        QCOMPARE(Opt()->Pages->currentIndex(), 3);
    }

    void instruments_footers_refusedPost_thenAccepted() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        Ws->Exec(Ws->Trading(), "UPDATE tSecCode SET Traded = 0");
        QVERIFY(R->Connect());
        TDbGrid* g = Opt()->grdSecCode;
        QCOMPARE(g->FooterText("Traded"), QStringLiteral("0"));
        QCOMPARE(g->FooterText("FixVol"), QStringLiteral("0,00"));
        QCOMPARE(g->FooterText("Part"), QStringLiteral("0"));
        TDataTable* t = R->Engine->DatMod().tSecCode;
        t->Model()->insertRow(t->Model()->rowCount());
        const int row = g->Proxy()->rowCount() - 1;
        g->Proxy()->setData(Cell(g, row, "Ticker"), "AFLT");
        g->Proxy()->setData(Cell(g, row, "Traded"), Qt::Checked, Qt::CheckStateRole);
        g->Proxy()->setData(Cell(g, row, "FixVol"), 12345.5);
        g->Proxy()->setData(Cell(g, row, "Part"), 2.5);
        QVERIFY(!t->PostEdits());
        QCOMPARE(Messages, QStringList{QStringLiteral("Введите данные в поле \"Код в Quik`е\"")});
        QCOMPARE(g->FooterText("Traded"), QStringLiteral("0"));
        g->Proxy()->setData(Cell(g, row, "SecCode"), "AFLT");
        QVERIFY(t->PostEdits());
        QCOMPARE(g->FooterText("Traded"), QStringLiteral("1"));
        QCOMPARE(g->FooterText("FixVol"), QStringLiteral("12\u00a0345,50"));
        QCOMPARE(g->FooterText("Part"), QStringLiteral("2,5"));
        QLocale::setDefault(QLocale::c());
    }

    // The grids refuse what cannot be traded as it is typed, and the message names the column by the
    // title the grid shows.
    void grids_refuseBadValuesAsTyped_namingTheirOwnTitles() {
        QVERIFY(R->Connect());
        const struct {
            TDbGrid* Grid;
            const char* Field;
            QVariant Value;
        } cases[] = {{Opt()->grdSecCode, "LotSize", -5},
                     {Opt()->grdSecCode, "SecCode", QStringLiteral("SBER\u200b")},
                     {W->fmClients->Grid, "AccountMicex", QStringLiteral("L01\u200b")}};
        for (const auto& c : cases) {
            Messages.clear();
            const QModelIndex cell = Cell(c.Grid, 0, c.Field);
            const QString before = cell.data().toString();
            QVERIFY(!c.Grid->Proxy()->setData(cell, c.Value));
            QCOMPARE(cell.data().toString(), before);
            const QString title = c.Grid->Proxy()->headerData(cell.column(), Qt::Horizontal).toString();
            QCOMPARE(Messages.size(), 1);
            QVERIFY2(Messages[0].contains(", колонка \"" + title + "\": "), qPrintable(Messages[0]));
        }
    }

    void instruments_okPostsAnEdit_cancelCancelsIt() {
        QVERIFY(R->Connect());
        TDbGrid* g = Opt()->grdSecCode;
        g->Proxy()->setData(Cell(g, 0, "LotSize"), 77);
        QVERIFY(R->Engine->DatMod().tSecCode->IsEditingExistingRow());
        W->HandleOptionsResult(1);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT LotSize FROM tSecCode WHERE Ticker='SBER'").toInt(), 77);
        g->Proxy()->setData(Cell(g, 0, "LotSize"), 55);
        W->HandleOptionsResult(2);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT LotSize FROM tSecCode WHERE Ticker='SBER'").toInt(), 77);
        QCOMPARE(Cell(g, 0, "LotSize").data().toInt(), 77);
    }

    void filters_deleteAsks_emptyNewRowDroppedOnFocusLoss() {
        QVERIFY(R->Connect());
        TNavigatorBar* nav = Opt()->Navigators[1]; // workspaces
        bool asked = false;
        nav->Confirm = [&](const QString&) {
            asked = true;
            return false;
        };
        Opt()->show();
        Opt()->Pages->setCurrentIndex(4);
        Opt()->grdWorkSpaces->View()->setCurrentIndex(Opt()->grdWorkSpaces->Proxy()->index(0, 0));
        nav->Delete->trigger();
        QVERIFY(asked);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tWorkSpaces").toInt(), 2);
        nav->Insert->trigger();
        QVERIFY(R->Engine->DatMod().tWorkSpaces->Model()->HasPendingInsert());
        QApplication::setActiveWindow(Opt());
        Opt()->grdWorkSpaces->View()->setFocus();
        Opt()->edtMsg->setFocus(); // the grid loses the focus
        QTest::qWait(20);
        QVERIFY(!R->Engine->DatMod().tWorkSpaces->Model()->HasPendingInsert());
        QCOMPARE(R->Engine->DatMod().tWorkSpaces->RowCount(), 2);
    }

    void findInstrument_inTheGridOfListedColumnsAndWidths() {
        QVERIFY(R->Connect());
        TDbGrid* g = Opt()->grdSecCode;
        QHeaderView* h = g->View()->horizontalHeader();
        QCOMPARE(g->Proxy()->headerData(h->logicalIndex(0), Qt::Horizontal).toString(),
                 QStringLiteral("Тикер в Омеге"));
        QCOMPARE(g->Proxy()->headerData(h->logicalIndex(8), Qt::Horizontal).toString(),
                 QStringLiteral("Код в Quik`е"));
        QVERIFY(h->sectionSize(h->logicalIndex(0)) >= 85); // at least the design width, wider for its title
        g->View()->setCurrentIndex(Cell(g, 0, "Ticker"));
        QVERIFY(Opt()->FindInstrument("lkoh"));
        QCOMPARE(g->View()->currentIndex().data().toString(), QStringLiteral("LKOH"));
        QVERIFY(!Opt()->FindInstrument("nothing"));
        // "+" with the highlight on a scrolled-off column: typing lands in the new row's first column,
        // in view.
        Opt()->show();
        Opt()->Pages->setCurrentIndex(3);
        g->View()->setCurrentIndex(Cell(g, 0, "SecCode"));
        g->View()->horizontalScrollBar()->setValue(g->View()->horizontalScrollBar()->maximum());
        Opt()->Navigators[0]->Insert->trigger();
        const QModelIndex at = g->View()->currentIndex();
        QCOMPARE(at.row(), 1);
        QCOMPARE(h->visualIndex(at.column()), 0);
        QVERIFY(g->View()->viewport()->rect().intersects(g->View()->visualRect(at)));
    }

    void clients_okKeepsEveryChange_cancelUndoesEveryChangeSinceTheDialogOpened() {
        QVERIFY(R->Connect());
        TDbGrid* g = W->fmClients->Grid;
        TDataTable* t = R->Engine->DatMod().tClients;
        auto scalar = [this](const char* sql) { return Ws->Scalar(Ws->Trading(), sql).toString(); };
        auto newClient = [&](const QString& code) {
            t->Model()->insertRow(t->Model()->rowCount());
            const int row = g->Proxy()->rowCount() - 1;
            g->Proxy()->setData(Cell(g, row, "Code"), code);
            g->Proxy()->setData(Cell(g, row, "Active"), Qt::Checked, Qt::CheckStateRole);
        };
        W->fmClients->open();
        g->Proxy()->setData(Cell(g, 0, "AccountMicex"), "NEW-1");
        newClient("555");
        W->fmClients->accept();
        QVERIFY(!W->HandleClientsResult(1));
        QCOMPARE(scalar("SELECT AccountMicex FROM tClients WHERE Code='111'"), QStringLiteral("NEW-1"));
        QCOMPARE(scalar("SELECT count(*) FROM tClients WHERE Code='555' AND Active"), QStringLiteral("1"));

        // An edit posted by moving to another row, an edit in place and a new client half typed.
        const QString note = scalar("SELECT note FROM tClients WHERE Code='111'");
        const int rows = t->RowCount();
        W->fmClients->open();
        g->View()->setCurrentIndex(Cell(g, 0, "note"));
        g->Proxy()->setData(Cell(g, 0, "note"), "moved away");
        g->View()->setCurrentIndex(Cell(g, 1, "note"));
        QApplication::processEvents();
        QCOMPARE(scalar("SELECT note FROM tClients WHERE Code='111'"), QStringLiteral("moved away"));
        g->Proxy()->setData(Cell(g, 1, "AccountMicex"), "NEW-2");
        newClient("444");
        W->fmClients->reject();
        QVERIFY(!W->HandleClientsResult(W->fmClients->result()));
        QCOMPARE(scalar("SELECT note FROM tClients WHERE Code='111'"), note);
        QCOMPARE(scalar("SELECT count(*) FROM tClients WHERE Code IN ('444', '555')"), QStringLiteral("1"));
        QVERIFY(!t->Model()->isDirty());
        QCOMPARE(t->RowCount(), rows);
        QVERIFY(Cell(g, 1, "AccountMicex").data().toString() != QStringLiteral("NEW-2"));
        // The robot trades for the clients as they were.
        R->S().rgpSingleMulti = 1;
        QCOMPARE(static_cast<int>(R->Engine->DispatchAccounts()->size()),
                 scalar("SELECT count(*) FROM tClients WHERE Active").toInt());
    }

    void options_cancelUndoesInstrumentsAndFilters_postedOnesIncluded() {
        QVERIFY(R->Connect());
        TDbGrid* g = Opt()->grdSecCode;
        TDataTable* t = R->Engine->DatMod().tSecCode;
        const QString count = "SELECT count(*) || '/' || sum(LotSize) FROM tSecCode";
        const QString before = Ws->Scalar(Ws->Trading(), count).toString();
        Opt()->open();
        t->Model()->insertRow(t->Model()->rowCount());
        int row = g->Proxy()->rowCount() - 1;
        g->Proxy()->setData(Cell(g, row, "Ticker"), "AFLT");
        g->Proxy()->setData(Cell(g, row, "SecCode"), "AFLT");
        g->Proxy()->setData(Cell(g, row, "LotSize"), 100);
        QVERIFY(t->PostEdits());
        g->Proxy()->setData(Cell(g, 0, "LotSize"), 77);
        QVERIFY(t->PostEdits());
        TNavigatorBar* nav = Opt()->Navigators[1]; // workspaces
        nav->Confirm = [](const QString&) { return true; };
        Opt()->grdWorkSpaces->View()->setCurrentIndex(Opt()->grdWorkSpaces->Proxy()->index(0, 0));
        nav->Delete->trigger();
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tWorkSpaces").toInt(), 1);
        // Refused OK: shown again, the session goes on.
        Type(Opt()->edtFixVol, "abc");
        Opt()->BitBtn1Click();
        QVERIFY(W->HandleOptionsResult(Opt()->result()));
        Opt()->open();
        Opt()->reject();
        QVERIFY(!W->HandleOptionsResult(Opt()->result()));
        QCOMPARE(Ws->Scalar(Ws->Trading(), count).toString(), before);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tWorkSpaces").toInt(), 2);
        QCOMPARE(R->Engine->DatMod().tWorkSpaces->RowCount(), 2);
        QCOMPARE(g->Proxy()->rowCount(), t->RowCount());
    }

    void instruments_deleteWhileANewRowIsHalfTyped_keepsBoth_andSaysWhy() {
        QVERIFY(R->Connect());
        TDbGrid* g = Opt()->grdSecCode;
        TDataTable* t = R->Engine->DatMod().tSecCode;
        const int rows = t->RowCount();
        t->Model()->insertRow(t->Model()->rowCount());
        g->Proxy()->setData(Cell(g, rows, "Ticker"), "AFLT"); // no QUIK code yet: refused on post
        g->View()->setCurrentIndex(Cell(g, 0, "Ticker"));
        TNavigatorBar* nav = Opt()->Navigators[0];
        nav->Confirm = [](const QString&) { return true; };
        nav->Delete->trigger();
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tSecCode").toInt(), rows);
        QVERIFY(t->Model()->HasPendingInsert());
        QCOMPARE(Cell(g, rows, "Ticker").data().toString(), QStringLiteral("AFLT"));
        QCOMPARE(Messages, QStringList{QStringLiteral("Введите данные в поле \"Код в Quik`е\"")});
        QVERIFY(R->Errors.join('\n').contains(QStringLiteral("Запись не удалена")));
        // Completed, the row posts, and the delete then goes through.
        g->Proxy()->setData(Cell(g, rows, "SecCode"), "AFLT");
        g->View()->setCurrentIndex(Cell(g, 0, "Ticker"));
        nav->Delete->trigger();
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tSecCode").toInt(), rows);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tSecCode WHERE Ticker='AFLT'").toInt(), 1);
    }

    void about_showsCountersOfTheMomentOfOpening() {
        QVERIFY(R->Connect());
        TOrder o;
        o.Action = "NEW_ORDER";
        o.Quantity = 1;
        for (int i = 0; i < 5; ++i)
            R->Engine->Writer().WriteTransaction(o, TOmegaOrder());
        WriteBytes(Ws->TroPath(), "TRANS_ID=1;STATUS=0;\r\nTRANS_ID=2;STATUS=0;\r\nTRANS_ID=2;STATUS=3;\r\n");
        QVERIFY(R->Tick());
        QCOMPARE(W->fmAbout->pnQty->text(), QStringLiteral("0/0/0"));
        W->actAbout->trigger();
        QCOMPARE(W->fmAbout->pnQty->text(), QStringLiteral("5/2/1"));
        QVERIFY(W->fmAbout->isVisible());
        QVERIFY(!W->fmAbout->isModal());
        R->Engine->Writer().WriteTransaction(o, TOmegaOrder());
        QCOMPARE(W->fmAbout->pnQty->text(), QStringLiteral("5/2/1"));
        QCOMPARE(W->fmAbout->lwww->toolTip().left(8), QStringLiteral("https://"));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
