#include "session/DeviceSession.h"

#include "device/Client.h"
#include "pages/PageBuildContext.h"
#include "platform/MainLoop.h"
#include "uidesc/XMLReader.h"
#include "widgets/NavigationStack.h"

namespace fieldmon {

namespace {
const char* const kDescriptionFile = "ui.xml";
}

DeviceSession::DeviceSession(std::shared_ptr<Client> record, const uidesc::BuilderRegistry* builders)
    : lease_(std::move(record)), builders_(builders ? *builders : PageBuildContext::appBuilders())
{
}

DeviceSession::~DeviceSession()
{
    onEnded = nullptr; // nobody to tell: the owner is dropping us
    end();
}

void DeviceSession::fetchDescription(FileTransfers::Completion done)
{
    if (!lease_ || ended_)
        return;
    // The handle is assigned after the call: a fetch that cannot start
    // reports inside it, and then nothing is pending any more.
    FileTransfers::Handle fetch = lease_->files().request(kDescriptionFile, std::move(done));
    fetch_ = std::move(fetch);
}

DevicePage* DeviceSession::read(const std::string& text)
{
    if (read_ || ended_ || !lease_)
        return nullptr;
    read_ = true;
    made_ = std::make_shared<PageBuildContext>(lease_.record(), builders_);
    XMLReader reader(*made_);
    reader.setClient(lease_.record());
    reader.parseXMLFileAtString(text);
    startPage_ = made_->initialPage();
    errors_ = reader.errors();
    reader.showErrors();
    // Without a start page nothing will ever show what was made.
    if (!startPage_)
        made_.reset();
    return startPage_.get();
}

void DeviceSession::open(NavigationStack& stack, bool animated)
{
    if (!startPage_ || ended_ || stack_)
        return;
    stack_ = &stack;
    popped_ = QObject::connect(&stack, &NavigationStack::screenPopped, [this](Screen* s) { screenPopped(s); });
    stack.push(startPage_.get(), animated);
    if (hooks.opened)
        hooks.opened(*this);
}

void DeviceSession::screenPopped(Screen* screen)
{
    if (screen == startPage_.get())
        end();
}

std::shared_ptr<PageTable> DeviceSession::pages() const
{
    return made_ ? made_->dynamicPages() : nullptr;
}

void DeviceSession::end()
{
    if (ended_)
        return;
    ended_ = true;
    if (hooks.ending)
        hooks.ending(*this);
    QObject::disconnect(popped_);
    fetch_.reset();
    std::shared_ptr<Client> record = lease_.record();
    if (made_)
        made_->endBindings();
    // The pages go on the loop's next pass: this may run inside a page's
    // own call (a button that went back, the stack's pop).
    if (record && (made_ || startPage_))
        record->loop().post([made = std::move(made_), page = std::move(startPage_)] {});
    made_.reset();
    startPage_.reset();
    lease_.reset();
    // Last: the owner may drop the session here.
    if (auto ended = std::move(onEnded))
        ended();
}

} // namespace fieldmon
