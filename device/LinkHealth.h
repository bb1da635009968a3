#pragma once
// How far one device's link can be trusted: round-trip times of value
// requests, the share of requests left without a reply, and the silence
// since the device was last heard.
//
// The record feeds it two facts: a request went out (its identifier and the
// time) and a reply came in (the identifier it answers and the time). When
// the device was last heard it reads from the record's presence clock, the
// one place that time is kept. figures(now) reads:
//
//   - the median and the 95th percentile (nearest rank) of the round-trip
//     times of replies received in the last minute;
//   - loss, 0 to 1: of the requests sent in the last minute whose reply
//     deadline (1 s) has passed, the share that got no reply within it.
//     A late reply still gives a round-trip time, but its request counts
//     as lost. Requests younger than the deadline are not counted yet;
//   - the seconds since the presence clock last heard the device;
//   - since the record was made: the requests sent, the replies that
//     answered one, and the sum of their round-trip times (what a
//     monitoring system turns into rates).
//
// A reply matches the newest unanswered request with its identifier (the
// identifiers wrap, so an old one may come round again); a reply nobody
// asked for, or a second reply to the same request, changes nothing.
//
// Memory is bounded: the last kRemembered requests, kept in a ring that is
// allocated at the first request (a record that never asks costs nothing).
// At the fastest polling rate (20 requests a second) the ring still holds
// most of a minute.
//
// Times are seconds of the main loop's monotonic clock.
//
// Thread rule: main thread only (the reply path runs there); the presence
// clock may be written from any thread.

#include "device/PresenceClock.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace fieldmon {

class LinkHealth {
public:
    static constexpr double kWindowSeconds = 60.0;
    static constexpr double kReplyDeadline = 1.0;
    static constexpr std::size_t kRemembered = 1024;

    struct Figures {
        std::optional<double> rttMedian; // seconds; none without a reply in the window
        std::optional<double> rttP90;
        std::optional<double> rttP95;
        std::optional<double> rttP99;
        std::optional<double> loss;      // none while no request has passed its deadline
        std::optional<double> sinceLast; // none before the first datagram
        std::size_t replies = 0;         // round-trip times behind the two figures
        std::size_t requests = 0;        // requests behind the loss figure
        std::uint64_t requestsSentTotal = 0;
        std::uint64_t repliesTotal = 0;
        double rttSumTotal = 0; // seconds
    };

    // `heard` outlives this (the record owns both).
    explicit LinkHealth(const PresenceClock& heard) : heard_(heard) {}

    void requestSent(std::uint32_t id, double time);
    void replyReceived(std::uint32_t id, double time);

    Figures figures(double now) const;

private:
    struct Request {
        std::uint32_t id = 0;
        double sent = 0;
        double replied = -1; // < 0: no reply yet
    };
    using Ring = std::array<Request, kRemembered>;

    const PresenceClock& heard_;
    std::unique_ptr<Ring> ring_;
    std::size_t next_ = 0;  // where the next request goes
    std::size_t count_ = 0; // requests in the ring
    std::uint64_t requestsSentTotal_ = 0;
    std::uint64_t repliesTotal_ = 0;
    double rttSumTotal_ = 0;
};

} // namespace fieldmon
