// Fuzzes the UI description reader: arbitrary bytes are read as a device's
// ui.xml for a real device record (offscreen Qt), and what the reader built
// is driven as a page's life would drive it: the start page appears (its
// views are made, its colour read, its title and load command bound), the
// bindings made so far run a few timer passes, and the page is left, which
// ends the device's pages. Everything must then be gone again, so that
// LeakSanitizer sees any page, widget, binding or expression left behind.
//
// Inputs start from a small corpus-free prefix choice: the first byte picks
// a frame (none, a page, a page inside a document with a start), so that the
// fuzzer reaches the widget builders without first finding the document
// structure by itself.

#include "device/Client.h"
#include "pages/DevicePage.h"
#include "support/ManualLoop.h"
#include "platform/NotificationCenter.h"
#include "support/RecordingAlerts.h"
#include "pages/PageBuildContext.h"
#include "uidesc/XMLReader.h"

#include <QApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace fieldmon;

namespace {

QApplication* application = nullptr;

std::string framed(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return {};
    std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        return body;
    case 1:
        return "<d><start initial='p'/><page name='p'>" + body + "</page></d>";
    default:
        return "<d><variables>(WORD) w = 1; (int) i = 2; (float) f = 3;</variables><start initial='p'/>"
               "<page name='p' title='printf(\"%d\", w)' onPageLoad='\"load\"' color='(0.5, f, 1)'>" +
               body + "</page><page name='q'/></d>";
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The reader's diagnostic lines would cost more than the reading.
    if (!std::freopen("/dev/null", "w", stdout))
        return 0;
    application = new QApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    platform::ManualLoop loop;
    platform::NotificationCenter notifications;
    platform::RecordingAlerts alerts;
    platform::Services services{loop, notifications, alerts};
    auto client = Client::create(false, services);
    {
        PageBuildContext pages(client);
        XMLReader reader(pages);
        reader.setClient(client);
        reader.parseXMLFileAtString(framed(data, size));
        std::shared_ptr<DevicePage> page = pages.initialPage();
        reader.showErrors();
        if (page) {
            page->viewWillAppear(false);
            page->viewDidAppear(false);
            for (int pass = 0; pass < 3; ++pass)
                loop.advance(0.5);
            page->viewWillDisappear(false);
            page->viewDidDisappear(false);
        }
    }
    loop.runPending();
    client->scheduler().unscheduleAll();
    client->variables().requests().clear();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
