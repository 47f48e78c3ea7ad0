#include "Announcements.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <type_traits>

#include <sdbus-c++/sdbus-c++.h>
#include <systemd/sd-bus.h>

#include "BrantwellAdaptor.h"
#include "BusNames.h"

namespace brantwell {

namespace {

using Clock = AnnouncementClock;

// The signals are built here, in place and each addressed to one
// subscriber, which the generated adaptor's emitters cannot do; these lines
// hold them to the interface's XML, so that a change of a signal there
// fails to compile until this code follows it.
using Adaptor = com::Corvanta::BrantwellSrv::MyXPCProtocol_adaptor;
static_assert(std::is_same_v<decltype(&Adaptor::emitBrantwell),
                             void (Adaptor::*)(const std::string& type, const std::vector<std::uint8_t>& lines)>,
              "appendEvents writes the Brantwell signal as (s type, ay lines)");
static_assert(std::is_same_v<decltype(&Adaptor::emitEventsDropped), void (Adaptor::*)(const std::uint64_t& count)>,
              "followUp writes the EventsDropped signal as (t count)");
static_assert(std::string_view(Adaptor::INTERFACE_NAME) == bus::kInterface);
constexpr std::chrono::milliseconds kFollowUp{20};  // while a count, a ping or a removal waits

void wake(int fd)
{
    const std::uint64_t one = 1;
    (void)!write(fd, &one, sizeof one);
}

// sdbus-c++ 1.2 gives no access to the sd-bus message under a Signal. A
// pointer to the protected member, formed through a derived class, reads it
// from any Signal.
struct SignalAccess : sdbus::Signal {
    static sd_bus_message* raw(sdbus::Signal& signal)
    {
        return static_cast<sd_bus_message*>(signal.*(&SignalAccess::msg_));
    }
};

void check(int result, const char* step)
{
    if (result < 0)
        throw sdbus::Error("org.freedesktop.DBus.Error.Failed",
                           std::string("cannot build the event signal: ") + step + ": " + std::strerror(-result));
}

// The signal's arguments: the type, then the events' stored lines, each
// with its LF, in one byte array, exactly as the day file holds them. A
// byte array is copied in one piece and checked by nobody on the way; a
// list of texts would be checked as UTF-8 string by string by the bus
// daemon, and a line edited by hand may hold bytes no text may.
void appendEvents(sdbus::Signal& signal, std::span<const AnnouncementQueue::Pending> events)
{
    sd_bus_message* const m = SignalAccess::raw(signal);
    const char* type = events.front().type == EventType::Set ? "Set" : "Remove";
    check(sd_bus_message_append_basic(m, SD_BUS_TYPE_STRING, type), "type");
    std::size_t size = 0;
    for (const auto& e : events)
        size += e.line.size();
    void* space = nullptr;
    check(sd_bus_message_append_array_space(m, SD_BUS_TYPE_BYTE, size, &space), "lines");
    char* at = static_cast<char*>(space);
    for (const auto& e : events) {
        std::memcpy(at, e.line.data(), e.line.size());
        at += e.line.size();
    }
}

} // namespace

void AnnouncementQueue::announce(EventType type, std::span<const EventRecord> events)
{
    // Nobody listens: nothing to copy, build or send.
    if (events.empty() || subscriberCount_.load(std::memory_order_relaxed) == 0)
        return;
    std::size_t dropped = 0;
    bool wakeBus = false;
    {
        std::unique_lock lock(mutex_);
        if (ring_.empty())
            ring_.resize(kQueueLimit);
        for (const auto& e : events) {
            if (type == EventType::Remove) {
                // The removal pass may wait; its announcements may not be lost.
                while (queued_ >= kQueueLimit - kSetReserve && !stopping_
                       && subscriberCount_.load(std::memory_order_relaxed) > 0) {
                    if (busWaiting_) {
                        busWaiting_ = false;
                        wake(wakeFd_);
                    }
                    roomFreed_.wait(lock);
                }
                if (stopping_ || subscriberCount_.load(std::memory_order_relaxed) == 0)
                    return;
            } else if (queued_ >= kQueueLimit) {
                dropped = events.size() - static_cast<std::size_t>(&e - events.data());
                break;
            }
            Pending& slot = ring_[(head_ + queued_) % kQueueLimit];
            slot.type = type;
            slot.line.clear();  // keeps the slot's buffer
            appendEventLine(slot.line, e);
            ++queued_;
        }
        ringDropped_ += dropped;
        // Only a bus thread asleep on an empty ring needs the wake-up; one
        // that is sending or resting between signals looks again by itself.
        wakeBus = busWaiting_;
        busWaiting_ = false;
    }
    if (wakeBus)
        wake(wakeFd_);
}

void AnnouncementQueue::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    roomFreed_.notify_all();
}

std::size_t AnnouncementQueue::take(std::vector<Pending>& out, bool sleepIfEmpty, bool takeRemoves, std::uint64_t& missed)
{
    std::lock_guard lock(mutex_);
    missed = ringDropped_;
    ringDropped_ = 0;
    std::size_t n = 0;
    const EventType type = queued_ ? ring_[head_].type : EventType::Set;
    if (queued_ && (type == EventType::Set || takeRemoves)) {
        // One type per signal, so that a subscriber that must miss "Set"s
        // never misses a "Remove" with them.
        const std::size_t limit = std::min(queued_, kEventsPerSignal);
        if (out.size() < limit)
            out.resize(limit);
        std::size_t bytes = 0;
        for (; n < limit; ++n) {
            Pending& slot = ring_[(head_ + n) % kQueueLimit];
            if (slot.type != type)
                break;
            bytes += slot.line.size();
            if (n > 0 && bytes > kSignalBytes)
                break;
            out[n].type = slot.type;
            out[n].line.swap(slot.line);
        }
        head_ = (head_ + n) % kQueueLimit;
        queued_ -= n;
        roomFreed_.notify_all();
    }
    busWaiting_ = queued_ == 0 && n == 0 && sleepIfEmpty;
    return n;
}

void AnnouncementQueue::discard()
{
    {
        std::lock_guard lock(mutex_);
        head_ = queued_ = 0;
        ringDropped_ = 0;
    }
    roomFreed_.notify_all();
}

// What the bus thread knows of one subscriber.
struct Subscribers::Subscriber {
    std::unique_ptr<sdbus::IProxy> peer;  // for the pings
    std::uint64_t sent = 0;               // announcements sent to it
    std::uint64_t confirmed = 0;          // of those, read (a ping came back after them)
    std::uint64_t sentBytes = 0;          // the same in bytes, as the bus holds them
    std::uint64_t confirmedBytes = 0;
    std::uint64_t missed = 0;             // not sent, not yet told
    std::uint64_t pingAt = 0;             // `sent` when the outstanding ping left
    std::uint64_t pingAtBytes = 0;
    bool pinging = false;
    Clock::time_point pingSince{};        // when the last ping left
    // Since when its pings go unanswered (every ping answered: unset).
    std::optional<Clock::time_point> unansweredSince;

    std::uint64_t unreadBytes() const { return sentBytes - confirmedBytes; }
    bool open() const
    {
        return sent - confirmed < AnnouncementQueue::kWindow && unreadBytes() < AnnouncementQueue::kWindowBytes;
    }
    bool stalled(Clock::time_point now) const
    {
        return unansweredSince && now - *unansweredSince > AnnouncementQueue::kStallAfter;
    }
    bool silent(Clock::time_point now) const
    {
        return unansweredSince && now - *unansweredSince >= AnnouncementQueue::kDropAfter;
    }
};

Subscribers::Subscribers(AnnouncementQueue& announcements, sdbus::IConnection& connection, sdbus::IObject& object)
    : announcements_(announcements), connection_(connection), object_(object)
{
}

Subscribers::~Subscribers()
{
    announcements_.setSubscriberCount(0);
}

void Subscribers::add(const std::string& name)
{
    if (table_.contains(name))
        return;
    auto& s = table_[name];
    s = std::make_unique<Subscriber>();
    s->peer = sdbus::createProxy(connection_, name, "/");
    announcements_.setSubscriberCount(table_.size());
    // At once: a caller that left before it was noted is found out.
    ping(name, *s);
}

void Subscribers::remove(const std::string& name)
{
    if (table_.contains(name))
        leaving_.push_back(name);
}

void Subscribers::settle()
{
    for (const auto& name : leaving_) {
        if (const auto it = table_.find(name); it != table_.end()) {
            unreadBytes_ -= it->second->unreadBytes();
            table_.erase(it);
        }
    }
    if (!leaving_.empty()) {
        leaving_.clear();
        announcements_.setSubscriberCount(table_.size());
        if (table_.empty())
            announcements_.discard();
    }
}

bool Subscribers::roomForRemoves(Clock::time_point now) const
{
    return unreadBytes_ < AnnouncementQueue::kAllSubscribersBytes
           && std::all_of(table_.begin(), table_.end(),
                          [now](const auto& entry) { return entry.second->open() || entry.second->stalled(now); });
}

void Subscribers::missedByAll(std::uint64_t count)
{
    if (count == 0)
        return;
    for (auto& [name, s] : table_)
        s->missed += count;
    announcements_.counters().dropped.fetch_add(count * table_.size(), std::memory_order_relaxed);
}

// One signal to every subscriber with room; the others miss the events and
// are told later. Room is the subscriber's own window and what the bus
// daemon holds unread for all of them: it counts that against the daemon's
// connection, and stops reading from it at its limit.
void Subscribers::send(std::span<const AnnouncementQueue::Pending> events)
{
    std::uint64_t bytes = AnnouncementQueue::kSignalOverhead;
    for (const auto& e : events)
        bytes += e.line.size();
    auto& counters = announcements_.counters();
    for (auto& [name, s] : table_) {
        if (!s->open() || unreadBytes_ + bytes > AnnouncementQueue::kAllSubscribersBytes) {
            s->missed += events.size();
            counters.dropped.fetch_add(events.size(), std::memory_order_relaxed);
            continue;
        }
        auto signal = object_.createSignal(bus::kInterface, bus::kEventSignal);
        signal.setDestination(name);
        appendEvents(signal, events);
        object_.emitSignal(signal);
        s->sent += events.size();
        s->sentBytes += bytes;
        unreadBytes_ += bytes;
        counters.signalled.fetch_add(events.size(), std::memory_order_relaxed);
        counters.eventSignals.fetch_add(1, std::memory_order_relaxed);
    }
}

std::optional<std::chrono::milliseconds> Subscribers::pump(Clock::time_point now)
{
    // After a signal the thread rests for kSignalInterval before it takes
    // the next: a lone event goes out at once, a steady stream goes out in
    // a few hundred signals a second instead of one per received batch.
    // Per-signal work (building, sending, waking this thread) then no
    // longer grows with the rate.
    bool lookSoon = false;
    if (now >= restUntil_) {
        bool sent = false;
        for (;;) {
            std::uint64_t missed = 0;
            const bool takeRemoves = roomForRemoves(Clock::now());
            const std::size_t n = announcements_.take(pending_, !sent, takeRemoves, missed);
            missedByAll(missed);
            if (n == 0) {
                // A removal waits for a subscriber to read on.
                lookSoon = !takeRemoves;
                break;
            }
            send(std::span<const AnnouncementQueue::Pending>(pending_.data(), n));
            sent = true;
        }
        if (sent)
            restUntil_ = Clock::now() + AnnouncementQueue::kSignalInterval;
    }
    if (!table_.empty())
        lookSoon = followUp(Clock::now()) || lookSoon;
    std::optional<std::chrono::milliseconds> again;
    if (const auto later = Clock::now(); later < restUntil_)
        again = std::chrono::ceil<std::chrono::milliseconds>(restUntil_ - later);
    if (lookSoon)
        again = again ? std::min(*again, kFollowUp) : kFollowUp;
    return again;
}

// Tells what was missed, asks for reading progress, drops a subscriber that
// answered no ping for kDropAfter; returns whether it must look again soon
// (a count or a ping waits).
bool Subscribers::followUp(Clock::time_point now)
{
    static constexpr auto kPingPause = std::chrono::milliseconds(100);
    static constexpr auto kRepingPause = std::chrono::seconds(1);
    auto& counters = announcements_.counters();
    bool again = false;
    for (auto& [name, s] : table_) {
        if (s->silent(now)) {
            // Its unread signals stay with the bus daemon until it reads or
            // leaves; it may subscribe again.
            remove(name);
            counters.droppedSubscribers.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        if (s->missed > 0 && s->open()) {
            auto signal = object_.createSignal(bus::kInterface, bus::kEventsDroppedSignal);
            signal.setDestination(name);
            signal << static_cast<std::uint64_t>(s->missed);
            object_.emitSignal(signal);
            s->missed = 0;
            s->sent += 1;
            s->sentBytes += AnnouncementQueue::kSignalOverhead;
            unreadBytes_ += AnnouncementQueue::kSignalOverhead;
            counters.droppedSignals.fetch_add(1, std::memory_order_relaxed);
        }
        // Something unread to learn about, or a ping that was refused or
        // failed to repeat (less often).
        const bool unread = s->sent > s->confirmed;
        if (!s->pinging
            && ((unread
                 && (s->sent - s->confirmed >= AnnouncementQueue::kPingEvery
                     || s->unreadBytes() >= AnnouncementQueue::kWindowBytes / 4 || now - s->pingSince >= kPingPause))
                || (s->unansweredSince && now - s->pingSince >= kRepingPause)))
            ping(name, *s);
        again = again || s->missed > 0 || unread || s->pinging || s->unansweredSince.has_value();
    }
    return again;
}

void Subscribers::ping(const std::string& name, Subscriber& s)
{
    s.pinging = true;
    s.pingAt = s.sent;
    s.pingAtBytes = s.sentBytes;
    s.pingSince = Clock::now();
    if (!s.unansweredSince)
        s.unansweredSince = s.pingSince;
    s.peer->callMethodAsync("Ping")
        .onInterface("org.freedesktop.DBus.Peer")
        .withTimeout(AnnouncementQueue::kDropAfter)
        .uponReplyInvoke([this, name](const sdbus::Error* error) {
            pong(name, error != nullptr, error ? error->getName() : std::string());
        });
}

void Subscribers::pong(const std::string& name, bool failed, const std::string& error)
{
    const auto it = table_.find(name);
    if (it == table_.end())
        return;
    Subscriber& s = *it->second;
    s.pinging = false;
    if (failed) {
        if (error == "org.freedesktop.DBus.Error.ServiceUnknown" || error == "org.freedesktop.DBus.Error.NameHasNoOwner"
            || error == "org.freedesktop.DBus.Error.Disconnected")
            remove(name);
        // Any other error (no answer in time, the bus's policy refused the
        // ping, its queue is full, a peer without Ping) shows nothing read:
        // the window stays as it is.
        return;
    }
    s.confirmed = std::max(s.confirmed, s.pingAt);
    if (s.pingAtBytes > s.confirmedBytes) {
        unreadBytes_ -= s.pingAtBytes - s.confirmedBytes;
        s.confirmedBytes = s.pingAtBytes;
    }
    s.unansweredSince.reset();
}

} // namespace brantwell
