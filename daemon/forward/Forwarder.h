// Relays the stored events to the upstream servers of "forwardingArray":
// one Destination per record, by name, following the saved settings.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Destination.h"
#include "store/EventHooks.h"

namespace brantwell {

class SettingsPipe;

struct ForwardingStatus {
    std::string name;
    std::string target;  // "host:port (tcp)"
    DestinationState state;
};

class Forwarder : public EventForwarder {
public:
    Forwarder(SettingsPipe& settings, std::string dataDirectory);
    ~Forwarder() override;
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    // Starts the destinations of the settings in force and then follows
    // each save; call before the receivers start, so none of their events
    // misses a destination.
    void start();
    // Stops every destination; what they hold in memory is queued first.
    void stop();

    // Follows the settings in force now (a save calls it before it is
    // answered, so events stored after the answer reach a new destination).
    void refresh();

    void forward(const Settings& settings, std::span<const EventRecord> events,
                 std::span<const std::string> senders) override;

    // Every destination in force, in the settings' order.
    std::vector<ForwardingStatus> status() const;

    // Where a destination's queue lives.
    static std::string queueFolder(const std::string& dataDirectory, const std::string& name);

private:
    void follow(std::stop_token stop);
    void apply(const Settings& settings);

    using DestinationList = std::vector<std::shared_ptr<Destination>>;

    SettingsPipe& settings_;
    const std::string dataDirectory_;
    std::atomic<std::shared_ptr<const DestinationList>> active_;
    std::mutex applyMutex_;  // one change of the destinations at a time
    std::uint64_t generation_ = 0;  // GUARDED_BY(applyMutex_)
    std::map<std::string, std::shared_ptr<DestinationCounters>> counters_;  // GUARDED_BY(applyMutex_)
    std::jthread follower_;
};

} // namespace brantwell
