#pragma once
// CircleView: the drawing of a Circle: a filled disc of a radius about a
// centre, in page points, optionally clipped to a rectangle. It paints what
// it was last told; a change repaints only the area the disc covered and
// covers now.
//
// Thread rule: main thread only.

#include "elements/QuartzView.h"

#include <QColor>
#include <QPointF>
#include <QRectF>

#include <optional>

namespace fieldmon {

class CircleView final : public QuartzView {
    Q_OBJECT
public:
    struct State {
        QPointF centre;
        float radius = 0;
        QColor colour = QColor::fromRgbF(0, 0, 0, 0);
        std::optional<QRectF> clip;
        bool operator==(const State&) const = default;
    };

    explicit CircleView(QWidget* parent = nullptr);

    void setState(const State& state);
    const State& state() const { return state_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    // The area the disc covers on the page.
    static QRect covered(const State& s);

    State state_;
};

} // namespace fieldmon
