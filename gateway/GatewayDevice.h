#pragma once
// One device the gateway follows, from the moment the finder registers its
// record until the record is removed: fetches its ui.xml, reads it through
// a HeadlessBuildContext and tells the DeviceSink what the device shows.
//
// The description goes out (deviceUp) once every label has told its first
// value, or kSettleSeconds after the reading at the latest: whether a
// label is numeric, and its unit, are read from what it shows. A document
// that cannot be fetched or read is described with no elements and the
// reason in `documentError`. Values go out as they change, events as they
// come. Destroying it ends the bindings and the fetch; the owner says
// deviceDown.
//
// Thread rule: main thread only.

#include "device/FileTransfers.h"
#include "gateway/DeviceSink.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"

#include <memory>
#include <string>

namespace fieldmon {
class Client;
}

namespace fieldmon::gateway {

class HeadlessBuildContext;

class GatewayDevice {
public:
    static constexpr double kSettleSeconds = 3.0;
    static constexpr double kLinkSeconds = 1.0;

    // `sink` is borrowed and outlives this object.
    GatewayDevice(std::shared_ptr<Client> record, DeviceSink& sink);
    ~GatewayDevice();
    GatewayDevice(const GatewayDevice&) = delete;
    GatewayDevice& operator=(const GatewayDevice&) = delete;

    // Starts the fetch of the document.
    void start();
    const std::string& serial() const { return serial_; }
    const std::shared_ptr<Client>& record() const { return record_; }
    bool announced() const { return announced_; }

    // Describes the device again when the record's name, type, platform,
    // version or address changed since it was described (a device may
    // rename itself in a later announcement).
    void checkIdentity();

    // Runs what touching the element runs; false with `why` when nothing ran.
    bool command(std::size_t element, const std::string& value, std::string& why);

private:
    void read(const platform::Bytes* body);
    void valueTold(const ElementValue& value);
    void announceWhenSettled();
    void announce();
    void describe(ExportedDevice device);
    // Tells the sink the record's link figures, then again every
    // kLinkSeconds while the device is followed.
    void reportLink();
    ExportedDevice identity() const;

    std::shared_ptr<Client> record_;
    DeviceSink& sink_;
    std::string serial_;
    FileTransfers::Handle fetch_;
    std::unique_ptr<HeadlessBuildContext> context_;
    platform::Subscription events_;
    platform::MainLoop::TimerId settle_ = 0;
    platform::MainLoop::TimerId linkTimer_ = 0;
    bool announced_ = false;
    bool reading_ = false;
    ExportedDevice described_; // the last description sent
};

} // namespace fieldmon::gateway
