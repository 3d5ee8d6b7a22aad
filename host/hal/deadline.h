// Deadlines for poll(): a wait that several calls share counts down to one point in time.
#pragma once

#include <chrono>
#include <climits>

namespace orvalinquist {
namespace host {

using SteadyClock = std::chrono::steady_clock;

inline SteadyClock::time_point deadlineIn(int ms) {
    return SteadyClock::now() + std::chrono::milliseconds(ms);
}

// Whole milliseconds left until `deadline`, rounded down; 0 once it has passed.
inline int msUntil(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) return 0;
    return left.count() < INT_MAX ? static_cast<int>(left.count()) : INT_MAX;
}

}  // namespace host
}  // namespace orvalinquist
