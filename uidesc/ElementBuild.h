#pragma once
// ElementBuild: what a builder works with while one element is read — the
// element's attributes and entry in the element table, the device, the
// build context — and the reader's operations in the terms of the document
// format:
//
//   compile(a)          the attribute's expression (trimmed first for a
//                       trimmed expression); null when the attribute is absent
//   required(a)         the same for a required expression; absent, the
//                       attribute's message is reported and null returned
//                       (the builder then drops the element). A malformed
//                       text is present: it gives its error node
//   bind(e, w, n)       binds e to w with notifier n: the context's redraw
//                       request, the element's rate; an absent expression
//                       binds nothing, a constant is told at once
//   expression(a, w, setter, n)
//                       the expression attribute, when given: compiled,
//                       handed to the setter and bound with n
//   arguments(a, w, setters, n)
//                       an argument list: each argument compiled, given to
//                       its setter and bound with n (no n: not bound); a
//                       list shorter than its minimum is reported, and false
//                       is returned when the element is then dropped
//   report(spec)        the message of an attribute, on the diagnostic
//                       output and in the error list with the current line
//   keep(o)             o lives as long as what the reading made
//   context<C>()        the context, as the kind its builders were written
//                       for (checked)
//
// What the start made for the end goes in setWidget(); at the element's
// end, widget<W>() gives it back (ask for the type it was given as) and
// characterData() is the collected text.
//
// Qt-free: the app's builders and headless ones use the same operations.
//
// Thread rule: main thread only.

#include "platform/Check.h"
#include "uidesc/BuildContext.h"
#include "uidesc/ElementTable.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fieldmon {

class Client;

namespace expr {
class Node;
}

namespace uidesc {

class ErrorList;
struct ElementBuilder;

using Attributes = std::vector<std::pair<std::string, std::string>>;

// An element's attributes as messages print them, every one in document
// order: { name = "value"; … }, or {} without any.
std::string attributeDictionary(const Attributes& attributes);

// One open element, as the reader keeps it from its start to its end.
struct OpenElement {
    std::string name;
    const ElementSpec* spec = nullptr;
    const ElementBuilder* builder = nullptr;
    bool dropped = false;
    // What the builder's start made, for its end.
    std::shared_ptr<void> made;
    // The rate its bindings take, set at its start.
    std::string rate;
    // Character data collected for the element's end.
    std::string text;
    bool hasText = false;
};

class ElementBuild {
public:
    using NodePtr = std::shared_ptr<expr::Node>;

    // `client` is not null: the reader builds nothing without a device.
    ElementBuild(BuildContext& context, const std::shared_ptr<Client>& client, ErrorList& errors, int line,
                 OpenElement& element, const Attributes& attributes)
        : context_(context), client_(client), errors_(errors), line_(line), element_(element), attributes_(attributes)
    {
        FM_CHECK(client_ != nullptr, "an element is built only for a device");
    }

    const ElementSpec& spec() const { return *element_.spec; }
    BuildContext& context() { return context_; }
    template <class C>
    C& context()
    {
        auto* c = dynamic_cast<C*>(&context_);
        FM_CHECK(c != nullptr, "a builder runs only in the context it was written for");
        return *c;
    }
    Client& client() { return *client_; }
    const std::shared_ptr<Client>& clientPtr() { return client_; }
    int line() const { return line_; }
    // The rate of the element's bindings ("refresh", else "update").
    const std::string& rate() const { return element_.rate; }

    // Every attribute of the element, in document order.
    const Attributes& attributes() const { return attributes_; }
    // The attribute's text, or null when absent.
    const std::string* text(std::string_view name) const;
    NodePtr compile(std::string_view name);
    NodePtr required(std::string_view name);
    NodePtr compileText(std::string_view text);

    template <class W>
    void bind(const NodePtr& e, const std::shared_ptr<W>& widget, void (W::*notifier)())
    {
        if (!e)
            return;
        bindTo(e, [widget, notifier] { ((*widget).*notifier)(); });
        noteBound(widget, e);
    }

    template <class W>
    void expression(std::string_view name, const std::shared_ptr<W>& widget, void (W::*setter)(NodePtr),
                    void (W::*notifier)())
    {
        if (NodePtr e = compile(name)) {
            ((*widget).*setter)(e);
            bind(e, widget, notifier);
        }
    }

    template <class W>
    bool arguments(std::string_view name, const std::shared_ptr<W>& widget,
                   std::initializer_list<void (W::*)(NodePtr)> setters, void (W::*notifier)())
    {
        std::vector<std::string> args;
        if (!argumentList(name, args))
            return false;
        auto setter = setters.begin();
        for (std::size_t i = 0; i < args.size() && setter != setters.end(); ++i, ++setter) {
            NodePtr e = compileText(args[i]);
            ((*widget).*(*setter))(e);
            if (notifier)
                bind(e, widget, notifier);
        }
        return true;
    }

    void keep(std::shared_ptr<void> object) { context_.keep(std::move(object)); }
    template <class W>
    void setWidget(std::shared_ptr<W> made)
    {
        element_.made = std::move(made);
    }
    template <class W>
    std::shared_ptr<W> widget() const
    {
        return std::static_pointer_cast<W>(element_.made);
    }
    const std::string& characterData() const { return element_.text; }
    bool hasCharacterData() const { return element_.hasText; }

    void report(const AttributeSpec& attribute);
    // `message` goes to the error list; the diagnostic line is `diagnostic`,
    // or "Error: " + message when that is empty.
    void report(std::string_view message, std::string_view diagnostic);

private:
    void bindTo(const NodePtr& e, std::function<void()> notifier);
    void noteBound(const std::shared_ptr<void>& widget, const NodePtr& e);
    // The arguments of the list attribute `name`, reported when too few;
    // false when the element is then dropped.
    bool argumentList(std::string_view name, std::vector<std::string>& args);

    BuildContext& context_;
    const std::shared_ptr<Client>& client_;
    ErrorList& errors_;
    int line_;
    OpenElement& element_;
    const Attributes& attributes_;
};

} // namespace uidesc
} // namespace fieldmon
