#include "sim/UiDeclarations.h"

#include <QXmlStreamReader>

namespace fieldmon::sim {

std::vector<std::string> declarationTexts(const std::string& xml, std::vector<std::string>& errors)
{
    std::vector<std::string> texts;
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    reader.setNamespaceProcessing(false);
    int depth = 0;
    QString piece;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (reader.name() == QLatin1String("variables"))
                ++depth;
            break;
        case QXmlStreamReader::EndElement:
            if (reader.name() == QLatin1String("variables") && depth > 0) {
                --depth;
                if (!piece.isEmpty())
                    texts.push_back(piece.toStdString());
                piece.clear();
            }
            break;
        case QXmlStreamReader::Characters:
            if (depth > 0)
                piece += reader.text();
            break;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::EntityReference:
            // A comment splits the declaration text into separate pieces.
            if (depth > 0 && !piece.isEmpty()) {
                texts.push_back(piece.toStdString());
                piece.clear();
            }
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        errors.push_back("ui.xml line " + std::to_string(reader.lineNumber()) + ": " +
                         reader.errorString().toStdString());
    return texts;
}

} // namespace fieldmon::sim
