#pragma once
// GradientViewController: a radial gradient over the whole page
// ("gradient"), drawn by its GradientDrawing `g`. Its centre is a pair of
// page fractions, its two radii points, its colours four components each
// and its clip rectangle page fractions (see gauge::clipRect). Bindings:
//
//   updatePos       centre and radii changed: redraw with the gradient's
//                   colours as they are
//   updateGradient  a colour or the clip changed: the colours are read
//                   again (the first call replaces the initial yellow fade)
//
// Both read the centre, the radii and the clip. The extend flags are set
// once by the reader. The view lets every touch through and the gradient
// takes no part in the page's responder chain.
//
// Thread rule: main thread only.

#include "elements/gradient/GradientDrawing.h"
#include "elements/QuartzViewController.h"

#include <memory>

namespace fieldmon {

namespace expr {
class Node;
}

class GradientViewController final : public QuartzViewController {
public:
    using NodePtr = std::shared_ptr<expr::Node>;

    GradientViewController();

    GradientDrawing* g() const { return static_cast<GradientDrawing*>(view()); }
    QObject* responder() override { return nullptr; }
    QString elementName() const override { return QStringLiteral("gradient"); }
    void inspect(QJsonObject& out) const override;

    void setXData(NodePtr e) { xPos_ = std::move(e); }
    void setYData(NodePtr e) { yPos_ = std::move(e); }
    void setInnerRadius(NodePtr e) { innerRadius_ = std::move(e); }
    void setOuterRadius(NodePtr e) { outerRadius_ = std::move(e); }
    void setInnerRColor(NodePtr e) { inner_[0] = std::move(e); }
    void setInnerGColor(NodePtr e) { inner_[1] = std::move(e); }
    void setInnerBColor(NodePtr e) { inner_[2] = std::move(e); }
    void setInnerAColor(NodePtr e) { inner_[3] = std::move(e); }
    void setOuterRColor(NodePtr e) { outer_[0] = std::move(e); }
    void setOuterGColor(NodePtr e) { outer_[1] = std::move(e); }
    void setOuterBColor(NodePtr e) { outer_[2] = std::move(e); }
    void setOuterAColor(NodePtr e) { outer_[3] = std::move(e); }
    void setClipX(NodePtr e) { clipX_ = std::move(e); }
    void setClipY(NodePtr e) { clipY_ = std::move(e); }
    void setClipWidth(NodePtr e) { clipWidth_ = std::move(e); }
    void setClipHeight(NodePtr e) { clipHeight_ = std::move(e); }
    void setExtendInner();
    void setExtendOuter();

    void updatePos();
    void updateGradient();

private:
    NodePtr xPos_, yPos_, innerRadius_, outerRadius_;
    NodePtr inner_[4], outer_[4];
    NodePtr clipX_, clipY_, clipWidth_, clipHeight_;
};

} // namespace fieldmon
