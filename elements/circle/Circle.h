#pragma once
// Circle: a filled disc over the whole page ("circle"): its centre is a pair
// of page fractions, its radius in points, its colour four components of
// 0.0…1.0, and an optional clip rectangle (page fractions: x, y, width,
// height; see gauge::clipRect). Every binding of the circle calls update(),
// which reads all its expressions and redraws. Absent expressions read 0.0:
// no radius draws nothing, no alpha draws a clear disc.
//
// The view lets every touch through and the circle takes no part in the
// page's responder chain.
//
// Thread rule: main thread only.

#include "elements/circle/CircleView.h"
#include "elements/QuartzViewController.h"

#include <memory>

namespace fieldmon {

namespace expr {
class Node;
}

class Circle final : public QuartzViewController {
public:
    using NodePtr = std::shared_ptr<expr::Node>;

    Circle();

    CircleView* g() const { return static_cast<CircleView*>(view()); }
    QObject* responder() override { return nullptr; }
    QString elementName() const override { return QStringLiteral("circle"); }
    void inspect(QJsonObject& out) const override;

    void setXData(NodePtr e) { xPos_ = std::move(e); }
    void setYData(NodePtr e) { yPos_ = std::move(e); }
    void setRadius(NodePtr e) { radius_ = std::move(e); }
    void setRColor(NodePtr e) { r_ = std::move(e); }
    void setGColor(NodePtr e) { g_ = std::move(e); }
    void setBColor(NodePtr e) { b_ = std::move(e); }
    void setAColor(NodePtr e) { a_ = std::move(e); }
    void setClipX(NodePtr e) { clipX_ = std::move(e); }
    void setClipY(NodePtr e) { clipY_ = std::move(e); }
    void setClipWidth(NodePtr e) { clipWidth_ = std::move(e); }
    void setClipHeight(NodePtr e) { clipHeight_ = std::move(e); }

    void update();

private:
    NodePtr xPos_, yPos_, radius_;
    NodePtr r_, g_, b_, a_;
    NodePtr clipX_, clipY_, clipWidth_, clipHeight_;
};

} // namespace fieldmon
