#include "ui/StatePanel.h"

#include <QPainter>

namespace {
constexpr int Padding = 6; // each side, inside the frame
}

TStatePanel::TStatePanel(QWidget* parent) : QLabel(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void TStatePanel::SetTexts(const QString& full, const QString& brief, const QString& tip) {
    const QString shortForm = brief.isEmpty() ? full : brief;
    if (full == text() && shortForm == Brief && toolTip() == (tip.isEmpty() ? full : tip)) return;
    Brief = shortForm;
    setText(full);
    setToolTip(tip.isEmpty() ? full : tip);
    updateGeometry();
    update();
}

int TStatePanel::TextWidth(const QString& t) const {
    return fontMetrics().horizontalAdvance(t) + 2 * Padding + 2 * frameWidth();
}

QSize TStatePanel::minimumSizeHint() const {
    const int h = QLabel::minimumSizeHint().height();
    if (Elided) return {std::max(minimumWidth(), 60), h};
    return {std::max(minimumWidth(), BriefMode ? BriefWidth() : FullWidth()), h};
}

QSize TStatePanel::sizeHint() const {
    return minimumSizeHint();
}

void TStatePanel::SetBrief(bool brief) {
    if (brief == BriefMode) return;
    BriefMode = brief;
    updateGeometry();
    update();
}

QString TStatePanel::ShownText() const {
    const int room = contentsRect().width() - 2 * Padding;
    const QString shown = BriefMode && !Elided ? Brief : text();
    if (fontMetrics().horizontalAdvance(shown) <= room) return shown;
    return fontMetrics().elidedText(shown, Qt::ElideRight, room);
}

void TStatePanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    drawFrame(&p);
    const QRect r = contentsRect().adjusted(Padding, 0, -Padding, 0);
    p.setPen(palette().color(foregroundRole()));
    p.drawText(r, (alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter, ShownText());
}

void TStatePanel::SetTone(TTone tone) {
    if (tone == ToneNow) return;
    ToneNow = tone;
    // Colours of the palette, not of a style sheet: the panel paints its own text.
    QPalette pal = QWidget::palette();
    const QPalette base = parentWidget() ? parentWidget()->palette() : QPalette();
    pal.setColor(QPalette::WindowText, base.color(QPalette::WindowText));
    pal.setColor(QPalette::Window, base.color(QPalette::Window));
    QFont f = font();
    f.setBold(tone == TTone::Good || tone == TTone::Notice || tone == TTone::Alarm);
    switch (tone) {
    case TTone::Plain:
        break;
    case TTone::Good:
        pal.setColor(QPalette::WindowText, Qt::white);
        pal.setColor(QPalette::Window, QColor(0x1e, 0x84, 0x49));
        break;
    case TTone::Notice:
        pal.setColor(QPalette::WindowText, Qt::black);
        pal.setColor(QPalette::Window, QColor(0xf5, 0xb0, 0x41));
        break;
    case TTone::Alarm:
        pal.setColor(QPalette::WindowText, Qt::white);
        pal.setColor(QPalette::Window, QColor(0xc0, 0x39, 0x2b));
        break;
    case TTone::Fault:
        pal.setColor(QPalette::WindowText, QColor(0xc0, 0x39, 0x2b));
        break;
    }
    setAutoFillBackground(tone == TTone::Good || tone == TTone::Notice || tone == TTone::Alarm);
    setPalette(pal);
    setFont(f);
    updateGeometry();
    update();
}
