// The builder of "button": a plain button that opens another page, with a
// title bound to the element's text.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/button/PageButton.h"
#include "elements/button/RemoteButton.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

namespace fieldmon {

namespace {

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

} // namespace

void registerButton(uidesc::BuilderRegistry& registry)
{
    registry.add("button", {startButton, endButton});
}

} // namespace fieldmon
