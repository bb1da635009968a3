#pragma once
// A device's pages under test: a device record on the manual loop whose
// requests go over loopback to a fake device that answers when the test
// lets it (SchedulerFixture), a window with a navigation stack whose root
// stands for the detail screen, and helpers that read a document and open
// its start page the way Connect does.

#include "app/AppWindow.h"
#include "app/DisplayBar.h"
#include "device/SchedulerFixture.h"
#include "pages/ClientDynamicView.h"
#include "pages/RemoteView.h"
#include "ui/UiSupport.h"
#include "uidesc/XMLReader.h"
#include "widgets/NavigationStack.h"

#include <QCoreApplication>
#include <QWindow>

#include <memory>
#include <string>

namespace fieldmon::test {

struct PageRig : SchedulerFixture {
    AppWindow window;
    DisplayBar displayBar;
    NavigationStack* stack = window.navigationStack();
    Screen* detail = new Screen();

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

    // Reads `doc` with a reader that lives as long as the returned one.
    std::unique_ptr<XMLReader> read(const std::string& doc)
    {
        auto reader = std::make_unique<XMLReader>();
        reader->setClient(client);
        quietly([&] { reader->parseXMLFileAtString(doc); });
        return reader;
    }

    // Reads `doc` and pushes its start page without animation, as Connect
    // does once the reader is done. Null when the document has none.
    std::shared_ptr<DevicePage> open(const std::string& doc, std::string* errors = nullptr)
    {
        auto reader = read(doc);
        auto page = reader->initialPage();
        if (errors)
            *errors = reader->errors();
        if (page)
            quietly([&] { stack->push(page.get(), false); });
        return page;
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
