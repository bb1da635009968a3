#pragma once
// RemoteInfoButton: a small round button that opens another page of the
// device: the info button ("infobutton") or the detail-disclosure button
// ("morebutton"). Its position comes from two bound expressions (origin at
// x × 320, y × 416; the size stays). A press asks the page holding it to
// open the target page by name.
//
// Thread rule: main thread only.

#include "pages/InfoButtonView.h"
#include "pages/RemoteView.h"

#include <memory>
#include <string>

namespace fieldmon {

class DevicePage;

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
    // The page holding the button (not owned; the page outlives its views).
    void setCurrentPage(DevicePage* page);
    void buttonPress();

    void setXData(NodePtr e) { clientXData_ = std::move(e); }
    void setYData(NodePtr e) { clientYData_ = std::move(e); }
    void updatePos();

    // "infobutton", or "morebutton" for the detail-disclosure kind.
    QString elementName() const override;
    void inspect(QJsonObject& out) const override;

private:
    QPointer<DevicePage> currentPage_;
    std::string target_;
    NodePtr clientXData_;
    NodePtr clientYData_;
};

} // namespace fieldmon
