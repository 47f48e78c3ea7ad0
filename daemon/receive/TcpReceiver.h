// Reception over TCP (RFC 6587) or, with a TLS context, over TLS (RFC 5425):
// one thread, one epoll set, non-blocking sockets throughout, so a slow or
// hostile client (one that sends a byte a minute, or stalls its TLS
// handshake) holds one connection slot and never the thread.
//
// Each frame goes through the same event pipeline as a UDP datagram. The
// listening port comes from the settings and follows each save: 0 closes
// the listener and its connections, another port opens a new one (and
// closes the connections of the old), new TLS files close the sessions they
// would not have accepted.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <unordered_map>

#include "EventPipeline.h"
#include "ReceptionStatus.h"
#include "SenderAddress.h"
#include "TcpFrameReader.h"

namespace brantwell {

class TlsContext;

struct TransportStatistics {
    std::atomic<std::uint64_t> connectionsOpen{0};
    std::atomic<std::uint64_t> connectionsAccepted{0};
    // Turned away: over the connection limit, a failed TLS handshake, an
    // untrusted certificate, plain text on the TLS port.
    std::atomic<std::uint64_t> connectionsRefused{0};
    std::atomic<std::uint64_t> framesReceived{0};
    std::atomic<std::uint64_t> framingErrors{0};  // a stream that could not be followed: closed
};

struct TcpReceiverLimits {
    std::size_t maxConnections = 512;
    std::size_t maxPerSource = 32;  // from one address, so that one host cannot take every slot
    std::size_t maxFrame = TcpFrameReader::kDefaultMaxFrame;
    double idleSeconds = 3600;      // a connection silent this long is closed
    double handshakeSeconds = 10;   // a TLS handshake must end within this
};

// What one receiver listens with, read from a settings snapshot.
struct ListenerSetup {
    std::int64_t port = 0;  // 0: not listening
    std::string certificate, key, caFile;  // TLS only
    bool operator==(const ListenerSetup&) const = default;
};

class TcpReceiver {
public:
    using Clock = std::function<double()>;  // seconds since 1970
    enum class Transport { Tcp, Tls };

    TcpReceiver(Transport transport, SettingsPipe& settings, EventStore& store, EventAnnouncer* announcer,
                ActionDispatcher* dispatcher, Clock clock = {}, TcpReceiverLimits limits = {},
                std::string address = "::");
    ~TcpReceiver();
    TcpReceiver(const TcpReceiver&) = delete;
    TcpReceiver& operator=(const TcpReceiver&) = delete;

    // Relays stored events to upstream servers; set before run().
    void setForwarder(EventForwarder* forwarder) { pipeline_.setForwarder(forwarder); }

    // The receive loop; returns when `stop` is requested.
    void run(std::stop_token stop);

    // The port listened on now; 0 while not listening.
    std::uint16_t boundPort() const { return boundPort_.load(); }

    const TransportStatistics& transport() const { return transport_; }
    const ReceiverStatistics& statistics() const { return statistics_; }
    // Off until the settings name a port.
    const ReceptionStatus& reception() const { return reception_; }

private:
    struct Connection;

    ListenerSetup setupOf(const Settings& settings) const;
    void followSettings(double now);
    void openListener(const ListenerSetup& setup);
    void closeListener();
    void resumeListener();
    void pollListener(int operation, std::uint32_t events);
    void acceptAll(double now);
    void serve(Connection& c, double now);
    bool readPlain(Connection& c, double now);
    bool stepTls(Connection& c, double now);
    bool readTls(Connection& c, double now);
    // Feeds a read to the connection's framing reader; false when the
    // stream could not be followed and the connection was closed.
    bool deliver(Connection& c, std::string_view bytes, double now);
    void takeFrame(Connection& c, std::string_view frame, bool cut);
    void watch(Connection& c, std::uint32_t events);
    void closeConnection(int fd, bool endOfStream);
    void closeConnectionsIf(const std::function<bool(const Connection&)>& unwanted);
    void forget(std::unordered_map<int, std::unique_ptr<Connection>>::iterator it);
    void refuse(int fd, int kind, const std::string& why);
    void sweepIdle(double now);
    const char* name() const;

    Transport kind_;
    SettingsPipe& settings_;
    Clock clock_;
    TcpReceiverLimits limits_;
    std::string address_;
    int epoll_ = -1;
    int wakeFd_ = -1;
    int listenFd_ = -1;
    bool listenerResting_ = false;  // out of descriptors: not polled until the next tick
    ListenerSetup setup_;       // what the listener was opened with
    double lastAttempt_ = -1e9;  // a listener that failed is tried again every few seconds
    std::atomic<std::uint16_t> boundPort_{0};
    std::shared_ptr<TlsContext> tls_;
    std::unordered_map<int, std::unique_ptr<Connection>> connections_;
    std::unordered_map<SenderAddress, std::size_t, SenderAddressHash> perSource_;  // open connections per address
    unsigned reported_ = 0;  // kinds of refusal already said on standard error
    TransportStatistics transport_;
    ReceiverStatistics statistics_;
    ReceptionStatus reception_;
    EventPipeline pipeline_;
    std::string buffer_;
};

} // namespace brantwell
