#pragma once
// How the automation interface reports the drawn gauges' geometry: points
// and rectangles in page points, colours as four components of 0…1, a clip
// rectangle or null when the gauge is not clipped.
//
// Thread rule: main thread only.

#include <QColor>
#include <QJsonArray>
#include <QJsonValue>
#include <QPointF>
#include <QRectF>

#include <optional>

namespace fieldmon {

inline QJsonArray inspectPoint(QPointF p)
{
    return QJsonArray{p.x(), p.y()};
}

inline QJsonArray inspectRect(const QRectF& r)
{
    return QJsonArray{r.x(), r.y(), r.width(), r.height()};
}

inline QJsonArray inspectColour(const QColor& c)
{
    return QJsonArray{c.redF(), c.greenF(), c.blueF(), c.alphaF()};
}

inline QJsonValue inspectClip(const std::optional<QRectF>& clip)
{
    return clip ? QJsonValue(inspectRect(*clip)) : QJsonValue(QJsonValue::Null);
}

} // namespace fieldmon
