#pragma once
// The gateway's device side: discovery as the app does it (the same
// ClientFinder, the same presence rules), and one GatewayDevice for each
// registered record that the operator included. A record that leaves the
// registry (the finder's removal of a lost device) is reported down; a
// device that returns comes back as a new record, whose document is read
// again.
//
// A record is followed once it has stood for its address for
// kSteadySeconds: a host that keeps announcing other identities (a
// flooding or hostile device; the registry makes a record of each) gets
// none of them published, where each would otherwise become a device with
// retained topics on the broker.
//
// The registry is looked at on a 0.25 s tick, the finder's own; a removal
// therefore reaches the outputs at most one tick after the finder's.
//
// Thread rule: main thread only.

#include "discovery/ClientFinder.h"
#include "gateway/DeviceSink.h"
#include "platform/MainLoop.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace fieldmon::gateway {

class GatewayDevice;

class DeviceWatch {
public:
    using Included = std::function<bool(const std::string& type, const std::string& serial)>;
    static constexpr double kTickSeconds = ClientFinder::kTickSeconds;
    static constexpr double kSteadySeconds = 2.0;

    // `services` and `sink` are borrowed and outlive this object.
    DeviceWatch(const platform::Services& services, DeviceSink& sink, Included included,
                ClientFinder::Seams seams = {});
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    // Opens the finder's sockets and starts the search.
    void start();
    // Runs what touching element `element` of device `serial` runs.
    bool command(const std::string& serial, std::size_t element, const std::string& value, std::string& why);

    std::size_t followed() const { return devices_.size(); }
    ClientFinder* finder() { return finder_.get(); }

private:
    void tick();

    platform::Services services_;
    DeviceSink& sink_;
    Included included_;
    ClientFinder::Seams seams_;
    std::unique_ptr<ClientFinder> finder_;
    std::map<const Client*, std::unique_ptr<GatewayDevice>> devices_;
    std::map<const Client*, std::weak_ptr<Client>> excluded_;
    // Records not followed yet: since when each has stood for its address.
    struct Candidate {
        std::weak_ptr<Client> record;
        double since = 0;
    };
    std::map<const Client*, Candidate> candidates_;
    platform::MainLoop::TimerId timer_ = 0;
};

} // namespace fieldmon::gateway
