#pragma once
// The one alert of a device's UI description that could not be read: title
// "XML parse error", the message, one button "OK". The reader shows its
// error list with it; the detail screen shows it for a description that
// could not be fetched.
//
// Thread rule: main thread only.

#include "platform/Alerts.h"

#include <string>

namespace fieldmon {

inline constexpr const char* kParseErrorTitle = "XML parse error";

platform::Alerts::AlertId showParseErrorAlert(platform::Alerts& alerts, std::string message);

} // namespace fieldmon
