#pragma once

#include <QLabel>

// A status-bar panel that never hides its state: it shows its full text, or its short form where the
// bar has no room for the full one (a narrow screen), and asks for the room of the form it shows; its
// tool tip always holds the full text. An elided panel (the last error) is cut with "…"
// instead, its whole text in the tool tip.
class TStatePanel : public QLabel {
    Q_OBJECT
public:
    explicit TStatePanel(QWidget* parent = nullptr);
    // `full` is also the label's text(); `brief` empty: the same as `full`.
    void SetTexts(const QString& full, const QString& brief = QString(), const QString& tip = QString());
    void SetElided(bool elided) { Elided = elided; }
    // How loud the panel is: plain, good news (watching), to be noticed (stopped), an alarm, or a
    // fault that is no alarm (an error now over, a database not connected).
    enum class TTone { Plain, Good, Notice, Alarm, Fault };
    void SetTone(TTone tone);
    TTone Tone() const { return ToneNow; }
    // What the panel shows now.
    QString ShownText() const;
    // Shows the short form (the bar is narrow); the panel then asks for the room of that form only.
    void SetBrief(bool brief);
    int FullWidth() const { return TextWidth(text()); }
    int BriefWidth() const { return TextWidth(Brief); }
    QString BriefText() const { return Brief; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int TextWidth(const QString& text) const;
    QString Brief;
    bool Elided = false;
    bool BriefMode = false;
    TTone ToneNow = TTone::Plain;
};
