#pragma once
// An on/off switch drawn as a rounded track with a sliding knob: blue with
// "ON" when on, light grey with "OFF" when off. A tap (or a click) flips it
// and emits toggled(bool) from QAbstractButton; setChecked() from code
// flips it without any user signal other than toggled. A disabled switch
// is drawn at half opacity and takes no touch.
//
// Thread rule: main thread only.

#include <QAbstractButton>

namespace fieldmon {

class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr double kDisabledOpacity = 0.5;

    explicit ToggleSwitch(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {94, 27}; }

protected:
    void paintEvent(QPaintEvent*) override;
};

} // namespace fieldmon
