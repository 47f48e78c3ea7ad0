// The receiver: owns the UDP socket and turns each datagram into at most
// one stored event.
//
// Datagrams are taken in batches with recvmmsg; each batch is one round of
// the event pipeline. By default one dual-stack socket takes IPv4 and IPv6.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "EventPipeline.h"
#include "ReceptionStatus.h"
#include "store/EventHooks.h"

namespace brantwell {

class EventStore;
class SettingsPipe;

class SyslogThread {
public:
    using Clock = std::function<double()>;  // seconds since 1970

    SyslogThread(SettingsPipe& settings, EventStore& store, EventAnnouncer* announcer,
                 ActionDispatcher* dispatcher, Clock clock = {});
    ~SyslogThread();
    SyslogThread(const SyslogThread&) = delete;
    SyslogThread& operator=(const SyslogThread&) = delete;

    // Binds the UDP socket on `address`:`port` (a large receive buffer, the
    // port for this socket alone). "::" takes IPv6 and IPv4 on one socket,
    // and falls back to IPv4 alone on a machine without IPv6. Returns false
    // and leaves errno when it fails; errno is EADDRINUSE when another
    // socket holds the port. reception() says the outcome.
    bool open(std::uint16_t port, const std::string& address = "::");
    std::uint16_t boundPort() const;

    // Relays stored events to upstream servers; set before run().
    void setForwarder(EventForwarder* forwarder) { pipeline_.setForwarder(forwarder); }

    // The receive loop; returns when `stop` is requested.
    void run(std::stop_token stop);

    const ReceiverStatistics& statistics() const { return statistics_; }
    const ReceptionStatus& reception() const { return reception_; }

private:
    struct Batch;
    void handleBatch(Batch& batch, int count);
    void readKernelDrops();
    void reportFailure(std::uint16_t port);

    Clock clock_;
    int fd_ = -1;
    int wakeFd_ = -1;  // eventfd that ends a wait for datagrams at stop
    bool dropsStale_ = false;  // datagrams came since the kernel's drop count was read
    bool gather_ = false;      // the socket buffer is large enough to let datagrams gather
    ReceiverStatistics statistics_;
    ReceptionStatus reception_;
    EventPipeline pipeline_;
};

} // namespace brantwell
