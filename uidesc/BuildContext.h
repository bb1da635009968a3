#pragma once
// BuildContext: what the reader (XMLReader) builds a document with. The
// reader reads the document and knows its rules (the element table); a
// context knows what to make of each element. Per element the reader calls
// the context's builder for that element name (BuilderRegistry) with an
// ElementBuild, through which the builder compiles the element's
// expressions, binds them with a notifier, reports problems and keeps what
// it made; at the element's end it calls the builder's end with the same
// element state and its character data.
//
// Pages, the page table and the start page are the context's business:
// the reader never sees a page. The app's context (pages/PageBuildContext)
// makes pages and widgets from the builders in pages/ and elements/; a
// headless context makes bindings without widgets and needs Qt Core only.
//
// One context per reading of a document. What it made is its own to hand
// out (the app's: the page table and the start page) and outlives the
// reader.
//
// Thread rule: main thread only (the reader's).

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace fieldmon::expr {
class Node;
}

namespace fieldmon::uidesc {

class BuilderRegistry;

class BuildContext {
public:
    virtual ~BuildContext() = default;

    // What builds each element. An element of the table without a builder
    // here (and without one of the reader's own, "start" and the
    // thumbwheel definitions) is reported as not supported, with its line.
    virtual const BuilderRegistry& builders() const = 0;
    // "start": the name of the first page, or nullopt. A later "start"
    // replaces an earlier one.
    virtual void setStartPageName(std::optional<std::string> name) = 0;
    // What a binding made now asks before each refresh: whether the page
    // being filled wants its values (false outside a page).
    virtual std::function<bool()> redrawRequest() = 0;
    // Keeps an object alive as long as what the reading made.
    virtual void keep(std::shared_ptr<void> object) = 0;
    // `widget` (what an element made) shows `expression`, bound at `rate`
    // (a constant is never told here). A context that needs to know which
    // values a widget shows (how fresh they are, their history) keeps it;
    // others ignore it.
    virtual void bound(const std::shared_ptr<void>& widget, const std::shared_ptr<expr::Node>& expression,
                       const std::string& rate)
    {
        (void)widget, (void)expression, (void)rate;
    }
};

} // namespace fieldmon::uidesc
