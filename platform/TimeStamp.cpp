#include "platform/TimeStamp.h"

namespace fieldmon::platform {

std::string presenceStamp(std::time_t now)
{
    std::tm local{};
    if (!localtime_r(&now, &local))
        return "00:00:00";
    if (local.tm_isdst > 0) {
        std::time_t earlier = now - 3600;
        if (!localtime_r(&earlier, &local))
            return "00:00:00";
    }
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

} // namespace fieldmon::platform
