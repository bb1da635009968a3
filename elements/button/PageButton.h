#pragma once
// PageButton: the plain button of a device page, which opens another page.
// A white rounded button at rest and a blue one while held
// ("whiteButton.png", "blueButton.png", stretched across the button's width
// from a 12-point rounded end on either side), its title centred in black,
// bold 15 points. It carries the tag the page routes its press by.
//
// Thread rule: main thread only.

#include <QAbstractButton>
#include <QPixmap>

namespace fieldmon {

class PageButton final : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int kLeftCap = 12;

    explicit PageButton(QWidget* parent = nullptr);
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int tag_ = 0;
};

} // namespace fieldmon
