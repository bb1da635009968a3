#include "uidesc/ErrorList.h"

namespace fieldmon::uidesc {

void ErrorList::add(std::string_view message, int line)
{
    if (listed_ >= kMaxListedErrors) {
        ++unlisted_;
        return;
    }
    ++listed_;
    if (message.size() > kMaxErrorMessage) {
        text_.append(message.substr(0, kMaxErrorMessage));
        text_ += "...";
    } else {
        text_.append(message);
    }
    text_ += ":line " + std::to_string(line) + "\n";
}

void ErrorList::clear()
{
    text_.clear();
    listed_ = 0;
    unlisted_ = 0;
}

std::string ErrorList::alertMessage() const
{
    if (unlisted_ == 0)
        return text_;
    return text_ + "and " + std::to_string(unlisted_) + (unlisted_ == 1 ? " more error\n" : " more errors\n");
}

} // namespace fieldmon::uidesc
