#pragma once
// XMLReader: reads one device's UI description document and builds it
// through a build context (BuildContext.h): the device's variable
// declarations and thumbwheel definitions go to the device, every other
// element to the context's builder for it, which makes pages, widgets and
// the scheduler bindings that feed them (the app's context), or bindings
// without widgets (a headless one). It reads the document as a stream of
// start, character and end events (QXmlStreamReader; no tree), acting on
// each at once:
//
// - start of an element: its name is looked up in the element table
//   (ElementTable.h); a listed element is built by its builder: the
//   reader's own for "start" and the thumbwheel definitions, else the
//   context's (BuilderRegistry.h); one without a builder is reported as not
//   supported, an unknown name (and "variables") is printed as unrecognised
//   and its children read normally;
// - character data: text between two pieces of markup (elements, comments,
//   processing instructions) is one piece, whatever entity references and
//   CDATA sections it holds. A piece in "variables" goes to the declaration
//   parser at once; pieces of elements whose text the table names are
//   collected for the element's end;
// - end of an element: the builder's end handling, with what its start
//   made; skipped for an element that was dropped.
//
// Problems go to the error list (ErrorList.h); the reader never stops for
// them, only a malformed document ("syntax error") or one past the reader's
// limits ends the reading early, and what was built until then stays.
// After reading, the device's scheduler is started (always) and
// showErrors() shows the list in one "XML parse error" alert.
//
// The document is read as 7-bit ASCII: any byte above 127 becomes '?', and
// the first line holding one gets an entry in the error list; a UTF-8
// byte-order mark at its start is skipped. Namespaces and document types
// are not processed: a DTD or an outside entity is never fetched, and only
// a reference that would need an outside entity's text is reported.
// Entity expansion is bounded by the parser.
//
// Qt Core only. The reader owns nothing it built: the context keeps that.
//
// Thread rule: main thread only.

#include "uidesc/ElementBuild.h"
#include "uidesc/ErrorList.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon {

class Client;

class XMLReader {
public:
    // Limits of a document from the network; past them the reading ends
    // with an entry in the error list.
    static constexpr std::size_t kMaxDocumentBytes = 16u << 20;
    static constexpr int kMaxDepth = 64;
    static constexpr std::size_t kMaxElements = 20000;
    static constexpr std::size_t kMaxTextLength = 65536;
    // The rate of an element that names none ("refresh", "update").
    static constexpr std::string_view kNoRate = "load";

    // `context` builds what the document describes; it outlives the reader.
    explicit XMLReader(uidesc::BuildContext& context);
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

    // One "XML parse error" alert with the error list, when it is not empty.
    void showErrors();

    // Adds `message` and ":line %d\n" to the error list.
    void addError(std::string_view message, int line) { errors_.add(message, line); }
    const std::string& errors() const { return errors_.text(); }
    int unlistedErrors() const { return errors_.unlisted(); }
    // What the alert says: the list, and how many more there were.
    std::string alertMessage() const { return errors_.alertMessage(); }

private:
    void parserDidStartDocument();
    void didStartElement(std::string name, uidesc::Attributes attributes);
    void foundCharacters(std::string_view text);
    void didEndElement();
    // The builder of a listed element: the reader's own, else the context's.
    const uidesc::ElementBuilder* builderFor(const uidesc::ElementSpec& spec) const;
    // The rate an element's bindings take ("refresh", else "update").
    void takeRate(const uidesc::ElementSpec& spec, const uidesc::Attributes& attributes);
    // Ends the reading with an entry in the error list.
    void stop(std::string_view message);
    void printUnrecognized(const std::string& name, const uidesc::Attributes& attributes) const;

    uidesc::BuildContext& context_;
    // The open elements, innermost last.
    std::vector<uidesc::OpenElement> lastName_;
    std::shared_ptr<Client> remoteClient_;
    std::string tmpRate_;
    uidesc::ErrorList errors_;
    int line_ = 0;
    std::size_t elements_ = 0;
    bool stopped_ = false;
};

} // namespace fieldmon
