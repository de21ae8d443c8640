#include "ui/HelpViewer.h"

#include "common/ProgramFiles.h"

#include <QApplication>
#include <QTextBrowser>
#include <QVBoxLayout>

THelpViewer::THelpViewer(QWidget* parent) : QDialog(parent), Browser(new QTextBrowser(this)), Home(parent) {
    setWindowTitle(QStringLiteral("Справка Korvex"));
    setWindowFlags(Qt::Window);
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(Browser);
    Browser->setOpenExternalLinks(true);
    Browser->setSearchPaths({HelpDir()});
    resize(760, 640);
}

void THelpViewer::Open(const QString& page) {
    // The section after "#" is the URL's fragment, not part of the file name.
    const qsizetype hash = page.indexOf(QLatin1Char('#'));
    QUrl url = QUrl::fromLocalFile(HelpDir() + QLatin1Char('/') + (hash < 0 ? page : page.left(hash)));
    if (hash >= 0) url.setFragment(page.mid(hash + 1));
    Browser->setSource(url);
    // A modal dialog blocks every window but its own: the help then belongs to the dialog, so it opens
    // on top of it and can be read and scrolled while the dialog stays open.
    QWidget* owner = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : Home;
    if (owner && parentWidget() != owner && owner != this) {
        const QByteArray geometry = saveGeometry();
        setParent(owner, Qt::Window);
        restoreGeometry(geometry);
    }
    show();
    raise();
    activateWindow();
}

void THelpViewer::ShowContents() {
    Open(QStringLiteral("index.html"));
}

void THelpViewer::ShowTopic(int topic, const QString& section) {
    const QString page = topic == 2 ? QStringLiteral("settings.html") : QStringLiteral("main-window.html");
    Open(section.isEmpty() ? page : page + QLatin1Char('#') + section);
}

QUrl THelpViewer::CurrentPage() const {
    return Browser->source();
}
