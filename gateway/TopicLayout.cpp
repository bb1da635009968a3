#include "gateway/TopicLayout.h"

#include "gateway/TopicEscape.h"

namespace fieldmon::gateway {

TopicLayout::TopicLayout(std::string prefix, std::string discoveryPrefix, const std::string& gatewayId)
    : prefix_(std::move(prefix)),
      discoveryPrefix_(std::move(discoveryPrefix)),
      gatewayStatus_(prefix_ + "/gateway/" + escapeTopicLevel(gatewayId) + "/status")
{
}

std::string TopicLayout::serialLevel(const std::string& serial) const
{
    std::string level = escapeTopicLevel(serial);
    if (level == "gateway")
        return "~67ateway";
    return level;
}

std::string TopicLayout::deviceBase(const std::string& serial) const
{
    return prefix_ + "/" + serialLevel(serial);
}

std::string TopicLayout::availability(const std::string& serial) const
{
    return deviceBase(serial) + "/availability";
}

std::string TopicLayout::attributes(const std::string& serial) const
{
    return deviceBase(serial) + "/attributes";
}

std::string TopicLayout::event(const std::string& serial) const
{
    return deviceBase(serial) + "/event";
}

std::string TopicLayout::link(const std::string& serial) const
{
    return deviceBase(serial) + "/link";
}

std::string TopicLayout::state(const std::string& serial, const std::string& page, const std::string& element) const
{
    return deviceBase(serial) + "/" + escapeTopicLevel(page) + "/" + escapeTopicLevel(element);
}

std::string TopicLayout::command(const std::string& serial, const std::string& page, const std::string& element) const
{
    return state(serial, page, element) + "/set";
}

std::string TopicLayout::deviceId(const std::string& serial) const
{
    return homeAssistantId(prefix_) + "__" + homeAssistantId(serial);
}

std::string TopicLayout::discovery(const std::string& serial) const
{
    return discoveryPrefix_ + "/device/" + deviceId(serial) + "/config";
}

} // namespace fieldmon::gateway
