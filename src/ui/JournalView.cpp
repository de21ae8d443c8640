#include "ui/JournalView.h"

#include "common/Journal.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Each line in the colour of its kind: what went out, what QUIK did, what it refused, what failed,
// and the server link, so that a refusal among a thousand sent lines catches the eye.
class TKindHighlighter : public QSyntaxHighlighter {
public:
    using QSyntaxHighlighter::QSyntaxHighlighter;

protected:
    void highlightBlock(const QString& text) override {
        QTextCharFormat f;
        switch (TJournalView::KindOf(text)) {
        case TJournalView::TKind::Plain:
            return;
        case TJournalView::TKind::Sent:
            f.setForeground(QColor(0x1f, 0x4e, 0x8c));
            break;
        case TJournalView::TKind::Done:
            f.setForeground(QColor(0x1e, 0x84, 0x49));
            break;
        case TJournalView::TKind::Refused:
            f.setForeground(QColor(0xc0, 0x39, 0x2b));
            break;
        case TJournalView::TKind::Error:
            f.setForeground(QColor(0xa0, 0x26, 0x1b));
            f.setFontWeight(QFont::Bold);
            break;
        case TJournalView::TKind::Link:
            f.setForeground(QColor(0x6c, 0x34, 0x83));
            f.setFontWeight(QFont::Bold);
            break;
        }
        setFormat(0, static_cast<int>(text.size()), f);
    }
};

bool HasAny(const QString& line, std::initializer_list<const char*> words) {
    for (const char* w : words)
        if (line.contains(QString::fromUtf8(w), Qt::CaseInsensitive)) return true;
    return false;
}

} // namespace

TJournalView::TKind TJournalView::KindOf(const QString& line) {
    if (HasAny(line, {"оператор отказался"})) return TKind::Plain;
    if (HasAny(line, {"отвергнут", "не прошла проверку", "превышен лимит"})) return TKind::Refused;
    if (HasAny(line, {"ошибка", "не удалось", "не отправлен", "невозможно", "недоступен", "не найден",
                      "не читается", "остановлена автоматически", "не записан", "исчез", "заблокирован",
                      "не открывается", "error"}))
        return TKind::Error;
    if (HasAny(line, {"соединение разорвано", "соединение установлено", "связь quik"})) return TKind::Link;
    if (HasAny(line, {"успешно выполнена", "исполнен", "принята quik", " снята"})) return TKind::Done;
    if (HasAny(line, {"отправлена в quik", "отправлена на сервер", "отправлено снятий"})) return TKind::Sent;
    return TKind::Plain;
}

TJournalView::TJournalView(QWidget* parent) : QWidget(parent), Log(new QPlainTextEdit(this)) {
    Log->setObjectName(QStringLiteral("mLog"));
    Log->setReadOnly(true);
    // The whole journal is in Korvex.log; the window keeps as many lines as the journal keeps.
    Log->setMaximumBlockCount(TJournal::KeptLines);
    Log->setLineWrapMode(QPlainTextEdit::NoWrap);
    Log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A found line stays marked while the focus is back in the search field.
    QPalette pal = Log->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    Log->setPalette(pal);
    new TKindHighlighter(Log->document());

    Bar = new QWidget(this);
    auto* bl = new QHBoxLayout(Bar);
    bl->setContentsMargins(4, 2, 4, 2);
    bl->addWidget(new QLabel(QStringLiteral("Найти:"), Bar));
    Search = new QLineEdit(Bar);
    Search->setPlaceholderText(QStringLiteral("текст строки журнала"));
    Search->setClearButtonEnabled(true);
    bl->addWidget(Search, 1);
    auto* older = new QPushButton(QStringLiteral("\u25b2 Ранее (F3)"), Bar);
    auto* newer = new QPushButton(QStringLiteral("\u25bc Позже (Shift+F3)"), Bar);
    older->setToolTip(QStringLiteral("Предыдущая строка с этим текстом (Enter, F3)"));
    newer->setToolTip(QStringLiteral("Следующая строка с этим текстом (Shift+Enter, Shift+F3)"));
    bl->addWidget(older);
    bl->addWidget(newer);
    SearchResult = new QLabel(Bar);
    SearchResult->setStyleSheet(QStringLiteral("QLabel { color: #c0392b; }"));
    bl->addWidget(SearchResult);
    auto* close = new QToolButton(Bar);
    close->setText(QStringLiteral("\u2715"));
    close->setToolTip(QStringLiteral("Закрыть поиск (Esc)"));
    close->setAutoRaise(true);
    bl->addWidget(close);
    Bar->hide();

    Hint = new QPushButton(QStringLiteral("\u25bc новые строки ниже (Ctrl+End)"), this);
    Hint->setObjectName(QStringLiteral("NewLinesHint"));
    Hint->setCursor(Qt::PointingHandCursor);
    Hint->setStyleSheet(QStringLiteral(
        "QPushButton { background: #fcf3cf; color: #7d6608; border: 1px solid #b7950b; padding: 2px 8px; }"));
    Hint->hide();

    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);
    l->addWidget(Bar);
    l->addWidget(Log, 1);
    auto* hintRow = new QHBoxLayout;
    hintRow->setContentsMargins(4, 2, 4, 2);
    hintRow->addStretch();
    hintRow->addWidget(Hint);
    l->addLayout(hintRow);

    connect(Search, &QLineEdit::textChanged, this, [this](const QString& t) {
        SearchResult->clear();
        // Typing looks for the newest line first: the event just seen is what is looked for.
        if (t.isEmpty()) return;
        QTextCursor c = Log->textCursor();
        c.movePosition(QTextCursor::End);
        Log->setTextCursor(c);
        Find(t, true);
    });
    connect(older, &QPushButton::clicked, this, [this] { Find(Search->text(), true); });
    connect(newer, &QPushButton::clicked, this, [this] { Find(Search->text(), false); });
    connect(close, &QToolButton::clicked, this, &TJournalView::CloseSearch);
    connect(Hint, &QPushButton::clicked, this, &TJournalView::GoToNewest);
    Search->installEventFilter(this);

    auto shortcut = [this](const QKeySequence& k, auto fn) {
        auto* s = new QShortcut(k, this);
        s->setContext(Qt::WidgetWithChildrenShortcut);
        connect(s, &QShortcut::activated, this, fn);
    };
    shortcut(QKeySequence(Qt::Key_F3), [this] { Find(Search->text(), true); });
    shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { Find(Search->text(), false); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_End), [this] { GoToNewest(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Home), [this] { GoToFirst(); });
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), Bar);
    esc->setContext(Qt::WidgetWithChildrenShortcut);
    connect(esc, &QShortcut::activated, this, &TJournalView::CloseSearch);

    // The memo follows its newest line unless the operator scrolled away, also while another page is
    // shown: the memo's own rule looks only while it is visible and lost the end in bursts.
    QScrollBar* bar = Log->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (Appending) return;
        Following = value >= bar->maximum();
        if (Following) Unseen = false;
        UpdateHint();
    });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
        if (Following) bar->setValue(max);
    });
}

void TJournalView::Append(const QStringList& lines) {
    if (lines.isEmpty()) return;
    Appending = true;
    Log->appendPlainText(lines.join(QLatin1Char('\n')));
    Appending = false;
    QScrollBar* bar = Log->verticalScrollBar();
    if (Following)
        bar->setValue(bar->maximum());
    else
        Unseen = true;
    UpdateHint();
}

void TJournalView::UpdateHint() {
    Hint->setVisible(!Following && Unseen);
}

bool TJournalView::Find(const QString& text, bool older) {
    SearchResult->clear();
    if (text.isEmpty()) return false;
    const QTextDocument::FindFlags flags = older ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    QTextCursor found = Log->document()->find(text, Log->textCursor(), flags);
    if (found.isNull()) {
        // Round the end once.
        QTextCursor from(Log->document());
        from.movePosition(older ? QTextCursor::End : QTextCursor::Start);
        found = Log->document()->find(text, from, flags);
    }
    if (found.isNull()) {
        SearchResult->setText(QStringLiteral("не найдено"));
        return false;
    }
    Log->setTextCursor(found);
    Log->ensureCursorVisible();
    Moved();
    return true;
}

void TJournalView::OpenSearch() {
    Bar->show();
    Search->setFocus();
    Search->selectAll();
}

void TJournalView::CloseSearch() {
    Bar->hide();
    SearchResult->clear();
    Log->setFocus();
}

void TJournalView::GoToNewest() {
    QTextCursor c = Log->textCursor();
    c.movePosition(QTextCursor::End);
    Log->setTextCursor(c);
    QScrollBar* bar = Log->verticalScrollBar();
    bar->setValue(bar->maximum());
    Following = true;
    Unseen = false;
    UpdateHint();
}

void TJournalView::GoToFirst() {
    QTextCursor c = Log->textCursor();
    c.movePosition(QTextCursor::Start);
    Log->setTextCursor(c);
    Log->verticalScrollBar()->setValue(0);
    Moved();
}

void TJournalView::Moved() {
    // The memo moves its scroll bar without a signal when it brings its cursor into view.
    QScrollBar* bar = Log->verticalScrollBar();
    Following = bar->value() >= bar->maximum();
    if (Following) Unseen = false;
    UpdateHint();
}

bool TJournalView::eventFilter(QObject* watched, QEvent* e) {
    if (watched == Search && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            Find(Search->text(), !(k->modifiers() & Qt::ShiftModifier));
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}
