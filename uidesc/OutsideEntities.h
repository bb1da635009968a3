#pragma once
// References in a document to entities whose text lies outside it. The
// reader never fetches such text, and the XML parser drops a reference to a
// declared outside entity without a word; a device author should hear that
// the text is missing. An internal entity whose text refers to an outside
// one (directly or through others) counts as outside too.
//
// Only references in content count: after the document type, outside
// comments, CDATA sections and processing instructions, where '&' has no
// meaning. (In an attribute value such a reference is a syntax error the
// parser reports itself.)
//
// Thread rule: plain function; any thread.

#include <QString>
#include <QXmlStreamEntityDeclarations>

#include <string>
#include <vector>

namespace fieldmon {

struct OutsideReference {
    qsizetype offset; // of the '&' in the document
    int line;         // from 1
    std::string name;
};

// The references in `document` from `from` (the end of its document type)
// to the outside entities among `entities`, in document order.
std::vector<OutsideReference> outsideEntityReferences(const QString& document, qsizetype from,
                                                      const QXmlStreamEntityDeclarations& entities);

} // namespace fieldmon
