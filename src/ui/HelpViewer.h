#pragma once

#include <QDialog>

class QTextBrowser;

// The program's help: Russian HTML pages shipped beside the program (see ProgramFiles.h), shown in a
// browser window.
class THelpViewer : public QDialog {
    Q_OBJECT
public:
    explicit THelpViewer(QWidget* parent = nullptr);
    void ShowContents();
    // Topic 1: the main window; topic 2: the options dialog; `section`: the anchor of a part of it.
    void ShowTopic(int topic, const QString& section = QString());
    QUrl CurrentPage() const;

private:
    void Open(const QString& page);
    QTextBrowser* Browser;
    QWidget* Home; // the main window
};
