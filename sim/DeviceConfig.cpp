#include "sim/DeviceConfig.h"

#include <arpa/inet.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fieldmon::sim {

using nlohmann::json;

namespace {

class Reader {
public:
    Reader(std::vector<std::string>& errors, std::string source) : errors_(errors), source_(std::move(source)) { }

    void error(const std::string& where, const std::string& what)
    {
        errors_.push_back(source_ + ": " + where + ": " + what);
        failed_ = true;
    }
    bool failed() const { return failed_; }

    template <class T>
    void number(const json& obj, const char* key, T& out, const std::string& where)
    {
        auto it = obj.find(key);
        if (it == obj.end())
            return;
        if (!it->is_number()) {
            error(where + "." + key, "expected a number");
            return;
        }
        out = it->get<T>();
    }

    void text(const json& obj, const char* key, std::string& out, const std::string& where)
    {
        auto it = obj.find(key);
        if (it == obj.end())
            return;
        if (!it->is_string()) {
            error(where + "." + key, "expected a text");
            return;
        }
        out = it->get<std::string>();
    }

    void flag(const json& obj, const char* key, bool& out, const std::string& where)
    {
        auto it = obj.find(key);
        if (it == obj.end())
            return;
        if (it->is_boolean())
            out = it->get<bool>();
        else if (it->is_number_integer())
            out = it->get<int>() != 0;
        else
            error(where + "." + key, "expected true or false");
    }

    std::optional<in_addr> address(const json& value, const std::string& where)
    {
        in_addr a{};
        if (!value.is_string() || inet_pton(AF_INET, value.get<std::string>().c_str(), &a) != 1) {
            error(where, "expected a dotted IPv4 address such as \"10.77.0.10\"");
            return std::nullopt;
        }
        return a;
    }

    void unknownKeys(const json& obj, std::initializer_list<const char*> known, const std::string& where)
    {
        for (auto it = obj.begin(); it != obj.end(); ++it) {
            bool ok = false;
            for (const char* k : known)
                ok = ok || it.key() == k;
            if (!ok)
                error(where, "unknown field \"" + it.key() + "\"");
        }
    }

private:
    std::vector<std::string>& errors_;
    std::string source_;
    bool failed_ = false;
};

std::optional<SimValue> toValue(const json& v)
{
    if (v.is_number())
        return SimValue{false, v.get<double>(), {}};
    if (v.is_boolean())
        return SimValue{false, v.get<bool>() ? 1.0 : 0.0, {}};
    if (v.is_string())
        return SimValue{true, 0, v.get<std::string>()};
    return std::nullopt;
}

std::optional<BehaviourSpec> readBehaviour(Reader& r, const json& obj, const std::string& where)
{
    BehaviourSpec b;
    std::string kind;
    r.text(obj, "behaviour", kind, where);
    if (kind == "constant")
        b.kind = BehaviourSpec::Kind::Constant;
    else if (kind == "ramp")
        b.kind = BehaviourSpec::Kind::Ramp;
    else if (kind == "sine")
        b.kind = BehaviourSpec::Kind::Sine;
    else if (kind == "square")
        b.kind = BehaviourSpec::Kind::Square;
    else if (kind == "random")
        b.kind = BehaviourSpec::Kind::RandomWalk;
    else {
        r.error(where + ".behaviour", "expected constant, ramp, sine, square or random");
        return std::nullopt;
    }
    r.number(obj, "value", b.value, where);
    r.number(obj, "from", b.low, where);
    r.number(obj, "to", b.high, where);
    r.number(obj, "min", b.low, where);
    r.number(obj, "max", b.high, where);
    r.number(obj, "low", b.low, where);
    r.number(obj, "high", b.high, where);
    r.number(obj, "period", b.period, where);
    r.number(obj, "phase", b.phase, where);
    r.number(obj, "duty", b.duty, where);
    r.number(obj, "step", b.step, where);
    b.start = b.low;
    r.number(obj, "start", b.start, where);
    r.number(obj, "every", b.every, where);
    if (b.period <= 0) {
        r.error(where + ".period", "must be above 0");
        b.period = 1;
    }
    if (b.every < 0.01) {
        r.error(where + ".every", "must be at least 0.01 s");
        b.every = 0.01;
    }
    return b;
}

std::optional<LinkSpec> readLink(Reader& r, const json& l, const std::string& where, LinkSpec link)
{
    if (!l.is_object()) {
        r.error(where, "expected an object");
        return std::nullopt;
    }
    r.unknownKeys(l, {"loss", "delay"}, where);
    r.number(l, "loss", link.loss, where);
    r.number(l, "delay", link.delay, where);
    if (!(link.loss >= 0 && link.loss <= 1))
        r.error(where + ".loss", "must be from 0 to 1");
    if (!(link.delay >= 0 && link.delay <= 60))
        r.error(where + ".delay", "must be 0 to 60 seconds");
    return link;
}

void readVariables(Reader& r, const json& vars, DeviceConfig& c)
{
    if (!vars.is_object()) {
        r.error("variables", "expected an object of variable name to value or behaviour");
        return;
    }
    for (auto it = vars.begin(); it != vars.end(); ++it) {
        const std::string where = "variables." + it.key();
        VariableSpec spec;
        spec.name = it.key();
        const json& v = it.value();
        if (auto single = toValue(v)) {
            spec.initial.push_back(*single);
        } else if (v.is_array()) {
            for (const json& e : v) {
                auto ev = toValue(e);
                if (!ev) {
                    r.error(where, "array elements must be numbers or texts");
                    break;
                }
                spec.initial.push_back(*ev);
            }
            spec.length = static_cast<int>(std::max<std::size_t>(1, spec.initial.size()));
        } else if (v.is_object()) {
            r.unknownKeys(v, {"behaviour", "value", "from", "to", "min", "max", "low", "high", "period", "phase",
                              "duty", "step", "start", "every", "length", "address", "initial"},
                          where);
            if (v.contains("behaviour"))
                spec.behaviour = readBehaviour(r, v, where);
            else if (v.contains("value")) {
                if (auto single = toValue(v["value"]))
                    spec.initial.push_back(*single);
            }
            if (auto init = v.find("initial"); init != v.end()) {
                const json arr = init->is_array() ? *init : json::array({*init});
                for (const json& e : arr)
                    if (auto ev = toValue(e))
                        spec.initial.push_back(*ev);
                spec.length = static_cast<int>(std::max<std::size_t>(1, spec.initial.size()));
            }
            r.number(v, "length", spec.length, where);
            if (spec.length < 1 || spec.length > 4096) {
                r.error(where + ".length", "must be 1 to 4096");
                spec.length = 1;
            }
            if (v.contains("address")) {
                std::int64_t a = -1;
                r.number(v, "address", a, where);
                if (a < 0 || a > 0xFFFF)
                    r.error(where + ".address", "must be 0 to 65535");
                else
                    spec.address = static_cast<std::uint32_t>(a);
            }
        } else {
            r.error(where, "expected a number, a text, an array or a behaviour object");
            continue;
        }
        c.variables.push_back(std::move(spec));
    }
}

void readCommands(Reader& r, const json& cmds, DeviceConfig& c)
{
    if (!cmds.is_array()) {
        r.error("commands", "expected an array of {\"match\": ..., \"set\": {...}, \"event\": ...}");
        return;
    }
    int n = 0;
    for (const json& cmd : cmds) {
        const std::string where = "commands[" + std::to_string(n++) + "]";
        if (!cmd.is_object()) {
            r.error(where, "expected an object");
            continue;
        }
        r.unknownKeys(cmd, {"match", "set", "event"}, where);
        CommandSpec spec;
        r.text(cmd, "match", spec.pattern, where);
        if (spec.pattern.empty()) {
            r.error(where + ".match", "required");
            continue;
        }
        if (auto set = cmd.find("set"); set != cmd.end()) {
            if (!set->is_object())
                r.error(where + ".set", "expected an object of variable name to value");
            else
                for (auto s = set->begin(); s != set->end(); ++s) {
                    if (s->is_string())
                        spec.sets.emplace_back(s.key(), s->get<std::string>());
                    else if (s->is_number())
                        spec.sets.emplace_back(s.key(), s->dump());
                    else
                        r.error(where + ".set." + s.key(), "expected a number or a text such as \"$1\"");
                }
        }
        r.text(cmd, "event", spec.event, where);
        c.commands.push_back(std::move(spec));
    }
}

void readEvents(Reader& r, const json& evs, DeviceConfig& c)
{
    if (!evs.is_array()) {
        r.error("events", "expected an array of {\"every\": seconds, \"text\": ...}");
        return;
    }
    int n = 0;
    for (const json& ev : evs) {
        const std::string where = "events[" + std::to_string(n++) + "]";
        if (!ev.is_object()) {
            r.error(where, "expected an object");
            continue;
        }
        r.unknownKeys(ev, {"every", "first", "text", "stamp"}, where);
        PeriodicEvent p;
        r.number(ev, "every", p.every, where);
        r.number(ev, "first", p.first, where);
        r.text(ev, "text", p.text, where);
        r.flag(ev, "stamp", p.stamp, where);
        if (p.every < 0.1) {
            r.error(where + ".every", "must be at least 0.1 s");
            continue;
        }
        c.events.push_back(std::move(p));
    }
}

void readSchedule(Reader& r, const json& sched, DeviceConfig& c)
{
    if (!sched.is_array()) {
        r.error("schedule", "expected an array of {\"at\": seconds, ...changes}");
        return;
    }
    int n = 0;
    for (const json& ch : sched) {
        const std::string where = "schedule[" + std::to_string(n++) + "]";
        if (!ch.is_object()) {
            r.error(where, "expected an object");
            continue;
        }
        r.unknownKeys(ch, {"at", "address", "platform", "type", "name", "version", "serial", "service", "silent",
                           "answerProbes", "link"},
                      where);
        ScheduledChange s;
        r.number(ch, "at", s.at, where);
        if (auto a = ch.find("address"); a != ch.end())
            s.address = r.address(*a, where + ".address");
        auto optText = [&](const char* key, std::optional<std::string>& out) {
            if (ch.contains(key)) {
                std::string t;
                r.text(ch, key, t, where);
                out = t;
            }
        };
        auto optInt = [&](const char* key, std::optional<std::int32_t>& out) {
            if (ch.contains(key)) {
                std::int32_t v = 0;
                r.number(ch, key, v, where);
                out = v;
            }
        };
        auto optFlag = [&](const char* key, std::optional<bool>& out) {
            if (ch.contains(key)) {
                bool v = false;
                r.flag(ch, key, v, where);
                out = v;
            }
        };
        optText("platform", s.platform);
        optText("type", s.type);
        optText("name", s.name);
        optInt("version", s.version);
        optInt("serial", s.serial);
        optFlag("service", s.service);
        optFlag("silent", s.silent);
        optFlag("answerProbes", s.answerProbes);
        if (auto l = ch.find("link"); l != ch.end())
            s.link = readLink(r, *l, where + ".link", {});
        c.schedule.push_back(std::move(s));
    }
}

void readHttp(Reader& r, const json& h, DeviceConfig& c)
{
    if (!h.is_object()) {
        r.error("http", "expected an object");
        return;
    }
    r.unknownKeys(h, {"port", "delay", "notFound", "drop", "redirect", "only"}, "http");
    r.number(h, "port", c.http.port, "http");
    r.number(h, "delay", c.http.delay, "http");
    r.flag(h, "notFound", c.http.notFound, "http");
    r.flag(h, "drop", c.http.drop, "http");
    r.text(h, "redirect", c.http.redirect, "http");
    if (auto only = h.find("only"); only != h.end()) {
        if (!only->is_array())
            r.error("http.only", "expected an array of file names");
        else
            for (const json& f : *only)
                if (f.is_string())
                    c.http.only.push_back(f.get<std::string>());
    }
    if (c.http.port < 0 || c.http.port > 65535)
        r.error("http.port", "must be 0 to 65535");
    if (c.http.delay < 0 || c.http.delay > 600)
        r.error("http.delay", "must be 0 to 600 seconds");
}

} // namespace

std::vector<in_addr> DeviceConfig::allAddresses() const
{
    std::vector<in_addr> all{address};
    for (const ScheduledChange& s : schedule)
        if (s.address) {
            bool seen = false;
            for (in_addr a : all)
                seen = seen || a.s_addr == s.address->s_addr;
            if (!seen)
                all.push_back(*s.address);
        }
    return all;
}

std::optional<DeviceConfig> parseDeviceConfig(const std::string& text, const std::string& baseDir,
                                              const std::string& source, std::vector<std::string>& errors)
{
    Reader r(errors, source);
    json doc = json::parse(text, nullptr, false, true);
    if (doc.is_discarded() || !doc.is_object()) {
        r.error("file", "not a JSON object");
        return std::nullopt;
    }
    r.unknownKeys(doc, {"platform", "type", "name", "version", "serial", "service", "address", "folder", "ui",
                        "silent", "answerProbes", "hostRequestEvent", "http", "link", "memory", "variables", "commands",
                        "events", "schedule", "flood", "comment"},
                  "file");

    DeviceConfig c;
    c.source = source;
    r.text(doc, "platform", c.platform, "file");
    r.text(doc, "type", c.type, "file");
    r.text(doc, "name", c.name, "file");
    r.number(doc, "version", c.version, "file");
    r.number(doc, "serial", c.serial, "file");
    r.flag(doc, "service", c.service, "file");
    r.flag(doc, "silent", c.silent, "file");
    r.flag(doc, "answerProbes", c.answerProbes, "file");
    r.text(doc, "hostRequestEvent", c.hostRequestEvent, "file");
    r.text(doc, "ui", c.uiFile, "file");
    r.number(doc, "flood", c.flood, "file");
    if (c.flood < 0 || c.flood > 5000)
        r.error("flood", "must be 0 to 5000 datagrams per second");

    auto addr = doc.find("address");
    if (addr == doc.end()) {
        r.error("address", "required");
        return std::nullopt;
    }
    auto a = r.address(*addr, "address");
    if (!a)
        return std::nullopt;
    c.address = *a;

    std::string folder = ".";
    r.text(doc, "folder", folder, "file");
    const std::filesystem::path folderPath(folder);
    c.folder = (folderPath.is_absolute() || baseDir.empty() ? folderPath : std::filesystem::path(baseDir) / folderPath)
                   .lexically_normal()
                   .string();
    if (c.folder.size() > 1 && c.folder.back() == '/')
        c.folder.pop_back();

    if (auto h = doc.find("http"); h != doc.end())
        readHttp(r, *h, c);
    if (auto l = doc.find("link"); l != doc.end())
        c.link = readLink(r, *l, "link", {}).value_or(LinkSpec{});
    if (auto m = doc.find("memory"); m != doc.end()) {
        if (m->is_object()) {
            r.unknownKeys(*m, {"base", "align"}, "memory");
            r.number(*m, "base", c.memoryBase, "memory");
            r.number(*m, "align", c.align, "memory");
            if (c.memoryBase > 0xFFFF)
                r.error("memory.base", "must be below 65536");
            if (c.align < 1 || c.align > 64)
                r.error("memory.align", "must be 1 to 64");
        } else {
            r.error("memory", "expected an object");
        }
    }
    if (auto v = doc.find("variables"); v != doc.end())
        readVariables(r, *v, c);
    if (auto v = doc.find("commands"); v != doc.end())
        readCommands(r, *v, c);
    if (auto v = doc.find("events"); v != doc.end())
        readEvents(r, *v, c);
    if (auto v = doc.find("schedule"); v != doc.end())
        readSchedule(r, *v, c);
    return c;
}

std::optional<DeviceConfig> loadDeviceConfig(const std::string& path, std::vector<std::string>& errors)
{
    std::ifstream in(path);
    if (!in) {
        errors.push_back(path + ": cannot be read");
        return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::string dir = ".";
    if (auto slash = path.rfind('/'); slash != std::string::npos)
        dir = path.substr(0, slash == 0 ? 1 : slash);
    return parseDeviceConfig(text.str(), dir, path, errors);
}

} // namespace fieldmon::sim
