#include "gateway/DeviceWatch.h"

#include "device/Client.h"
#include "gateway/GatewayDevice.h"

#include <set>

namespace fieldmon::gateway {

DeviceWatch::DeviceWatch(const platform::Services& services, DeviceSink& sink, Included included,
                         ClientFinder::Seams seams)
    : services_(services), sink_(sink), included_(std::move(included)), seams_(std::move(seams))
{
}

DeviceWatch::~DeviceWatch()
{
    if (timer_)
        services_.loop.cancel(timer_);
    // The devices' bindings and fetches end while their records still have
    // the finder's services.
    devices_.clear();
    finder_.reset();
}

void DeviceWatch::start()
{
    finder_ = std::make_unique<ClientFinder>(services_, false, seams_);
    finder_->initiateSearch();
    timer_ = services_.loop.after(kTickSeconds, [this] { tick(); });
}

void DeviceWatch::tick()
{
    timer_ = services_.loop.after(kTickSeconds, [this] { tick(); });
    RegistrySnapshot snapshot = finder_->registrySnapshot();
    std::map<const Client*, std::shared_ptr<Client>> present;
    for (const RegistrySnapshot::Section& section : snapshot.sections)
        for (const std::weak_ptr<Client>& weak : section.records)
            if (std::shared_ptr<Client> record = weak.lock())
                present.emplace(record.get(), std::move(record));

    // Losses first: a device that came back as a new record in the same
    // tick goes down and up again, in that order.
    for (auto it = devices_.begin(); it != devices_.end();) {
        if (present.count(it->first)) {
            ++it;
            continue;
        }
        std::string serial = it->second->serial();
        bool announced = it->second->announced();
        it = devices_.erase(it);
        if (announced)
            sink_.deviceDown(serial);
    }
    std::erase_if(excluded_,
                  [&](const auto& entry) { return entry.second.expired() || !present.count(entry.first); });
    std::erase_if(candidates_,
                  [&](const auto& entry) { return entry.second.record.expired() || !present.count(entry.first); });

    for (auto& [key, record] : present) {
        if (auto followed = devices_.find(key); followed != devices_.end()) {
            followed->second->checkIdentity();
            continue;
        }
        if (excluded_.count(key))
            continue;
        if (!included_(record->type(), std::to_string(record->serialNumber()))) {
            excluded_.emplace(key, record);
            continue;
        }
        const double now = services_.loop.now();
        auto [candidate, isNew] = candidates_.try_emplace(key, Candidate{record, now});
        if (finder_->getClientFromIP(record->address()) != record) {
            candidate->second.since = now;
            continue;
        }
        if (now - candidate->second.since < kSteadySeconds)
            continue;
        candidates_.erase(candidate);
        auto device = std::make_unique<GatewayDevice>(record, sink_);
        GatewayDevice& started = *device;
        devices_.emplace(key, std::move(device));
        started.start();
    }
}

bool DeviceWatch::command(const std::string& serial, std::size_t element, const std::string& value, std::string& why)
{
    for (auto& [key, device] : devices_)
        if (device->serial() == serial)
            return device->command(element, value, why);
    why = "the device is not present";
    return false;
}

} // namespace fieldmon::gateway
