#pragma once
// What the gateway exports of one device: its identity, the value elements
// of its document (each with a stable id), the values those elements show,
// and the link figures of the device record. The document side (the
// headless build context) fills these in; the MQTT publisher and the
// metrics model only read them. Plain values, no Qt.
//
// Thread rule: plain values; whoever holds one owns it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fieldmon::gateway {

// The kinds of element that carry a value to the outside. Each maps onto
// one Home Assistant component (see HomeAssistantDiscovery).
enum class ExportKind {
    Label,     // a label's text; numeric when the text reads as a number
    Gauge,     // a gauge's driving number
    Switch,    // a switch's state: "ON" or "OFF"
    Picker,    // a picker's selection, one of `options`
    TextField, // an input only: it shows no value, it takes typed text
};

struct ExportedElement {
    std::string page;    // the page's name in the document
    std::string element; // stable id within the page: kind + position, e.g. "label3"
    std::string title;   // what a person calls it (the element's text or name)
    ExportKind kind = ExportKind::Label;
    bool numeric = false;             // labels: the text reads as a number
    std::string unit;                 // "°C", "rpm"... when the document names one
    std::vector<std::string> options; // pickers: the selections a command may pick
};

struct ExportedDevice {
    std::string serial;
    std::string name;
    std::string type;
    std::string platform;
    std::string version;
    std::string address;
    // Empty when the document was read; otherwise why it was not, and
    // `elements` is empty (the device is still published as available).
    std::string documentError;
    std::vector<ExportedElement> elements;
};

// One element's new value: `element` indexes ExportedDevice::elements.
struct ElementValue {
    std::size_t element = 0;
    std::string text;              // what the page shows
    std::optional<double> number;  // when the value is numeric
};

// A device record's link health. Times in seconds; absent when not known yet.
struct LinkFigures {
    std::optional<double> rttP50;
    std::optional<double> rttP90;
    std::optional<double> rttP99;
    double rttSum = 0;            // sum of the round trips measured so far
    std::uint64_t rttCount = 0;   // how many were measured
    std::optional<double> lossRatio; // 0..1 over the recent window
    std::uint64_t requests = 0;   // request datagrams sent, since the record was made
    std::uint64_t replies = 0;    // replies that answered one of them
};

} // namespace fieldmon::gateway
