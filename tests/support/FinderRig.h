#pragma once
// A ClientFinder on loopback with fake devices, for integration tests. The
// finder listens on a free port; its "broadcast" goes to 127.0.0.1 on the
// device port, where `search` receives it; each fake device is a socket on
// its own address 127.0.0.N with the same device port, so the finder's 's'
// and 'F' replies reach it. Nothing leaves loopback.
//
// The test thread is the main thread of a ManualLoop: hand-offs from the
// listen thread run only while the test pumps (pumpUntil).

#include "discovery/ClientFinder.h"
#include "support/TestServices.h"
#include "support/UdpPeer.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace fieldmon::test {

class FinderRig {
public:
    // `files` becomes the records' file transport and `taps` the packet tap
    // point of the finder and its records (none by default).
    explicit FinderRig(LocalNetwork network = LocalNetwork::Direct, bool debug = false,
                       platform::FileTransport* files = nullptr, platform::PacketTapPoint* taps = nullptr)
    {
        s.services.files = files;
        s.services.taps = taps;
        // One device port shared by 127.0.0.1 (the search sink) and the fakes.
        for (int attempt = 0; attempt < 20 && !search_; ++attempt) {
            auto sink = std::make_unique<UdpPeer>("127.0.0.1");
            if (sink->bound())
                search_ = std::move(sink);
        }
        ClientFinder::Seams seams;
        seams.broadcast = ipv4("127.0.0.1");
        seams.listenPort = 0;
        seams.devicePort = search_->port();
        seams.fatal = [this] { ++fatalCalls; };
        seams.localNetwork = [this] { return network_.load(); };
        seams.sources.loopbackDevices = true; // the devices sit on 127.0.0.x
        network_ = network;
        finder = std::make_unique<ClientFinder>(s.services, debug, std::move(seams));
    }

    // The finder goes first: its listen thread uses the seams and the loop.
    ~FinderRig() { finder.reset(); }

    TestServices s;
    std::unique_ptr<ClientFinder> finder;
    int fatalCalls = 0;

    UdpPeer& search() { return *search_; }
    std::uint16_t devicePort() const { return search_->port(); }
    std::uint16_t listenPort() const { return finder->listenPort(); }
    void setNetwork(LocalNetwork n) { network_ = n; }

    // The fake device on 127.0.0.`host`, made on first use.
    UdpPeer& device(int host)
    {
        std::string address = "127.0.0." + std::to_string(host);
        for (auto& d : devices_)
            if (d.first == address)
                return *d.second;
        devices_.emplace_back(address, std::make_unique<UdpPeer>(address.c_str(), devicePort()));
        return *devices_.back().second;
    }

    void send(int host, const std::string& bytes) { device(host).sendTo(bytes, listenPort(), "127.0.0.1"); }

    // Runs main-loop hand-offs until `done` holds or `ms` of real time passed.
    template <class Pred>
    bool pumpUntil(Pred done, int ms = 3000)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            s.loop.runPending();
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        s.loop.runPending();
        return done();
    }

    // Pumps for `ms` regardless (to let things that should not happen show up).
    void pumpFor(int ms)
    {
        pumpUntil([] { return false; }, ms);
    }

    // Sends an announcement from 127.0.0.`host` and waits until it has been
    // handled: the device's 's' reply arrives.
    bool announce(int host, const std::string& fields)
    {
        send(host, "m" + fields);
        bool replied = false;
        pumpUntil([&] {
            if (auto d = device(host).receive(0))
                replied = replied || d->bytes == "s";
            return replied;
        });
        return replied;
    }

    std::size_t registered()
    {
        return finder->registryContents().records.size();
    }

    std::vector<std::string> typeKeys()
    {
        std::vector<std::string> keys;
        for (const auto& section : finder->registrySnapshot().sections)
            keys.push_back(section.key);
        return keys;
    }

    // Serial numbers in the list of one type key, in order.
    std::vector<int> section(const std::string& key)
    {
        std::vector<int> serials;
        for (const auto& s : finder->registrySnapshot().sections)
            if (s.key == key)
                for (const auto& c : s.records)
                    if (auto record = c.lock())
                        serials.push_back(record->serialNumber());
        return serials;
    }

    std::shared_ptr<Client> at(const char* address) { return finder->getClientFromIP(ipv4(address)); }

private:
    std::unique_ptr<UdpPeer> search_;
    std::vector<std::pair<std::string, std::unique_ptr<UdpPeer>>> devices_;
    std::atomic<LocalNetwork> network_{LocalNetwork::Direct};
};

} // namespace fieldmon::test
