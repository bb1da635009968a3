#pragma once
// One exported element's binding in the gateway's headless reading of a
// document (HeadlessBuildContext): the expressions its widget would hold
// and what the widget would show, without the widget. The builders
// (HeadlessBuilders) make them; the device's scheduler calls their update
// functions at the element's rate.
//
// Thread rule: main thread only.

#include "gateway/ExportedDevice.h"
#include "uidesc/NumberText.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fieldmon {
class Client;
namespace expr {
class Node;
}
} // namespace fieldmon

namespace fieldmon::gateway {

// What a binding tells its reading: the element's new value.
using Recorder = std::function<void(const ElementValue&)>;

// The scheduler keeps a binding (through its notifier) until the device's
// bindings are dropped; it reaches its reading only through a weak
// reference, so a late refresh after the reading went tells nobody.
struct HeadlessBinding {
    std::size_t element = 0;
    std::string name; // the element's name in the document
    std::weak_ptr<Recorder> recorder;
    std::weak_ptr<Client> client;
    std::shared_ptr<expr::Node> value;   // text, angle, progress or state
    std::shared_ptr<expr::Node> command; // inputs
    std::shared_ptr<expr::Node> enabled; // switches
    bool isEnabled = true;
    // Switches: the position shown, and until when device states are held off.
    bool on = true;
    double holdUntil = -1;
    // Pickers: each column's rows, and the row selected in each.
    std::vector<std::vector<std::string>> columns;
    std::vector<std::size_t> selected;
    std::vector<std::string> options;

    void tell(std::string text, std::optional<double> number = std::nullopt)
    {
        if (auto r = recorder.lock())
            (*r)(ElementValue{element, std::move(text), number});
    }
    // The notifiers: a label's text (with a number when it reads as one),
    // a gauge's number, a switch's state ("F"/"0" off, "C"/"1" on, else
    // unchanged; held off after a command), a switch's enabled.
    void updateText();
    void updateNumber();
    void updateState();
    void updateEnabled();
    // A picker's selection: each column's selected row, joined by blanks.
    std::string selection() const;
};

} // namespace fieldmon::gateway
