#pragma once
// DeviceSession: one connected device on screen, from Connect until the user
// leaves the device's start page. It owns the fetch of the device's "ui.xml",
// the reading of it, the page table and every page, widget and binding the
// reading made, and it holds a shown lease on the device's record (see
// ShownLease) while it lives.
//
// Life: made by Connect; fetchDescription() starts the transfer (dropping the
// session cancels it); read() reads a text once and answers the start page;
// open() pushes that page on a navigation stack and watches the stack. When
// the start page leaves the stack by going back (a pop, or a pop to a screen
// below it) the session ends: the device drops every binding
// (unscheduleAll), the lease goes and the pages are let go on the main
// loop's next pass, since whoever popped may still be returning through a
// page. A page pushed over the start page ends nothing. Dropping the session
// ends it the same way; end() is idempotent, and the owner may drop the
// session from inside onEnded.
//
// Ownership: the page table is the session's alone; pages reach one another
// through a weak reference to it (DevicePage::dynamicPages()), so nothing
// owns in a circle. The navigation stack only shows the pages.
//
// Hook points for later features (history feeding, recording, link health):
// `hooks.opened` runs once the start page is on the stack, `hooks.ending`
// as the session ends, before the bindings go; both get the session, whose
// record(), pages() and startPage() are what such a feature attaches to.
//
// Thread rule: main thread only.

#include "device/FileTransfers.h"
#include "device/ShownLease.h"
#include "pages/DevicePage.h"

#include <QMetaObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>

namespace fieldmon {

class Client;
class NavigationStack;
class PageBuildContext;
class Screen;

namespace uidesc {
class BuilderRegistry;
}

class DeviceSession {
public:
    // `builders` outlive the session (tests stand in for widgets with their
    // own); null means the app's.
    explicit DeviceSession(std::shared_ptr<Client> record, const uidesc::BuilderRegistry* builders = nullptr);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Fetches the device's UI description; `done` gets its bytes, or null
    // when the transfer failed. A fetch that cannot start reports inside
    // the call.
    void fetchDescription(FileTransfers::Completion done);
    bool fetching() const { return fetch_.pending(); }

    // Reads `text` (once per session), shows the reader's errors and
    // answers the start page; null when the document names none, and then
    // what the reading made is let go at once.
    DevicePage* read(const std::string& text);
    bool hasRead() const { return read_; }
    // The reader's error list of the last read().
    const std::string& errors() const { return errors_; }

    // Pushes the start page on `stack` and ends the session when it leaves
    // the stack going back. Nothing without a start page.
    void open(NavigationStack& stack, bool animated);
    // The start page is on a stack and the session has not ended.
    bool isOpen() const { return stack_ && !ended_; }
    bool ended() const { return ended_; }
    // Ends the session (see above); the last thing it does is call onEnded.
    void end();
    std::function<void()> onEnded;

    struct Hooks {
        std::function<void(DeviceSession&)> opened;
        std::function<void(DeviceSession&)> ending;
    };
    Hooks hooks;

    const std::shared_ptr<Client>& record() const { return lease_.record(); }
    std::shared_ptr<PageTable> pages() const;
    DevicePage* startPage() const { return startPage_.get(); }
    // What the reading made (its widgets and what they show); null before read().
    PageBuildContext* madeBy() const { return made_.get(); }

private:
    void screenPopped(Screen* screen);

    ShownLease lease_;
    const uidesc::BuilderRegistry& builders_;
    FileTransfers::Handle fetch_;
    // What the reading made: the page table, the pages and their widgets.
    std::shared_ptr<PageBuildContext> made_;
    std::shared_ptr<DevicePage> startPage_;
    std::string errors_;
    QPointer<NavigationStack> stack_;
    QMetaObject::Connection popped_;
    bool read_ = false;
    bool ended_ = false;
};

} // namespace fieldmon
