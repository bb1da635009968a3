#include "elements/GaugeMath.h"

#include "expr/Node.h"

#include <algorithm>
#include <cmath>

namespace fieldmon::gauge {

double read(const NodePtr& e)
{
    return e ? e->doubleValue() : 0.0;
}

float points(double value)
{
    if (!std::isfinite(value))
        return 0.0f;
    return static_cast<float>(std::clamp(value, -100000.0, 100000.0));
}

QColor colour(double r, double g, double b, double a)
{
    auto component = [](double c) {
        float f = static_cast<float>(c);
        return f == f ? std::clamp(f, 0.0f, 1.0f) : 0.0f;
    };
    return QColor::fromRgbF(component(r), component(g), component(b), component(a));
}

QColor colour(const NodePtr& r, const NodePtr& g, const NodePtr& b, const NodePtr& a)
{
    return colour(read(r), read(g), read(b), read(a));
}

std::optional<QRectF> clipRect(std::optional<double> fx, std::optional<double> fy, std::optional<double> fw,
                               std::optional<double> fh)
{
    if (!fx || !fy)
        return std::nullopt;
    double x = points(*fx * kPageWidth), y = points(*fy * kPageHeight);
    double w = kPageWidth, h = kPageHeight;
    if (fw && fh) {
        w = points(*fw * kPageWidth);
        h = points(*fh * kPageHeight);
    }
    if (w < 0) {
        x += w;
        w = -w;
    }
    if (h < 0) {
        y += h;
        h = -h;
    }
    if (x < 0) {
        w += x;
        x = 0;
    }
    if (y < 0) {
        h += y;
        y = 0;
    }
    if (x + w > kPageWidth)
        w = kPageWidth - x;
    if (y + h > kPageHeight)
        h = kPageHeight - y;
    // Nothing of it on the page: an empty clip, which draws nothing.
    w = std::max(w, 0.0);
    h = std::max(h, 0.0);
    return QRectF(static_cast<float>(x), static_cast<float>(y), static_cast<float>(w), static_cast<float>(h));
}

std::optional<QRectF> clipRect(const NodePtr& x, const NodePtr& y, const NodePtr& width, const NodePtr& height)
{
    auto value = [](const NodePtr& e) { return e ? std::optional<double>(e->doubleValue()) : std::nullopt; };
    return clipRect(value(x), value(y), value(width), value(height));
}

} // namespace fieldmon::gauge
