#pragma once
// Progress: a progress bar that a device stretches, turns and fills
// ("progress"). Every binding calls update(), which sets all four:
//
//   bounds    length × d wide (d = √(320² + 416²) ≈ 524.839, the page's
//             diagonal, so a length of 1.0 spans it) and 10 points high;
//             a negative length reads 0
//   centre    (x × 320, y × 416)
//   angle     a turn about the centre, in radians (clockwise on screen)
//   progress  the filled fraction, 0.0 empty to 1.0 full
//
// Absent expressions read 0.0. The bar takes no touches and takes no part
// in the page's responder chain.
//
// Thread rule: main thread only.

#include "elements/progress/ProgressBarView.h"
#include "elements/RemoteView.h"

#include <memory>

namespace fieldmon {

namespace expr {
class Node;
}

class Progress final : public RemoteView {
public:
    using NodePtr = std::shared_ptr<expr::Node>;
    static constexpr double kHeight = 10.0;
    // The page's diagonal in points.
    static double diagonal();

    Progress();

    ProgressBarView* p() const { return static_cast<ProgressBarView*>(view()); }
    void setTag(int tag) override;
    QString elementName() const override { return QStringLiteral("progress"); }
    void inspect(QJsonObject& out) const override;

    void setXData(NodePtr e) { xPos_ = std::move(e); }
    void setYData(NodePtr e) { yPos_ = std::move(e); }
    void setProgress(NodePtr e) { progress_ = std::move(e); }
    void setLength(NodePtr e) { length_ = std::move(e); }
    void setAngle(NodePtr e) { angle_ = std::move(e); }

    void update();

private:
    NodePtr xPos_, yPos_, progress_, length_, angle_;
    // The angle and the length (a fraction of the diagonal) last shown.
    float angleShown_ = 0;
    float lengthShown_ = 0;
};

} // namespace fieldmon
