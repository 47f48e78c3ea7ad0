// One upstream server of "forwardingArray" and everything relayed to it.
//
// The receivers hand over stored lines (take); they go into memory and the
// call returns at once: a receiver never waits for a network or a disk.
// For TCP and TLS a spooling thread moves them to the destination's queue
// on disk, and a sending thread reads the queue, frames each line in the
// destination's format and writes it to the connection; a line leaves the
// queue once the server's TCP has acknowledged its bytes, so a connection
// that breaks loses nothing (what was written but not acknowledged goes
// again, which may repeat a few lines rather than lose them). A connection
// that cannot be made is tried again after 1 s, doubling to 60 s.
//
// UDP is best effort: the lines wait in memory only (up to the smaller of
// the queue's bound and 16 MiB) and go out one datagram each.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "ForwardingRecord.h"

namespace brantwell {

class ForwardQueue;

// Kept across a change of the destination's record, so counts go on.
struct DestinationCounters {
    std::atomic<std::uint64_t> sent{0};
    std::atomic<std::uint64_t> dropped{0};
};

struct DestinationState {
    bool connected = false;
    std::string lastError;  // empty until something failed; kept while not connected
    std::uint64_t sent = 0;
    std::uint64_t queued = 0;
    std::uint64_t dropped = 0;
};

class Destination {
public:
    // `folder`: where its queue lives (the data directory's
    // "forward/<name>"); made when the threads start.
    Destination(std::shared_ptr<const ForwardingDestination> config, std::string folder,
                std::shared_ptr<DestinationCounters> counters);
    ~Destination();  // stops
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    void start();
    // What is in memory goes to the queue on disk first (TCP, TLS).
    void stop();
    // Stops, takes the new record and starts again; lines taken meanwhile wait.
    void reconfigure(std::shared_ptr<const ForwardingDestination> config);

    std::shared_ptr<const ForwardingDestination> config() const { return config_.load(std::memory_order_acquire); }

    // Receiver threads: `lines` whole stored lines (each ending in LF).
    // Beyond the memory bound they are dropped and counted.
    void take(std::string_view lines, std::uint64_t count);

    DestinationState state() const;

private:
    void spool(std::stop_token stop);
    void sendStream(std::stop_token stop);
    void sendDatagrams(std::stop_token stop);
    void setError(std::string error);
    void setConnected(bool connected);
    std::uint64_t intakeLimit() const;

    std::atomic<std::shared_ptr<const ForwardingDestination>> config_;
    const std::string folder_;
    std::shared_ptr<DestinationCounters> counters_;

    // What the receivers handed over and no thread has taken yet.
    mutable std::mutex intakeMutex_;
    std::condition_variable_any intakeReady_;
    std::string intake_;
    std::uint64_t intakeLines_ = 0;

    // The queue on disk, shared by the spooling and the sending thread.
    mutable std::mutex queueMutex_;
    std::condition_variable_any queueReady_;
    std::unique_ptr<ForwardQueue> queue_;
    std::uint64_t queueDroppedSeen_ = 0;
    bool queueChanged_ = false;

    mutable std::mutex stateMutex_;
    bool connected_ = false;
    std::string lastError_;

    std::jthread spooler_;
    std::jthread sender_;
};

} // namespace brantwell
