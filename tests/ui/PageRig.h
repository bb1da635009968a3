#pragma once
// A device's pages under test: a device record on the manual loop whose
// requests go over loopback to a fake device that answers when the test
// lets it (SchedulerFixture), a window with a navigation stack whose root
// stands for the detail screen, and helpers that read a document and open
// its start page in a device session the way Connect does.

#include "app/AppWindow.h"
#include "app/DisplayBar.h"
#include "device/SchedulerFixture.h"
#include "elements/RemoteView.h"
#include "pages/ClientDynamicView.h"
#include "pages/PageBuildContext.h"
#include "session/DeviceSession.h"
#include "ui/UiSupport.h"
#include "uidesc/XMLReader.h"
#include "widgets/NavigationStack.h"

#include <QCoreApplication>
#include <QWindow>

#include <memory>
#include <string>

namespace fieldmon::test {

// One reading of a document without a session: the app's build context and
// a reader that builds through it. What it made lives as long as it does.
struct Reading {
    PageBuildContext pages;
    XMLReader reader{pages};

    explicit Reading(std::shared_ptr<Client> client,
                     const uidesc::BuilderRegistry& builders = PageBuildContext::appBuilders())
        : pages(client, builders)
    {
        reader.setClient(std::move(client));
    }
    const std::string& errors() const { return reader.errors(); }
    std::shared_ptr<DevicePage> initialPage() { return pages.initialPage(); }
    const std::shared_ptr<PageTable>& dynamicPages() const { return pages.dynamicPages(); }
};

struct PageRig : SchedulerFixture {
    AppWindow window;
    DisplayBar displayBar;
    NavigationStack* stack = window.navigationStack();
    Screen* detail = new Screen();
    // The session open() made; it ends when its start page is gone back from.
    std::unique_ptr<DeviceSession> session;

    PageRig()
    {
        detail->setTitle(QStringLiteral("Device"));
        stack->setDelegate(&displayBar);
        stack->setRoot(detail);
        window.show();
    }
    ~PageRig() override
    {
        // Whatever a test left on the stack goes as going back would end it.
        stack->popToRoot(false);
        settle();
    }

    // Reads `doc`; what it made lives as long as the returned reading.
    std::unique_ptr<Reading> read(const std::string& doc)
    {
        auto reading = std::make_unique<Reading>(client);
        quietly([&] { reading->reader.parseXMLFileAtString(doc); });
        return reading;
    }

    // Reads `doc` in a new device session and pushes its start page (without
    // animation unless asked), as Connect does once the file is in. Null
    // when the document has none.
    std::shared_ptr<DevicePage> open(const std::string& doc, std::string* errors = nullptr, bool animated = false)
    {
        session = std::make_unique<DeviceSession>(client);
        DevicePage* page = nullptr;
        quietly([&] { page = session->read(doc); });
        if (errors)
            *errors = session->errors();
        if (!page)
            return nullptr;
        quietly([&] { session->open(*stack, animated); });
        return page->shared_from_this();
    }

    // Runs what the pages left for the main loop's next pass.
    void settle()
    {
        quietly([&] { s.loop.runPending(); });
        QCoreApplication::sendPostedEvents();
    }

    // A click at `at` in `w`'s coordinates, delivered to the window as a
    // finger's would be: whatever lies on top there gets it.
    void tap(QWidget* w, QPoint at, bool twice = false)
    {
        QWindow* handle = window.windowHandle();
        QPoint there = w->mapTo(&window, at);
        if (twice)
            QTest::mouseDClick(handle, Qt::LeftButton, {}, there);
        else
            QTest::mouseClick(handle, Qt::LeftButton, {}, there);
    }

    template <class W>
    std::shared_ptr<W> widgetAt(const DevicePage& page, std::size_t i)
    {
        if (i >= page.uiElements().size())
            return nullptr;
        return std::dynamic_pointer_cast<W>(page.uiElements()[i]);
    }
};

} // namespace fieldmon::test
