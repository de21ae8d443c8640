#include "ui/MainWindow.h"

#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/ProgramFiles.h"
#include "common/Regional.h"
#include "quik/LinkMonitor.h"
#include "quik/OrderRegistry.h"
#include "quik/ResultReader.h"
#include "quik/TransactionWriter.h"
#include "robot/Engine.h"
#include "settings/SettingsFile.h"
#include "ui/AboutBox.h"
#include "ui/BookPage.h"
#include "ui/ClientsDialog.h"
#include "ui/DbGrid.h"
#include "ui/HelpViewer.h"
#include "ui/JournalView.h"
#include "ui/OptionsDialog.h"
#include "ui/StatePanel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QSqlRecord>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
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

const QColor Red(0xc0, 0x39, 0x2b), Green(0x1e, 0x84, 0x49), Blue(0x21, 0x61, 0x9c), Grey(0x7f, 0x8c, 0x8d),
    Amber(0xb9, 0x77, 0x0e);

// The value of a field of a grid's source row, as stored.
QVariant Cell(TDbGrid* g, int row, const char* field) {
    TTableModel* m = g->Source()->Model();
    const int c = m->fieldIndex(QString::fromLatin1(field));
    return c < 0 ? QVariant() : m->index(row, c).data(Qt::EditRole);
}

// Red below zero, green above: a loss must not read like a gain.
QVariant SignColour(const QVariant& v) {
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok || d == 0) return QVariant();
    return d < 0 ? Red : Green;
}

// Buy green, sell red, by the alert's order type: long entry and short exit buy, the others sell.
QVariant SideColour(const QString& orderType) {
    const QString t = orderType.trimmed().toUpper();
    if (t == QLatin1String("LE") || t == QLatin1String("SX")) return Green;
    if (t == QLatin1String("SE") || t == QLatin1String("LX")) return Red;
    return QVariant();
}

// The registry's stages as the operator reads them.
struct TStageWord {
    const char* Text;
    QColor Color;
};
TStageWord StageWord(int stage) {
    switch (stage) {
    case 0:
        return {"записана", Grey};
    case 1:
        return {"в файле", Grey};
    case 2:
        return {"на сервере", Blue};
    case 3:
        return {"принята, активна", Blue};
    case 4:
        return {"отвергнута", Red};
    case 5:
        return {"не отправлена", Red};
    case 6:
        return {"снимается", Amber};
    case 7:
        return {"снята", Grey};
    case 8:
        return {"исполнена", Green};
    case 9:
        return {"выполнена", Green};
    default:
        return {"", QColor()};
    }
}

QString ActionWord(const QString& action) {
    const QString a = action.trimmed().toUpper();
    if (a == QLatin1String("NEW_ORDER")) return QStringLiteral("заявка");
    if (a == QLatin1String("NEW_STOP_ORDER")) return QStringLiteral("стоп-заявка");
    if (a == QLatin1String("KILL_ORDER")) return QStringLiteral("снятие заявки");
    if (a == QLatin1String("KILL_STOP_ORDER")) return QStringLiteral("снятие стоп-заявки");
    return action;
}

QString AlertTableWord(const QString& table) {
    if (table.compare(QLatin1String("FilledOrders"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Исполненные");
    if (table.compare(QLatin1String("ActiveOrders"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Активные");
    if (table.compare(QLatin1String("CanceledOrders"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Снятые");
    return table;
}

// The help's section of each page, in the pages' order.
const char* const PageSections[] = {"positions-omega", "positions-quik", "active", "filled",
                                    "canceled",        "quotes",         "report", "journal"};

// The Latin letter on the key of each Russian letter (the standard layouts): a menu's letter works
// whatever layout is on.
const QString LatinKeys = QStringLiteral("QWERTYUIOP[]ASDFGHJKL;'ZXCVBNM,.");
const QString RussianKeys = QStringLiteral("ЙЦУКЕНГШЩЗХЪФЫВАПРОЛДЖЭЯЧСМИТЬБЮ");
} // namespace

QString TfmMain::AppTitle() {
    return QStringLiteral("Korvex v2.0");
}

TfmMain::TfmMain(TEngine& engine, QWidget* parent) : QMainWindow(parent), Robot(engine) {
    setWindowIcon(QIcon(IconFile(QStringLiteral("app"))));
    resize(992, 712);
    for (int i = 0; i < 4; ++i)
        TrayIcons << QIcon(IconFile(QStringLiteral("tray%1").arg(i)));
    TrayStopped = QIcon(IconFile(QStringLiteral("trayStopped")));
    TrayAlarm = QIcon(IconFile(QStringLiteral("trayAlarm")));
    ShowMessage = [this](const QString& m) {
        QMessageBox::warning(QApplication::activeWindow() ? QApplication::activeWindow() : this, AppTitle(),
                             m);
    };
    Confirm = [this](const QString& q) {
        return QMessageBox::question(this, AppTitle(), q, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    Notify = [this](const QString& title, const QString& text, bool alarm) {
        if (RxTrayIcon1)
            RxTrayIcon1->showMessage(title, text,
                                     alarm ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information, 20000);
        if (alarm) QApplication::beep();
    };
    CreateActions();
    CreatePages();
    CreateStatusBar();
    CreateTray();
    CreateKeys();

    fmOpt = new TfmOpt(Robot, this);
    fmAbout = new TfmAbout(this);
    fmClients = new TfmClients(Robot, this);
    Help = new THelpViewer(this);
    connect(fmOpt, &TfmOpt::HelpRequested, this, [this] { Help->ShowTopic(2, fmOpt->HelpSection()); });
    connect(fmClients, &TfmClients::HelpRequested, this,
            [this] { Help->ShowTopic(1, QStringLiteral("clients")); });

    // The question names the row it acts on, so that what is sent is what the operator sees.
    Robot.ConfirmManualOrder = [this](const QString& q) {
        const QString row = SelectedAlertText();
        return Confirm(row.isEmpty() ? q : row + QStringLiteral("\n\n") + q);
    };
    connect(&Robot.DatMod(), &TDatMod::PostRefused, this, [this](const QString& m) { ShowMessage(m); });
    connect(&Robot, &TEngine::SettingsLoaded, fmOpt, &TfmOpt::ShowSettings);
    auto queueReport = [this] {
        if (ReportQueued) return;
        ReportQueued = true;
        QTimer::singleShot(0, this, [this] {
            ReportQueued = false;
            RefreshReport();
        });
    };
    connect(&Robot, &TEngine::StatusChanged, this, &TfmMain::UpdateStatusBar);
    connect(&Robot, &TEngine::StatusChanged, this, queueReport);
    connect(&Robot, &TEngine::ActionsChanged, this, &TfmMain::SyncActions);
    connect(&Robot, &TEngine::PortfolioTotalsChanged, this, &TfmMain::UpdatePortfolioTotals);
    connect(&Robot, &TEngine::PortfolioTotalsChanged, this, queueReport);
    connect(&Robot, &TEngine::TrayFrameChanged, this, [this](int frame) {
        TrayFrameShown = frame;
        ApplyTrayIcon();
    });
    connect(&Robot.Journal(), &TJournal::LinesAdded, this, [this](const QStringList& lines) {
        if (LogPending.isEmpty()) QTimer::singleShot(0, this, &TfmMain::ShowPendingLog);
        LogPending += lines;
        // The memo keeps no more than this either.
        if (LogPending.size() > TJournal::KeptLines + TJournal::KeptLines / 10)
            LogPending.remove(0, LogPending.size() - TJournal::KeptLines);
    });
    JournalPage->Append(Robot.Journal().Lines());
    RestoreUiState();
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) qApp->installEventFilter(this);
    SyncActions();
    UpdateStatusBar();
}

void TfmMain::ShowPendingLog() {
    if (LogPending.isEmpty()) return;
    QStringList lines = std::exchange(LogPending, {});
    if (lines.size() > TJournal::KeptLines) lines.remove(0, lines.size() - TJournal::KeptLines);
    JournalPage->Append(lines);
}

TfmMain::~TfmMain() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) qApp->removeEventFilter(this);
    Robot.ConfirmManualOrder = nullptr;
    Robot.ErrorReport().Reported = nullptr;
}

void TfmMain::Run(const std::function<void()>& f) {
    Robot.RunEvent(f);
}

void TfmMain::CreateActions() {
    auto make = [this](const QString& caption, const QString& hint, const QString& icon,
                       const QKeySequence& key = QKeySequence()) {
        auto* a = new QAction(caption, this);
        if (!key.isEmpty()) a->setShortcut(key);
        // The key is in the tip of the toolbar button: the menus show it by themselves.
        const QString tip =
            key.isEmpty() ? hint : hint + QStringLiteral(" (") + key.toString(QKeySequence::NativeText) + ')';
        a->setToolTip(tip);
        a->setStatusTip(tip);
        if (!icon.isEmpty()) a->setIcon(QIcon(IconFile(icon)));
        return a;
    };
    actStartWatch = make(QStringLiteral("Начать загрузку"), QStringLiteral("Начать загрузку"), "start",
                         QKeySequence(Qt::Key_F5));
    actStopWatch = make(QStringLiteral("Остановить загрузку"), QStringLiteral("Остановить загрузку"), "stop",
                        QKeySequence(Qt::SHIFT | Qt::Key_F5));
    actSendNewOrderManual = make(QStringLiteral("Отправить ордер в Quik"),
                                 QStringLiteral("Выставить ордер вручную по выбранной строке"), "send",
                                 QKeySequence(Qt::CTRL | Qt::Key_Return));
    actSendKillOrderManual =
        make(QStringLiteral("Отменить ордер"), QStringLiteral("Отменить ордер выбранной строки"), "kill",
             QKeySequence(Qt::CTRL | Qt::Key_Delete));
    actPullAllOrders = make(QStringLiteral("Снять все заявки"),
                            QStringLiteral("Остановить загрузку и снять все заявки робота, живущие в Quik "
                                           "(этого и прошлых запусков за день)"),
                            "pullall", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete));
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
            [this] { Run([this] { ManualOrder(false); }); });
    connect(actSendKillOrderManual, &QAction::triggered, this,
            [this] { Run([this] { ManualOrder(true); }); });
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
    file->addActions({actSendNewOrderManual, actSendKillOrderManual, actPullAllOrders});
    file->addSeparator();
    file->addAction(actExit);
    QMenu* settings = menuBar()->addMenu(QStringLiteral("&Настройки"));
    QAction* clientsItem = settings->addAction(actClients->icon(), QStringLiteral("Клиенты..."));
    connect(clientsItem, &QAction::triggered, actClients, &QAction::trigger);
    settings->addAction(actOpt);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Справка"));
    help->addActions({actHelpCont, actAbout});
}

void TfmMain::CreateKeys() {
    auto key = [this](const QKeySequence& k, auto fn) {
        connect(new QShortcut(k, this), &QShortcut::activated, this, fn);
    };
    auto step = [this](int by) {
        const int n = PageControl1->count();
        PageControl1->setCurrentIndex((PageControl1->currentIndex() + by + n) % n);
    };
    key(QKeySequence(Qt::CTRL | Qt::Key_Tab), [step] { step(1); });
    key(QKeySequence(Qt::CTRL | Qt::Key_PageDown), [step] { step(1); });
    key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), [step] { step(-1); });
    key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), [step] { step(-1); });
    key(QKeySequence(Qt::CTRL | Qt::Key_PageUp), [step] { step(-1); });
    key(QKeySequence(Qt::Key_F1), [this] { Help->ShowTopic(1, PageHelpSection()); });
    key(QKeySequence(Qt::Key_F10), [this] { OpenMenu(0); });
    key(QKeySequence(Qt::CTRL | Qt::Key_F), [this] {
        PageControl1->setCurrentWidget(JournalPage);
        JournalPage->OpenSearch();
    });
}

void TfmMain::OpenMenu(int index) {
    if (QAction* a = menuBar()->actions().value(index)) menuBar()->setActiveAction(a);
}

void TfmMain::keyPressEvent(QKeyEvent* e) {
    // Alt with a letter no menu took: under a Latin layout the key of a menu's Russian letter.
    if (e->modifiers() == Qt::AltModifier && e->key() < 0x80) {
        const qsizetype at = LatinKeys.indexOf(QChar(e->key()).toUpper());
        if (at >= 0) {
            const QChar letter = RussianKeys[at];
            const QList<QAction*> menus = menuBar()->actions();
            for (int i = 0; i < menus.size(); ++i) {
                const QString text = menus[i]->text();
                const qsizetype amp = text.indexOf(QLatin1Char('&'));
                if (amp >= 0 && amp + 1 < text.size() && text[amp + 1].toUpper() == letter) {
                    OpenMenu(i);
                    return;
                }
            }
        }
    }
    QMainWindow::keyPressEvent(e);
}

bool TfmMain::eventFilter(QObject* watched, QEvent* e) {
    if (watched == statusBar() && e->type() == QEvent::Resize) FitStatusBar();
    // Alt pressed and let go alone opens the menu where the style does not do so itself.
    if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (e->type() == QEvent::KeyPress)
            AltAlone =
                k->key() == Qt::Key_Alt && !k->isAutoRepeat() ? true : (k->key() == Qt::Key_Alt && AltAlone);
        else if (k->key() == Qt::Key_Alt && AltAlone) {
            AltAlone = false;
            if (QApplication::activeWindow() == this && !QApplication::activePopupWidget() &&
                !style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation, nullptr, menuBar()))
                OpenMenu(0);
        }
    } else if (e->type() == QEvent::MouseButtonPress) {
        AltAlone = false;
    }
    return QMainWindow::eventFilter(watched, e);
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
    Book = new TBookPage(Robot);
    Book->Confirm = [this](const QString& q) { return Confirm(q); };
    Book->ShowMessage = [this](const QString& m) { ShowMessage(m); };
    page(Book, "TabSheet1", QStringLiteral("Открытые позиции (QUIK)"));
    RxDBGrid2 = new TDbGrid(dm.tActiveOrders,
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
                            false);
    page(RxDBGrid2, "tshActiveOrders", QStringLiteral("Активные ордера"));
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
                      {"closeprice", "Цена закр.", Price},
                      {"lastvalue", "Значение", Index3},
                      {"currentvalue", "Закр.", Index3},
                      {"openvalue", "Знач. при откр.", Index3},
                      {"chngopen", "Изм. к откр.", Percent},
                      {"chngclose", "Изм. к закр.", Percent},
                      {"code", "Код"}},
                     false),
         "tshQuotes", QStringLiteral("Котировки"));
    // The day's transactions from the registry, which keeps them across restarts.
    grdTRO = new TDbGrid(dm.tOrderRegistry,
                         {{"recorded", "Время", TFieldsProxy::TimeFormat},
                          {"code", "Клиент"},
                          {"ticker", "Инструмент"},
                          {"operation", "Сторона"},
                          {"quantity", "Кол-во", Count},
                          {"price", "Цена", Price},
                          {"action", "Действие"},
                          {"order_number", "Номер заявки Quik"},
                          {"stage", "Состояние"},
                          {"trans_id", "№ транзакции"},
                          {"alert_table", "Таблица"},
                          {"alert_id", "№ ордера"},
                          {"account", "Счет"},
                          {"description", "Ответ Quik"},
                          {"answered", "Время ответа", TFieldsProxy::TimeFormat}},
                         false);
    page(grdTRO, "tshTRO", QStringLiteral("Отчет по транзакциям"));
    UsePriceDigits();
    UseColours();
    for (TDbGrid* g : {RxDBGrid2, RxDBGrid4, qobject_cast<TDbGrid*>(PageControl1->widget(4)), grdTRO})
        g->FollowNewestRows();
    for (TDbGrid* g : {RxDBGrid2, RxDBGrid4})
        connect(g, &TDbGrid::SelectionChanged, this, &TfmMain::SyncActions);
    JournalPage = new TJournalView;
    mLog = JournalPage->Memo();
    page(JournalPage, "tshLog", QStringLiteral("Журнал"));
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
    grdPortfolio->Proxy()->Decorate = [this](int row, const QString& field, int role) -> QVariant {
        if (role != Qt::ForegroundRole) return {};
        if (field == QLatin1String("profitloss") || field == QLatin1String("change"))
            return SignColour(Cell(grdPortfolio, row, field.toLatin1().constData()));
        if (field == QLatin1String("shorts")) return Red;
        if (field == QLatin1String("longs")) return Green;
        return {};
    };
    for (TDbGrid* g : Grids())
        if (!g->Run) g->Run = [this](const std::function<void()>& f) { Run(f); };
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
    // The registry keeps the decimals each transaction was written with.
    grdTRO->Proxy()->PriceDigits = [this](int row) {
        const QVariant d = Cell(grdTRO, row, "digits");
        return d.isNull() ? TFieldsProxy::UnknownDigits : d.toInt();
    };
}

void TfmMain::UseColours() {
    // Buy and sell on the alert pages.
    for (int i : {2, 3, 4}) {
        auto* g = qobject_cast<TDbGrid*>(PageControl1->widget(i));
        g->Proxy()->Decorate = [g](int row, const QString& field, int role) -> QVariant {
            if (role != Qt::ForegroundRole ||
                (field != QLatin1String("OrderType") && field != QLatin1String("Order")))
                return {};
            return SideColour(Cell(g, row, "OrderType").toString());
        };
    }
    // Long and short positions, and their profit or loss.
    auto* positions = qobject_cast<TDbGrid*>(PageControl1->widget(0));
    positions->Proxy()->Decorate = [positions](int row, const QString& field, int role) -> QVariant {
        if (role != Qt::ForegroundRole) return {};
        if (field == QLatin1String("Profit")) return SignColour(Cell(positions, row, "Profit"));
        if (field == QLatin1String("Alert String")) {
            const QString s = Cell(positions, row, "Alert String").toString();
            if (s.contains(QLatin1String("long"), Qt::CaseInsensitive)) return Green;
            if (s.contains(QLatin1String("short"), Qt::CaseInsensitive)) return Red;
        }
        return {};
    };
    // The report: words for the registry's codes; a refusal red, with QUIK's reason.
    grdTRO->Proxy()->Decorate = [this](int row, const QString& field, int role) -> QVariant {
        const QString f = field.toLower();
        if (role == Qt::TextAlignmentRole)
            return f == QLatin1String("stage") ? QVariant(int(Qt::AlignLeft | Qt::AlignVCenter)) : QVariant();
        if (f == QLatin1String("operation")) {
            const QString op = Cell(grdTRO, row, "operation").toString().toUpper();
            const bool buy = op == QLatin1String("B"), sell = op == QLatin1String("S");
            if (!buy && !sell) return {};
            if (role == Qt::DisplayRole) return buy ? QStringLiteral("покупка") : QStringLiteral("продажа");
            if (role == Qt::ForegroundRole) return buy ? Green : Red;
            return {};
        }
        if (f == QLatin1String("stage") || f == QLatin1String("description")) {
            const QVariant stage = Cell(grdTRO, row, "stage");
            if (stage.isNull()) return {};
            const TStageWord w = StageWord(stage.toInt());
            const QString reason = Cell(grdTRO, row, "description").toString();
            const bool refused = stage.toInt() == 4;
            if (role == Qt::ForegroundRole)
                return f == QLatin1String("stage") || refused ? QVariant(w.Color) : QVariant();
            if (f != QLatin1String("stage")) return {};
            if (role == Qt::DisplayRole)
                return refused && !reason.isEmpty()
                           ? QString::fromUtf8(w.Text) + QStringLiteral(": ") + reason
                           : QString::fromUtf8(w.Text);
            if (role == Qt::ToolTipRole) return reason.isEmpty() ? QVariant() : QVariant(reason);
            return {};
        }
        if (f == QLatin1String("action")) {
            const QString action = Cell(grdTRO, row, "action").toString();
            if (role == Qt::ToolTipRole) return action;
            if (role != Qt::DisplayRole) return {};
            QString word = ActionWord(action);
            const QVariant cancels = Cell(grdTRO, row, "cancels");
            if (!cancels.isNull() && cancels.toLongLong() > 0)
                word += QStringLiteral(" (транзакция %1)").arg(cancels.toLongLong());
            else if (Cell(grdTRO, row, "market").toLongLong() != 0)
                word += QStringLiteral(" по рынку");
            if (Cell(grdTRO, row, "manual").toLongLong() != 0) word += QStringLiteral(", вручную");
            return word;
        }
        if (f == QLatin1String("order_number") && role == Qt::DisplayRole) {
            // QUIK gives no number to what it refused: no "0" that reads like one.
            const QVariant n = Cell(grdTRO, row, "order_number");
            return n.isNull() || n.toLongLong() == 0 ? QString() : QVariant();
        }
        if (f == QLatin1String("alert_table") && role == Qt::DisplayRole)
            return AlertTableWord(Cell(grdTRO, row, "alert_table").toString());
        return {};
    };
}

void TfmMain::RefreshReport() {
    TDatMod& dm = Robot.DatMod();
    TDataTable* t = dm.tOrderRegistry;
    if (!dm.QuikDataConnected()) {
        if (t->IsOpen()) t->Close();
        return;
    }
    // A new day's report starts empty; the registry keeps the earlier days.
    const QString day = Robot.Context().Clock.Now().date().toString(QStringLiteral("yyyy-MM-dd"));
    if (day != ReportDay) {
        ReportDay = day;
        try {
            t->SetFilter(QStringLiteral("day"), day);
        } catch (const std::exception&) {
            t->Close(); // opened again, with the day, at the next refresh
        }
    }
    dm.RefreshDataSet(t);
}

void TfmMain::CreateStatusBar() {
    // Every panel is permanent: a tool tip or a menu hint must never blank the robot's state. Each
    // keeps at least the room of its short form, so that no state is cut on a narrow screen.
    auto panel = [this](int stretch = 0) {
        auto* p = new TStatePanel;
        statusBar()->addPermanentWidget(p, stretch);
        return p;
    };
    WatchPanel = panel();
    WatchPanel->setAlignment(Qt::AlignCenter);
    // The alarm beside the watch state: the breaker, a lost server link, the last error.
    ErrorPanel = panel(1);
    ErrorPanel->SetElided(true);
    ErrorPanel->setMinimumWidth(160);
    ErrorPanel->SetTexts(QStringLiteral("Ошибок нет"));
    for (int i = 0; i < 5; ++i)
        StatusPanels << panel();
    Robot.ErrorReport().Reported = [this](const QString& text) {
        const QString first = text.section(QLatin1Char('\n'), 0, 0).trimmed();
        LastErrorText = QStringLiteral("%1 %2").arg(Regional::LongTime(QTime::currentTime()), first);
        LastErrorTip = text;
        UpdateStatusBar();
    };
    // Trading goes on when the journal file cannot be written; the operator must still see it.
    JournalAlarm = new QLabel;
    JournalAlarm->setStyleSheet(
        QStringLiteral("QLabel { color: white; background: #c0392b; padding: 0 6px; }"));
    JournalAlarm->hide();
    statusBar()->addPermanentWidget(JournalAlarm);
    statusBar()->installEventFilter(this);
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
    RxTrayIcon1 = new QSystemTrayIcon(TrayStopped, this);
    auto* menu = new QMenu(this);
    menu->addActions({actStartWatch, actStopWatch});
    menu->addSeparator();
    menu->addAction(actPullAllOrders);
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Восстановить")), &QAction::triggered, this,
            &TfmMain::RestoreFromTray);
    connect(menu->addAction(QStringLiteral("Выход")), &QAction::triggered, this, &QWidget::close);
    RxTrayIcon1->setContextMenu(menu);
    RxTrayIcon1->setToolTip(AppTitle());
    connect(RxTrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick) RestoreFromTray();
    });
    connect(RxTrayIcon1, &QSystemTrayIcon::messageClicked, this, &TfmMain::RestoreFromTray);
    RxTrayIcon1->show();
}

TDbGrid* TfmMain::AlertGrid() const {
    QWidget* page = PageControl1->currentWidget();
    return page == RxDBGrid2 || page == RxDBGrid4 ? static_cast<TDbGrid*>(page) : nullptr;
}

QString TfmMain::SelectedAlertText() const {
    TDbGrid* g = AlertGrid();
    const int row = g ? g->SelectedRow() : -1;
    if (row < 0) return QString();
    TFieldsProxy* p = g->Proxy();
    const QModelIndex at = p->mapFromSource(g->Source()->Model()->index(row, 0));
    auto shown = [&](const char* field) {
        const int c = p->ColumnOf(QString::fromLatin1(field));
        return c < 0 ? QString() : p->index(at.row(), c).data().toString();
    };
    return QStringLiteral("Выбранная строка: «%1» (%2), ID %3, время подачи %4, %5, ордер «%6».")
        .arg(PageControl1->tabText(PageControl1->currentIndex()), g->Source()->TableName(), shown("ID"),
             shown("Time Placed"), shown("Symbol"), shown("Order"));
}

void TfmMain::ManualOrder(bool cancel) {
    TDbGrid* g = AlertGrid();
    const int row = g ? g->SelectedRow() : -1;
    if (row < 0) return; // the command is off: nothing the operator chose
    // The row acted on is the one he selected, and in sight while he is asked.
    QTableView* v = g->View();
    const int h = v->horizontalScrollBar()->value();
    v->scrollTo(g->Proxy()->mapFromSource(g->Source()->Model()->index(row, 0)),
                QAbstractItemView::EnsureVisible);
    v->horizontalScrollBar()->setValue(h);
    g->Source()->SetCurrent(row);
    if (cancel)
        Robot.actSendKillOrderManualExecute();
    else
        Robot.actSendNewOrderManualExecute();
}

void TfmMain::SyncActions() {
    actStartWatch->setEnabled(Robot.Actions().actStartWatch);
    actStopWatch->setEnabled(Robot.Actions().actStopWatch);
    const bool selected = AlertGrid() && AlertGrid()->SelectedRow() >= 0;
    actSendNewOrderManual->setEnabled(Robot.Actions().actSendNewOrderManual && selected);
    actSendKillOrderManual->setEnabled(Robot.Actions().actSendKillOrderManual && selected);
    UpdateStatusBar(); // watching went on or off
}

void TfmMain::UpdateStatusBar() {
    using T = TStatePanel::TTone;
    TDatMod& dm = Robot.DatMod();
    const QStringList texts = Robot.StatusPanels();
    const bool omega = dm.OmegaConnected(), quik = dm.QuikDataConnected();
    auto yes = [](bool on) { return on ? QStringLiteral("OK") : QStringLiteral("Нет"); };
    StatusPanels[0]->SetTexts(texts.value(0), QStringLiteral("Omega: ") + yes(omega),
                              omega ? QStringLiteral("База сигналов Omega Research подключена")
                                    : QStringLiteral("База сигналов Omega Research не подключена"));
    StatusPanels[0]->SetTone(omega ? T::Plain : T::Fault);
    StatusPanels[1]->SetTexts(texts.value(1), QStringLiteral("Quik: ") + yes(quik),
                              quik ? QStringLiteral("Торговая база QuikData подключена")
                                   : QStringLiteral("Торговая база QuikData не подключена"));
    StatusPanels[1]->SetTone(quik ? T::Plain : T::Fault);
    const QString link = texts.value(2).section(QStringLiteral(": "), 1);
    StatusPanels[2]->SetTexts(texts.value(2), QStringLiteral("Сервер: ") + link,
                              texts.value(2) + (Robot.Settings.QuikConnect
                                                    ? QStringLiteral(" (по файлу info.log терминала)")
                                                    : QStringLiteral(" (проверка выключена в настройках)")));
    // QUIK without its server sends nothing anywhere: the loudest alarm of the bar.
    StatusPanels[2]->SetTone(LinkLost() ? T::Alarm : T::Plain);
    const int sent = Robot.Writer().LinesSent, atServer = Robot.Reader().TransAtServer,
              done = Robot.Reader().TransDone, refused = Robot.RefusedCount();
    const QString refusedFull = refused > 0 ? QStringLiteral(", отвергнуто %1").arg(refused) : QString();
    const QString refusedBrief = refused > 0 ? QStringLiteral(" · отв. %1").arg(refused) : QString();
    StatusPanels[3]->SetTexts(
        QStringLiteral("Отправлено %1, на сервере %2, исполнено %3").arg(sent).arg(atServer).arg(done) +
            refusedFull,
        QStringLiteral("Отпр. %1 · серв. %2 · исп. %3").arg(sent).arg(atServer).arg(done) + refusedBrief,
        QStringLiteral(
            "Транзакции этого запуска:\nотправлено роботом в Quik: %1\nприняты сервером Quik (статус 0): "
            "%2\nисполнены (статус 3): %3\nотвергнуты Quik или пределами раздела «Риск»: %4")
            .arg(sent)
            .arg(atServer)
            .arg(done)
            .arg(refused));
    StatusPanels[3]->SetTone(refused > 0 ? T::Fault : T::Plain);
    // The work mode in words: the engine's panel keeps its last mode when the setting reads neither.
    const bool group = texts.value(4) == QLatin1String("MULTI");
    StatusPanels[4]->SetTexts(group ? QStringLiteral("Режим: группа счетов")
                                    : QStringLiteral("Режим: один счет"),
                              group ? QStringLiteral("Группа") : QStringLiteral("Один счет"),
                              group ? QStringLiteral("Торговля по ГРУППЕ СЧЕТОВ клиентов")
                                    : QStringLiteral("Торговля по ОДНОМУ СЧЕТУ"));
    WatchPanel->SetTexts(
        Robot.Watching() ? QStringLiteral("Загрузка: ВКЛ") : QStringLiteral("Загрузка: выкл"),
        Robot.Watching() ? QStringLiteral("ВКЛ") : QStringLiteral("выкл"),
        Robot.Watching() ? QStringLiteral("Робот следит за сигналами и отправляет ордера")
                         : QStringLiteral("Робот не следит за сигналами: ордера не отправляются"));
    WatchPanel->SetTone(Robot.Watching() ? T::Good : T::Notice);
    // The error panel carries the loudest thing to know.
    // An error or an alarm takes the room to be read: the other panels then give up their long forms.
    const bool loud = Robot.BreakerTripped() || LinkLost() || !LastErrorText.isEmpty();
    ErrorPanel->setMinimumWidth(loud ? 300 : 140);
    if (Robot.BreakerTripped()) {
        ErrorPanel->SetTexts(Robot.BreakerText(), QString(),
                             Robot.BreakerText() +
                                 QStringLiteral("\nЗагрузка остановлена роботом; запустите ее "
                                                "вручную, когда причина устранена."));
        ErrorPanel->SetTone(T::Alarm);
    } else if (LinkLost()) {
        ErrorPanel->SetTexts(
            QStringLiteral("Нет связи Quik с сервером"), QString(),
            QStringLiteral("Quik сообщил о разрыве связи со своим сервером: заявки не доходят до "
                           "биржи.") +
                (LastErrorText.isEmpty() ? QString()
                                         : QStringLiteral("\nПоследняя ошибка: ") + LastErrorTip));
        ErrorPanel->SetTone(T::Alarm);
    } else if (!LastErrorText.isEmpty()) {
        ErrorPanel->SetTexts(LastErrorText, QString(), LastErrorTip);
        ErrorPanel->SetTone(T::Fault);
    } else {
        ErrorPanel->SetTexts(QStringLiteral("Ошибок нет"));
        ErrorPanel->SetTone(T::Plain);
    }
    FitStatusBar();
    UpdateTitle();
    TellAlarms();
    ApplyTrayIcon();
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

void TfmMain::FitStatusBar() {
    QList<TStatePanel*> panels{WatchPanel};
    panels += StatusPanels;
    const int spacing = 8; // between two panels of the bar
    int room = statusBar()->contentsRect().width() - ErrorPanel->minimumWidth() -
               (JournalAlarm->isVisibleTo(this) ? JournalAlarm->sizeHint().width() + spacing : 0) -
               (statusBar()->isSizeGripEnabled() ? 24 : 0) - spacing * static_cast<int>(panels.size() + 1);
    int need = 0;
    for (TStatePanel* p : panels)
        need += p->FullWidth();
    QList<TStatePanel*> order = panels;
    std::sort(order.begin(), order.end(), [](TStatePanel* a, TStatePanel* b) {
        return a->FullWidth() - a->BriefWidth() > b->FullWidth() - b->BriefWidth();
    });
    for (TStatePanel* p : order) {
        const bool brief = need > room;
        if (brief) need -= p->FullWidth() - p->BriefWidth();
        p->SetBrief(brief);
    }
}

void TfmMain::UpdateTitle() {
    QString state =
        Robot.Watching() ? QStringLiteral("загрузка включена") : QStringLiteral("загрузка выключена");
    if (Robot.BreakerTripped()) state = QStringLiteral("АВТОСТОП, загрузка остановлена");
    if (LinkLost()) state += QStringLiteral(", НЕТ СВЯЗИ Quik с сервером");
    setWindowTitle(AppTitle() + QStringLiteral(" — ") + state);
}

void TfmMain::TellAlarms() {
    const bool breaker = Robot.BreakerTripped(), lost = LinkLost();
    const bool linked =
        Robot.Settings.QuikConnect && Robot.Monitor().QuikLinkState == TLinkMonitor::Connected;
    if (breaker && !WasBreaker)
        Notify(AppTitle() + QStringLiteral(": автостоп"),
               Robot.BreakerText() + QStringLiteral(". Загрузка ордеров остановлена."), true);
    if (lost && !WasLinkLost)
        Notify(AppTitle() + QStringLiteral(": нет связи"),
               QStringLiteral("Quik потерял связь со своим сервером: заявки не доходят до биржи."), true);
    if (WasLinkLost && linked)
        Notify(AppTitle(), QStringLiteral("Связь Quik с сервером восстановлена."), false);
    WasBreaker = breaker;
    WasLinkLost = lost;
}

void TfmMain::ApplyTrayIcon() {
    const bool alarm = Robot.BreakerTripped() || LinkLost() || JournalAlarm->isVisibleTo(this);
    const QString name = alarm               ? QStringLiteral("alarm")
                         : !Robot.Watching() ? QStringLiteral("stopped")
                                             : QStringLiteral("frame%1").arg(TrayFrameShown);
    if (name == TrayImageName && !windowIcon().isNull()) return;
    TrayImageName = name;
    const QIcon icon = alarm ? TrayAlarm : !Robot.Watching() ? TrayStopped : TrayIcons.value(TrayFrameShown);
    setWindowIcon(icon);
    if (RxTrayIcon1) RxTrayIcon1->setIcon(icon);
}

bool TfmMain::LinkLost() const {
    return Robot.Settings.QuikConnect && Robot.Monitor().QuikLinkState == TLinkMonitor::Broken;
}

QString TfmMain::TrayText() const {
    // A tool tip has no colours: the alarms come first, marked, right under the title.
    const QString mark = QStringLiteral("\u26a0 ");
    QStringList lines{AppTitle()};
    if (LinkLost()) lines << mark + StatusPanels[2]->text();
    if (Robot.BreakerTripped()) lines << mark + Robot.BreakerText();
    if (JournalAlarm->isVisibleTo(this)) lines << mark + JournalAlarm->text();
    lines << WatchPanel->text();
    for (int i = 0; i < 4; ++i)
        if (i != 2 || !LinkLost()) lines << StatusPanels[i]->text();
    lines << (LastErrorText.isEmpty() ? QStringLiteral("Ошибок нет") : LastErrorText);
    return lines.join(QLatin1Char('\n'));
}

void TfmMain::actPullAllOrdersExecute() {
    const int n = Robot.PullAllOrdersCount();
    const QString question =
        n == 0
            ? QStringLiteral("Заявок робота, живущих в Quik, нет. Остановить загрузку ордеров?")
            : QStringLiteral("Остановить загрузку ордеров и снять все заявки робота, живущие в Quik (этого и "
                             "прошлых запусков за день): %1 (по всем счетам)?")
                  .arg(n);
    if (!Confirm(question)) return;
    Robot.actPullAllOrdersExecute();
}

bool TfmMain::ConfirmExit() {
    int live = 0;
    try {
        live = Robot.PullAllOrdersCount();
    } catch (const std::exception&) {
        live = 0; // the registry does not read: watching alone is asked about
    }
    if (!Robot.Watching() && live == 0) return true;
    QStringList now, after;
    if (Robot.Watching()) {
        now << QStringLiteral("загрузка ордеров включена");
        after << QStringLiteral("Сигналы, пришедшие после выхода, не будут отправлены.");
    }
    if (live > 0) {
        now << QStringLiteral("в Quik живут заявки робота: %1").arg(live);
        after << QStringLiteral("Заявки останутся в Quik; снять их можно и после нового запуска "
                                "(«Снять все заявки»).");
    }
    return Confirm(QStringLiteral("Выйти из программы? Сейчас %1.\n\n%2")
                       .arg(now.join(QStringLiteral(", ")), after.join(QLatin1Char(' '))));
}

QString TfmMain::PageHelpSection() const {
    const int i = PageControl1->currentIndex();
    return i >= 0 && i < static_cast<int>(std::size(PageSections)) ? QLatin1String(PageSections[i])
                                                                   : QString();
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
    // Back as it was before it went to the tray, maximized or not.
    if (WasMaximized)
        showMaximized();
    else
        showNormal();
    raise();
    activateWindow();
}

void TfmMain::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange && isMinimized()) {
        WasMaximized = static_cast<QWindowStateChangeEvent*>(e)->oldState() & Qt::WindowMaximized;
        HideToTray();
    }
}

QList<TDbGrid*> TfmMain::Grids() const {
    QList<TDbGrid*> out;
    for (int i = 0; i < PageControl1->count(); ++i)
        if (auto* g = qobject_cast<TDbGrid*>(PageControl1->widget(i))) out << g;
    out << Book->Grid();
    if (grdPortfolio) out << grdPortfolio;
    if (fmOpt) out << fmOpt->grdSecCode << fmClients->Grid;
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
    ui.setValue(QStringLiteral("Options/Size"), fmOpt->size());
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
    const QSize options = ui.value(QStringLiteral("Options/Size")).toSize();
    if (options.isValid()) fmOpt->resize(options);
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
    // A watching robot or orders living in QUIK are not left without a word.
    if (AskOnExit && !ConfirmExit()) {
        e->ignore();
        return;
    }
    SaveUiState();
    if (RxTrayIcon1) RxTrayIcon1->hide();
    QMainWindow::closeEvent(e);
    emit Closed();
}
