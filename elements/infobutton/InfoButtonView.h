#pragma once
// InfoButtonView: the small round buttons that open another page, drawn by
// hand: the info button (a dark "i" in a dark ring, 18 × 19 points) and the
// detail-disclosure button (a white chevron on a blue disc with a white
// rim, 29 × 31 points). Darker while held.
//
// Thread rule: main thread only.

#include <QAbstractButton>

namespace fieldmon {

class InfoButtonView final : public QAbstractButton {
    Q_OBJECT
public:
    enum class Kind { Info, DetailDisclosure };

    explicit InfoButtonView(Kind kind, QWidget* parent = nullptr);
    Kind kind() const { return kind_; }
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void paintInfo(QPainter& p);
    void paintDisclosure(QPainter& p);

    Kind kind_;
    int tag_ = 0;
};

} // namespace fieldmon
