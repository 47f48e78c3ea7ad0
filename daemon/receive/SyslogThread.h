// The receiver: owns the UDP socket and turns each datagram into at most
// one stored event.
//
// Datagrams are taken in batches with recvmmsg. For each batch: parse,
// filter against one settings snapshot, announce the kept events ("Set"),
// append them to the day's file in one write, then dispatch the actions.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "store/EventHooks.h"

namespace brantwell {

class EventStore;
class SettingsPipe;

struct ReceiverStatistics {
    std::atomic<std::uint64_t> received{0};   // datagrams taken from the socket
    std::atomic<std::uint64_t> empty{0};      // no text left after cleaning
    std::atomic<std::uint64_t> filtered{0};   // rejected by the filters
    std::atomic<std::uint64_t> stored{0};     // lines written
    std::atomic<std::uint64_t> unstored{0};   // accepted but the write failed
    std::atomic<std::uint64_t> kernelDropped{0};  // dropped by the kernel: the socket's receive queue was full
};

class SyslogThread {
public:
    using Clock = std::function<double()>;  // seconds since 1970

    SyslogThread(SettingsPipe& settings, EventStore& store, EventAnnouncer* announcer,
                 ActionDispatcher* dispatcher, Clock clock = {});
    ~SyslogThread();
    SyslogThread(const SyslogThread&) = delete;
    SyslogThread& operator=(const SyslogThread&) = delete;

    // Binds the UDP socket on `address`:`port` (a large receive buffer,
    // address reuse). Returns false and leaves errno when it fails; errno is
    // EADDRINUSE when another socket holds the port, with or without reuse.
    bool open(std::uint16_t port, const std::string& address = "0.0.0.0");
    std::uint16_t boundPort() const;

    // The receive loop; returns when `stop` is requested.
    void run(std::stop_token stop);

    const ReceiverStatistics& statistics() const { return statistics_; }

private:
    struct Batch;
    void handleBatch(Batch& batch, int count);
    void readKernelDrops();

    SettingsPipe& settings_;
    EventStore& store_;
    EventAnnouncer* announcer_;
    ActionDispatcher* dispatcher_;
    Clock clock_;
    int fd_ = -1;
    int wakeFd_ = -1;  // eventfd that ends a wait for datagrams at stop
    bool dropsStale_ = false;  // datagrams came since the kernel's drop count was read
    bool gather_ = false;      // the socket buffer is large enough to let datagrams gather
    ReceiverStatistics statistics_;
};

} // namespace brantwell
