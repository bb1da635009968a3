// The builder of "textfield": a one-line text field whose text is sent as a
// command. Without a command the element is reported and dropped.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/textfield/RemoteTextField.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

namespace fieldmon {

namespace {

bool startTextField(uidesc::ElementBuild& b)
{
    auto command = b.required("command");
    if (!command)
        return false;
    auto widget = std::make_shared<RemoteTextField>(command, b.clientPtr());
    widget->setTag(widgettags::next());
    b.arguments<RemoteTextField>("position", widget, {&RemoteTextField::setXData, &RemoteTextField::setYData},
                                 &RemoteTextField::updatePos);
    b.context<WidgetContext>().place(widget);
    return true;
}

} // namespace

void registerTextField(uidesc::BuilderRegistry& registry)
{
    registry.add("textfield", {startTextField});
}

} // namespace fieldmon
