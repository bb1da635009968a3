#include "uidesc/ParseErrorAlert.h"

namespace fieldmon {

platform::Alerts::AlertId showParseErrorAlert(platform::Alerts& alerts, std::string message)
{
    return alerts.show(platform::AlertContent{kParseErrorTitle, std::move(message), {"OK"}, {}});
}

} // namespace fieldmon
