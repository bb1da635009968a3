#pragma once
// An Alerts implementation for tests: remembers every alert shown and every
// dismissal, and lets the test press a button as the user would.
//
// Thread rule: main thread only.

#include "platform/Alerts.h"

#include <optional>

namespace fieldmon::platform {

class RecordingAlerts final : public Alerts {
public:
    struct Shown {
        AlertId id = 0;
        AlertContent content;
        bool open = true;
        std::optional<int> dismissedWith;
        bool dismissedAnimated = false;
    };

    AlertId show(AlertContent content) override;
    void dismiss(AlertId id, int buttonIndex, bool animated) override;

    // Simulates the user pressing a button of an open alert; returns false if
    // the alert is not open.
    bool press(AlertId id, int buttonIndex);

    const std::vector<Shown>& history() const { return history_; }
    std::size_t openCount() const;
    const Shown* lastOpen() const;

private:
    Shown* find(AlertId id);
    std::vector<Shown> history_;
    AlertId nextId_ = 1;
};

} // namespace fieldmon::platform
