#pragma once
// RemoteButton: the bound title of a page's plain button. Its view and
// responder are the PageButton; updateText sets the title to the title
// expression's text. The press does not come here: the button tells the
// page, which opens the page stored for the button's tag.
//
// Thread rule: main thread only.

#include "elements/RemoteView.h"

#include <memory>

namespace fieldmon {

class PageButton;

namespace expr {
class Node;
}

class RemoteButton final : public RemoteView {
public:
    using NodePtr = std::shared_ptr<expr::Node>;

    RemoteButton() = default;

    // Keeps the platform button (owned).
    void setButton(PageButton* button);
    PageButton* button() const;
    QObject* responder() override;
    int tag() const override;
    void setTag(int tag) override;

    void setData(NodePtr e) { clientData_ = std::move(e); }
    void updateText();

    QString elementName() const override { return QStringLiteral("button"); }
    void inspect(QJsonObject& out) const override;

private:
    NodePtr clientData_;
};

} // namespace fieldmon
