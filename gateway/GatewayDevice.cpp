#include "gateway/GatewayDevice.h"

#include "device/Client.h"
#include "gateway/HeadlessBuildContext.h"
#include "uidesc/XMLReader.h"

#include <arpa/inet.h>

namespace fieldmon::gateway {

namespace {
const char* const kDescriptionFile = "ui.xml";
}

GatewayDevice::GatewayDevice(std::shared_ptr<Client> record, DeviceSink& sink)
    : record_(std::move(record)), sink_(sink), serial_(std::to_string(record_->serialNumber()))
{
}

GatewayDevice::~GatewayDevice()
{
    if (settle_)
        record_->loop().cancel(settle_);
    if (linkTimer_)
        record_->loop().cancel(linkTimer_);
    events_.reset();
    fetch_.reset();
    if (context_)
        context_->endBindings();
}

void GatewayDevice::start()
{
    events_ = record_->notifications().subscribe(record_->eventNotificationIDString(),
                                                 [this](const platform::Notification& n) {
                                                     if (announced_ && n.text())
                                                         sink_.event(serial_, *n.text());
                                                 });
    // The handle is assigned after the call: a fetch that cannot start
    // reports inside it.
    FileTransfers::Handle fetch =
        record_->files().request(kDescriptionFile, [this](const platform::Bytes* body) { read(body); });
    fetch_ = std::move(fetch);
    reportLink();
}

void GatewayDevice::reportLink()
{
    linkTimer_ = record_->loop().after(kLinkSeconds, [this] { reportLink(); });
    if (!announced_)
        return;
    const LinkHealth::Figures f = record_->linkHealth().figures(record_->loop().now());
    LinkFigures figures;
    figures.rttP50 = f.rttMedian;
    figures.rttP90 = f.rttP90;
    figures.rttP99 = f.rttP99;
    figures.rttSum = f.rttSumTotal;
    figures.rttCount = f.repliesTotal;
    figures.lossRatio = f.loss;
    figures.requests = f.requestsSentTotal;
    figures.replies = f.repliesTotal;
    sink_.linkFigures(serial_, figures);
}

ExportedDevice GatewayDevice::identity() const
{
    ExportedDevice device;
    device.serial = serial_;
    device.name = record_->name();
    device.type = record_->type();
    device.platform = record_->platform();
    device.version = std::to_string(record_->version());
    char address[INET_ADDRSTRLEN] = {};
    in_addr at = record_->address();
    inet_ntop(AF_INET, &at, address, sizeof address);
    device.address = address;
    return device;
}

void GatewayDevice::read(const platform::Bytes* body)
{
    if (!body) {
        ExportedDevice device = identity();
        device.documentError = "ui.xml could not be fetched from the device";
        describe(std::move(device));
        return;
    }
    context_ = std::make_unique<HeadlessBuildContext>(record_, [this](const ElementValue& v) { valueTold(v); });
    XMLReader reader(*context_);
    reader.setClient(record_);
    std::string parseError;
    reading_ = true;
    const bool whole = reader.parseXMLFileAtString(
        std::string_view(reinterpret_cast<const char*>(body->data()), body->size()), &parseError);
    reading_ = false;
    if (!whole) {
        // Nothing of a broken document is exported: its elements may be
        // cut anywhere, and a half description would look like the device.
        context_->endBindings();
        ExportedDevice device = identity();
        device.documentError = "ui.xml could not be read: " + (parseError.empty() ? reader.errors() : parseError);
        describe(std::move(device));
        return;
    }
    if (!reader.errors().empty())
        std::fprintf(stderr, "fieldmon-gateway: device %s: ui.xml has mistakes:\n%s", serial_.c_str(),
                     reader.errors().c_str());
    settle_ = record_->loop().after(kSettleSeconds, [this] {
        settle_ = 0;
        announce();
    });
    announceWhenSettled();
}

void GatewayDevice::valueTold(const ElementValue& value)
{
    if (announced_) {
        sink_.valuesChanged(serial_, std::span<const ElementValue>(&value, 1));
        return;
    }
    announceWhenSettled();
}

void GatewayDevice::announceWhenSettled()
{
    // As soon as every label has shown something; never halfway through
    // the reading, when later elements are still to come.
    if (reading_)
        return;
    const auto& elements = context_->elements();
    for (std::size_t i = 0; i < elements.size(); ++i)
        if (elements[i].kind == ExportKind::Label && !context_->value(i))
            return;
    announce();
}

void GatewayDevice::announce()
{
    if (announced_ || !context_)
        return;
    if (settle_) {
        record_->loop().cancel(settle_);
        settle_ = 0;
    }
    context_->settleLabelKinds();
    ExportedDevice device = identity();
    device.elements = context_->elements();
    describe(std::move(device));
}

void GatewayDevice::describe(ExportedDevice device)
{
    announced_ = true;
    described_ = std::move(device);
    sink_.deviceUp(described_);
    // A new description starts with no values on the outputs' side.
    std::vector<ElementValue> values;
    for (std::size_t i = 0; context_ && i < described_.elements.size(); ++i)
        if (const auto& v = context_->value(i))
            values.push_back(*v);
    if (!values.empty())
        sink_.valuesChanged(serial_, values);
}

void GatewayDevice::checkIdentity()
{
    if (!announced_)
        return;
    ExportedDevice now = identity();
    if (now.name == described_.name && now.type == described_.type && now.platform == described_.platform &&
        now.version == described_.version && now.address == described_.address)
        return;
    now.documentError = described_.documentError;
    now.elements = described_.elements;
    describe(std::move(now));
}

bool GatewayDevice::command(std::size_t element, const std::string& value, std::string& why)
{
    if (!context_ || !announced_) {
        why = "the device's document is not read";
        return false;
    }
    return context_->command(element, value, why);
}

} // namespace fieldmon::gateway
