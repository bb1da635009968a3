#pragma once
// Messages waiting for the broker: while it is unreachable, and while too
// many messages are already on their way. One message per topic: a newer
// message for a topic replaces the waiting one in its place (the newest
// value wins, and a topic that changes fast does not starve the others).
// At most `limit` topics wait; a new topic past that pushes out the oldest
// waiting one, and dropped() counts those.
//
// Thread rule: main thread only (a plain container).

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>

namespace fieldmon::gateway {

struct OutgoingMessage {
    std::string topic;
    std::string payload;
    bool retain = false;
    // The sender can make this message again from its own state (a device's
    // retained topics), so it need not wait while the broker is away.
    bool restorable = false;
};

class MqttOutbox {
public:
    explicit MqttOutbox(std::size_t limit);

    void put(OutgoingMessage message);
    // Back at the front, for a message that could not be handed on after
    // take() (or one that must go first); a newer one for the topic wins.
    void putFront(OutgoingMessage message);
    std::optional<OutgoingMessage> take();
    // Removes every restorable message (not counted as dropped).
    void discardRestorable();

    std::size_t size() const { return order_.size(); }
    bool empty() const { return order_.empty(); }
    std::uint64_t dropped() const { return dropped_; }

private:
    void makeRoom();

    std::size_t limit_;
    std::list<OutgoingMessage> order_;
    std::unordered_map<std::string, std::list<OutgoingMessage>::iterator> byTopic_;
    std::uint64_t dropped_ = 0;
};

} // namespace fieldmon::gateway
