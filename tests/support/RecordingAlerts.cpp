#include "support/RecordingAlerts.h"

#include <algorithm>

namespace fieldmon::platform {

Alerts::AlertId RecordingAlerts::show(AlertContent content)
{
    AlertId id = nextId_++;
    Shown shown;
    shown.id = id;
    shown.content = std::move(content);
    history_.push_back(std::move(shown));
    return id;
}

RecordingAlerts::Shown* RecordingAlerts::find(AlertId id)
{
    auto it = std::find_if(history_.begin(), history_.end(), [id](const Shown& s) { return s.id == id; });
    return it == history_.end() ? nullptr : &*it;
}

void RecordingAlerts::dismiss(AlertId id, int buttonIndex, bool animated)
{
    Shown* s = find(id);
    if (!s || !s->open)
        return;
    s->open = false;
    s->dismissedWith = buttonIndex;
    s->dismissedAnimated = animated;
}

bool RecordingAlerts::press(AlertId id, int buttonIndex)
{
    Shown* s = find(id);
    if (!s || !s->open)
        return false;
    s->open = false;
    auto callback = s->content.onButton; // the callback may show another alert
    if (callback)
        callback(buttonIndex);
    return true;
}

std::size_t RecordingAlerts::openCount() const
{
    return std::count_if(history_.begin(), history_.end(), [](const Shown& s) { return s.open; });
}

const RecordingAlerts::Shown* RecordingAlerts::lastOpen() const
{
    for (auto it = history_.rbegin(); it != history_.rend(); ++it)
        if (it->open)
            return &*it;
    return nullptr;
}

} // namespace fieldmon::platform
