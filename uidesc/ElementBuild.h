#pragma once
// ElementBuild: what a builder works with while one element is read — the
// element's attributes and entry in the element table, the device, the
// current page — and the reader's operations in the terms of the document
// format:
//
//   compile(a)          the attribute's expression (trimmed first for a
//                       trimmed expression); null when the attribute is absent
//   required(a)         the same for a required expression; absent, the
//                       attribute's message is reported and null returned
//                       (the builder then drops the element). A malformed
//                       text is present: it gives its error node
//   bind(e, w, n)       binds e to widget w with notifier n: the current
//                       page's visible as redraw request, the element's rate;
//                       an absent expression binds nothing
//   arguments(a, w, setters, n)
//                       an argument list: each argument compiled, given to
//                       its setter and bound with n (no n: not bound); a
//                       list shorter than its minimum is reported, and false
//                       is returned when the element is then dropped
//   place(w)            the widget goes onto the current page (in document
//                       order); outside a page it is only kept
//   nextTag()           the next widget tag
//   report(spec)        the message of an attribute, on the diagnostic
//                       output and in the error list with the current line
//
// At the element's end, characterData() is the collected text and widget()
// the widget the start function kept with setWidget().
//
// Thread rule: main thread only.

#include "device/Client.h"
#include "platform/Check.h"
#include "uidesc/ElementTable.h"
#include "uidesc/XMLReader.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace fieldmon {

class ElementBuild {
public:
    using NodePtr = std::shared_ptr<expr::Node>;
    using Attributes = std::vector<std::pair<std::string, std::string>>;

    ElementBuild(XMLReader& reader, const uidesc::ElementSpec& spec, XMLReader::OpenElement& element,
                 const Attributes& attributes)
        : reader_(reader), spec_(spec), element_(element), attributes_(attributes)
    {
    }

    const uidesc::ElementSpec& spec() const { return spec_; }
    XMLReader& reader() { return reader_; }
    // The reader builds nothing without a device (it ends the reading first).
    Client& client()
    {
        FM_CHECK(reader_.remoteClient_ != nullptr, "an element is built only for a device");
        return *reader_.remoteClient_;
    }
    const std::shared_ptr<Client>& clientPtr() { return reader_.remoteClient_; }
    // The page or table being filled; null outside one.
    DevicePage* page() const { return reader_.currentPage_.get(); }
    int line() const { return reader_.line_; }
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

    int nextTag();
    void place(std::shared_ptr<RemoteView> widget);
    // Keeps an object alive while the reader lives, without placing it.
    void keep(std::shared_ptr<void> object);
    void setWidget(std::shared_ptr<RemoteView> widget) { element_.widget = std::move(widget); }
    template <class W>
    std::shared_ptr<W> widget() const
    {
        return std::static_pointer_cast<W>(element_.widget);
    }
    const std::string& characterData() const { return element_.text; }
    bool hasCharacterData() const { return element_.hasText; }

    void report(const uidesc::AttributeSpec& attribute);
    void report(std::string_view message, std::string_view diagnostic);

private:
    void bindTo(const NodePtr& e, std::function<void()> notifier);
    // The arguments of the list attribute `name`, reported when too few;
    // false when the element is then dropped.
    bool argumentList(std::string_view name, std::vector<std::string>& args);

    XMLReader& reader_;
    const uidesc::ElementSpec& spec_;
    XMLReader::OpenElement& element_;
    const Attributes& attributes_;
};

} // namespace fieldmon
