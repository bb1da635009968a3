#pragma once
// Alerts without a screen: each one is a line on standard error
// ("fieldmon-gateway: TITLE: MESSAGE"). Nobody presses a button.
//
// Thread rule: main thread only.

#include "platform/Alerts.h"

#include <cstdio>

namespace fieldmon::gateway {

class LogAlerts final : public platform::Alerts {
public:
    AlertId show(platform::AlertContent content) override
    {
        std::fprintf(stderr, "fieldmon-gateway: %s: %s\n", content.title.c_str(), content.message.c_str());
        return ++last_;
    }
    void dismiss(AlertId, int, bool) override {}

private:
    AlertId last_ = 0;
};

} // namespace fieldmon::gateway
