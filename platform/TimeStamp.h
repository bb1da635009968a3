#pragma once
// Time stamps of the presence event lines that the registry writes into a
// device's event log: "HH:mm:ss", 24-hour, local time. While the local zone is
// in daylight-saving time the stamp shows the time one hour earlier (standard
// time), which is how devices in the field stamp their own events.
//
// Thread rule: any thread (uses localtime_r).

#include <ctime>
#include <string>

namespace fieldmon::platform {

std::string presenceStamp(std::time_t now);
inline std::string presenceStampNow() { return presenceStamp(std::time(nullptr)); }

} // namespace fieldmon::platform
