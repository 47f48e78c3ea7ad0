// The pause between two rounds of a periodic thread. It ends at once when a
// stop is requested, so shutting the daemon down never waits out a round.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace brantwell {

inline constexpr std::chrono::seconds kRoundInterval{60};

// Returns false when the wait ended because a stop was requested.
inline bool waitForNextRound(const std::stop_token& stop, std::chrono::milliseconds pause = kRoundInterval)
{
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, pause, [] { return false; });
    return !stop.stop_requested();
}

} // namespace brantwell
