#include "gateway/MqttOutbox.h"

#include "platform/Check.h"

namespace fieldmon::gateway {

MqttOutbox::MqttOutbox(std::size_t limit) : limit_(limit)
{
    FM_CHECK(limit_ > 0, "an outbox holds at least one topic");
}

void MqttOutbox::put(OutgoingMessage message)
{
    if (auto it = byTopic_.find(message.topic); it != byTopic_.end()) {
        it->second->payload = std::move(message.payload);
        it->second->retain = message.retain;
        it->second->restorable = message.restorable;
        return;
    }
    makeRoom();
    order_.push_back(std::move(message));
    byTopic_.emplace(order_.back().topic, std::prev(order_.end()));
}

void MqttOutbox::putFront(OutgoingMessage message)
{
    if (byTopic_.count(message.topic))
        return; // the waiting message is newer
    makeRoom();
    order_.push_front(std::move(message));
    byTopic_.emplace(order_.front().topic, order_.begin());
}

std::optional<OutgoingMessage> MqttOutbox::take()
{
    if (order_.empty())
        return std::nullopt;
    OutgoingMessage message = std::move(order_.front());
    order_.pop_front();
    byTopic_.erase(message.topic);
    return message;
}

void MqttOutbox::discardRestorable()
{
    for (auto it = order_.begin(); it != order_.end();) {
        if (!it->restorable) {
            ++it;
            continue;
        }
        byTopic_.erase(it->topic);
        it = order_.erase(it);
    }
}

void MqttOutbox::makeRoom()
{
    if (order_.size() < limit_)
        return;
    byTopic_.erase(order_.front().topic);
    order_.pop_front();
    ++dropped_;
}

} // namespace fieldmon::gateway
