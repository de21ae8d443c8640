#include "ui/ClientsDialog.h"

#include "data/TableColumns.h"
#include "robot/Engine.h"
#include "ui/DbGrid.h"
#include "ui/NavigatorBar.h"

#include <QGroupBox>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

TfmClients::TfmClients(TEngine& engine, QWidget* parent) : QDialog(parent), Robot(engine) {
    setWindowTitle(QStringLiteral("Клиенты"));
    auto* box = new QGroupBox(QStringLiteral(" Список клиентов "), this);
    auto* bl = new QVBoxLayout(box);
    // The titles are the ones the client checks name in their messages.
    auto title = [](const char* field) {
        return ColumnTitle(QStringLiteral("tClients"), QLatin1String(field));
    };
    Grid = new TDbGrid(engine.DatMod().tClients,
                       {{"Code", title("Code")},
                        {"Active", title("Active")},
                        {"client", title("client")},
                        {"AccountMicex", title("AccountMicex")},
                        {"AccountFORTS", title("AccountFORTS")},
                        {"note", title("note")}},
                       true);
    Grid->setObjectName(QStringLiteral("grdClients"));
    bl->addWidget(Grid);
    Navigator = new TNavigatorBar(Grid, box);
    Navigator->Run = [&engine](const std::function<void()>& f) { engine.RunEvent(f); };
    Grid->Run = Navigator->Run;
    bl->addWidget(Navigator);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    cancel->setObjectName(QStringLiteral("BitBtn2"));
    connect(ok, &QPushButton::clicked, this, [this] { done(1); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(2); });
    auto* strip = new QHBoxLayout;
    strip->addStretch();
    strip->addWidget(ok);
    strip->addWidget(cancel);
    auto* l = new QVBoxLayout(this);
    l->addWidget(box);
    l->addLayout(strip);
    setFixedSize(767, 469);
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
            &TfmClients::HelpRequested);
}

void TfmClients::showEvent(QShowEvent* e) {
    Robot.DatMod().tClients->BeginDialogEdits();
    QDialog::showEvent(e);
}
