#pragma once
// LabelView: the text label of a RemoteLabel, painted by hand: one line of
// text, vertically centred, left- or right-aligned, black with a white
// shadow one point above, on a clear background; text too long for the
// label ends in "…". It takes no touches, so whatever lies under it gets
// them. Setters return early when nothing changed.
//
// Thread rule: main thread only.

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
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    // The text as painted (elided to the width).
    const QString& shownText() const { return shown_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void relayout();

    QString text_;
    QString shown_;
    Qt::Alignment align_ = Qt::AlignLeft;
    int tag_ = 0;
};

} // namespace fieldmon
