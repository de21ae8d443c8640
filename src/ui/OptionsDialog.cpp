#include "ui/OptionsDialog.h"

#include "common/Journal.h"
#include "common/Regional.h"
#include "data/DatMod.h"
#include "data/TableColumns.h"
#include "notify/MailNotifier.h"
#include "notify/MailTest.h"
#include "robot/Engine.h"
#include "ui/DbGrid.h"
#include "ui/NavigatorBar.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSqlRecord>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The [Mail] Security value as the index of its choice; a value out of range selects none, so that the
// operator sees that there is no valid choice yet (no mail goes out until there is).
int MailSecurityIndex(int setting) {
    return setting >= 0 && setting <= 2 ? setting : -1;
}

} // namespace

TfmOpt::TfmOpt(TEngine& engine, QWidget* parent) : QDialog(parent), Robot(engine) {
    setWindowTitle(QStringLiteral("Настройки"));
    ShowMessage = [this](const QString& m) { QMessageBox::warning(this, windowTitle(), m); };
    Pages = new QTabWidget(this);
    Pages->addTab(CreatePositionsPage(), QStringLiteral("Позиции"));
    Pages->addTab(CreateQuikPage(), QStringLiteral("Quik"));
    Pages->addTab(CreateMailPage(), QStringLiteral("Сообщения"));
    Pages->addTab(CreateInstrumentsPage(), QStringLiteral("Инструменты"));
    Pages->addTab(CreateFiltersPage(), QStringLiteral("Фильтры"));
    Pages->addTab(CreateRiskPage(), QStringLiteral("Риск"));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    auto* help = new QPushButton(QStringLiteral("&Справка"), this);
    connect(ok, &QPushButton::clicked, this, &TfmOpt::BitBtn1Click);
    connect(cancel, &QPushButton::clicked, this, [this] { done(2); });
    connect(help, &QPushButton::clicked, this, &TfmOpt::HelpRequested);
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
            &TfmOpt::HelpRequested);
    auto* strip = new QHBoxLayout;
    strip->addStretch();
    strip->addWidget(ok);
    strip->addWidget(cancel);
    strip->addWidget(help);
    auto* l = new QVBoxLayout(this);
    l->addWidget(Pages);
    l->addLayout(strip);
    // Resizable, so that every column of the instruments fits; the size is kept across runs by the
    // main window's layout file.
    setSizeGripEnabled(true);
    resize(960, 620);

    // Numbers as the grids show them are taken too ("1 000 000,50"); the robot gets them without groups.
    auto decimal = [](const QString& t) {
        return Regional::ParseDecimal(Regional::WithoutGroups(t)).has_value();
    };
    auto integer = [](const QString& t) {
        return Regional::ParseInteger(Regional::WithoutGroups(t)).has_value();
    };
    auto time = [](const QString& t) { return Regional::ParseTimeOfDay(t).has_value(); };
    for (QLineEdit* e : {edtFixVol, edtPart, edtMaxMoney})
        ApplyWhenValid(e, decimal);
    for (QLineEdit* e : {edtPort, edtIntTable, edtQuikConnectTimeOut, edtMaxLots, edtMaxTransPerMinute})
        ApplyWhenValid(e, integer);
    for (QLineEdit* e : {edtTime1, edtTime2})
        ApplyWhenValid(e, time);
    connect(&Robot, &TEngine::SumListChanged, this, &TfmOpt::UpdateSumList);
    ShowSettings();
}

TfmOpt::~TfmOpt() {
    StopMailCheck();
    if (MailTestThread) MailTestThread->wait();
}

void TfmOpt::reject() {
    done(2);
}

void TfmOpt::showEvent(QShowEvent* e) {
    for (TDataTable* t : {Robot.DatMod().tSecCode, Robot.DatMod().tWorkSpaces, Robot.DatMod().tStrategy})
        t->BeginDialogEdits();
    QDialog::showEvent(e);
}

void TfmOpt::ApplyWhenValid(QLineEdit* edit, std::function<bool(const QString&)> valid) {
    Checks.insert(edit, valid);
    connect(edit, &QLineEdit::editingFinished, this, [this, edit] { ApplyChecked(edit); });
    // A value that does not read is marked as it is typed, not only when OK is pressed.
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { MarkValidity(edit); });
}

void TfmOpt::MarkValidity(QLineEdit* edit) {
    const bool invalid = !Checks.value(edit)(edit->text());
    if (edit->property("invalid").toBool() == invalid) return;
    edit->setProperty("invalid", invalid);
    edit->setStyleSheet(invalid ? QStringLiteral("QLineEdit { background: #fadbd8; }") : QString());
    edit->setToolTip(invalid ? QStringLiteral("Значение не читается и не будет применено") : QString());
}

void TfmOpt::ApplyChecked(QLineEdit* edit) {
    QString* field = Fields.value(edit);
    // A grouped number reaches the robot and the file without its groups.
    if (field && Checks.value(edit)(edit->text())) *field = Regional::WithoutGroups(edit->text());
}

void TfmOpt::ShowSettings() {
    for (auto& r : Refreshers)
        r();
}

QLineEdit* TfmOpt::BindText(QString* field, QLineEdit* edit) {
    if (!edit) edit = new QLineEdit;
    Fields.insert(edit, field);
    connect(edit, &QLineEdit::textEdited, this, [this, edit, field](const QString& t) {
        // A number or a time reaches the robot only when the operator is done with it and it reads.
        if (!Checks.contains(edit)) *field = t;
    });
    Refreshers << [edit, field] { edit->setText(*field); };
    return edit;
}

QCheckBox* TfmOpt::BindCheck(bool* field, const QString& caption) {
    auto* c = new QCheckBox(caption);
    connect(c, &QCheckBox::toggled, this, [field](bool on) { *field = on; });
    Refreshers << [c, field] { c->setChecked(*field); };
    return c;
}

QButtonGroup* TfmOpt::BindChoice(int* field, const QStringList& captions, QWidget* box,
                                 QList<QWidget*> beside) {
    auto* group = new QButtonGroup(this);
    auto* grid = new QGridLayout(box);
    for (int i = 0; i < captions.size(); ++i) {
        auto* b = new QRadioButton(captions[i], box);
        group->addButton(b, i);
        grid->addWidget(b, i, 0);
        if (i < beside.size() && beside[i]) grid->addWidget(beside[i], i, 1);
    }
    connect(group, &QButtonGroup::idToggled, this, [field](int id, bool on) {
        if (on) *field = id;
    });
    Refreshers << [group, field] {
        // No choice (-1): no button is checked.
        group->setExclusive(false);
        for (QAbstractButton* b : group->buttons())
            b->setChecked(group->id(b) == *field);
        group->setExclusive(true);
    };
    return group;
}

QWidget* TfmOpt::FileField(QLineEdit* edit, bool mustExist) {
    auto* w = new QWidget;
    auto* l = new QHBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(edit);
    auto* b = new QToolButton(w);
    b->setText(QStringLiteral("…"));
    l->addWidget(b);
    connect(b, &QToolButton::clicked, this, [this, edit, mustExist] {
        const QString start = edit->text();
        const QString f =
            mustExist ? QFileDialog::getOpenFileName(this, QString(), start, QStringLiteral("Все файлы (*)"))
                      : QFileDialog::getSaveFileName(this, QString(), start, QStringLiteral("Все файлы (*)"),
                                                     nullptr, QFileDialog::DontConfirmOverwrite);
        if (f.isEmpty()) return;
        edit->setText(f);
        emit edit->textEdited(f);
    });
    return w;
}

QWidget* TfmOpt::CreatePositionsPage() {
    TSettings& s = Robot.Settings;
    auto* page = new QWidget;
    auto* l = new QVBoxLayout(page);

    auto* size = new QGroupBox(QStringLiteral(" Размер позиции "));
    edtFixVol = BindText(&s.FixVol);
    edtPart = BindText(&s.Part);
    rgpPositionSize =
        BindChoice(&s.PositionSize,
                   {QStringLiteral("Кол-во из Omega Research"), QStringLiteral("Фиксированная сумма (руб.)"),
                    QStringLiteral("Доля счета (%)"), QStringLiteral("Сумма по бумаге "),
                    QStringLiteral("Доля счета по бумаге")},
                   size, {nullptr, edtFixVol, edtPart});
    l->addWidget(size);

    auto* orders = new QGroupBox(QStringLiteral(" Выставление ордеров "));
    auto* ol = new QVBoxLayout(orders);
    auto* times = new QFormLayout;
    edtTime1 = BindText(&s.time1);
    edtTime2 = BindText(&s.time2);
    for (QLineEdit* e : {edtTime1, edtTime2}) {
        // Hours of one or two digits, as the settings file holds them ("9:30:00"); no mask, whose blanks
        // would stand in the text.
        e->setMaxLength(8);
        e->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("\\d{0,2}(:\\d{0,2}(:\\d{0,2})?)?")), e));
        e->setMaximumWidth(90);
    }
    times->addRow(QStringLiteral("Начало сессии:"), edtTime1);
    times->addRow(QStringLiteral("Конец сессии:"), edtTime2);
    ol->addLayout(times);
    chExitQty = BindCheck(&s.ExitQty, QStringLiteral("Точное закрытие позиции"));
    ol->addWidget(chExitQty);
    auto* filledBox = new QWidget;
    rgpFilled = BindChoice(&s.rgpFilled,
                           {QStringLiteral("Выставлять ордера заранее (табл. ActiveOrders)"),
                            QStringLiteral("Выставлять рыночные ордера (табл. FilledOrders)")},
                           filledBox);
    ol->addWidget(filledBox);
    l->addWidget(orders);

    auto* mode = new QGroupBox(QStringLiteral(" Режим работы "));
    rgpSingleMulti = BindChoice(
        &s.rgpSingleMulti,
        {QStringLiteral("Торговля по ОДНОМУ СЧЕТУ"), QStringLiteral("Торговля по ГРУППЕ СЧЕТОВ клиентов")},
        mode);
    l->addWidget(mode);
    l->addStretch();
    return page;
}

QWidget* TfmOpt::CreateQuikPage() {
    TSettings& s = Robot.Settings;
    auto* page = new QWidget;
    auto* f = new QFormLayout(page);
    edtTRI = BindText(&s.pathTRI);
    edtTRO = BindText(&s.pathTRO);
    edtInfoLog = BindText(&s.pathInfoLog);
    f->addRow(QStringLiteral("Путь к файлу транзакций (*.TRI):"), FileField(edtTRI, false));
    f->addRow(QStringLiteral("Путь к файлу транзакций (*.TRO):"), FileField(edtTRO, false));
    f->addRow(QStringLiteral("Путь к файлу info.log:"), FileField(edtInfoLog, true));
    edtAccountMicex = BindText(&s.AccountMicex);
    edtAccountFORTS = BindText(&s.AccountFORTS);
    edtCode = BindText(&s.Code);
    f->addRow(QStringLiteral("Номер счета на ММВБ:"), edtAccountMicex);
    f->addRow(QStringLiteral("Номер счета на FORTS:"), edtAccountFORTS);
    f->addRow(QStringLiteral("Код клиента:"), edtCode);
    edtIntTable = BindText(&s.intTable);
    f->addRow(QStringLiteral("Интервал обновления данных (сек.):"), edtIntTable);
    chQuikConnect =
        BindCheck(&s.QuikConnect, QStringLiteral("Проверять связь Quik`а с\nсервером через (сек.):"));
    edtQuikConnectTimeOut = BindText(&s.QuikConnectTimeOut);
    f->addRow(chQuikConnect, edtQuikConnectTimeOut);
    chWakeOnChange = BindCheck(
        &s.WakeOnChange,
        QStringLiteral("Отправлять ордер сразу при появлении сигнала\n(не дожидаясь обновления данных)"));
    connect(chWakeOnChange, &QCheckBox::toggled, this, [this] { Robot.ApplyWakeOnChange(); });
    f->addRow(chWakeOnChange);

    auto* data = new QGroupBox(QStringLiteral(" Данные "));
    auto* df = new QFormLayout(data);
    edtAlerts = BindText(&s.Alerts);
    edtQuikData = BindText(&s.QuikData);
    df->addRow(QStringLiteral("База данных Omega Research Alerts:"), FileField(edtAlerts, true));
    df->addRow(QStringLiteral("База данных QuikData:"), FileField(edtQuikData, true));
    chConnect = BindCheck(&s.Connect, QStringLiteral("Подключаться при запуске"));
    auto* connectButton = new QPushButton(QStringLiteral("Подключиться"));
    connect(connectButton, &QPushButton::clicked, this,
            [this] { Robot.RunEvent([this] { Robot.actConnectToBaseExecute(); }); });
    df->addRow(chConnect, connectButton);
    f->addRow(data);
    return page;
}

QWidget* TfmOpt::CreateMailPage() {
    TSettings& s = Robot.Settings;
    auto* page = new QWidget;
    auto* l = new QGridLayout(page);

    auto* smtp = new QGroupBox(QStringLiteral(" Отправка почты "));
    auto* sf = new QFormLayout(smtp);
    edtSMTP = BindText(&s.SMTP);
    edtPort = BindText(&s.Port);
    edtUser = BindText(&s.User);
    edtPassword = BindText(&s.Password);
    edtPassword->setEchoMode(QLineEdit::Password);
    sf->addRow(QStringLiteral("Сервер исходящей почты:"), edtSMTP);
    sf->addRow(QStringLiteral("Порт: "), edtPort);
    sf->addRow(QStringLiteral("Пользователь: "), edtUser);
    sf->addRow(QStringLiteral("Пароль: "), edtPassword);
    chAuten = BindCheck(&s.Auten, QStringLiteral("Требуется аутентификация"));
    sf->addRow(chAuten);
    cmbSecurity = new QComboBox;
    cmbSecurity->addItems({QStringLiteral("Нет (порт 25)"), QStringLiteral("STARTTLS (порт 587)"),
                           QStringLiteral("SSL/TLS (порт 465)")});
    sf->addRow(QStringLiteral("Защита соединения:"), cmbSecurity);
    edtTrustedCertificate = BindText(&s.TrustedCertificate);
    edtTrustedCertificate->setToolTip(
        QStringLiteral("Файл сертификата (PEM или DER), которому доверять наряду с центрами сертификации "
                       "системы, например корпоративный центр сертификации"));
    sf->addRow(QStringLiteral("Доверять сертификату:"), FileField(edtTrustedCertificate, true));
    lblClearPassword = new QLabel(QStringLiteral("Без защиты пароль передаётся открытым текстом!"));
    lblClearPassword->setStyleSheet(QStringLiteral("color: #b00000"));
    lblClearPassword->setWordWrap(true);
    sf->addRow(lblClearPassword);
    auto showClearPassword = [this] {
        lblClearPassword->setVisible(cmbSecurity->currentIndex() == 0 && chAuten->isChecked());
    };
    Refreshers << [this, &s, showClearPassword] {
        const QSignalBlocker quiet(cmbSecurity);
        cmbSecurity->setCurrentIndex(MailSecurityIndex(s.Security));
        showClearPassword();
    };
    connect(cmbSecurity, &QComboBox::currentIndexChanged, this, [this, showClearPassword](int i) {
        ChooseSecurity(i);
        showClearPassword();
    });
    connect(chAuten, &QCheckBox::toggled, this, showClearPassword);
    auto* buttons = new QHBoxLayout;
    btnMailConnect = new QPushButton(QStringLiteral("Коннект"));
    btnMailDisconnect = new QPushButton(QStringLiteral("Дисконнект"));
    btnMailDisconnect->setToolTip(QStringLiteral("Прервать начатые «Коннект» или «Тест»"));
    connect(btnMailConnect, &QPushButton::clicked, this, &TfmOpt::StartMailConnect);
    connect(btnMailDisconnect, &QPushButton::clicked, this, &TfmOpt::StopMailCheck);
    buttons->addWidget(btnMailConnect);
    buttons->addWidget(btnMailDisconnect);
    sf->addRow(buttons);
    l->addWidget(smtp, 0, 0);

    auto* sender = new QGroupBox(QStringLiteral(" Информации отправителя "));
    auto* snf = new QFormLayout(sender);
    edtFromName = BindText(&s.FromName);
    edtFromAddress = BindText(&s.FromAddress);
    snf->addRow(QStringLiteral("Имя:"), edtFromName);
    snf->addRow(QStringLiteral("E-Mail адрес:"), edtFromAddress);
    l->addWidget(sender, 1, 0);

    auto* to = new QGroupBox(QStringLiteral(" Адреса получателя "));
    auto* tf = new QFormLayout(to);
    edtEmail1 = BindText(&s.Email1);
    edtEmail2 = BindText(&s.Email2);
    edtMsg = new QLineEdit(QStringLiteral("Test."));
    tf->addRow(QStringLiteral("E-Mail 1:"), edtEmail1);
    tf->addRow(QStringLiteral("E-Mail 2:"), edtEmail2);
    tf->addRow(QStringLiteral("Сообщение:"), edtMsg);
    btnMailTest = new QPushButton(QStringLiteral("Тест"));
    connect(btnMailTest, &QPushButton::clicked, this, &TfmOpt::StartMailTest);
    tf->addRow(btnMailTest);
    lblMailTest = new QLabel;
    lblMailTest->setWordWrap(true);
    lblMailTest->setTextInteractionFlags(Qt::TextSelectableByMouse);
    tf->addRow(lblMailTest);
    l->addWidget(to, 0, 1);

    auto* events = new QGroupBox(QStringLiteral(" События для сообщений по почте "));
    auto* el = new QVBoxLayout(events);
    chSendTrans_Id = BindCheck(&s.SendTrans_id, QStringLiteral("Отправка транзакции"));
    chSendTrans_done = BindCheck(&s.SendTrans_done, QStringLiteral("Регистрация транзакции на сервере"));
    chSendQuikConnect =
        BindCheck(&s.SendQuikConnect, QStringLiteral("Обрыв/восстановление соединения Quik`а с сервером"));
    el->addWidget(chSendTrans_Id);
    el->addWidget(chSendTrans_done);
    el->addWidget(chSendQuikConnect);
    l->addWidget(events, 1, 1);
    return page;
}

void TfmOpt::ChooseSecurity(int security) {
    if (security < 0 || security > 2) return;
    TSettings& s = Robot.Settings;
    // A choice proposes its usual port, unless the operator typed another one than the former choice's.
    static const QString usualPorts[] = {QStringLiteral("25"), QStringLiteral("587"), QStringLiteral("465")};
    const QString port = edtPort->text().trimmed();
    const int former = MailSecurityIndex(s.Security);
    if (port.isEmpty() || (former >= 0 && port == usualPorts[former])) {
        edtPort->setText(usualPorts[security]);
        s.Port = usualPorts[security];
    }
    s.Security = security;
}

void TfmOpt::StartMailTest() {
    StartMailCheck(edtMsg->text());
}

void TfmOpt::StartMailConnect() {
    StartMailCheck(std::nullopt);
}

void TfmOpt::StopMailCheck() {
    if (MailTestStop) MailTestStop->store(true);
}

void TfmOpt::StartMailCheck(const std::optional<QString>& text) {
    if (MailTestThread) return;
    // The fields as they stand, a number typed but not yet left included.
    TSettings settings = Robot.Settings;
    settings.Port = edtPort->text();
    auto outcome = std::make_shared<TMailTestOutcome>();
    lblMailTest->setText(text ? QStringLiteral("Проверка…") : QStringLiteral("Соединение…"));
    btnMailTest->setEnabled(false);
    btnMailConnect->setEnabled(false);
    MailTestStop = std::make_shared<std::atomic<bool>>(false);
    MailTestThread = QThread::create([settings, text, outcome, limits = MailLimits, stop = MailTestStop] {
        *outcome = RunMailTest(settings, text, limits, stop);
    });
    MailTestThread->setParent(this);
    connect(MailTestThread, &QThread::finished, this, [this, outcome] {
        MailTestThread->deleteLater();
        MailTestThread = nullptr;
        MailTestStop.reset();
        btnMailTest->setEnabled(true);
        btnMailConnect->setEnabled(true);
        lblMailTest->setText(outcome->Report());
        Robot.RunEvent([this, outcome] {
            Robot.Journal().AddJournalLine(outcome->JournalLine());
            Robot.Journal().FlushJournal();
        });
    });
    MailTestThread->start();
}

TNavigatorBar* TfmOpt::Navigator(TDbGrid* grid) {
    auto* n = new TNavigatorBar(grid);
    n->Run = [this](const std::function<void()>& f) { Robot.RunEvent(f); };
    grid->Run = n->Run;
    Navigators << n;
    grid->View()->installEventFilter(this);
    return n;
}

QWidget* TfmOpt::CreateInstrumentsPage() {
    auto* page = new QWidget;
    auto* l = new QVBoxLayout(page);
    // The titles are the ones the instrument checks name in their messages.
    auto title = [](const char* field) {
        return ColumnTitle(QStringLiteral("tSecCode"), QLatin1String(field));
    };
    grdSecCode = new TDbGrid(Robot.DatMod().tSecCode,
                             {{"Ticker", title("Ticker"), "", 85},
                              {"Traded", title("Traded"), "", 58},
                              {"FixVol", title("FixVol"), "### ### ### ##0.00", 98},
                              {"Part", title("Part"), "### ###", 82},
                              {"Slippage", title("Slippage"), "#0.00"},
                              {"LotSize", title("LotSize"), "", 34},
                              {"Class_Code", title("Class_Code"), "", 66},
                              {"Digits", title("Digits"), "", 73},
                              {"SecCode", title("SecCode"), "", 87}},
                             true, true);
    grdSecCode->setObjectName(QStringLiteral("grdSecCode"));
    l->addWidget(grdSecCode);
    auto* nav = Navigator(grdSecCode);
    QAction* find =
        nav->addAction(style()->standardIcon(QStyle::SP_FileDialogContentsView), QStringLiteral("Найти"));
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] {
        bool ok = false;
        const QString text = QInputDialog::getText(this, QStringLiteral("Поиск"), QStringLiteral("Найти:"),
                                                   QLineEdit::Normal, QString(), &ok);
        if (ok && !text.isEmpty() && !FindInstrument(text))
            ShowMessage(QStringLiteral("\"%1\" не найдено").arg(text));
    });
    l->addWidget(nav);
    return page;
}

QWidget* TfmOpt::CreateFiltersPage() {
    auto* page = new QWidget;
    auto* l = new QHBoxLayout(page);
    auto oneColumn = [this](TDataTable* t, const QString& field, const QString& caption, TDbGrid** out) {
        auto* box = new QGroupBox(caption);
        auto* bl = new QVBoxLayout(box);
        auto* g = new TDbGrid(t, {{field, field}}, true);
        g->View()->horizontalHeader()->hide();
        g->View()->horizontalHeader()->setStretchLastSection(true);
        bl->addWidget(g);
        bl->addWidget(Navigator(g));
        *out = g;
        return box;
    };
    l->addWidget(oneColumn(Robot.DatMod().tWorkSpaces, "workspace",
                           QStringLiteral(" Просматриваемые рабочие области  ( \" *.orw \" ) "),
                           &grdWorkSpaces));
    l->addWidget(oneColumn(Robot.DatMod().tStrategy, "strategy",
                           QStringLiteral(" Просматриваемые стратегии "), &grdStrategy));
    return page;
}

QWidget* TfmOpt::CreateRiskPage() {
    TSettings& s = Robot.Settings;
    auto* page = new QWidget;
    auto* l = new QVBoxLayout(page);
    auto* box = new QGroupBox(QStringLiteral(" Ограничения (0 — без ограничения) "));
    auto* f = new QFormLayout(box);
    edtMaxLots = BindText(&s.MaxLots);
    edtMaxMoney = BindText(&s.MaxMoney);
    edtMaxTransPerMinute = BindText(&s.MaxTransPerMinute);
    f->addRow(QStringLiteral("Наибольшее число лотов в одной заявке:"), edtMaxLots);
    f->addRow(QStringLiteral("Наибольшая сумма одной заявки (лоты × лот × цена):"), edtMaxMoney);
    f->addRow(QStringLiteral("Наибольшее число транзакций за минуту:"), edtMaxTransPerMinute);
    l->addWidget(box);
    auto* note = new QLabel(QStringLiteral(
        "Заявка больше предела не отправляется: журнал называет ордер, счет, предел и значение.\n"
        "При превышении числа транзакций за минуту загрузка ордеров останавливается;\n"
        "запустить ее снова можно только вручную."));
    note->setWordWrap(true);
    l->addWidget(note);
    chConfirmManualOrders =
        BindCheck(&s.ConfirmManualOrders,
                  QStringLiteral("Спрашивать подтверждение перед ручной отправкой и снятием ордера"));
    l->addWidget(chConfirmManualOrders);
    l->addStretch();
    return page;
}

QString TfmOpt::FieldName(QLineEdit* e) const {
    // The caption the operator reads beside the field.
    if (e == edtFixVol || e == edtPart)
        return rgpPositionSize->button(e == edtFixVol ? 1 : 2)->text().trimmed();
    for (QFormLayout* f : findChildren<QFormLayout*>()) {
        QWidget* label = f->labelForField(e);
        if (auto* l = qobject_cast<QLabel*>(label))
            return l->text().trimmed().remove(QRegularExpression(":$"));
        if (auto* b = qobject_cast<QAbstractButton*>(label))
            return b->text().simplified().remove(QRegularExpression(":$"));
    }
    return e->objectName();
}

void TfmOpt::BitBtn1Click() {
    int result = 1;
    FailedField = nullptr;
    auto fail = [&](QLineEdit* e, const QString& message) {
        QString page;
        for (int i = 0; i < Pages->count(); ++i)
            if (Pages->widget(i)->isAncestorOf(e)) {
                Pages->setCurrentIndex(i);
                page = Pages->tabText(i);
            }
        ShowMessage(message +
                    QStringLiteral("\nПоле «%1» (страница «%2»): «%3».").arg(FieldName(e), page, e->text()));
        e->setFocus();
        e->selectAll();
        FailedField = e;
        result = 4;
    };
    // Numbers: their form only; 0 and negative values pass.
    for (QLineEdit* e : {edtFixVol, edtPart})
        if (!Regional::ParseDecimal(Regional::WithoutGroups(e->text()))) {
            fail(e, QStringLiteral("Введите верные данные!"));
            break;
        }
    if (result == 1)
        for (QLineEdit* e : {edtPort, edtIntTable, edtQuikConnectTimeOut, edtMaxLots, edtMaxTransPerMinute})
            if (!Regional::ParseInteger(Regional::WithoutGroups(e->text()))) {
                fail(e, QStringLiteral("Введите верные данные!"));
                break;
            }
    if (result == 1) {
        // A limit is never negative: 0 switches it off.
        for (QLineEdit* e : {edtMaxLots, edtMaxTransPerMinute})
            if (Regional::ParseInteger(Regional::WithoutGroups(e->text())).value_or(0) < 0) {
                fail(e, QStringLiteral("Введите верные данные!"));
                break;
            }
    }
    if (result == 1) {
        const auto money = Regional::ParseDecimal(Regional::WithoutGroups(edtMaxMoney->text()));
        if (!money || *money < 0) fail(edtMaxMoney, QStringLiteral("Введите верные данные!"));
    }
    for (QLineEdit* e : {edtTime1, edtTime2})
        if (!Regional::ParseTimeOfDay(e->text())) {
            fail(e, QStringLiteral("Введено неверное время!"));
            break;
        }
    if (result == 4) {
        // The dialog stays where it is, with the entries as typed and the focus on the field named.
        setResult(4);
        return;
    }
    for (auto it = Checks.cbegin(); it != Checks.cend(); ++it)
        ApplyChecked(it.key());
    done(result);
}

void TfmOpt::UpdateSumList() {
    const TSecCodeSum& s = Robot.SumList();
    grdSecCode->SetFooter("Traded", QString::number(s.SumTraded));
    grdSecCode->SetFooter("FixVol", Regional::FormatGrouped(s.SumFixVol, 2));
    grdSecCode->SetFooter("Part", Regional::FormatGeneral(s.SumPart));
}

QString TfmOpt::HelpSection() const {
    static const char* const sections[] = {"positions", "quik", "mail", "instruments", "filters", "risk"};
    const int page = Pages->currentIndex();
    return page >= 0 && page < 6 ? QLatin1String(sections[page]) : QString();
}

bool TfmOpt::FindInstrument(const QString& text) {
    QTableView* v = grdSecCode->View();
    TFieldsProxy* p = grdSecCode->Proxy();
    const int col = std::max(0, v->currentIndex().column());
    const int start = v->currentIndex().row();
    for (int k = 1; k <= p->rowCount(); ++k) {
        const int r = (start + k) % p->rowCount();
        if (p->index(r, col).data().toString().contains(text, Qt::CaseInsensitive)) {
            v->setCurrentIndex(p->index(r, col));
            return true;
        }
    }
    return false;
}

void TfmOpt::DropEmptyNewRow(TDbGrid* grid) {
    TTableModel* m = grid->Source()->Model();
    const int r = m->PendingInsertedRow();
    if (r < 0) return;
    const QSqlRecord rec = m->record(r);
    for (int c = 0; c < rec.count(); ++c)
        if (!rec.isNull(c) && !rec.value(c).toString().isEmpty()) return;
    m->revertRow(r);
}

bool TfmOpt::eventFilter(QObject* watched, QEvent* event) {
    for (TDbGrid* g : {grdSecCode, grdWorkSpaces, grdStrategy}) {
        if (!g || watched != g->View()) continue;
        if (event->type() == QEvent::FocusOut) {
            // The focus may only have moved into the grid's own cell editor.
            QTimer::singleShot(0, this, [this, g] {
                QWidget* f = QApplication::focusWidget();
                if (!f || !g->View()->isAncestorOf(f)) DropEmptyNewRow(g);
            });
        }
        if (g == grdSecCode && event->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(event);
            // An open cell editor takes its own keys: a key that reaches the grid means no editing.
            if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
                // Enter moves to the next cell, as in a spreadsheet.
                const QModelIndex i = g->View()->currentIndex();
                const int cols = g->Proxy()->columnCount();
                if (i.isValid() && cols > 0) {
                    const int visual = g->View()->horizontalHeader()->visualIndex(i.column()) + 1;
                    const int row = visual >= cols ? i.row() + 1 : i.row();
                    const int logical = g->View()->horizontalHeader()->logicalIndex(visual % cols);
                    if (row < g->Proxy()->rowCount())
                        g->View()->setCurrentIndex(g->Proxy()->index(row, logical));
                }
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}
