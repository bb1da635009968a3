#include "uidesc/OutsideEntities.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <QSet>

namespace fieldmon {

namespace {

// Where the name of the reference at `at` ends (its ';'), or -1. Names are
// short; a ';' far away belongs to no reference.
qsizetype nameEnd(QStringView text, qsizetype at)
{
    const qsizetype end = text.mid(at + 1, 256).indexOf(u';');
    return end < 0 ? -1 : at + 1 + end;
}

// The entity names referred to ("&name;") in an entity's text.
QStringList referencedNames(QStringView text)
{
    QStringList names;
    for (qsizetype at = text.indexOf(u'&'); at >= 0; at = text.indexOf(u'&', at + 1))
        if (const qsizetype end = nameEnd(text, at); end > at + 1 && text[at + 1] != u'#')
            names << text.mid(at + 1, end - at - 1).toString();
    return names;
}

// Outside entities, and the internal ones whose text leads to one.
QSet<QString> outsideNames(const QXmlStreamEntityDeclarations& entities)
{
    QSet<QString> outside;
    QHash<QString, QStringList> usedBy; // entity -> internal entities whose text names it
    for (const QXmlStreamEntityDeclaration& e : entities) {
        if (!e.systemId().isEmpty()) {
            outside.insert(e.name().toString());
            continue;
        }
        for (const QString& name : referencedNames(e.value()))
            usedBy[name] << e.name().toString();
    }
    QStringList work(outside.begin(), outside.end());
    while (!work.isEmpty()) {
        const QString name = work.takeLast();
        for (const QString& user : usedBy.value(name))
            if (!outside.contains(user)) {
                outside.insert(user);
                work << user;
            }
    }
    return outside;
}

} // namespace

std::vector<OutsideReference> outsideEntityReferences(const QString& document, qsizetype from,
                                                      const QXmlStreamEntityDeclarations& entities)
{
    const QSet<QString> outside = outsideNames(entities);
    std::vector<OutsideReference> found;
    if (outside.isEmpty())
        return found;
    from = std::clamp<qsizetype>(from, 0, document.size());
    int line = 1 + static_cast<int>(QStringView(document).left(from).count(u'\n'));
    const QStringView doc(document);
    // Skips from `at` past `end`, counting lines; false when it never comes.
    auto skipPast = [&](qsizetype& at, QStringView end) {
        const qsizetype stop = doc.indexOf(end, at);
        const qsizetype to = stop < 0 ? doc.size() : stop + end.size();
        line += static_cast<int>(doc.mid(at, to - at).count(u'\n'));
        at = to;
    };
    for (qsizetype at = from; at < doc.size();) {
        const QChar c = doc[at];
        if (c == u'<') {
            if (doc.mid(at, 4) == u"<!--")
                skipPast(at, u"-->");
            else if (doc.mid(at, 9) == u"<![CDATA[")
                skipPast(at, u"]]>");
            else if (doc.mid(at, 2) == u"<?")
                skipPast(at, u"?>");
            else
                ++at;
            continue;
        }
        if (c == u'&') {
            if (const qsizetype end = nameEnd(doc, at); end > at + 1) {
                const QString name = doc.mid(at + 1, end - at - 1).toString();
                if (outside.contains(name))
                    found.push_back({at, line, name.toStdString()});
            }
        }
        line += c == u'\n';
        ++at;
    }
    return found;
}

} // namespace fieldmon
