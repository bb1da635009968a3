// The builder of "label": a text label bound to the element's text.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/label/LabelView.h"
#include "elements/label/RemoteLabel.h"
#include "expr/Node.h"
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
    b.expression("size", label, &RemoteLabel::setSize, &RemoteLabel::updateSize);
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

} // namespace

void registerLabel(uidesc::BuilderRegistry& registry)
{
    registry.add("label", {startLabel, endLabel});
}

} // namespace fieldmon
