#pragma once
// Turbine: "Turbine.png" turned by a device's angle ("turbine"). Its pivot is
// the tower, 65 points below the picture's centre (see PictureGauge).
//
// Thread rule: main thread only.

#include "elements/picturegauge/PictureGauge.h"

namespace fieldmon {

class Turbine final : public PictureGauge {
public:
    Turbine() : PictureGauge(QStringLiteral(":/Turbine.png"), QPointF(0.25, 65), QPointF(155.5, 149.0)) {}
    QString elementName() const override { return QStringLiteral("turbine"); }
};

} // namespace fieldmon
