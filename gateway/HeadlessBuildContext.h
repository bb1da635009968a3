#pragma once
// The gateway's build context: the reader builds a device's document
// through it as it builds pages for the app, but every value element
// becomes a binding without a widget, at the document's rate. What each
// binding tells is what the page would show:
//
//   label                the text ("degrees" shown as "˚"); a number when
//                        the text reads as one, with a unit after it
//   arrow, turbine,      the driving number: the angle (progress: its
//   compass, progress    progress)
//   bool                 "ON"/"OFF" as the switch would turn for the state
//   thumbwheel, picker   the selected row of each column, joined by blanks
//   textfield            nothing (an input only)
//   cell (with "index")  the table row's right text (or its centre), with
//                        the table's index variable at the row's index
//
// Stable ids: each exported element is named by its page, its element name
// and its place among the elements of that name in the page ("label0",
// "bool1"), so a document that appends elements keeps the earlier ids.
// Elements outside a page, and every other kind, are read and left without
// a binding (tables are pages; rows repeated over a range are not exported).
//
// Commands run what touching the widget runs, with its command expression:
// a switch's command with `state` bound to 1 or 0 (refused while its
// `enabled` says 0; after it, device states are held off for 5 s as on the
// page), a picker's command with the picked rows put in for wheel0,
// wheel1, …, a text field's typed text as it is.
//
// The builders are in HeadlessBuilders, the bindings they make are
// HeadlessBinding. Values go to the outlet given at construction until
// endBindings(); the bindings themselves live in the device's scheduler,
// which endBindings() empties.
//
// Thread rule: main thread only.

#include "gateway/ExportedDevice.h"
#include "gateway/HeadlessBinding.h"
#include "uidesc/BuildContext.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fieldmon {
class Client;
}

namespace fieldmon::uidesc {
class BuilderRegistry;
class ElementBuild;
} // namespace fieldmon::uidesc

namespace fieldmon::gateway {

struct HeadlessBinding;

class HeadlessBuildContext final : public uidesc::BuildContext {
public:
    using Outlet = std::function<void(const ElementValue&)>;
    // How long a switch holds off device states after a command.
    static constexpr double kSwitchHoldOffSeconds = 5.0;
    // Options of a picker at most (its columns' rows multiplied).
    static constexpr std::size_t kMaxOptions = 256;

    HeadlessBuildContext(std::shared_ptr<Client> client, Outlet outlet);
    ~HeadlessBuildContext() override;
    HeadlessBuildContext(const HeadlessBuildContext&) = delete;
    HeadlessBuildContext& operator=(const HeadlessBuildContext&) = delete;

    static const uidesc::BuilderRegistry& gatewayBuilders();

    const uidesc::BuilderRegistry& builders() const override { return gatewayBuilders(); }
    void setStartPageName(std::optional<std::string>) override {}
    // Nothing is on a screen: every binding always wants its values.
    std::function<bool()> redrawRequest() override;
    void keep(std::shared_ptr<void> object) override { kept_.push_back(std::move(object)); }

    const std::vector<ExportedElement>& elements() const { return elements_; }
    // The last value of each element (none before its first).
    const std::optional<ElementValue>& value(std::size_t element) const;
    // Labels: numeric when their text read as a number, with the unit after
    // it, as far as the values so far tell. Called before the description
    // goes out.
    void settleLabelKinds();

    // Runs what touching element `element` runs with `value` ("1"/"0" for a
    // switch, one of the options for a picker, the text for a text field).
    // False (with `why`) when there is nothing to run.
    bool command(std::size_t element, const std::string& value, std::string& why);

    // No value goes out any more and the device's bindings are dropped.
    void endBindings();

    // For the builders.
    // "page label3": the page and the id the next element of b's name gets.
    std::string nextId(uidesc::ElementBuild& b) const;
    std::size_t addElement(uidesc::ElementBuild& b, ExportKind kind, std::string title);
    void add(std::shared_ptr<HeadlessBinding> binding);
    void beginPage(std::string name);
    void endPage()
    {
        page_.reset();
        indexVariable_.reset();
    }
    // A table's index variable, while its cells are read.
    void setIndexVariable(std::string name) { indexVariable_ = std::move(name); }
    const std::optional<std::string>& indexVariable() const { return indexVariable_; }
    bool inPage() const { return page_.has_value(); }
    void tell(const ElementValue& value);

private:
    std::shared_ptr<Client> client_;
    Outlet outlet_;
    // What the bindings tell: this context's tell(), while it lives.
    std::shared_ptr<Outlet> recorder_;
    std::optional<std::string> page_;
    std::optional<std::string> indexVariable_;
    std::map<std::string, std::size_t> counts_; // per element name in the page
    std::vector<ExportedElement> elements_;
    std::vector<std::optional<ElementValue>> values_;
    std::vector<std::shared_ptr<HeadlessBinding>> bindings_; // by element
    std::vector<std::shared_ptr<void>> kept_;
    bool ended_ = false;
};

} // namespace fieldmon::gateway
