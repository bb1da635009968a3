#pragma once
// StaleMarks: the dimming of what shows a stale value. Each call says what
// is stale now; what was dimmed and is not in it any more gets its look
// back. A widget keeps an opacity effect of its own (dimmed further, then
// restored); otherwise the mark is an effect of ours, removed again.
// Table cells are reused as the list scrolls, so they are named anew at
// every call. Everything still dimmed is undimmed when the marks go.
//
// Thread rule: main thread only.

#include <QPointer>
#include <QWidget>

#include <memory>
#include <utility>
#include <vector>

namespace fieldmon {

class RemoteView;

class StaleMarks {
public:
    static constexpr double kDimmed = 0.35;

    StaleMarks() = default;
    StaleMarks(const StaleMarks&) = delete;
    StaleMarks& operator=(const StaleMarks&) = delete;
    ~StaleMarks();

    void markWidgets(const std::vector<std::shared_ptr<RemoteView>>& stale);
    void markCells(std::vector<QPointer<QWidget>> stale);

private:
    // Widgets dimmed now, with the opacity they had before.
    std::vector<std::pair<std::weak_ptr<RemoteView>, double>> widgets_;
    std::vector<QPointer<QWidget>> cells_;
};

} // namespace fieldmon
