#include "uidesc/XMLReader.h"

#include "device/Client.h"
#include "platform/Diagnostics.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/DocumentElements.h"
#include "uidesc/ElementTable.h"
#include "uidesc/OutsideEntities.h"
#include "uidesc/ParseErrorAlert.h"

#include <QXmlStreamReader>

namespace fieldmon {

namespace {

// The document as 7-bit ASCII: every byte above 127 becomes '?'. Answers
// the line of the first such byte (0: none).
int toAscii(std::string_view text, QByteArray& out)
{
    out.resize(static_cast<qsizetype>(text.size()));
    int line = 1, firstBad = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c > 127) {
            out[static_cast<qsizetype>(i)] = '?';
            if (!firstBad)
                firstBad = line;
            continue;
        }
        out[static_cast<qsizetype>(i)] = static_cast<char>(c);
        line += c == '\n';
    }
    return firstBad;
}

} // namespace

XMLReader::XMLReader(uidesc::BuildContext& context) : context_(context) {}

void XMLReader::stop(std::string_view message)
{
    diag("Error: %.*s\n", static_cast<int>(message.size()), message.data());
    addError(message, line_);
    stopped_ = true;
}

void XMLReader::parserDidStartDocument()
{
    errors_.clear();
    lastName_.clear();
    elements_ = 0;
    stopped_ = false;
    // Thumbwheel definitions are numbered from 0 in each reading.
    if (remoteClient_)
        remoteClient_->thumbwheels().restart();
}

bool XMLReader::parseXMLFileAtString(std::string_view text, std::string* parseError)
{
    parserDidStartDocument();
    // Every expression is compiled for the device and every widget bound to
    // it: without one there is nothing to build the document for.
    if (!remoteClient_) {
        line_ = 0;
        stop("No device to read the document for");
        return false;
    }
    if (text.size() > kMaxDocumentBytes) {
        line_ = 1;
        stop("Document larger than 16 MiB");
        remoteClient_->scheduler().start();
        return false;
    }
    // A byte-order mark (UTF-8's, which some editors write) is no part of the
    // document: read as 7-bit ASCII it would be "???" before the first tag.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    QByteArray ascii;
    if (int line = toAscii(text, ascii))
        addError("Characters outside 7-bit ASCII read as '?'", line);

    // Decoded here, so that an encoding the document declares changes nothing.
    const QString document = QString::fromLatin1(ascii);
    QXmlStreamReader parser(document);
    parser.setNamespaceProcessing(false);
    // Text between two pieces of markup is delivered as one piece.
    QString pending;
    bool havePending = false;
    auto flush = [&] {
        if (!havePending)
            return;
        havePending = false;
        foundCharacters(pending.toStdString());
        pending.clear();
    };
    // References to outside entities, reported in their place in the list.
    std::vector<OutsideReference> outside;
    std::size_t outsideReported = 0;
    while (!parser.atEnd() && !stopped_) {
        const QXmlStreamReader::TokenType token = parser.readNext();
        line_ = static_cast<int>(parser.lineNumber());
        for (; outsideReported < outside.size() && outside[outsideReported].offset < parser.characterOffset();
             ++outsideReported)
            addError("Entity '" + outside[outsideReported].name + "' not read: only the document is",
                       outside[outsideReported].line);
        switch (token) {
        case QXmlStreamReader::StartElement: {
            flush();
            uidesc::Attributes attributes;
            attributes.reserve(static_cast<std::size_t>(parser.attributes().size()));
            for (const QXmlStreamAttribute& a : parser.attributes())
                attributes.emplace_back(a.qualifiedName().toString().toStdString(), a.value().toString().toStdString());
            didStartElement(parser.qualifiedName().toString().toStdString(), std::move(attributes));
            break;
        }
        case QXmlStreamReader::EndElement:
            flush();
            didEndElement();
            break;
        case QXmlStreamReader::Characters:
            pending += parser.text();
            havePending = true;
            if (static_cast<std::size_t>(pending.size()) > kMaxTextLength && !lastName_.empty() &&
                lastName_.back().name != "variables")
                stop("Text longer than 65536 characters");
            break;
        case QXmlStreamReader::DTD:
            // Not processed, and so not reported either: a document type
            // that names an outside DTD, or declares an outside entity that
            // nothing uses, reads like one without them. Nothing outside
            // the document is ever fetched; what refers to it is reported
            // (the parser drops it without a word).
            flush();
            outside = outsideEntityReferences(document, parser.characterOffset(), parser.entityDeclarations());
            break;
        case QXmlStreamReader::EntityReference:
            // A name the outside DTD would have declared.
            flush();
            addError("Entity '" + parser.name().toString().toStdString() + "' not read: only the document is", line_);
            break;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
            flush();
            break;
        case QXmlStreamReader::NoToken:
        case QXmlStreamReader::Invalid:
        case QXmlStreamReader::StartDocument:
        case QXmlStreamReader::EndDocument:
            break;
        }
    }
    if (!stopped_)
        flush();
    bool complete = !stopped_ && !parser.hasError();
    if (parser.hasError() && !stopped_) {
        addError("syntax error", static_cast<int>(parser.lineNumber()));
        if (parseError)
            *parseError = parser.errorString().toStdString();
    }
    if (remoteClient_)
        remoteClient_->scheduler().start();
    return complete;
}

void XMLReader::printUnrecognized(const std::string& name, const uidesc::Attributes& attributes) const
{
    diag("Unrecognized node '%s' with dict '%s'\n", name.c_str(), uidesc::attributeDictionary(attributes).c_str());
}

const uidesc::ElementBuilder* XMLReader::builderFor(const uidesc::ElementSpec& spec) const
{
    if (const uidesc::ElementBuilder* own = uidesc::documentBuilders().find(spec.name))
        return own;
    return context_.builders().find(spec.name);
}

void XMLReader::takeRate(const uidesc::ElementSpec& spec, const uidesc::Attributes& attributes)
{
    if (!spec.takesRate())
        return;
    const std::string* rate = nullptr;
    for (const char* key : {"refresh", "update"}) {
        for (const auto& [k, v] : attributes)
            if (k == key) {
                rate = &v;
                break;
            }
        if (rate)
            break;
    }
    // No rate at all: refreshed once, when the page loads. A rate that is
    // present but blank is a rate of 0 (see ClientUpdate).
    tmpRate_ = rate ? *rate : std::string(kNoRate);
}

void XMLReader::didStartElement(std::string name, uidesc::Attributes attributes)
{
    if (lastName_.size() >= static_cast<std::size_t>(kMaxDepth)) {
        stop("Elements nested too deeply");
        return;
    }
    if (++elements_ > kMaxElements) {
        stop("More than 20000 elements");
        return;
    }
    for (const auto& attribute : attributes)
        if (attribute.second.size() > kMaxTextLength) {
            stop("Attribute longer than 65536 characters");
            return;
        }

    uidesc::OpenElement& element = lastName_.emplace_back();
    element.name = std::move(name);
    const uidesc::ElementSpec* spec = uidesc::findElement(element.name);
    element.spec = spec;
    if (!spec || spec->role == uidesc::ElementRole::Declarations) {
        printUnrecognized(element.name, attributes);
        return;
    }
    element.builder = builderFor(*spec);
    if (!element.builder) {
        diag("Error: '%s' is not supported yet\n", element.name.c_str());
        addError("'" + element.name + "' is not supported yet", line_);
        element.dropped = true;
        return;
    }
    takeRate(*spec, attributes);
    element.rate = tmpRate_;
    uidesc::ElementBuild build(context_, remoteClient_, errors_, line_, element, attributes);
    element.dropped = !element.builder->start(build);
}

void XMLReader::foundCharacters(std::string_view text)
{
    if (lastName_.empty())
        return;
    uidesc::OpenElement& element = lastName_.back();
    if (!element.spec)
        return;
    switch (element.spec->text) {
    case uidesc::CharacterData::Declarations:
        if (remoteClient_)
            remoteClient_->variables().parseVariableDeclaration(text);
        return;
    case uidesc::CharacterData::Expression:
    case uidesc::CharacterData::Title:
        element.text.append(text);
        element.hasText = true;
        return;
    case uidesc::CharacterData::None:
        return;
    }
}

void XMLReader::didEndElement()
{
    if (lastName_.empty())
        return;
    uidesc::OpenElement& element = lastName_.back();
    if (element.spec && element.builder && element.builder->end && !element.dropped) {
        static const uidesc::Attributes none;
        uidesc::ElementBuild build(context_, remoteClient_, errors_, line_, element, none);
        element.builder->end(build);
    }
    lastName_.pop_back();
}

void XMLReader::showErrors()
{
    if (!errors_.empty() && remoteClient_)
        showParseErrorAlert(remoteClient_->alerts(), alertMessage());
}

} // namespace fieldmon
