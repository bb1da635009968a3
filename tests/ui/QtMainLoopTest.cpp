// The MainLoop contract against the Qt main loop.

#include "platform/qt/QtMainLoop.h"
#include "support/MainLoopContract.h"
#include "ui/UiSupport.h"

#include <gtest/gtest.h>

namespace {

struct QtDriver {
    static constexpr const char* kName = "QtMainLoop";
    // Its tasks and timers run only while the test waits on the Qt event
    // loop, so every loop is idle until then.
    std::unique_ptr<fieldmon::platform::MainLoop> make(bool) { return std::make_unique<fieldmon::platform::QtMainLoop>(); }
    bool runUntil(fieldmon::platform::MainLoop&, const std::function<bool()>& done, double seconds)
    {
        return fieldmon::test::waitFor(done, static_cast<int>(seconds * 1000));
    }
    void onMain(fieldmon::platform::MainLoop&, const std::function<void()>& fn) { fn(); }
    void drain(fieldmon::platform::MainLoop&) { QTest::qWait(20); }
};

} // namespace

namespace fieldmon::test {
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, MainLoopContract, QtDriver, LoopDriverNames);
} // namespace fieldmon::test
