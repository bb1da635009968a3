#pragma once
// Alerts shown to the user: a title, a message and buttons. The callback gets
// the index of the button the user pressed. Dismissing an alert from code does
// not call the callback (the user pressed nothing).
//
// Thread rule: main thread only.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fieldmon::platform {

struct AlertContent {
    std::string title;
    std::string message;
    std::vector<std::string> buttons;
    std::function<void(int)> onButton;
};

class Alerts {
public:
    using AlertId = std::uint64_t;

    virtual ~Alerts() = default;
    virtual AlertId show(AlertContent content) = 0;
    // Takes the alert off the screen as if `buttonIndex` had been chosen,
    // without calling its callback. Unknown ids are ignored.
    virtual void dismiss(AlertId id, int buttonIndex, bool animated) = 0;
};

} // namespace fieldmon::platform
