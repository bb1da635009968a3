#include "sim/SimDevice.h"

#include "sim/CommandPattern.h"
#include "variables/RequestAnswer.h"
#include "platform/TimeStamp.h"

#include <arpa/inet.h>

#include <algorithm>
#include <functional>

namespace fieldmon::sim {

namespace {

std::string dotted(in_addr a)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

// Replaces every "{count}" in an event text by the running number.
std::string withCount(std::string text, long count)
{
    const std::string key = "{count}";
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
        text.replace(at, key.size(), std::to_string(count));
    return text;
}

} // namespace

SimDevice::SimDevice(DeviceConfig config, SimLog& log, std::uint16_t appPort)
    : config_(std::move(config)), log_(log), appPort_(appPort),
      flood_(static_cast<std::uint32_t>(std::hash<std::string>{}(config_.name))),
      linkDice_(static_cast<std::uint32_t>(config_.serial) + 1u)
{
    std::stable_sort(config_.schedule.begin(), config_.schedule.end(),
                     [](const ScheduledChange& a, const ScheduledChange& b) { return a.at < b.at; });
}

void SimDevice::log(const std::string& text) const { log_.line(config_.name, text); }

void SimDevice::start(const std::vector<DeclaredVariable>& declarations, double now,
                      std::vector<std::string>& problems)
{
    startTime_ = now;
    floodSent_ = now;
    memory_.layout(declarations, config_, problems);

    for (const VariableSpec& spec : config_.variables) {
        const bool isStructMember = spec.name.find_first_of(".[") != std::string::npos;
        if (!isStructMember && !memory_.find(spec.name)) {
            problems.push_back(config_.source + ": variables." + spec.name + ": no such variable in " +
                               config_.uiFile);
            continue;
        }
        for (std::size_t k = 0; k < spec.initial.size(); ++k) {
            std::string path = spec.name;
            if (spec.initial.size() > 1 || spec.length > 1)
                path += "[" + std::to_string(k) + "]";
            std::string why;
            if (!memory_.set(path, spec.initial[k], why))
                problems.push_back(config_.source + ": variables." + spec.name + ": " + why);
        }
        if (spec.behaviour) {
            const auto seed = static_cast<std::uint32_t>(std::hash<std::string>{}(config_.name + spec.name));
            Moving m{spec.name, std::make_unique<Behaviour>(*spec.behaviour, seed), now};
            std::string why;
            if (!memory_.set(spec.name, SimValue{false, m.behaviour->valueAt(0), {}}, why)) {
                problems.push_back(config_.source + ": variables." + spec.name + ": " + why);
                continue;
            }
            m.due = now + m.behaviour->every();
            moving_.push_back(std::move(m));
        }
    }
    for (const PeriodicEvent& e : config_.events)
        periodic_.push_back(Periodic{e, now + (e.first >= 0 ? e.first : e.every), 0});

    char where[128];
    std::snprintf(where, sizeof where, "at %s, serial %d, %zu variables laid out", dotted(config_.address).c_str(),
                  config_.serial, memory_.variables().size());
    log(where);
}

std::string SimDevice::announcement() const
{
    return "m" + config_.platform + ";" + config_.type + ";" + config_.name + ";" + std::to_string(config_.version) +
           ";" + std::to_string(config_.serial) + ";" + (config_.service ? "1" : "0");
}

int SimDevice::received(char kind) const
{
    auto it = received_.find(kind);
    return it == received_.end() ? 0 : it->second;
}

Datagram SimDevice::to(in_addr host, std::string bytes) const { return Datagram{host, appPort_, std::move(bytes)}; }

void SimDevice::rememberHost(in_addr host, double now)
{
    for (Host& h : hosts_)
        if (h.address.s_addr == host.s_addr) {
            h.heard = now;
            return;
        }
    if (hosts_.size() >= kMaxHosts) {
        auto oldest = std::min_element(hosts_.begin(), hosts_.end(),
                                       [](const Host& a, const Host& b) { return a.heard < b.heard; });
        hosts_.erase(oldest);
    }
    hosts_.push_back(Host{host, now});
}

void SimDevice::sendEvent(const std::string& text, bool stamp, double now, std::vector<Datagram>& out)
{
    const std::string line = stamp ? platform::presenceStampNow() + " " + text : text;
    int sent = 0;
    for (const Host& h : hosts_)
        if (now - h.heard <= kHostMemorySeconds) {
            out.push_back(to(h.address, "e" + line));
            ++sent;
        }
    log("event '" + line + "'" + (sent ? "" : " (no host to send it to)"));
}

void SimDevice::receive(std::string_view bytes, const sockaddr_in& from, double now, std::vector<Datagram>& out)
{
    const char kind = bytes.empty() ? '\0' : bytes[0];
    ++received_[kind];
    log("<- " + dotted(from.sin_addr) + ":" + std::to_string(ntohs(from.sin_port)) + " '" +
        SimLog::printable(bytes) + "'");
    if (config_.silent) {
        log("   (silent: no answer)");
        return;
    }
    rememberHost(from.sin_addr, now);

    const bool single = bytes.size() == 1;
    switch (kind) {
    case 'H':
    case 'h':
        if (single) {
            out.push_back(to(from.sin_addr, announcement()));
            return;
        }
        break;
    case 'F':
        if (single) {
            if (config_.answerProbes)
                out.push_back(to(from.sin_addr, "i"));
            else
                log("   (not answering probes)");
            return;
        }
        break;
    case 's':
        if (single)
            return;
        break;
    case 'E':
        if (single) {
            log("   event log screen opened");
            return;
        }
        break;
    case 'c':
        runCommand(commandText(bytes), now, out);
        return;
    case 'v':
    case 'a': {
        if (config_.link.loss > 0 && std::uniform_real_distribution<double>(0, 1)(linkDice_) < config_.link.loss) {
            log("   (link: request lost)");
            return;
        }
        std::string note;
        auto reply = kind == 'v' ? answerAddressRequest(bytes, memory_, note) : answerValueRequest(bytes, memory_, note);
        if (!note.empty())
            log("   request: " + note);
        if (reply && config_.link.delay > 0) {
            // In the order they fall due, also across a change of the delay.
            const double due = now + config_.link.delay;
            auto at = std::upper_bound(delayed_.begin(), delayed_.end(), due,
                                       [](double t, const auto& held) { return t < held.first; });
            delayed_.emplace(at, due, to(from.sin_addr, std::move(*reply)));
        }
        else if (reply)
            out.push_back(to(from.sin_addr, std::move(*reply)));
        else
            log("   request without identifier ignored");
        return;
    }
    default:
        break;
    }
    log("   unknown datagram ignored");
}

void SimDevice::runCommand(std::string_view command, double now, std::vector<Datagram>& out)
{
    if (command == "service 1" || command == "service 0") {
        config_.service = command.back() == '1';
        log(std::string("   service mode ") + (config_.service ? "on" : "off"));
        sendEvent(config_.service ? "EVENTSYS_SVC_MODE_ON" : "EVENTSYS_SVC_MODE_OFF", true, now, out);
        return;
    }
    if (command == "hostreq") {
        sendEvent(config_.hostRequestEvent, true, now, out);
        return;
    }
    for (const CommandSpec& spec : config_.commands) {
        auto args = matchCommand(spec.pattern, command);
        if (!args)
            continue;
        for (const auto& [name, valueText] : spec.sets) {
            // "$1" may name an array element too: "level[$1]".
            const std::string variable = substitute(name, *args);
            const std::string text = substitute(valueText, *args);
            SimValue value{true, 0, text};
            char* end = nullptr;
            const double number = std::strtod(text.c_str(), &end);
            if (!text.empty() && *end == '\0')
                value = SimValue{false, number, {}};
            std::string why;
            if (memory_.set(variable, value, why)) {
                log("   " + variable + " = " + text);
                // A value set by command holds: the variable stops moving.
                std::erase_if(moving_, [&](const Moving& m) { return m.path == variable; });
            } else {
                log("   cannot set " + variable + ": " + why);
            }
        }
        if (!spec.event.empty())
            sendEvent(substitute(spec.event, *args), true, now, out);
        return;
    }
    log("   unknown command '" + std::string(command) + "'");
}

void SimDevice::applyChange(const ScheduledChange& c)
{
    std::string what;
    if (c.address) {
        config_.address = *c.address;
        what += " address " + dotted(*c.address);
    }
    if (c.platform) {
        config_.platform = *c.platform;
        what += " platform " + *c.platform;
    }
    if (c.type) {
        config_.type = *c.type;
        what += " type " + *c.type;
    }
    if (c.name) {
        what += " name " + *c.name;
        config_.name = *c.name;
    }
    if (c.version) {
        config_.version = *c.version;
        what += " version " + std::to_string(*c.version);
    }
    if (c.serial) {
        config_.serial = *c.serial;
        what += " serial " + std::to_string(*c.serial);
    }
    if (c.service) {
        config_.service = *c.service;
        what += std::string(" service ") + (*c.service ? "on" : "off");
    }
    if (c.silent) {
        config_.silent = *c.silent;
        what += std::string(" silent ") + (*c.silent ? "yes" : "no");
    }
    if (c.answerProbes) {
        config_.answerProbes = *c.answerProbes;
        what += std::string(" answerProbes ") + (*c.answerProbes ? "yes" : "no");
    }
    if (c.link) {
        config_.link = *c.link;
        what += " link loss " + std::to_string(c.link->loss) + " delay " + std::to_string(c.link->delay);
    }
    log("   timeline:" + what);
}

double SimDevice::tick(double now, std::vector<Datagram>& out)
{
    double next = now + 3600;
    for (Moving& m : moving_) {
        if (m.due <= now) {
            std::string why;
            memory_.set(m.path, SimValue{false, m.behaviour->valueAt(now - startTime_), {}}, why);
            m.due += m.behaviour->every();
            if (m.due <= now) // fell behind: skip what was missed
                m.due = now + m.behaviour->every();
        }
        next = std::min(next, m.due);
    }
    for (Periodic& p : periodic_) {
        if (p.due <= now) {
            ++p.count;
            if (!config_.silent)
                sendEvent(withCount(p.spec.text, p.count), p.spec.stamp, now, out);
            p.due += p.spec.every;
            if (p.due <= now)
                p.due = now + p.spec.every;
        }
        next = std::min(next, p.due);
    }
    // Replies the link held back; a device gone silent meanwhile sends none.
    while (!delayed_.empty() && delayed_.front().first <= now) {
        if (!config_.silent)
            out.push_back(std::move(delayed_.front().second));
        delayed_.pop_front();
    }
    if (!delayed_.empty())
        next = std::min(next, delayed_.front().first);
    if (config_.flood > 0) {
        sendFlood(now, out);
        next = std::min(next, now + kFloodBatchSeconds);
    }
    while (nextChange_ < config_.schedule.size() && startTime_ + config_.schedule[nextChange_].at <= now)
        applyChange(config_.schedule[nextChange_++]);
    if (nextChange_ < config_.schedule.size())
        next = std::min(next, startTime_ + config_.schedule[nextChange_].at);
    return next;
}

// The datagrams the flood rate owes since the last batch, to every host
// heard from lately; none while the device is silent.
void SimDevice::sendFlood(double now, std::vector<Datagram>& out)
{
    const double owed = (now - floodSent_) * config_.flood;
    if (owed < 1)
        return;
    floodSent_ = now;
    if (config_.silent)
        return;
    const int count = std::min(static_cast<int>(owed), static_cast<int>(config_.flood)); // at most a second's worth
    for (const Host& h : hosts_)
        if (now - h.heard <= kHostMemorySeconds)
            for (int i = 0; i < count; ++i)
                out.push_back(to(h.address, flood_.next()));
}

} // namespace fieldmon::sim
