#pragma once
// PictureGauge: a picture that ships with the app, placed and turned by a
// device's values: the base of Arrow, Compass and Turbine. Each picture has
// a pivot, a point given as its offset from the picture's centre in points
// (x to the right, y downwards): the pivot sits at the position (x × 320,
// y × 416) and the picture turns about it by the angle (radians, clockwise
// on screen). Every binding calls update(), which sets both the place and
// the turn. The pivots are constants of the pictures' design and do not
// follow their sizes.
//
// Until the first update the picture's top left sits at the initial origin
// its subclass gives. A picture that cannot be loaded shows nothing; its
// updates still run. Its view is also its responder (it links into the
// page's responder chain) but takes no touches.
//
// Thread rule: main thread only.

#include "elements/PictureView.h"
#include "elements/RemoteView.h"

#include <memory>
#include <optional>

namespace fieldmon {

namespace expr {
class Node;
}

class PictureGauge : public RemoteView {
public:
    using NodePtr = std::shared_ptr<expr::Node>;

    PictureView* theImageView() const { return static_cast<PictureView*>(view()); }
    QObject* responder() override { return view(); }
    void inspect(QJsonObject& out) const override;

    void setXData(NodePtr e) { xPos_ = std::move(e); }
    void setYData(NodePtr e) { yPos_ = std::move(e); }
    void setAngle(NodePtr e) { angle_ = std::move(e); }
    void update();

    QPointF pivot() const { return pivot_; }
    // The turn about the view's centre that puts the pivot on the centre
    // and turns the picture about it by `angle`.
    static QTransform turnAbout(QPointF pivot, double angle);

protected:
    // `resource`: the picture's name in the app's resources (":/Arrow.png");
    // no initial origin: the picture's half width and height.
    PictureGauge(const QString& resource, QPointF pivot, std::optional<QPointF> initialOrigin);

private:
    QPointF pivot_;
    float angleShown_ = 0;
    NodePtr xPos_, yPos_, angle_;
};

} // namespace fieldmon
