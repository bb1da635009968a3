#pragma once
// DeviceConfig: one simulated device as its JSON file describes it: identity,
// address, the folder it serves, its HTTP and discovery options, the
// behaviours of its variables, the commands it understands, its periodic
// events and a timeline of changes. `fieldsim --help` documents the format.
//
// Thread rule: plain data; loading is a pure function.

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fieldmon::sim {

// A value written into a variable: a number in the variable's own units (21.5
// for a DEC10 variable stores 215), or a text (dotted address for IP_ADDR,
// enumerator name for an enumeration).
struct SimValue {
    bool isText = false;
    double number = 0;
    std::string text;
};

struct BehaviourSpec {
    enum class Kind { Constant, Ramp, Sine, Square, RandomWalk };
    Kind kind = Kind::Constant;
    double value = 0;  // constant
    double low = 0;    // ramp "from", sine/random "min", square "low"
    double high = 0;   // ramp "to", sine/random "max", square "high"
    double period = 10;
    double phase = 0;  // fraction of a period
    double duty = 0.5; // square: fraction of the period spent high
    double step = 1;   // random walk: largest move per update
    double start = 0;  // random walk: first value
    double every = 0.2; // seconds between updates
};

struct VariableSpec {
    std::string name;              // "speed", "pos.x" or "history[3]"
    std::vector<SimValue> initial; // one per element (arrays), may be empty
    std::optional<BehaviourSpec> behaviour;
    int length = 1;                // elements of memory reserved
    std::optional<std::uint32_t> address;
};

struct CommandSpec {
    std::string pattern; // "set speed %d": %d integer, %f number, %s word, %% a percent sign
    std::vector<std::pair<std::string, std::string>> sets; // variable, value text ("$1" for the first argument)
    std::string event;   // sent stamped when not empty; $1.. replaced
};

struct PeriodicEvent {
    double every = 10;
    double first = -1; // seconds after start of the first one; -1: `every`
    std::string text;  // "{count}" is replaced by the running number
    bool stamp = true;
};

// The variable requests' link: a share of them lost, the replies to the
// others held back (for link-health and stale-value tests).
struct LinkSpec {
    double loss = 0;  // 0 to 1: the share of "v" and "a" requests left unanswered
    double delay = 0; // seconds before each answer to a "v" or "a" request goes out
};

struct ScheduledChange {
    double at = 0;
    std::optional<in_addr> address;
    std::optional<std::string> platform, type, name;
    std::optional<std::int32_t> version, serial;
    std::optional<bool> service, silent, answerProbes;
    std::optional<LinkSpec> link;
};

struct HttpSpec {
    int port = 80;              // 0: any free port (tests)
    double delay = 0;           // seconds before each answer
    bool notFound = false;      // answer 404
    bool drop = false;          // send half the headers' promised body, then close
    std::string redirect;       // answer 302 with this Location instead (hostile-link tests)
    std::vector<std::string> only; // the options apply to these files only (empty: all)
};

struct DeviceConfig {
    std::string source;  // the JSON file, for messages
    std::string platform = "SIM";
    std::string type = "DEVICE";
    std::string name = "Simulated device";
    std::int32_t version = 1;
    std::int32_t serial = 1;
    bool service = false;
    in_addr address{};
    std::string folder;  // absolute, or relative to the working directory
    std::string uiFile = "ui.xml";
    bool silent = false;       // answers nothing at all
    bool answerProbes = true;  // answers F with i
    std::string hostRequestEvent = "EVENTSYS_HOST_REQUEST";
    double flood = 0;          // malformed datagrams per second to every host (sim/Flood)
    HttpSpec http;
    LinkSpec link;
    std::uint32_t memoryBase = 0x100;
    int align = 4;
    std::vector<VariableSpec> variables;
    std::vector<CommandSpec> commands;
    std::vector<PeriodicEvent> events;
    std::vector<ScheduledChange> schedule;

    // Every address the device uses over its life (its own and the schedule's).
    std::vector<in_addr> allAddresses() const;
};

// Parses a device description. `baseDir` resolves a relative "folder".
// Problems go to `errors` (one line each, naming the field); the result is
// empty only when the text is no JSON object or a required field is wrong.
std::optional<DeviceConfig> parseDeviceConfig(const std::string& text, const std::string& baseDir,
                                              const std::string& source, std::vector<std::string>& errors);
std::optional<DeviceConfig> loadDeviceConfig(const std::string& path, std::vector<std::string>& errors);

// The text of `fieldsim --help` about the format, with an example.
const char* deviceConfigHelp();

} // namespace fieldmon::sim
