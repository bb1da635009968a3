#pragma once
// LabelView: the text label of a RemoteLabel, painted by hand: one line of
// text, vertically centred, left- or right-aligned, black with a white
// shadow one point above, on a clear background; text too long for the
// label ends in "…". It takes no touches, so whatever lies under it gets
// them.
//
// Pages refresh hundreds of labels several times a second, so a label does
// as little as it can: setters return early when nothing changed, the text
// is laid out when it is next painted (not at every paint, and not for each
// of font, size and text given one after the other), and labels showing
// the same text in the same font share one layout (a page's labels all
// show "(nil)" until their first values).
//
// Thread rule: main thread only.

#include <QFont>
#include <QStaticText>
#include <QWidget>

namespace fieldmon {

class LabelView final : public QWidget {
    Q_OBJECT
public:
    explicit LabelView(QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    // Qt::AlignLeft or Qt::AlignRight.
    void setAlignment(Qt::Alignment align);
    Qt::Alignment alignment() const { return align_; }
    void setLabelFont(const QFont& font);
    const QFont& labelFont() const { return font_; }
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    // The text as painted (elided to the width).
    QString shownText() const;
    // The system font at `pixels` (1 to 416), made once per size (and
    // again after an application has gone: see ApplicationCache).
    static const QFont& systemFont(int pixels);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void relayout();
    void layOut();

    QString text_;
    QFont font_;
    QStaticText shown_;
    bool laidOut_ = false;
    Qt::Alignment align_ = Qt::AlignLeft;
    int tag_ = 0;
};

} // namespace fieldmon
