#include "ui/AboutBox.h"

#include "common/ProgramFiles.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {
// A link: navy and underlined, blue with the hand pointer under the mouse, opened by the desktop.
class TLink : public QLabel {
public:
    TLink(const QString& text, const QString& target, QWidget* parent) : QLabel(text, parent) {
        setToolTip(target);
        SetColor(QStringLiteral("navy"));
    }

protected:
    void enterEvent(QEnterEvent*) override {
        setCursor(Qt::PointingHandCursor);
        SetColor(QStringLiteral("blue"));
    }
    void leaveEvent(QEvent*) override {
        unsetCursor();
        SetColor(QStringLiteral("navy"));
    }
    void mouseReleaseEvent(QMouseEvent*) override { QDesktopServices::openUrl(QUrl(toolTip())); }

private:
    void SetColor(const QString& c) {
        setStyleSheet(QStringLiteral("color: %1; text-decoration: underline;").arg(c));
    }
};

QFrame* Separator(QWidget* parent) {
    auto* f = new QFrame(parent);
    f->setFrameShape(QFrame::HLine);
    f->setFrameShadow(QFrame::Sunken);
    return f;
}
} // namespace

TfmAbout::TfmAbout(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("О программе"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(false);
    auto* picture = new QLabel(this);
    picture->setPixmap(QIcon(IconFile(QStringLiteral("app"))).pixmap(153, 153));
    picture->setFixedSize(153, 206);
    picture->setAlignment(Qt::AlignTop);
    auto* Label1 = new QLabel(QStringLiteral("Korvex"), this);
    QFont big = Label1->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    Label1->setFont(big);
    auto* Label2 = new QLabel(
        QStringLiteral(
            "Программа для автоматизации процесса торговли на фондовом рынке. Korvex позволяет создать "
            "торгового робота на основе программ Quik и Omega Research."),
        this);
    Label2->setWordWrap(true);
    auto* Label4 = new QLabel(QStringLiteral("Отправлено транзакций:"), this);
    pnQty = new QLabel(QStringLiteral("0/0/0"), this);
    pnQty->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* notice = new QLabel(QStringLiteral("© Korvex, 2026. Все права защищены."), this);
    lwww = new TLink(QStringLiteral("korvex.example"), QStringLiteral("https://korvex.example/"), this);
    lmail = new TLink(QStringLiteral("support@korvex.example"),
                      QStringLiteral("mailto:support@korvex.example"), this);
    auto* Button1 = new QPushButton(QStringLiteral("ОК"), this);
    connect(Button1, &QPushButton::clicked, this, &QDialog::close);

    auto* right = new QVBoxLayout;
    right->addWidget(Label1);
    right->addWidget(Label2);
    right->addWidget(Separator(this));
    auto* counters = new QHBoxLayout;
    counters->addWidget(Label4);
    counters->addWidget(pnQty);
    counters->addStretch();
    right->addLayout(counters);
    right->addWidget(Separator(this));
    right->addWidget(notice);
    right->addWidget(lwww);
    right->addWidget(lmail);
    right->addStretch();
    right->addWidget(Button1, 0, Qt::AlignRight);
    auto* top = new QHBoxLayout(this);
    top->addWidget(picture, 0, Qt::AlignTop);
    top->addLayout(right);
    resize(460, 260);
}

void TfmAbout::SetCounters(const QString& text) {
    pnQty->setText(text);
}
