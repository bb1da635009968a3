#pragma once
// A plain libmosquitto client for tests: subscribes, records every message
// it gets (in its own loop thread, under a mutex) and publishes commands.

#include <mosquitto.h>

#include <QCoreApplication>
#include <QTest>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fieldmon::gateway::testing {

struct Received {
    std::string topic;
    std::string payload;
    bool retained = false;
};

class TestSubscriber {
public:
    explicit TestSubscriber(int port, std::string pattern = "#") : pattern_(std::move(pattern))
    {
        mosquitto_lib_init();
        handle_ = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(handle_, [](mosquitto* m, void* self, int rc) {
            auto* me = static_cast<TestSubscriber*>(self);
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, me->pattern_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(handle_, [](mosquitto*, void* self, int, int, const int*) {
            auto* me = static_cast<TestSubscriber*>(self);
            std::lock_guard lock(me->mutex_);
            me->subscribed_ = true;
        });
        mosquitto_message_callback_set(handle_, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* me = static_cast<TestSubscriber*>(self);
            std::lock_guard lock(me->mutex_);
            me->messages_.push_back({m->topic, std::string(static_cast<const char*>(m->payload),
                                                           static_cast<std::size_t>(m->payloadlen)),
                                     m->retain});
        });
        mosquitto_connect(handle_, "127.0.0.1", port, 30);
        mosquitto_loop_start(handle_);
    }
    ~TestSubscriber()
    {
        mosquitto_disconnect(handle_);
        mosquitto_loop_stop(handle_, false);
        mosquitto_destroy(handle_);
    }

    // Waits for the subscription to be in place (running the Qt loop meanwhile).
    bool waitSubscribed(int ms = 5000)
    {
        return waitFor([&] { return subscribed_; }, ms);
    }

    // Runs the Qt event loop (the gateway's side) until `condition` holds
    // over the messages received, or `ms` pass.
    bool waitFor(const std::function<bool()>& condition, int ms = 10000)
    {
        return QTest::qWaitFor(
            [&] {
                std::lock_guard lock(mutex_);
                return condition();
            },
            ms);
    }

    bool waitForMessage(const std::string& topic, const std::string& payload, int ms = 10000)
    {
        return waitFor([&] { return countLocked(topic, &payload) > 0; }, ms);
    }

    std::vector<Received> messages()
    {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<Received> on(const std::string& topic)
    {
        std::lock_guard lock(mutex_);
        std::vector<Received> out;
        for (const Received& m : messages_)
            if (m.topic == topic)
                out.push_back(m);
        return out;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        messages_.clear();
    }

    void publish(const std::string& topic, const std::string& payload, bool retain = false)
    {
        mosquitto_publish(handle_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
    }

    // Callers of waitFor's condition hold the lock already.
    std::size_t countLocked(const std::string& topic, const std::string* payload = nullptr) const
    {
        std::size_t n = 0;
        for (const Received& m : messages_)
            if (m.topic == topic && (!payload || m.payload == *payload))
                ++n;
        return n;
    }

private:
    std::string pattern_;
    mosquitto* handle_ = nullptr;
    std::mutex mutex_;
    std::vector<Received> messages_;
    bool subscribed_ = false;
};

} // namespace fieldmon::gateway::testing
