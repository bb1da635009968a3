#include "app/StaleMarks.h"

#include "elements/RemoteView.h"

#include <QGraphicsOpacityEffect>

#include <algorithm>
#include <functional>

namespace fieldmon {

namespace {

constexpr char kMark[] = "staleMark";

// Dims `view`; returns the opacity it had before.
double dim(QWidget& view)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view.graphicsEffect());
    if (effect) {
        const double before = effect->opacity();
        effect->setOpacity(before * StaleMarks::kDimmed);
        return before;
    }
    effect = new QGraphicsOpacityEffect(&view);
    effect->setObjectName(QLatin1String(kMark));
    effect->setOpacity(StaleMarks::kDimmed);
    view.setGraphicsEffect(effect);
    return 1.0;
}

// Undoes dim(): our own effect goes, another keeps its place with the
// opacity it had.
void undim(QWidget& view, double before)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view.graphicsEffect());
    if (effect && effect->objectName() == QLatin1String(kMark))
        view.setGraphicsEffect(nullptr);
    else if (effect)
        effect->setOpacity(before);
}

} // namespace

StaleMarks::~StaleMarks()
{
    markWidgets({});
    markCells({});
}

void StaleMarks::markWidgets(const std::vector<std::shared_ptr<RemoteView>>& stale)
{
    std::erase_if(widgets_, [&](auto& entry) {
        auto w = entry.first.lock();
        if (!w)
            return true;
        if (std::find(stale.begin(), stale.end(), w) != stale.end())
            return false;
        if (QWidget* view = w->view())
            undim(*view, entry.second);
        return true;
    });
    for (const auto& w : stale) {
        QWidget* view = w->view();
        if (!view)
            continue;
        const bool already =
            std::any_of(widgets_.begin(), widgets_.end(), [&](const auto& entry) { return entry.first.lock() == w; });
        if (!already)
            widgets_.push_back({w, dim(*view)});
    }
}

void StaleMarks::markCells(std::vector<QPointer<QWidget>> stale)
{
    // Each cell once: a second dimming would stack on the first.
    std::sort(stale.begin(), stale.end(),
              [](const auto& x, const auto& y) { return std::less<const QWidget*>()(x.data(), y.data()); });
    stale.erase(std::unique(stale.begin(), stale.end()), stale.end());
    for (const auto& cell : cells_)
        if (cell && std::find(stale.begin(), stale.end(), cell) == stale.end())
            undim(*cell, 1.0);
    for (const auto& cell : stale)
        if (cell && std::find(cells_.begin(), cells_.end(), cell) == cells_.end())
            dim(*cell);
    cells_ = std::move(stale);
}

} // namespace fieldmon
