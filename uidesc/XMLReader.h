#pragma once
// XMLReader: turns one device's UI description document into live objects:
// the device's pages in one page table keyed by page name, the widgets on
// each page, the scheduler bindings that feed them, the device's variable
// declarations and thumbwheel definitions. It reads the document as a
// stream of start, character and end events (QXmlStreamReader; no tree),
// acting on each at once:
//
// - start of an element: its name is looked up in the element table
//   (ElementTable.h); a listed element with a builder is built
//   (ElementBuilders.h), one without a builder yet is reported as not
//   supported, an unknown name (and "variables") is printed as unrecognised
//   and its children read normally. A widget outside any page is built as
//   any other (it takes its tag, and its bindings ask for their values) but
//   nothing places it;
// - character data: text between two pieces of markup (elements, comments,
//   processing instructions) is one piece, whatever entity references and
//   CDATA sections it holds. A piece in "variables" goes to the declaration
//   parser at once; pieces in "label", "bool" and "button" are collected for
//   the element's end;
// - end of an element: the builder's end handling, on the widget made at
//   that element's own start; skipped for an element that was dropped.
//
// Problems go to the error list, each as its message and ":line %d\n"; the
// reader never stops for them, only a malformed document ("syntax error")
// or one past the reader's limits ends the reading early, and what was
// built until then stays. After reading, the device's scheduler is started
// (always), initialPage() gives the start page and showErrors() shows the
// list in one "XML parse error" alert.
//
// The document is read as 7-bit ASCII: any byte above 127 becomes '?', and
// the first line holding one gets an entry in the error list; a UTF-8
// byte-order mark at its start is skipped. Namespaces and document types
// are not processed: a DTD or an outside entity is never fetched, and only
// a reference that would need an outside entity's text is reported.
// Entity expansion is bounded by the parser.
//
// Ownership: the pages and the page table own one another once made. The
// reader hands the start page out with initialPage(); if it never does (no
// "start", no such page), the reader's destructor ends the pages and their
// bindings (releasePages()), so that no reading leaves a set behind.
//
// Thread rule: main thread only.

#include "pages/DevicePage.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon {

class Client;
class BuilderRegistry;
class ElementBuild;
struct ElementBuilder;
class RemoteView;

namespace uidesc {
struct ElementSpec;
}

class XMLReader {
public:
    static constexpr int kMaxListedErrors = 20;
    static constexpr std::size_t kMaxErrorMessage = 200;

    // Limits of a document from the network; past them the reading ends
    // with an entry in the error list.
    static constexpr std::size_t kMaxDocumentBytes = 16u << 20;
    static constexpr int kMaxDepth = 64;
    static constexpr std::size_t kMaxElements = 20000;
    static constexpr std::size_t kMaxTextLength = 65536;
    // The rate of an element that names none ("refresh", "update").
    static constexpr std::string_view kNoRate = "load";

    // `builders`: what builds each element (tests hand in their own).
    explicit XMLReader(const BuilderRegistry& builders);
    XMLReader();
    ~XMLReader();
    XMLReader(const XMLReader&) = delete;
    XMLReader& operator=(const XMLReader&) = delete;

    // The device whose document is read; set before parsing. Without one
    // the reading ends at once with an entry in the error list.
    void setClient(std::shared_ptr<Client> client) { remoteClient_ = std::move(client); }
    const std::shared_ptr<Client>& remoteClient() const { return remoteClient_; }

    // Reads the whole document and starts the device's scheduler. Answers
    // whether the parser read it to its end; `parseError` then receives the
    // parser's message, if the caller gave a place for it.
    bool parseXMLFileAtString(std::string_view text, std::string* parseError = nullptr);

    // The page named by the last "start", marked as the device's start page;
    // null without "start" or when no page has that name.
    std::shared_ptr<DevicePage> initialPage();
    // One "XML parse error" alert with the error list, when it is not empty.
    void showErrors();
    // Ends what this reading made: the device drops every binding and the
    // pages drop the page table. For a reading that opens no page.
    void releasePages();

    // An element's attributes as messages print them, every one in document
    // order: { name = "value"; … }, or {} without any.
    static std::string attributeDictionary(const std::vector<std::pair<std::string, std::string>>& attributes);

    // Adds `message` and ":line %d\n" to the error list. The list holds the
    // first kMaxListedErrors entries, each message cut to kMaxErrorMessage
    // bytes; later ones are only counted: 20,000 bad elements once made a
    // 1 MB alert that took seconds to lay out.
    void addError(std::string_view message, int line);
    const std::string& errors() const { return errorstring_; }
    int unlistedErrors() const { return unlistedErrors_; }
    // What the alert says: the list, and how many more there were.
    std::string alertMessage() const;

    const std::shared_ptr<PageTable>& dynamicPages() const { return dynamicPages_; }
    DevicePage* currentPage() const { return currentPage_.get(); }
    const std::optional<std::string>& initialPageName() const { return initialPageName_; }

    // For the builders of pages: enters `page` in the page table under
    // `name` (a later page of the same name replaces an earlier one) and
    // makes it the current page; ends the current page; sets the start page.
    void registerPage(const std::string& name, std::shared_ptr<DevicePage> page);
    void endCurrentPage() { currentPage_.reset(); }
    void setInitialPageName(std::optional<std::string> name) { initialPageName_ = std::move(name); }

    // One open element; lastName holds them innermost last.
    struct OpenElement {
        std::string name;
        const uidesc::ElementSpec* spec = nullptr;
        const ElementBuilder* builder = nullptr;
        bool dropped = false;
        // The widget made at the element's start, for its end.
        std::shared_ptr<RemoteView> widget;
        // The rate its bindings take, set at its start.
        std::string rate;
        // Character data collected for the element's end.
        std::string text;
        bool hasText = false;
    };

private:
    friend class ElementBuild;
    using Attributes = std::vector<std::pair<std::string, std::string>>;

    void parserDidStartDocument();
    void didStartElement(std::string name, Attributes attributes);
    void foundCharacters(std::string_view text);
    void didEndElement();
    // Ends the reading with an entry in the error list.
    void stop(std::string_view message);
    void printUnrecognized(const std::string& name, const Attributes& attributes) const;

    // Fields, as the document model names them.
    std::vector<OpenElement> lastName_;
    std::shared_ptr<PageTable> dynamicPages_;
    std::shared_ptr<DevicePage> currentPage_;
    std::optional<std::string> initialPageName_;
    std::vector<std::shared_ptr<void>> workingStack_;
    std::shared_ptr<Client> remoteClient_;
    std::string tmpRate_;
    std::string errorstring_;
    int listedErrors_ = 0;
    int unlistedErrors_ = 0;

    const BuilderRegistry& builders_;
    int line_ = 0;
    std::size_t elements_ = 0;
    bool stopped_ = false;
    bool startPageHandedOut_ = false;
};

} // namespace fieldmon
