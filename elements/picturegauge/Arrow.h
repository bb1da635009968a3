#pragma once
// Arrow: "Arrow.png" turned by a device's angle ("arrow"). Its pivot is the
// picture's own centre; as drawn it points up (see PictureGauge).
//
// Thread rule: main thread only.

#include "elements/picturegauge/PictureGauge.h"

namespace fieldmon {

class Arrow final : public PictureGauge {
public:
    Arrow() : PictureGauge(QStringLiteral(":/Arrow.png"), QPointF(0, 0), std::nullopt) {}
    QString elementName() const override { return QStringLiteral("arrow"); }
};

} // namespace fieldmon
