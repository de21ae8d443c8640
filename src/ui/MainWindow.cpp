#include "ui/MainWindow.h"

#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/ProgramFiles.h"
#include "common/Regional.h"
#include "quik/LinkMonitor.h"
#include "quik/ResultReader.h"
#include "quik/TransactionWriter.h"
#include "robot/Engine.h"
#include "settings/SettingsFile.h"
#include "ui/AboutBox.h"
#include "ui/ClientsDialog.h"
#include "ui/DbGrid.h"
#include "ui/HelpViewer.h"
#include "ui/OptionsDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>
#include <QVBoxLayout>

namespace {
const QString Money = QStringLiteral("### ### ### ##0.00");
const QString& Price = TFieldsProxy::PriceFormat;
const QString Index3 = QStringLiteral("### ### ##0.000");
const QString Percent = QStringLiteral("#0.00");
const QString Count = QStringLiteral("### ### ### ##0");

// A panel whose text may be longer than the room the bar leaves it: cut with "…" (the whole text is
// in its tool tip), never pushing the other panels or itself off the bar.
class TElidedPanel : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {minimumWidth(), QLabel::minimumSizeHint().height()}; }
    QSize sizeHint() const override { return minimumSizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        drawFrame(&p);
        const QRect r = contentsRect().adjusted(3, 0, -3, 0);
        p.setPen(palette().color(foregroundRole()));
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text(), Qt::ElideRight, r.width()));
    }
};
} // namespace

TfmMain::TfmMain(TEngine& engine, QWidget* parent) : QMainWindow(parent), Robot(engine) {
    setWindowTitle(QStringLiteral("Korvex v2.0"));
    setWindowIcon(QIcon(IconFile(QStringLiteral("app"))));
    resize(992, 712);
    for (int i = 0; i < 4; ++i)
        TrayIcons << QIcon(IconFile(QStringLiteral("tray%1").arg(i)));
    CreateActions();
    CreatePages();
    CreateStatusBar();
    CreateTray();

    fmOpt = new TfmOpt(Robot, this);
    fmAbout = new TfmAbout(this);
    fmClients = new TfmClients(Robot, this);
    Help = new THelpViewer(this);
    connect(fmOpt, &TfmOpt::HelpRequested, this, [this] { Help->ShowTopic(2, fmOpt->HelpSection()); });
    connect(fmClients, &TfmClients::HelpRequested, this,
            [this] { Help->ShowTopic(1, QStringLiteral("clients")); });

    ShowMessage = [this](const QString& m) {
        QMessageBox::warning(QApplication::activeWindow() ? QApplication::activeWindow() : this,
                             windowTitle(), m);
    };
    Confirm = [this](const QString& q) {
        return QMessageBox::question(this, windowTitle(), q, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    Robot.ConfirmManualOrder = [this](const QString& q) { return Confirm(q); };
    connect(&Robot.DatMod(), &TDatMod::PostRefused, this, [this](const QString& m) { ShowMessage(m); });
    connect(&Robot, &TEngine::SettingsLoaded, fmOpt, &TfmOpt::ShowSettings);
    connect(&Robot, &TEngine::StatusChanged, this, &TfmMain::UpdateStatusBar);
    connect(&Robot, &TEngine::ActionsChanged, this, &TfmMain::SyncActions);
    connect(&Robot, &TEngine::PortfolioTotalsChanged, this, &TfmMain::UpdatePortfolioTotals);
    connect(&Robot, &TEngine::TrayFrameChanged, this, [this](int frame) {
        TrayFrameShown = frame;
        setWindowIcon(TrayIcons[frame]);
        if (RxTrayIcon1) RxTrayIcon1->setIcon(TrayIcons[frame]);
    });
    connect(&Robot.Journal(), &TJournal::LinesAdded, this, [this](const QStringList& lines) {
        if (LogPending.isEmpty()) QTimer::singleShot(0, this, &TfmMain::ShowPendingLog);
        LogPending += lines;
        // The memo keeps no more than this either.
        if (LogPending.size() > TJournal::KeptLines + TJournal::KeptLines / 10)
            LogPending.remove(0, LogPending.size() - TJournal::KeptLines);
    });
    if (!Robot.Journal().Lines().isEmpty())
        mLog->appendPlainText(Robot.Journal().Lines().join(QLatin1Char('\n')));
    RestoreUiState();
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, [this] { Help->ShowTopic(1); });
    SyncActions();
    UpdateStatusBar();
}

void TfmMain::ShowPendingLog() {
    if (LogPending.isEmpty()) return;
    QStringList lines = std::exchange(LogPending, {});
    if (lines.size() > TJournal::KeptLines) lines.remove(0, lines.size() - TJournal::KeptLines);
    LogAppending = true;
    mLog->appendPlainText(lines.join(QLatin1Char('\n')));
    LogAppending = false;
    if (LogFollows) mLog->verticalScrollBar()->setValue(mLog->verticalScrollBar()->maximum());
}

TfmMain::~TfmMain() {
    Robot.ConfirmManualOrder = nullptr;
    Robot.ErrorReport().Reported = nullptr;
}

void TfmMain::Run(const std::function<void()>& f) {
    Robot.RunEvent(f);
}

void TfmMain::CreateActions() {
    auto make = [this](const QString& caption, const QString& hint, const QString& icon) {
        auto* a = new QAction(caption, this);
        a->setToolTip(hint);
        a->setStatusTip(hint);
        if (!icon.isEmpty()) a->setIcon(QIcon(IconFile(icon)));
        return a;
    };
    actStartWatch = make(QStringLiteral("Начать загрузку"), QStringLiteral("Начать загрузку"), "start");
    actStopWatch = make(QStringLiteral("Остановить загрузку"), QStringLiteral("Остановиь загрузку"), "stop");
    actSendNewOrderManual =
        make(QStringLiteral("Отправить ордер в Quik"), QStringLiteral("Выставить ордер вручную"), "send");
    actSendKillOrderManual = make(QString(), QStringLiteral("Отменить ордер"), "kill");
    actPullAllOrders =
        make(QStringLiteral("Снять все заявки"),
             QStringLiteral("Остановить загрузку и снять все заявки этого запуска"), "pullall");
    actClients = make(QStringLiteral("Клиенты"), QStringLiteral("Клиенты"), "clients");
    actOpt = make(QStringLiteral("&Настройки..."), QStringLiteral("Настройки"), "options");
    actConnectToBase =
        make(QStringLiteral("Подключиться"), QStringLiteral("Подключиться к базам данных"), "connect");
    actExit = make(QStringLiteral("&Выход"), QStringLiteral("Выход"), "exit");
    actHelpCont = make(QStringLiteral("Вызов справки"), QStringLiteral("Справка"), "help");
    actAbout = make(QStringLiteral("&О программе..."), QStringLiteral("О программе..."), QString());

    connect(actStartWatch, &QAction::triggered, this,
            [this] { Run([this] { Robot.actStartWatchExecute(); }); });
    connect(actStopWatch, &QAction::triggered, this,
            [this] { Run([this] { Robot.actStopWatchExecute(); }); });
    connect(actSendNewOrderManual, &QAction::triggered, this,
            [this] { Run([this] { Robot.actSendNewOrderManualExecute(); }); });
    connect(actSendKillOrderManual, &QAction::triggered, this,
            [this] { Run([this] { Robot.actSendKillOrderManualExecute(); }); });
    connect(actPullAllOrders, &QAction::triggered, this,
            [this] { Run([this] { actPullAllOrdersExecute(); }); });
    connect(actConnectToBase, &QAction::triggered, this,
            [this] { Run([this] { Robot.actConnectToBaseExecute(); }); });
    connect(actClients, &QAction::triggered, this, [this] { Run([this] { actClientsExecute(); }); });
    connect(actOpt, &QAction::triggered, this, [this] { Run([this] { actOptExecute(); }); });
    connect(actExit, &QAction::triggered, this, &QWidget::close);
    connect(actHelpCont, &QAction::triggered, this, [this] { Help->ShowContents(); });
    connect(actAbout, &QAction::triggered, this, &TfmMain::actAboutExecute);

    auto* tb = addToolBar(QStringLiteral("ToolBar1"));
    tb->setObjectName(QStringLiteral("ToolBar1"));
    tb->setIconSize(QSize(32, 32));
    tb->setMovable(false);
    tb->setToolButtonStyle(Qt::ToolButtonIconOnly);
    tb->addActions({actStartWatch, actStopWatch});
    tb->addSeparator();
    tb->addActions({actSendNewOrderManual, actSendKillOrderManual, actPullAllOrders});
    tb->addSeparator();
    tb->addActions({actClients, actOpt, actConnectToBase});
    tb->addSeparator();
    tb->addActions({actExit, actHelpCont});

    QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
    file->addActions({actStartWatch, actStopWatch});
    file->addSeparator();
    file->addAction(actPullAllOrders);
    file->addSeparator();
    file->addAction(actExit);
    QMenu* settings = menuBar()->addMenu(QStringLiteral("&Настройки"));
    QAction* clientsItem = settings->addAction(actClients->icon(), QStringLiteral("Клиенты..."));
    connect(clientsItem, &QAction::triggered, actClients, &QAction::trigger);
    settings->addAction(actOpt);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Справка"));
    help->addActions({actHelpCont, actAbout});
}

void TfmMain::CreatePages() {
    TDatMod& dm = Robot.DatMod();
    PageControl1 = new QTabWidget;
    PageControl1->setDocumentMode(true);
    auto page = [this](QWidget* w, const QString& name, const QString& caption) {
        w->setObjectName(name);
        PageControl1->addTab(w, caption);
    };
    page(new TDbGrid(dm.tOpenPisitions,
                     {{"ID", "ID позиции"},
                      {"Symbol", "Символ"},
                      {"Description", "Описание"},
                      {"Alert String", "Позиция"},
                      {"Entry Price", "Цена входа", Price},
                      {"Last", "Посл. цена", Price},
                      {"Profit", "Прибыль"},
                      {"Entry Time", "Время входа"},
                      {"System", "Стратегия"},
                      {"Signal", "Сигнал"},
                      {"Workspace", "Раб. обл."},
                      {"Interval", "Интервал"},
                      {"Position Number", "Номер позиции"},
                      {"Order Number", "Номер заявки"}},
                     false),
         "tshOpenPositions", QStringLiteral("Открытые позиции (Omega)"));
    page(new TDbGrid(dm.tClientOpenPositions,
                     {{"code", "Код клиента"},
                      {"symbol", "Символ"},
                      {"quantity", "Кол-во лот"},
                      {"System", "Стратегия"},
                      {"Signal", "Сигнал"},
                      {"Workspace", "Рабочая область"},
                      {"Interval", "Интервал"}},
                     true),
         "TabSheet1", QStringLiteral("Открытые позиции (QUIK)"));
    page(new TDbGrid(dm.tActiveOrders,
                     {{"ID", "ID ордера"},
                      {"Symbol", "Символ"},
                      {"OrderType", "Тип ордера"},
                      {"Order", "Ордер"},
                      {"Last", "Цена посл.", Price},
                      {"Order Number", "Номер заявки"},
                      {"Time Placed", "Время подачи"},
                      {"System", "Стратегия"},
                      {"Signal", "Сигнал"},
                      {"Workspace", "Раб. обл."},
                      {"Interval", "Интервал"},
                      {"Position Number", "Номер позиции"}},
                     false),
         "tshActiveOrders", QStringLiteral("Активные ордера"));
    RxDBGrid4 = new TDbGrid(dm.tFilledOrders,
                            {{"ID", "ID ордера"},
                             {"Symbol", "Символ"},
                             {"OrderType", "Тип ордера"},
                             {"Order", "Ордер"},
                             {"Fill Price", "Цена испол.", Price},
                             {"Order Number", "Номер заявки"},
                             {"Slippage", "Проскал."},
                             {"Time Placed", "Время подачи"},
                             {"Time Filled", "Время испол."},
                             {"System", "Стратегия"},
                             {"Signal", "Сигнал"},
                             {"Workspace", "Раб. область"},
                             {"Interval", "Интервал"},
                             {"Position Number", "Номер позиции"}},
                            false);
    connect(RxDBGrid4, &TDbGrid::TitleClicked, this,
            [this](const QString& field) { Robot.DatMod().tFilledOrders->SetSortColumn(field); });
    page(RxDBGrid4, "tshFilledOrders", QStringLiteral("Исполненные ордера"));
    page(new TDbGrid(dm.tCanceledOrders,
                     {{"ID", "ID ордера"},
                      {"Symbol", "Символ"},
                      {"OrderType", "Тип ордера"},
                      {"Order", "Ордер"},
                      {"Order Number", "Номер заявки"},
                      {"Time Placed", "Время подачи"},
                      {"Time Canceled", "Время отмены"},
                      {"System", "Стратегия"},
                      {"Signal", "Сигнал"},
                      {"Workspace", "Раб. обл."},
                      {"Interval", "Интервал"},
                      {"Position Number", "Номер позиции"},
                      {"Canceled Number", "Номер заявки на отмену"}},
                     false),
         "tshCanceledOrders", QStringLiteral("Снятые ордера"));
    page(new TDbGrid(dm.tParam,
                     {{"stock", "Бумага"},
                      {"bid", "Спрос", Price},
                      {"biddepth", "Кол. спрос", Count},
                      {"offer", "Предл.", Price},
                      {"offerdepth", "Кол. предл.", Count},
                      {"open", "Откр.", Price},
                      {"high", "Макс.", Price},
                      {"low", "Мин.", Price},
                      {"last", "Цена посл.", Price},
                      {"lastchange", "% изм.", Percent},
                      {"voltoday", "Всего бумаг", Count},
                      {"valtoday", "Оборот", "### ### ### ##0.00"},
                      {"waprice", "Ср. взвес.", Price},
                      {"lotsize", "Лот", Count},
                      {"closeprice", "", Price},
                      {"lastvalue", "Значение", Index3},
                      {"currentvalue", "Закр.", Index3},
                      {"openvalue", "Знач. при откр.", Index3},
                      {"chngopen", "Изм. к откр.", Percent},
                      {"chngclose", "Изм. к закр.", Percent},
                      {"code", "Код"}},
                     false),
         "tshQuotes", QStringLiteral("Котировки"));
    grdTRO = new TDbGrid(dm.tOrderNumber,
                         {{"code", "Код клиента"},
                          {"trans_id", "№ транзакции"},
                          {"id_order", "№ ордера"},
                          {"filled", "Рыночный приказ"},
                          {"trans_name", "Имя транзакции"},
                          {"description", "Описание"},
                          {"order_number", "Номер заявки в квике"},
                          {"status", "Статус"}},
                         false);
    // QUIK's result codes as the operator reads them; a refusal must stand out in a long report.
    const QColor refused(0xc0, 0x39, 0x2b), done(0x1e, 0x84, 0x49), waiting(0x7f, 0x8c, 0x8d);
    grdTRO->Proxy()->SetCodeWords(
        "status", {{QString(), {QStringLiteral("ждет ответа"), waiting}},
                   {QStringLiteral("-1"), {QStringLiteral("без статуса"), waiting}},
                   {QStringLiteral("0"), {QStringLiteral("на сервере"), QColor(0x21, 0x61, 0x9c)}},
                   {QStringLiteral("1"), {QStringLiteral("получена сервером"), QColor(0x21, 0x61, 0x9c)}},
                   {QStringLiteral("2"), {QStringLiteral("ошибка связи"), refused}},
                   {QStringLiteral("3"), {QStringLiteral("выполнена"), done}},
                   {QStringLiteral("4"), {QStringLiteral("отвергнута"), refused}},
                   {QStringLiteral("5"), {QStringLiteral("не прошла проверку"), refused}},
                   {QStringLiteral("6"), {QStringLiteral("превышен лимит"), refused}}});
    page(grdTRO, "tshTRO", QStringLiteral("Отчет по транзакциям"));
    UsePriceDigits();
    for (int i : {2, 3, 4, 6})
        qobject_cast<TDbGrid*>(PageControl1->widget(i))->FollowNewestRows();
    mLog = new QPlainTextEdit;
    mLog->setReadOnly(true);
    // The whole journal is in Korvex.log; the window keeps as many lines as the journal keeps.
    mLog->setMaximumBlockCount(TJournal::KeptLines);
    mLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    mLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The memo follows its newest line unless the operator scrolled away, also while another page is
    // shown: the memo's own rule looks only while it is visible and lost the end in bursts.
    QScrollBar* logBar = mLog->verticalScrollBar();
    connect(logBar, &QScrollBar::valueChanged, this, [this, logBar](int value) {
        if (!LogAppending) LogFollows = value >= logBar->maximum();
    });
    connect(logBar, &QScrollBar::rangeChanged, this, [this, logBar](int, int max) {
        if (LogFollows) logBar->setValue(max);
    });
    page(mLog, "tshLog", QStringLiteral("Журнал"));
    connect(PageControl1, &QTabWidget::currentChanged, this,
            [this](int index) { Robot.PageControl1Change(static_cast<TMainPage>(index)); });

    grdPortfolio = new TDbGrid(dm.tPortfolio,
                               {{"id_client", "Код"},
                                {"openassets", "Вход. активы", Money},
                                {"shorts", "Шорты", Money},
                                {"longs", "Лонги", Money},
                                {"curassets", "Тек. активы", Money},
                                {"openallassets", "Вход. средства", Money},
                                {"curallassets", "Тек. средства", Money},
                                {"margin", "Ур. мар.", "#0.00"},
                                {"leverage", "Плечо", "0.00"},
                                {"curleverage", "Тек. плечо", "0.00"},
                                {"change", "%", "0.00"},
                                {"profitloss", "Прибыль/убыток", Money}},
                               false, true);
    grdPortfolio->setObjectName(QStringLiteral("grdPortfolio"));
    grdPortfolio->SetEvenRowColor(QColor(240, 251, 255));
    Splitter2 = new QSplitter(Qt::Vertical);
    Splitter2->addWidget(PageControl1);
    Splitter2->addWidget(grdPortfolio);
    Splitter2->setStretchFactor(0, 1);
    Splitter2->setSizes({600, 72 + 4 * fontMetrics().height()});
    setCentralWidget(Splitter2);
}

void TfmMain::UsePriceDigits() {
    // Each price with the decimals of its instrument, as QUIK shows it.
    TDataTable* sec = Robot.DatMod().tSecCode;
    auto rebuild = [this, sec] {
        DigitsByTicker.clear();
        DigitsByCode.clear();
        TTableModel* m = sec->Model();
        const int ticker = m->fieldIndex(QStringLiteral("Ticker")),
                  code = m->fieldIndex(QStringLiteral("SecCode")),
                  digits = m->fieldIndex(QStringLiteral("Digits"));
        if (digits < 0) return;
        for (int r = 0; r < m->rowCount(); ++r) {
            const QVariant d = m->index(r, digits).data(Qt::EditRole);
            if (d.isNull()) continue;
            if (ticker >= 0)
                DigitsByTicker.insert(m->index(r, ticker).data(Qt::EditRole).toString().toUpper(), d.toInt());
            if (code >= 0)
                DigitsByCode.insert(m->index(r, code).data(Qt::EditRole).toString().toUpper(), d.toInt());
        }
    };
    auto watch = [sec, rebuild](QAbstractItemModel* m) {
        QObject::connect(m, &QAbstractItemModel::modelReset, sec, rebuild);
        QObject::connect(m, &QAbstractItemModel::dataChanged, sec, rebuild);
        QObject::connect(m, &QAbstractItemModel::rowsInserted, sec, rebuild);
    };
    watch(sec->Model());
    for (int i = 0; i < PageControl1->count(); ++i) {
        auto* g = qobject_cast<TDbGrid*>(PageControl1->widget(i));
        if (!g) continue;
        const bool quotes = g->Source() == Robot.DatMod().tParam;
        const QString key = quotes ? QStringLiteral("code") : QStringLiteral("Symbol");
        g->Proxy()->PriceDigits = [this, g, key, quotes](int row) {
            TTableModel* m = g->Source()->Model();
            const QString k = m->index(row, m->fieldIndex(key)).data(Qt::EditRole).toString().toUpper();
            return (quotes ? DigitsByCode : DigitsByTicker).value(k, TFieldsProxy::UnknownDigits);
        };
    }
}

void TfmMain::CreateStatusBar() {
    const int widths[] = {150, 140, 150, 300, 50, 50};
    const QString texts[] = {QStringLiteral("Подключение к Omega: Нет"),
                             QStringLiteral("Подключение к Quik: Нет"),
                             QStringLiteral("Связь Quik с сервером: Н/Д"),
                             QStringLiteral("Отправлено транзакций: 0/0/0"),
                             QStringLiteral("SINGLE"),
                             QString()};
    // Every panel is permanent: a tool tip or a menu hint must never blank the robot's state.
    auto panel = [](const QString& text, int width) {
        auto* l = new QLabel(text);
        l->setMinimumWidth(width);
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        return l;
    };
    WatchPanel = panel(QString(), 120);
    WatchPanel->setAlignment(Qt::AlignCenter);
    statusBar()->addPermanentWidget(WatchPanel);
    for (int i = 0; i < 5; ++i) {
        StatusPanels << panel(texts[i], widths[i]);
        statusBar()->addPermanentWidget(StatusPanels.last());
    }
    ErrorPanel = new TElidedPanel(QStringLiteral("Ошибок нет"));
    ErrorPanel->setMinimumWidth(160);
    ErrorPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusBar()->addPermanentWidget(ErrorPanel, 1);
    StatusPanels << panel(texts[5], 50);
    statusBar()->addPermanentWidget(StatusPanels.last());
    Robot.ErrorReport().Reported = [this](const QString& text) {
        const QString first = text.section(QLatin1Char('\n'), 0, 0).trimmed();
        ErrorPanel->setText(QStringLiteral("%1 %2").arg(Regional::LongTime(QTime::currentTime()), first));
        ErrorPanel->setToolTip(text);
        ErrorPanel->setStyleSheet(QStringLiteral("QLabel { color: #c0392b; }"));
        UpdateStatusBar();
    };
    // Trading goes on when the journal file cannot be written; the operator must still see it.
    JournalAlarm = new QLabel;
    JournalAlarm->setStyleSheet(
        QStringLiteral("QLabel { color: white; background: #c0392b; padding: 0 6px; }"));
    JournalAlarm->hide();
    statusBar()->addPermanentWidget(JournalAlarm);
    connect(&Robot.Journal(), &TJournal::WriteFailed, this, [this](const QString& message) {
        JournalAlarm->setText(QStringLiteral("Журнал не записывается"));
        JournalAlarm->setToolTip(message);
        JournalAlarm->show();
        UpdateStatusBar();
    });
    connect(&Robot.Journal(), &TJournal::WriteRecovered, this, [this] {
        JournalAlarm->hide();
        UpdateStatusBar();
    });
}

void TfmMain::CreateTray() {
    // Some desktops have no tray: the window then simply minimizes and stays reachable.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    RxTrayIcon1 = new QSystemTrayIcon(TrayIcons[0], this);
    auto* menu = new QMenu(this);
    menu->addActions({actStartWatch, actStopWatch});
    menu->addSeparator();
    menu->addAction(actPullAllOrders);
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Восстановить")), &QAction::triggered, this,
            &TfmMain::RestoreFromTray);
    connect(menu->addAction(QStringLiteral("Выход")), &QAction::triggered, this, &QWidget::close);
    RxTrayIcon1->setContextMenu(menu);
    RxTrayIcon1->setToolTip(QStringLiteral("Korvex v2.0"));
    connect(RxTrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick) RestoreFromTray();
    });
    RxTrayIcon1->show();
}

void TfmMain::SyncActions() {
    actStartWatch->setEnabled(Robot.Actions().actStartWatch);
    actStopWatch->setEnabled(Robot.Actions().actStopWatch);
    actSendNewOrderManual->setEnabled(Robot.Actions().actSendNewOrderManual);
    actSendKillOrderManual->setEnabled(Robot.Actions().actSendKillOrderManual);
    UpdateStatusBar(); // watching went on or off
}

void TfmMain::UpdateStatusBar() {
    const QStringList texts = Robot.StatusPanels();
    for (int i = 0; i < texts.size() && i < StatusPanels.size(); ++i)
        StatusPanels[i]->setText(texts[i]);
    // The last panel: why the robot stopped watching by itself.
    WatchPanel->setText(Robot.Watching() ? QStringLiteral("Загрузка: ВКЛ")
                                         : QStringLiteral("Загрузка: выкл"));
    WatchPanel->setStyleSheet(Robot.Watching()
                                  ? QStringLiteral("QLabel { color: white; background: #1e8449; }")
                                  : QStringLiteral("QLabel { color: #7f8c8d; }"));
    StatusPanels[3]->setStyleSheet(
        Robot.Reader().TransRefused > 0 ? QStringLiteral("QLabel { color: #c0392b; }") : QString());
    // QUIK without its server sends nothing anywhere: the loudest alarm of the bar.
    StatusPanels[2]->setStyleSheet(
        LinkLost() ? QStringLiteral("QLabel { color: white; background: #c0392b; }") : QString());
    QLabel* breaker = StatusPanels.last();
    breaker->setText(Robot.BreakerTripped() ? Robot.BreakerText() : QString());
    breaker->setStyleSheet(
        Robot.BreakerTripped() ? QStringLiteral("QLabel { color: white; background: #c0392b; }") : QString());
    breaker->setVisible(Robot.BreakerTripped()); // its room goes to the last error meanwhile
    if (RxTrayIcon1) {
        const QString before = RxTrayIcon1->toolTip();
        const QString text = TrayText();
        if (text != before) {
            RxTrayIcon1->setToolTip(text);
            // A tip already on the screen keeps the text it opened with: it is shown anew.
            if (QToolTip::isVisible() && QToolTip::text() == before) QToolTip::showText(QCursor::pos(), text);
        }
    }
}

bool TfmMain::LinkLost() const {
    return Robot.Settings.QuikConnect && Robot.Monitor().QuikLinkState == TLinkMonitor::Broken;
}

QString TfmMain::TrayText() const {
    // A tool tip has no colours: the alarms come first, marked, right under the title.
    const QString mark = QStringLiteral("\u26a0 ");
    QStringList lines{windowTitle()};
    if (LinkLost()) lines << mark + StatusPanels[2]->text();
    if (!StatusPanels.last()->text().isEmpty()) lines << mark + StatusPanels.last()->text();
    if (JournalAlarm->isVisibleTo(this)) lines << mark + JournalAlarm->text();
    lines << WatchPanel->text();
    for (int i = 0; i < 4; ++i)
        if (i != 2 || !LinkLost()) lines << StatusPanels[i]->text();
    lines << ErrorPanel->text();
    return lines.join(QLatin1Char('\n'));
}

void TfmMain::actPullAllOrdersExecute() {
    const int n = Robot.PullAllOrdersCount();
    const QString question =
        n == 0 ? QStringLiteral("Принятых Quik заявок этого запуска нет. Остановить загрузку ордеров?")
               : QStringLiteral("Остановить загрузку ордеров и снять все принятые Quik заявки этого запуска: "
                                "%1 (по всем счетам)?")
                     .arg(n);
    if (!Confirm(question)) return;
    Robot.actPullAllOrdersExecute();
}

void TfmMain::UpdatePortfolioTotals() {
    const TPortfolioSum& s = Robot.PortfolioTotals();
    grdPortfolio->SetFooter("id_client", QString::number(s.SumId_client));
    grdPortfolio->SetFooter("openassets", Regional::FormatGrouped(s.SumOpenAssets, 2));
    grdPortfolio->SetFooter("shorts", Regional::FormatGrouped(s.SumShorts, 2));
    grdPortfolio->SetFooter("longs", Regional::FormatGrouped(s.Sumlongs, 2));
    grdPortfolio->SetFooter("curassets", Regional::FormatGrouped(s.SumCurAssets, 2));
    grdPortfolio->SetFooter("openallassets", Regional::FormatGrouped(s.SumOpenAllAssets, 2));
    grdPortfolio->SetFooter("curallassets", Regional::FormatGrouped(s.SumCurAllAssets, 2));
    // The averages with the decimals their rows show.
    grdPortfolio->SetFooter("margin", Regional::FormatGrouped(s.AvgMargin, 2));
    grdPortfolio->SetFooter("leverage", Regional::FormatGrouped(s.AvgLeverage, 2));
    grdPortfolio->SetFooter("curleverage", Regional::FormatGrouped(s.AvgCurLeverage, 2));
    grdPortfolio->SetFooter("change", Regional::FormatGrouped(s.AvgChange, 2));
    grdPortfolio->SetFooter("profitloss", Regional::FormatGrouped(s.SumProfitLoss, 2));
}

void TfmMain::actOptExecute() {
    while (HandleOptionsResult(fmOpt->exec())) {
    }
}

bool TfmMain::PostDialogEdits(TDataTable* t) {
    // A refused row has told the operator why; an error of the database is reported here. Either way
    // the dialog comes back with his rows as typed.
    try {
        if (!t->PostEdits()) return false;
    } catch (const std::exception& e) {
        Robot.ErrorReport().Report(ErrorText(e));
        return false;
    }
    t->CancelEdits(); // a new row nobody typed into
    return true;
}

void TfmMain::UndoDialogEdits(const QList<TDataTable*>& tables) {
    QStringList failed;
    for (TDataTable* t : tables) {
        try {
            t->UndoDialogEdits();
        } catch (const std::exception& e) {
            failed << ErrorText(e);
        }
    }
    if (!failed.isEmpty()) throw KorvexError(failed.join(QLatin1Char('\n')));
}

bool TfmMain::HandleOptionsResult(int result) {
    TDatMod& dm = Robot.DatMod();
    const QList<TDataTable*> tables = {dm.tSecCode, dm.tWorkSpaces, dm.tStrategy};
    if (result == 1) {
        // OK keeps every change of the three tables, a typed new row included.
        for (TDataTable* t : tables)
            if (!PostDialogEdits(t)) {
                fmOpt->Pages->setCurrentIndex(t == dm.tSecCode ? 3 : 4);
                return true;
            }
        for (TDataTable* t : tables)
            t->KeepDialogEdits();
        Robot.SaveSettings();
        UpdateStatusBar();
        return false;
    }
    if (result == 4) return true;
    // "Отмена" throws away everything changed since the dialog opened, posted rows included.
    try {
        UndoDialogEdits(tables);
    } catch (...) {
        Robot.LoadSettings();
        throw;
    }
    Robot.LoadSettings();
    return false;
}

void TfmMain::actClientsExecute() {
    while (HandleClientsResult(fmClients->exec())) {
    }
}

bool TfmMain::HandleClientsResult(int result) {
    TDataTable* t = Robot.DatMod().tClients;
    if (result == 1) {
        if (!PostDialogEdits(t)) return true;
        t->KeepDialogEdits();
        return false;
    }
    // A new client half typed, or one posted by moving to another row, is not traded after "Отмена".
    UndoDialogEdits({t});
    return false;
}

void TfmMain::actAboutExecute() {
    fmAbout->SetCounters(QStringLiteral("%1/%2/%3")
                             .arg(Robot.Writer().LinesSent)
                             .arg(Robot.Reader().TransAtServer)
                             .arg(Robot.Reader().TransDone));
    fmAbout->show();
    fmAbout->raise();
    fmAbout->activateWindow();
}

QIcon TfmMain::TrayFrame(int frame) const {
    return TrayIcons.value(frame);
}

void TfmMain::HideToTray() {
    if (!RxTrayIcon1) return;
    hide();
}

void TfmMain::RestoreFromTray() {
    showMaximized();
    raise();
    activateWindow();
}

void TfmMain::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange && isMinimized()) HideToTray();
}

QList<TDbGrid*> TfmMain::Grids() const {
    QList<TDbGrid*> out;
    for (int i = 0; i < PageControl1->count(); ++i)
        if (auto* g = qobject_cast<TDbGrid*>(PageControl1->widget(i))) out << g;
    out << grdPortfolio << fmOpt->grdSecCode << fmClients->Grid;
    return out;
}

QString TfmMain::UiStatePath() const {
    return QFileInfo(Robot.SettingsFile().Path()).dir().filePath(QStringLiteral("Korvex.ui.ini"));
}

void TfmMain::SaveUiState() {
    QSettings ui(UiStatePath(), QSettings::IniFormat);
    ui.beginGroup(QStringLiteral("MainWindow"));
    ui.setValue(QStringLiteral("Geometry"), saveGeometry());
    ui.setValue(QStringLiteral("Maximized"), isMaximized() || (!isVisible() && LeftMaximized));
    ui.setValue(QStringLiteral("Portfolio"), Splitter2->sizes().value(1));
    ui.endGroup();
    ui.beginGroup(QStringLiteral("Columns"));
    for (TDbGrid* g : Grids())
        ui.setValue(g->objectName(), g->Layout());
    ui.endGroup();
}

void TfmMain::RestoreUiState() {
    QSettings ui(UiStatePath(), QSettings::IniFormat);
    ui.beginGroup(QStringLiteral("MainWindow"));
    if (ui.contains(QStringLiteral("Geometry")))
        restoreGeometry(ui.value(QStringLiteral("Geometry")).toByteArray());
    LeftMaximized = ui.value(QStringLiteral("Maximized"), true).toBool();
    const int portfolio = ui.value(QStringLiteral("Portfolio"), 0).toInt();
    if (portfolio > 0)
        Splitter2->setSizes(
            {std::max(100, Splitter2->sizes().value(0) + Splitter2->sizes().value(1) - portfolio),
             portfolio});
    ui.endGroup();
    ui.beginGroup(QStringLiteral("Columns"));
    for (TDbGrid* g : Grids()) {
        const QStringList layout = ui.value(g->objectName()).toStringList();
        if (!layout.isEmpty()) g->SetLayout(layout);
    }
    ui.endGroup();
}

void TfmMain::ShowAsLeft() {
    if (LeftMaximized)
        showMaximized();
    else
        show();
}

void TfmMain::closeEvent(QCloseEvent* e) {
    SaveUiState();
    if (RxTrayIcon1) RxTrayIcon1->hide();
    QMainWindow::closeEvent(e);
    emit Closed();
}
