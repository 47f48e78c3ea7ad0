// The daemon's side of D-Bus: owns com.Corvanta.BrantwellSrv on the system
// bus, serves setCommand and getStatistics, and sends the Brantwell signal.
//
// One thread owns the bus connection: it answers method calls and sends
// the queued announcements, so no sd-bus object is touched by two threads.
// The receiver only appends to a bounded queue and never waits for the bus;
// when the queue is full, announcements are dropped and counted, and the
// store is unaffected. Without a bus the daemon goes on receiving; the
// thread says so once and connects again when a bus appears.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "store/EventHooks.h"

namespace brantwell {

// Carries out the commands; each returns when its command is done.
struct CommandHandlers {
    std::function<void(const nlohmann::json&)> save;
    std::function<void(const nlohmann::json&)> email;
    std::function<void(const nlohmann::json&)> update;
    std::function<std::map<std::string, std::uint64_t>()> statistics;
    // What the daemon is and where it keeps its files ("version",
    // "dataDirectory", "port"), for brantwellctl status.
    std::function<std::map<std::string, std::string>()> status;
};

// Whether a caller may steer the daemon: root, or a member of the group
// "brantwell" by its primary, effective or supplementary groups.
bool isAuthorisedCaller(std::uint32_t uid, const std::vector<std::uint32_t>& gids, std::int64_t brantwellGid);

// Runs one command text: a JSON object, dispatched on its "command".
// Returns false (and runs nothing) when the text is not a JSON object or
// is nested too deep to handle safely.
bool runCommandText(const std::string& text, const CommandHandlers& handlers);

class CommandChannel final : public EventAnnouncer {
public:
    static constexpr std::size_t kQueueLimit = 32768;  // events waiting for the bus
    static constexpr std::size_t kEventsPerSignal = 512;
    static constexpr std::chrono::milliseconds kSignalInterval{5};  // rest after a signal

    struct Pending {
        EventType type = EventType::Set;
        EventRecord event;
    };

    explicit CommandChannel(CommandHandlers handlers);
    ~CommandChannel() override;

    void start();
    void stop();

    // From any thread; never blocks on the bus.
    void announce(EventType type, std::span<const EventRecord> events) override;

    std::uint64_t signalledEvents() const { return signalled_.load(); }
    std::uint64_t droppedEvents() const { return dropped_.load(); }
    bool connected() const { return connected_.load(); }

private:
    void run(std::stop_token stop);
    void serve(std::stop_token stop);  // one connection's life
    // Moves up to kEventsPerSignal queued events into `out` (its slots
    // trade buffers with the ring's); returns how many. With `sleepIfEmpty`
    // an empty ring marks the thread as waiting to be woken.
    std::size_t takeQueued(std::vector<Pending>& out, bool sleepIfEmpty);

    CommandHandlers handlers_;
    int wakeFd_ = -1;
    // The announcements waiting for the bus: a ring of kQueueLimit slots
    // whose texts keep their buffers, so that queueing an event copies bytes
    // but allocates nothing once the ring is warm.
    std::mutex queueMutex_;
    std::vector<Pending> ring_;        // GUARDED_BY(queueMutex_)
    std::size_t head_ = 0;          // GUARDED_BY(queueMutex_): the oldest slot
    std::size_t queued_ = 0;        // GUARDED_BY(queueMutex_)
    bool busWaiting_ = false;       // GUARDED_BY(queueMutex_): asleep until woken
    std::atomic<std::uint64_t> signalled_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<bool> connected_{false};
    std::jthread thread_;
};

} // namespace brantwell
