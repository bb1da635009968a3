#pragma once
// The navigation stack's delegate: a device's own control pages are titled
// "Control" and use the whole screen, so the bar is hidden when such a page
// has been shown. Other screens leave the bar as it is.
//
// Thread rule: main thread only.

#include "widgets/NavigationStack.h"

namespace fieldmon {

class DisplayBar final : public NavigationDelegate {
public:
    void willShow(NavigationStack&, Screen&, bool) override {}
    void didShow(NavigationStack& stack, Screen& screen, bool animated) override;
};

} // namespace fieldmon
