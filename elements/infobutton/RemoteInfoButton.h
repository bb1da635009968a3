#pragma once
// RemoteInfoButton: a small round button that opens another page of the
// device: the info button ("infobutton") or the detail-disclosure button
// ("morebutton"). Its position comes from two bound expressions (origin at
// x × 320, y × 416; the size stays). A press asks the page holding it to
// open the target page by name (its opener).
//
// Thread rule: main thread only.

#include "elements/infobutton/InfoButtonView.h"
#include "elements/RemoteView.h"

#include <functional>
#include <memory>
#include <string>

namespace fieldmon {

namespace expr {
class Node;
}

class RemoteInfoButton final : public RemoteView {
public:
    using NodePtr = std::shared_ptr<expr::Node>;

    explicit RemoteInfoButton(InfoButtonView::Kind kind);

    InfoButtonView* button() const;
    int tag() const override;
    void setTag(int tag) override;

    void setTargetPage(std::string target) { target_ = std::move(target); }
    const std::string& target() const { return target_; }
    // What opens the target page: the page holding the button's.
    void setOpener(std::function<void(const std::string&)> opener) { opener_ = std::move(opener); }
    void buttonPress();

    void setXData(NodePtr e) { clientXData_ = std::move(e); }
    void setYData(NodePtr e) { clientYData_ = std::move(e); }
    void updatePos();

    // "infobutton", or "morebutton" for the detail-disclosure kind.
    QString elementName() const override;
    void inspect(QJsonObject& out) const override;

private:
    std::function<void(const std::string&)> opener_;
    std::string target_;
    NodePtr clientXData_;
    NodePtr clientYData_;
};

} // namespace fieldmon
