// Tells the user when the daemon loses something: once a minute, while any
// drop counter grows, one line on standard error says what was lost in
// that minute. Nothing is written while the counters stand still.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace brantwell {

using Counters = std::map<std::string, std::uint64_t>;

// The counters that stand for losses, with what the line calls them.
struct DropCounter {
    const char* key;
    const char* text;
};
inline constexpr DropCounter kDropCounters[] = {
    {"kernelDropped", "datagrams dropped by the kernel (receive queue full)"},
    {"eventsUnstored", "events not stored (the write failed)"},
    {"signalDroppedEvents", "event signals dropped (the bus could not keep up)"},
    {"actionsDropped", "actions dropped (too many at once)"},
};

// Remembers the counters of the last check; pure, so it can be tested.
class DropReport {
public:
    // The line (with its LF) when a drop counter grew since the last call,
    // naming each counter that grew with its growth and its total. The
    // first call only takes the counters as the starting point unless
    // `fromZero`, when anything above 0 has grown.
    std::optional<std::string> check(const Counters& counters, bool fromZero = true);

private:
    Counters last_;
};

// Runs a DropReport every `interval` on a thread of its own.
class DropReporter {
public:
    using Source = std::function<Counters()>;
    using Sink = std::function<void(std::string_view line)>;

    static constexpr std::chrono::milliseconds kInterval{60000};

    // Without a sink the lines go to standard error.
    explicit DropReporter(Source source, Sink sink = {}, std::chrono::milliseconds interval = kInterval);
    ~DropReporter();
    DropReporter(const DropReporter&) = delete;
    DropReporter& operator=(const DropReporter&) = delete;

    void start();

private:
    void run(std::stop_token stop);

    Source source_;
    Sink sink_;
    const std::chrono::milliseconds interval_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::jthread thread_;
};

} // namespace brantwell
