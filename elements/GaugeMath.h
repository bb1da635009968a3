#pragma once
// Readings shared by the drawn gauges: expression values as page points and
// colours, and the clip rectangle of the gradient and the circle.
//
// Values a device may send that are no place on any screen (NaN, infinite,
// huge) are held: non-finite points read 0 and points are held to ±100,000;
// colour components are held to 0…1 (NaN reads 0). An absent expression
// reads 0.0.
//
// Thread rule: main thread only (expressions are evaluated).

#include <QColor>
#include <QRectF>

#include <memory>
#include <optional>

namespace fieldmon {

namespace expr {
class Node;
}

namespace gauge {

using NodePtr = std::shared_ptr<expr::Node>;

inline constexpr double kPageWidth = 320.0;
inline constexpr double kPageHeight = 416.0;

// The expression's double value; 0.0 without one.
double read(const NodePtr& e);
// A length or coordinate in points, in single precision.
float points(double value);
// A colour from four components of 0.0…1.0.
QColor colour(double r, double g, double b, double a);
QColor colour(const NodePtr& r, const NodePtr& g, const NodePtr& b, const NodePtr& a);

// The clip rectangle in page points, from page fractions: only when x and y
// are given (otherwise nullopt: no clip). Without both width and height it
// reaches to the page's right and bottom edges. A negative width or height
// extends to the left or upwards; the result is held to the page (an empty
// rectangle when nothing of it is on the page).
std::optional<QRectF> clipRect(std::optional<double> x, std::optional<double> y, std::optional<double> width,
                               std::optional<double> height);
std::optional<QRectF> clipRect(const NodePtr& x, const NodePtr& y, const NodePtr& width, const NodePtr& height);

} // namespace gauge
} // namespace fieldmon
