#pragma once
// Compass: "Compass.png" turned by a device's angle ("compass"). Its pivot is
// the dial's centre, 5.5 points right of and 0.5 above the picture's centre
// (see PictureGauge).
//
// Thread rule: main thread only.

#include "elements/picturegauge/PictureGauge.h"

namespace fieldmon {

class Compass final : public PictureGauge {
public:
    Compass() : PictureGauge(QStringLiteral(":/Compass.png"), QPointF(5.5, -0.5), QPointF(155.5, 149.0)) {}
    QString elementName() const override { return QStringLiteral("compass"); }
};

} // namespace fieldmon
