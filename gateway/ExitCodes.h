#pragma once
// fieldmon-gateway's exit codes, as documented in --help and the README.

namespace fieldmon::gateway::exitcode {

constexpr int ok = 0;
constexpr int failure = 1;        // a fault while running (the broker's connection broke for good, ...)
constexpr int usage = 2;          // bad options or configuration file
constexpr int brokerRefused = 3;  // the broker refused the user name, password or client id
constexpr int metricsAddress = 4; // the metrics address could not be bound

} // namespace fieldmon::gateway::exitcode
