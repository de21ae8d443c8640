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

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

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
        QCOMPARE(Messages, (QStringList{QStringLiteral("Введите верные данные!"),
                                        QStringLiteral("Веденно неверное время!")}));
        QCOMPARE(Opt()->result(), 4);
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
        for (QDialog* d : {static_cast<QDialog*>(Opt()), static_cast<QDialog*>(W->fmClients)}) {
            d->open();
            QApplication::setActiveWindow(d);
            QApplication::processEvents();
            QTest::keyClick(d, Qt::Key_F1);
            QVERIFY(W->Help->isVisible());
            QCOMPARE(W->Help->parentWidget(), d); // the modal dialog does not block its own windows
            QVERIFY(W->Help->CurrentPage().toString().endsWith(d == Opt() ? "settings.html"
                                                                          : "main-window.html"));
            d->reject();
        }
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
        QCOMPARE(R->S().Security, 0);
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
        QVERIFY(R->JournalTexts().last().startsWith(QStringLiteral("Mail test: failed: ")));
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
        QCOMPARE(R->Engine->timUpdateTable.IntervalMs(), 2000);
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
    }

    void clients_okPosts_cancelRestores_movedRowStaysPosted() {
        QVERIFY(R->Connect());
        TDbGrid* g = W->fmClients->Grid;
        g->Proxy()->setData(Cell(g, 0, "AccountMicex"), "NEW-1");
        W->HandleClientsResult(1);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT AccountMicex FROM tClients WHERE Code='111'").toString(),
                 QStringLiteral("NEW-1"));
        g->Proxy()->setData(Cell(g, 0, "AccountMicex"), "NEW-2");
        W->HandleClientsResult(2);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT AccountMicex FROM tClients WHERE Code='111'").toString(),
                 QStringLiteral("NEW-1"));
        QCOMPARE(Cell(g, 0, "AccountMicex").data().toString(), QStringLiteral("NEW-1"));
        // Changing a row and moving to another posts the first; a later cancel keeps it.
        g->View()->setCurrentIndex(Cell(g, 0, "note"));
        g->Proxy()->setData(Cell(g, 0, "note"), "moved away");
        g->View()->setCurrentIndex(Cell(g, 1, "note"));
        W->HandleClientsResult(2);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT note FROM tClients WHERE Code='111'").toString(),
                 QStringLiteral("moved away"));
    }

    void about_showsCountersOfTheMomentOfOpening() {
        QVERIFY(R->Connect());
        TOrder o;
        o.Action = "NEW_ORDER";
        o.Quantity = 1;
        for (int i = 0; i < 5; ++i)
            R->Engine->Writer().WriteTransaction(o, TOmegaOrder());
        WriteBytes(Ws->TroPath(), "TRANS_ID=0;STATUS=0;\r\nTRANS_ID=1;STATUS=0;\r\nTRANS_ID=1;STATUS=3;\r\n");
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
