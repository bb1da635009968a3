#pragma once
// The navigation stack's delegate: a device's own control pages titled
// "Control" use the whole screen, so the bar is hidden while such a page is
// shown. Every other screen brings the bar back: a "Control" page may be left
// (with Escape or the stack's small back control) onto a screen that needs
// the bar, and going back from a device's start page is what ends the
// device's pages, so the way back must never be lost.
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
