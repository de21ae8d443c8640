#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The journal page: the run's lines in a memo coloured by their kind, a search (Ctrl+F; Enter and F3
// towards older lines, Shift+Enter and Shift+F3 towards newer ones), jumps to the first and the newest
// line (Ctrl+Home, Ctrl+End), and a hint while new lines arrive below the part the operator reads.
class TJournalView : public QWidget {
    Q_OBJECT
public:
    explicit TJournalView(QWidget* parent = nullptr);

    QPlainTextEdit* Memo() const { return Log; }
    QLineEdit* SearchField() const { return Search; }
    QWidget* SearchBar() const { return Bar; }
    QPushButton* NewLinesHint() const { return Hint; }

    // Appends lines at once; the memo shows the newest one unless the operator scrolled away.
    void Append(const QStringList& lines);
    // True while the memo shows its newest line and keeps doing so.
    bool Follows() const { return Following; }

    // Selects the next line holding `text` (case-insensitive), older or newer than the selection,
    // going round the ends once. False (and a notice beside the field) when no line holds it.
    bool Find(const QString& text, bool older = true);
    void OpenSearch();
    void CloseSearch();
    void GoToNewest();
    void GoToFirst();

    // What a line tells of, for its colour.
    enum class TKind { Plain, Sent, Done, Refused, Error, Link };
    static TKind KindOf(const QString& line);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void UpdateHint();
    void Moved();
    QPlainTextEdit* Log;
    QWidget* Bar;
    QLineEdit* Search;
    QLabel* SearchResult;
    QPushButton* Hint;
    bool Following = true;  // the memo shows its newest line and keeps doing so
    bool Appending = false; // the memo itself moves its scroll bar
    bool Unseen = false;    // lines came while the operator read older ones
};
