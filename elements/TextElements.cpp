// Builders of the widgets that show text or open pages: "label", "button",
// "infobutton" and "morebutton".

#include "expr/Node.h"
#include "pages/PageButton.h"
#include "pages/RemoteButton.h"
#include "pages/RemoteInfoButton.h"
#include "pages/RemoteLabel.h"
#include "pages/LabelView.h"
#include "elements/ElementKinds.h"
#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"


namespace fieldmon {

namespace {

// The alignment comes first, read once while the element is read (before
// any device value is known), so that a position bound to constants places
// a right-aligned label correctly at once. "right" is applied after "left".
bool startLabel(uidesc::ElementBuild& b)
{
    auto label = std::make_shared<RemoteLabel>();
    label->setTag(widgettags::next());
    if (auto left = b.compile("left"))
        label->setOrientation(left->intValue() != 0);
    if (auto right = b.compile("right"))
        label->setOrientation(right->intValue() == 0);
    if (auto size = b.compile("size")) {
        label->setSize(size);
        b.bind(size, label, &RemoteLabel::updateSize);
    }
    b.arguments<RemoteLabel>("position", label, {&RemoteLabel::setXData, &RemoteLabel::setYData},
                             &RemoteLabel::updatePos);
    b.context<WidgetContext>().place(label);
    b.setWidget(label);
    return true;
}

// The text is the element's character data, all pieces, untrimmed.
void endLabel(uidesc::ElementBuild& b)
{
    auto label = b.widget<RemoteLabel>();
    label->label()->setText(QStringLiteral("(nil)"));
    if (!b.hasCharacterData())
        return;
    auto text = b.compileText(b.characterData());
    label->setData(text);
    b.bind(text, label, &RemoteLabel::updateText);
}

// A plain button at (10, 10), 100 × 40. Its press goes to the page, which
// opens the page stored under the button's tag.
bool startButton(uidesc::ElementBuild& b)
{
    auto button = std::make_shared<RemoteButton>();
    auto* platformButton = new PageButton();
    button->setButton(platformButton);
    const int tag = widgettags::next();
    button->setTag(tag);
    QObject::connect(platformButton, &QAbstractButton::clicked, platformButton,
                     b.context<WidgetContext>().pageButton(tag, b.text("target")));
    b.keep(button);
    b.setWidget(button);
    return true;
}

// The title is the character data, all pieces, trimmed: one title binding.
// A button without a title is not shown (its target stays registered).
void endButton(uidesc::ElementBuild& b)
{
    auto title = uidesc::trimmed(b.characterData());
    if (title.empty())
        return;
    auto button = b.widget<RemoteButton>();
    button->button()->setText(QStringLiteral("(nil)"));
    auto e = b.compileText(title);
    button->setData(e);
    b.bind(e, button, &RemoteButton::updateText);
    b.context<WidgetContext>().place(button);
}

bool startInfoButton(uidesc::ElementBuild& b)
{
    auto kind = b.spec().name == "infobutton" ? InfoButtonView::Kind::Info : InfoButtonView::Kind::DetailDisclosure;
    auto button = std::make_shared<RemoteInfoButton>(kind);
    const std::string* target = b.text("target");
    button->setTargetPage(target ? *target : std::string());
    button->setOpener(b.context<WidgetContext>().pageOpener());
    button->setTag(widgettags::next());
    b.arguments<RemoteInfoButton>("position", button, {&RemoteInfoButton::setXData, &RemoteInfoButton::setYData},
                                  &RemoteInfoButton::updatePos);
    b.context<WidgetContext>().place(button);
    return true;
}

} // namespace

void registerTextElements(uidesc::BuilderRegistry& registry)
{
    registry.add("label", {startLabel, endLabel});
    registry.add("button", {startButton, endButton});
    registry.add("infobutton", {startInfoButton});
    registry.add("morebutton", {startInfoButton});
}

} // namespace fieldmon
