// The announcements of stored and removed events on the bus: the queue the
// receiver and the removal pass put them into, the subscribers, and the
// flow control that keeps what the bus daemon holds for them bounded.
//
// The receiver only appends to a bounded queue and never waits for the bus;
// when the queue is full, "Set" announcements are dropped and every
// subscriber is told how many it missed (EventsDropped). "Remove"
// announcements wait for room instead: they come from the removal pass,
// which may wait. With no subscriber nothing is queued, built or sent.
//
// Each subscriber has a window of announcements it may have unread, in
// events and in bytes, and all of them together one in bytes: the bus
// thread pings each now and then (org.freedesktop.DBus.Peer.Ping, which the
// policy file lets root send) and only a reply shows what it has read, since
// the bus keeps the order; a refused or failed ping shows nothing. A
// subscriber whose window is full misses "Set"s (and is told) rather than
// piling them up in the bus daemon, which counts them against this
// connection and stops serving it at its limit. One that answers no ping for
// kDropAfter is dropped from the subscribers.
//
// An event goes out as its stored line: signal Brantwell(s type, ay lines),
// the lines each with its LF, byte for byte as the day file holds them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "store/EventHooks.h"

namespace sdbus {
class IConnection;
class IObject;
class IProxy;
class Signal;
} // namespace sdbus

namespace brantwell {

using AnnouncementClock = std::chrono::steady_clock;

// The queue between the threads that announce and the bus thread, and the
// counters of what was sent and missed. announce() from any thread; the
// rest from the bus thread.
class AnnouncementQueue final : public EventAnnouncer {
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
    // What a signal holds besides its lines (header, type), as the bus
    // counts it.
    static constexpr std::size_t kSignalOverhead = 192;
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

    // One queued event: its type and its stored line with the LF.
    struct Pending {
        EventType type = EventType::Set;
        std::string line;
    };

    // `wakeFd`: an eventfd the bus thread polls; written when it must look.
    explicit AnnouncementQueue(int wakeFd) : wakeFd_(wakeFd) {}

    // From any thread. "Set"s never wait; "Remove"s wait for room in the
    // queue while anyone is subscribed. Returns at once without subscribers.
    void announce(EventType type, std::span<const EventRecord> events) override;

    // Lets a removal waiting for room go on, now and from now on.
    void stop();

    // Moves up to kEventsPerSignal queued events of one type into `out` (its
    // slots trade buffers with the ring's); returns how many, and in
    // `missed` the "Set"s dropped since the last call. A "Remove" at the head
    // is taken only with `takeRemoves`. With `sleepIfEmpty` an empty ring
    // marks the bus thread as waiting to be woken.
    std::size_t take(std::vector<Pending>& out, bool sleepIfEmpty, bool takeRemoves, std::uint64_t& missed);
    // Subscribers are gone (or the thread stops): empties the queue and
    // lets a waiting removal pass go on.
    void discard();

    // Written by the bus thread only; announce() reads it to skip all work.
    void setSubscriberCount(std::size_t n) { subscriberCount_.store(n); }
    std::size_t subscriberCount() const { return subscriberCount_.load(); }

    // The counters getStatistics reports.
    struct Counters {
        std::atomic<std::uint64_t> signalled{0};           // events put into signals, per subscriber
        std::atomic<std::uint64_t> dropped{0};             // events a subscriber missed, all told
        std::atomic<std::uint64_t> eventSignals{0};        // Brantwell messages sent
        std::atomic<std::uint64_t> droppedSignals{0};      // EventsDropped messages sent
        std::atomic<std::uint64_t> droppedSubscribers{0};  // for answering no ping
    };
    Counters& counters() { return counters_; }
    const Counters& counters() const { return counters_; }

private:
    const int wakeFd_;
    // A ring of kQueueLimit slots whose lines keep their buffers, so that
    // queueing an event copies bytes but allocates nothing once warm.
    std::mutex mutex_;
    std::vector<Pending> ring_;      // GUARDED_BY(mutex_)
    std::size_t head_ = 0;           // GUARDED_BY(mutex_): the oldest slot
    std::size_t queued_ = 0;         // GUARDED_BY(mutex_)
    bool busWaiting_ = false;        // GUARDED_BY(mutex_): asleep until woken
    std::uint64_t ringDropped_ = 0;  // GUARDED_BY(mutex_): "Set"s not queued, not yet told
    bool stopping_ = false;          // GUARDED_BY(mutex_)
    std::condition_variable roomFreed_;  // a removal waits on it for room
    std::atomic<std::size_t> subscriberCount_{0};
    Counters counters_;
};

// The subscribers of one bus connection, by unique bus name, and the
// sending of the queued announcements to them. Used on the bus thread only.
class Subscribers {
public:
    Subscribers(AnnouncementQueue& announcements, sdbus::IConnection& connection, sdbus::IObject& object);
    ~Subscribers();
    Subscribers(const Subscribers&) = delete;
    Subscribers& operator=(const Subscribers&) = delete;

    bool empty() const { return table_.empty(); }
    void add(const std::string& name);
    // Noted now, done by settle(): the callbacks that ask for it run inside
    // the objects they would destroy.
    void remove(const std::string& name);
    void settle();

    // Sends what the queue holds, unless the thread rests after its last
    // signal; then tells what was missed and asks for reading progress.
    // Returns how soon (at most) the thread must look again, if at all.
    std::optional<std::chrono::milliseconds> pump(AnnouncementClock::time_point now);

private:
    struct Subscriber;
    // Whether a "Remove" may go out now: every subscriber still reading
    // has room for it.
    bool roomForRemoves(AnnouncementClock::time_point now) const;
    void missedByAll(std::uint64_t count);
    void send(std::span<const AnnouncementQueue::Pending> events);
    bool followUp(AnnouncementClock::time_point now);
    void ping(const std::string& name, Subscriber& s);
    void pong(const std::string& name, bool failed, const std::string& error);

    AnnouncementQueue& announcements_;
    sdbus::IConnection& connection_;
    sdbus::IObject& object_;
    std::map<std::string, std::unique_ptr<Subscriber>> table_;
    std::vector<std::string> leaving_;
    std::uint64_t unreadBytes_ = 0;  // sent to all subscribers, not known read
    std::vector<AnnouncementQueue::Pending> pending_;
    AnnouncementClock::time_point restUntil_ = AnnouncementClock::time_point::min();
};

} // namespace brantwell
