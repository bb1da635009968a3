#pragma once
// RemoteLabel: a text label on a device page. Its view is a LabelView of
// 320 × 35 points in the 16-point system font, left-aligned until told
// otherwise. Bindings made by the reader call:
//
//   updateText  the text expression's text, "degrees" shown as "˚" (U+02DA)
//   updateSize  the font at the size expression's value (nothing without one)
//   updatePos   origin (x × 320, y × 416); a right-aligned label starts 320
//               points further left, so that its text ends at x × 320
//
// The label shows "(nil)" until its first value. Its tag is its view's.
//
// Thread rule: main thread only.

#include "elements/RemoteView.h"

#include <memory>

namespace fieldmon {

class LabelView;

namespace expr {
class Node;
}

class RemoteLabel final : public RemoteView {
public:
    using NodePtr = std::shared_ptr<expr::Node>;
    static constexpr int kDefaultFontSize = 16;

    RemoteLabel();

    LabelView* label() const;
    QString elementName() const override { return QStringLiteral("label"); }
    void inspect(QJsonObject& out) const override;

    int tag() const override;
    void setTag(int tag) override;

    void setData(NodePtr e) { clientData_ = std::move(e); }
    void setXData(NodePtr e) { clientXData_ = std::move(e); }
    void setYData(NodePtr e) { clientYData_ = std::move(e); }
    void setSize(NodePtr e) { size_ = std::move(e); }
    // true: left-aligned; false: right-aligned.
    void setOrientation(bool left);

    void updateText();
    void updateSize();
    void updatePos();

    // "degrees" → "˚" in a text for a label.
    static QString withDegreeSigns(const std::string& text);

private:
    NodePtr clientData_;
    NodePtr clientXData_;
    NodePtr clientYData_;
    NodePtr size_;
};

} // namespace fieldmon
