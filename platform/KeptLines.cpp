#include "platform/KeptLines.h"

#include <algorithm>
#include <iterator>

namespace fieldmon::platform {

void KeptLines::add(const char* data, std::size_t size)
{
    const char* end = data + size;
    while (data < end) {
        const char* feed = std::find(data, end, '\n');
        std::size_t room = kMaxLineBytes - partial_.size();
        partial_.append(data, std::min(static_cast<std::size_t>(feed - data), room));
        if (feed == end)
            return;
        data = feed + 1;
        bytes_ += partial_.size();
        lines_.push_back(std::move(partial_));
        partial_ = std::string();
        while (lines_.size() > kMaxLines || bytes_ > kMaxBytes) {
            bytes_ -= lines_.front().size();
            lines_.pop_front();
            ++dropped_;
        }
    }
}

KeptLines::Taken KeptLines::take()
{
    Taken taken;
    taken.lines.assign(std::make_move_iterator(lines_.begin()), std::make_move_iterator(lines_.end()));
    taken.dropped = dropped_;
    lines_.clear();
    bytes_ = 0;
    dropped_ = 0;
    return taken;
}

} // namespace fieldmon::platform
