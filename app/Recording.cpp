#include "app/Recording.h"

#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "platform/Alerts.h"
#include "platform/MainLoop.h"
#include "platform/PacketTapPoint.h"

#include <arpa/inet.h>

#include <ctime>

namespace fieldmon {

Recording::Recording(Parts parts) : parts_(parts) {}

Recording::~Recording()
{
    changed = nullptr;
    end();
}

std::string Recording::fileNameFor(const std::string& folder)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    // Short enough to stand on one line of an alert, which breaks lines only
    // between words.
    std::strftime(name, sizeof name, "fm-%Y%m%d-%H%M%S.pcapng", &local);
    return folder.empty() ? std::string(name) : folder + "/" + name;
}

bool Recording::start(const std::string& path, std::uint64_t sizeCap)
{
    if (recorder_)
        return false;
    capture::Recorder::Options options;
    options.path = path;
    options.sizeCap = sizeCap;
    path_ = path;
    sizeCap_ = sizeCap;
    // The handler runs on the main thread and never after the recorder is
    // destroyed; a recorder that stops by itself is ended from the loop's
    // next pass, not from inside its own handler.
    recorder_ = std::make_unique<capture::Recorder>(
        options, parts_.storage(), parts_.loop,
        [this](capture::Recorder::StopReason reason, const std::string& detail) { stopped(reason, detail); });
    tap_ = std::make_unique<capture::RecorderTap>(*recorder_);
    nameKnownDevices();
    parts_.taps.attach(tap_.get());
    if (changed)
        changed(true);
    return true;
}

void Recording::nameKnownDevices()
{
    if (!finder_)
        return;
    for (const RegistrySnapshot::Section& section : finder_->registrySnapshot().sections)
        for (const std::weak_ptr<Client>& weak : section.records)
            if (std::shared_ptr<Client> client = weak.lock()) {
                // As the recorder names a device from its announcement.
                const std::string name = client->name() + " (" + std::to_string(client->serialNumber()) + "), " +
                                         client->platform() + " " + client->type() + " version " +
                                         std::to_string(client->version());
                recorder_->nameDevice(ntohl(client->address().s_addr), name);
            }
}

void Recording::end()
{
    if (!recorder_)
        return;
    parts_.taps.detach();
    tap_.reset();
    recorder_.reset(); // stops: what is queued is still written
    if (changed)
        changed(false);
}

void Recording::stop()
{
    if (!recorder_)
        return;
    const capture::Recorder::Counts counts = recorder_->counts();
    end();
    std::string message = "The visit was recorded" + where();
    if (counts.dropped > 0)
        message += " " + std::to_string(counts.dropped) + " packets were left out: the disk could not keep up.";
    parts_.alerts.show({"Recording saved", message, {"OK"}, {}});
}

std::string Recording::where() const
{
    // The folder and the file each on a line of their own: an alert breaks
    // lines only between words, and a whole path is one long word.
    const std::size_t slash = path_.rfind('/');
    if (slash == std::string::npos)
        return " to\n" + path_ + ".";
    return " in\n" + path_.substr(0, slash + 1) + "\nas\n" + path_.substr(slash + 1) + ".";
}

void Recording::stopped(capture::Recorder::StopReason reason, const std::string& detail)
{
    // Runs on the main thread inside the recorder's own handler, which must
    // not destroy the recorder it runs in: the tap is detached now, and the
    // recorder goes on the loop's next pass. (A recorder ended before this
    // ran never calls it.)
    parts_.taps.detach();
    std::shared_ptr<capture::RecorderTap> tap = std::move(tap_);
    std::shared_ptr<capture::Recorder> recorder = std::move(recorder_);
    parts_.loop.post([tap, recorder] {});
    if (changed)
        changed(false);
    switch (reason) {
    case capture::Recorder::StopReason::SizeCap: {
        const std::string cap = sizeCap_ >= (std::uint64_t{1} << 20)
                                    ? std::to_string(sizeCap_ >> 20) + " MiB"
                                    : std::to_string(sizeCap_) + " bytes";
        parts_.alerts.show({"Recording stopped", "The recording reached its limit of " + cap + ". It was saved" + where(),
                            {"OK"}, {}});
        return;
    }
    case capture::Recorder::StopReason::WriteFailed:
        // The detail names the file and what the system said.
        parts_.alerts.show({"Recording stopped",
                            "The recording could not be written (" + detail +
                                "). Whatever was written before stays readable.",
                            {"OK"}, {}});
        return;
    }
}

} // namespace fieldmon
