// The seams between the receiver and what happens around a stored event:
// the announcement on the bus ("Set" before the append, "Remove" when an
// event leaves the store) and the automatic actions after the append.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "EventRecord.h"

namespace brantwell {

struct Settings;

enum class EventType { Set, Remove };

// Called on the receiver and removal threads. A "Set" announcement never
// blocks the receiver; a "Remove" announcement may wait until the bus has
// room for it, so that no removal goes unannounced.
class EventAnnouncer {
public:
    virtual ~EventAnnouncer() = default;
    virtual void announce(EventType type, std::span<const EventRecord> events) = 0;
};

// An event the filters accepted and the store has taken.
struct AcceptedEvent {
    std::string_view senderAddress;  // dotted or IPv6 address, also when a name was resolved
    double receptionTime = 0;        // seconds since 1970
    const EventRecord& record;
};

// Called on the receiver thread for every accepted event; starts the
// commands of matching actions and returns without waiting for them.
class ActionDispatcher {
public:
    virtual ~ActionDispatcher() = default;
    virtual void dispatch(const Settings& settings, const AcceptedEvent& event) = 0;
};

// Called on the receiver thread with every round the store has taken, in
// the order it was stored: relays the events to the upstream servers of the
// settings. Takes them into memory and returns; never waits for a network
// or a disk. `senders` holds each event's sender address (never a name).
class EventForwarder {
public:
    virtual ~EventForwarder() = default;
    virtual void forward(const Settings& settings, std::span<const EventRecord> events,
                         std::span<const std::string> senders) = 0;
};

} // namespace brantwell
