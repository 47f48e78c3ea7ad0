// The daemon's side of D-Bus: owns com.Corvanta.BrantwellSrv on the system
// bus, serves setCommand, getStatistics, Subscribe and Unsubscribe, and sends
// the Brantwell signal to each subscriber, addressed to it alone.
//
// One thread owns the bus connection: it answers method calls and sends
// the queued announcements, so no sd-bus object is touched by two threads.
// With no subscriber nothing is queued, built or sent. The receiver only
// appends to a bounded queue and never waits for the bus; when the queue is
// full, "Set" announcements are dropped and every subscriber is told how
// many it missed (EventsDropped). "Remove" announcements wait for room
// instead: they come from the removal pass, which may wait. Without a bus
// the daemon goes on receiving; the thread says so once and connects again
// when a bus appears.
//
// Each subscriber has a window of announcements it may have unread, in
// events and in bytes, and all of them together one in bytes: the thread
// pings each now and then (org.freedesktop.DBus.Peer.Ping, which the policy
// file lets root send) and only a reply shows what it has read, since the
// bus keeps the order; a refused or failed ping shows nothing. A subscriber
// whose window is full misses "Set"s (and is told) rather than piling them
// up in the bus daemon, which counts them against this connection and stops
// serving it at its limit. One that answers no ping for kDropAfter is
// dropped from the subscribers.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <sdbus-c++/Message.h>

#include "store/EventHooks.h"

namespace brantwell {

// Answers a command whose work ends after its handler has returned. Called
// once, from any thread: an empty text answers "Received", any other text
// is the failure the caller is told.
using CommandReply = std::function<void(const std::string& failure)>;

// A command that could not be carried out, answered with the D-Bus error
// `name` (the interface's own or a standard one) and the text.
struct CommandError : std::runtime_error {
    CommandError(std::string errorName, const std::string& what) : std::runtime_error(what), name(std::move(errorName)) {}
    std::string name;
};

// Carries out the commands. save, merge and update run on the channel's
// command worker, one at a time in the order they came, never on the bus
// thread; each returns once its command is done and throws CommandError
// (or any exception, answered as org.freedesktop.DBus.Error.Failed) when it
// could not be. email starts the message and returns at once; `reply`
// hears how the SMTP dialogue ended, so a slow server holds nothing up.
struct CommandHandlers {
    std::function<void(const nlohmann::json&)> save;
    std::function<void(const nlohmann::json&, CommandReply reply)> email;
    std::function<void(const nlohmann::json&)> update;
    std::function<std::map<std::string, std::uint64_t>()> statistics;
    // What the daemon is and where it keeps its files ("version",
    // "dataDirectory", "port"), for brantwellctl status.
    std::function<std::map<std::string, std::string>()> status;
    std::function<void(const nlohmann::json&)> merge;
};

// Whether a caller may steer the daemon: root, or a member of the group
// "brantwell" by its primary or supplementary groups.
bool isAuthorisedCaller(std::uint32_t uid, const std::vector<std::uint32_t>& gids, std::int64_t brantwellGid);

// A command text as the channel takes it: a JSON object nested at most 64
// deep with a known "command" and what that command needs. `error` (a D-Bus
// error name) and `why` are set when it is not; then nothing may run.
struct CheckedCommand {
    nlohmann::json command;
    std::string name;
    std::string error;
    std::string why;
};
CheckedCommand checkCommandText(const std::string& text);

class CommandChannel final : public EventAnnouncer {
public:
    static constexpr std::size_t kQueueLimit = 32768;  // events waiting for the bus
    // Slots removals leave free, so that a removal pass over a whole store
    // does not crowd out the events arriving meanwhile.
    static constexpr std::size_t kSetReserve = 8192;
    // Signals of about kSignalBytes. Fewer and larger signals cost every
    // process on the way less (sends, wake-ups and switches are per
    // signal), up to a point: the bus daemon keeps a message in a buffer
    // that grows by doubling, and once that reaches malloc's mmap threshold
    // (128 KiB) every message costs it fresh pages, faulted in and zeroed.
    // Measured at 200,000 events/s: 20 KiB signals 1.29 us of bus daemon CPU
    // per event, 32 KiB 1.14, 48 KiB 1.12, 64 KiB 3.10.
    static constexpr std::size_t kSignalBytes = 32 * 1024;
    static constexpr std::size_t kEventsPerSignal = 1024;  // bounds the events taken at once
    // What an event adds to a signal besides its texts: keys, lengths,
    // padding.
    static constexpr std::size_t kEventOverhead = 96;
    static constexpr std::chrono::milliseconds kSignalInterval{5};  // rest after a signal
    // Announcements a subscriber may have unread, in events and in bytes,
    // and how often it is asked.
    static constexpr std::uint64_t kWindow = 65536;
    static constexpr std::uint64_t kWindowBytes = 8 * 1024 * 1024;
    static constexpr std::uint64_t kPingEvery = kWindow / 4;
    // What all subscribers together may have unread. The bus daemon counts
    // the messages it holds for them against this daemon's connection and
    // stops reading from it at 127 MiB (Debian's limit): calls would go
    // unanswered.
    static constexpr std::uint64_t kAllSubscribersBytes = 32 * 1024 * 1024;
    // A subscriber that has not answered a ping for this long is stalled:
    // removals no longer wait for it; it is told what it missed instead.
    static constexpr std::chrono::seconds kStallAfter{5};
    // One that answers no ping for this long is no longer a subscriber.
    static constexpr std::chrono::seconds kDropAfter{30};

    struct Pending {
        EventType type = EventType::Set;
        EventRecord event;
    };

    explicit CommandChannel(CommandHandlers handlers);
    ~CommandChannel() override;

    void start();
    void stop();

    // From any thread. "Set"s never wait; "Remove"s wait for room in the
    // queue while anyone is subscribed. Returns at once without subscribers.
    void announce(EventType type, std::span<const EventRecord> events) override;

    // Events put into signals (one count per subscriber that got them).
    std::uint64_t signalledEvents() const { return signalled_.load(); }
    // Events a subscriber missed (one count per subscriber), all told.
    std::uint64_t droppedEvents() const { return dropped_.load(); }
    bool connected() const { return connected_.load(); }
    std::size_t subscribers() const { return subscriberCount_.load(); }

private:
    struct Subscriber;
    class Subscribers;
    class Callers;

    void run(std::stop_token stop);
    void serve(std::stop_token stop);  // one connection's life
    // Moves up to kEventsPerSignal queued events of one type into `out` (its
    // slots trade buffers with the ring's); returns how many, and in
    // `missed` the "Set"s dropped since the last call. A "Remove" at the head
    // is taken only with `takeRemoves`. With `sleepIfEmpty` an empty ring
    // marks the thread as waiting to be woken.
    std::size_t takeQueued(std::vector<Pending>& out, bool sleepIfEmpty, bool takeRemoves, std::uint64_t& missed);
    // Subscribers are gone (or the thread stops): empties the queue and
    // lets a waiting removal pass go on.
    void discardQueued();
    // Sends the answers the workers have given to deferred calls.
    void sendAnswers(std::map<std::uint64_t, sdbus::MethodCall>& awaiting);

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
    std::uint64_t ringDropped_ = 0; // GUARDED_BY(queueMutex_): "Set"s not queued, not yet told
    bool stopping_ = false;         // GUARDED_BY(queueMutex_)
    std::condition_variable roomFreed_;  // a removal waits on it for room
    // Written by the bus thread only; announce() reads it to skip all work.
    std::atomic<std::size_t> subscriberCount_{0};
    std::atomic<std::uint64_t> signalled_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> eventSignals_{0};    // Brantwell messages sent
    std::atomic<std::uint64_t> droppedSignals_{0};  // EventsDropped messages sent
    std::atomic<std::uint64_t> droppedSubscribers_{0};  // for answering no ping
    std::atomic<bool> connected_{false};
    // Answers of deferred commands, handed from the workers to the bus
    // thread, which alone may touch the bus. Shared so that a late answer
    // after the channel is gone finds something to drop itself into.
    struct Answers {
        std::mutex mutex;
        struct Answer {
            std::uint64_t call;
            std::string error;  // empty: "Received"
            std::string message;
        };
        std::vector<Answer> ready;
        int wakeFd = -1;  // -1 once the channel is gone
    };
    std::shared_ptr<Answers> answers_ = std::make_shared<Answers>();
    // Answers call `id` from any thread, once the bus thread sends it.
    static void answerLater(const std::shared_ptr<Answers>& answers, std::uint64_t id, std::string error,
                            std::string message);
    // The command worker: save, merge and update, one at a time, off the
    // bus thread.
    void work(std::stop_token stop);
    std::mutex jobsMutex_;
    std::condition_variable_any jobsReady_;
    std::queue<std::function<void()>> jobs_;  // GUARDED_BY(jobsMutex_)
    std::jthread worker_;
    std::jthread thread_;
};

} // namespace brantwell
