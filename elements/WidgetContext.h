#pragma once
// WidgetContext: what the builders of elements/ need from a build context
// beyond what every context offers (uidesc::ElementBuild): a place for each
// widget on the page being filled, and the page's ways of opening another
// page. The app's context (pages/PageBuildContext) is one; the builders
// reach it as b.context<WidgetContext>().
//
// Outside a page a widget is built as any other (it takes its tag, and its
// bindings ask for their values) but nothing places it, and its buttons
// open nothing.
//
// Thread rule: main thread only.

#include "uidesc/BuildContext.h"

#include <functional>
#include <memory>
#include <string>

namespace fieldmon {

class RemoteView;

class WidgetContext : public uidesc::BuildContext {
public:
    // The widget goes onto the page being filled, after those placed
    // before it; outside a page it is only kept.
    virtual void place(std::shared_ptr<RemoteView> widget) = 0;
    // What opens the page of a name over the page being filled (the info
    // buttons'); it does nothing once that page is gone.
    virtual std::function<void(const std::string& name)> pageOpener() = 0;
    // A plain button numbered `tag` that opens `target` (null: no target)
    // on the page being filled: registers it with the page and answers
    // what its press does.
    virtual std::function<void()> pageButton(int tag, const std::string* target) = 0;
};

} // namespace fieldmon
