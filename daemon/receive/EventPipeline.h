// The path every received message takes, whatever carried it (a UDP
// datagram, a TCP or TLS frame): parse, filter against one settings
// snapshot, announce ("Set"), append to the day's file in one write, then
// dispatch the actions. Messages are gathered into rounds of up to
// kRoundSize; the buffers are reused from round to round, so once warmed up
// the path does not allocate.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "HostResolver.h"
#include "SenderAddress.h"
#include "SyslogParser.h"
#include "store/EventHooks.h"

namespace brantwell {

class EventStore;
class SettingsPipe;
struct Settings;

struct ReceiverStatistics {
    std::atomic<std::uint64_t> received{0};   // datagrams (or frames) taken from the sockets
    std::atomic<std::uint64_t> empty{0};      // no text left after cleaning
    std::atomic<std::uint64_t> cut{0};        // text longer than a message may be: the rest was dropped
    std::atomic<std::uint64_t> invalidUtf8{0};  // bytes that are not UTF-8, stored as U+FFFD
    std::atomic<std::uint64_t> filtered{0};   // rejected by the filters
    std::atomic<std::uint64_t> stored{0};     // lines written
    std::atomic<std::uint64_t> unstored{0};   // accepted but the write failed
    std::atomic<std::uint64_t> kernelDropped{0};  // dropped by the kernel: the socket's receive queue was full
};

class EventPipeline {
public:
    static constexpr int kRoundSize = 128;

    EventPipeline(SettingsPipe& settings, EventStore& store, EventAnnouncer* announcer,
                  ActionDispatcher* dispatcher, ReceiverStatistics& statistics);

    // Starts a round received at `now` (seconds since 1970) with the
    // settings in force now.
    void begin(double now);
    // One message; a full round is finished and a new one begun. `cut`:
    // the carrier already dropped bytes of it.
    void add(std::string_view bytes, const SenderAddress& sender, bool cut = false);
    // Announces, stores and dispatches what the round kept.
    void finish();

    // Relays what is stored to the settings' upstream servers; set before
    // the first round.
    void setForwarder(EventForwarder* forwarder) { forwarder_ = forwarder; }

private:
    SettingsPipe& settingsPipe_;
    EventStore& store_;
    EventAnnouncer* announcer_;
    ActionDispatcher* dispatcher_;
    ReceiverStatistics& statistics_;
    EventForwarder* forwarder_ = nullptr;

    std::shared_ptr<const Settings> settings_;
    double now_ = 0;
    std::string dateText_;
    ParsedDatagram parsed_;
    std::vector<EventRecord> records_ = std::vector<EventRecord>(kRoundSize);
    std::vector<std::string> senderTexts_ = std::vector<std::string>(kRoundSize);
    int kept_ = 0;
    std::uint64_t empty_ = 0;
    std::uint64_t filtered_ = 0;
    std::uint64_t cut_ = 0;
    std::uint64_t invalidUtf8_ = 0;
    HostResolver resolver_;
    // Most messages of a burst come from the sender of the one before.
    SenderAddress lastSender_;
    std::string lastSenderText_;
};

} // namespace brantwell
