#include "TcpReceiver.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "SocketAddress.h"
#include "TlsContext.h"
#include "settings/Settings.h"
#include "settings/SettingsPipe.h"

namespace brantwell {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kReadsPerTurn = 4;  // then the other connections get their turn
constexpr int kTickMs = 500;      // settings, idle connections and retries are looked at this often
constexpr double kRetrySeconds = 5;
constexpr unsigned char kTlsHandshakeRecord = 0x16;

// Kinds of refusal, each said once on standard error.
enum Refusal : unsigned {
    OverLimit = 1, PlainText = 2, BadCertificate = 4, HandshakeFailed = 8, SlowHandshake = 16, OutOfDescriptors = 32,
    OverSourceLimit = 64
};

double realClock()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Time-outs and retries run on the steady clock, never on the clock that
// dates the events.
double steadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Epoll data for the two descriptors that are not connections.
constexpr std::uint64_t kWakeTag = ~0ull;
constexpr std::uint64_t kListenTag = ~0ull - 1;

} // namespace

struct TcpReceiver::Connection {
    int fd = -1;
    SenderAddress sender;
    std::string senderText;
    TcpFrameReader reader;
    double lastActive = 0;
    double opened = 0;
    SSL* ssl = nullptr;
    bool handshaking = false;
    std::uint32_t watching = EPOLLIN;

    explicit Connection(std::size_t maxFrame) : reader(kMaxReceived + 1, maxFrame) {}
    ~Connection()
    {
        if (ssl)
            SSL_free(ssl);
        if (fd >= 0)
            ::close(fd);
    }
};

TcpReceiver::TcpReceiver(Transport transport, SettingsPipe& settings, EventStore& store, EventAnnouncer* announcer,
                         ActionDispatcher* dispatcher, Clock clock, TcpReceiverLimits limits, std::string address)
    : kind_(transport), settings_(settings), clock_(clock ? std::move(clock) : Clock(realClock)), limits_(limits),
      address_(std::move(address)), epoll_(epoll_create1(EPOLL_CLOEXEC)),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      pipeline_(settings, store, announcer, dispatcher, statistics_)
{
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.u64 = kWakeTag;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &e);
    buffer_.resize(kReadChunk);
}

TcpReceiver::~TcpReceiver()
{
    connections_.clear();
    closeListener();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    if (epoll_ >= 0)
        ::close(epoll_);
}

const char* TcpReceiver::name() const
{
    return kind_ == Transport::Tls ? "TLS" : "TCP";
}

ListenerSetup TcpReceiver::setupOf(const Settings& s) const
{
    ListenerSetup setup;
    if (kind_ == Transport::Tcp) {
        setup.port = s.iTcpPort;
    } else {
        setup.port = s.iTlsPort;
        setup.certificate = s.tlsCertificate;
        setup.key = s.tlsKey;
        setup.caFile = s.tlsCaFile;
    }
    if (setup.port < 0 || setup.port > 65535)
        setup.port = -1;  // no such port: said once, not listened on
    return setup;
}

void TcpReceiver::run(std::stop_token stop)
{
    // OpenSSL writes with write(2): a TLS alert or close_notify to a client
    // that has gone would raise SIGPIPE. Blocked on this thread it stays
    // pending and harmless, whatever the process does with the signal.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    std::stop_callback wake(stop, [this] {
        const std::uint64_t one = 1;
        (void)!write(wakeFd_, &one, sizeof one);
    });
    std::vector<epoll_event> events(64);
    double lastTick = -1e9;
    while (!stop.stop_requested()) {
        double now = steadySeconds();
        if (now - lastTick >= kTickMs / 1000.0) {
            lastTick = now;
            followSettings(now);
            sweepIdle(now);
            resumeListener();
        }
        const int n = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), kTickMs);
        if (n <= 0)
            continue;
        now = steadySeconds();
        pipeline_.begin(clock_());
        for (int i = 0; i < n; ++i) {
            const std::uint64_t tag = events[i].data.u64;
            if (tag == kWakeTag)
                continue;
            if (tag == kListenTag) {
                acceptAll(now);
                continue;
            }
            const auto it = connections_.find(static_cast<int>(tag));
            if (it != connections_.end())
                serve(*it->second, now);
        }
        pipeline_.finish();
    }
    pipeline_.begin(clock_());
    while (!connections_.empty())
        closeConnection(connections_.begin()->first, true);
    pipeline_.finish();
    closeListener();
}

void TcpReceiver::followSettings(double now)
{
    const ListenerSetup wanted = setupOf(*settings_.snapshot());
    const bool changed = !(wanted == setup_);
    if (!changed && (listenFd_ >= 0 || wanted.port <= 0 || now - lastAttempt_ < kRetrySeconds))
        return;
    if (changed && wanted.port < 0)
        std::fprintf(stderr, "BrantwellSrv: the %s port is not a port number (0-65535); not listening\n", name());
    lastAttempt_ = now;
    const bool reportFailure = changed;
    const bool portChanged = wanted.port != setup_.port;
    setup_ = wanted;
    closeListener();
    // Off, or on another port: the open connections belong to a listener
    // the settings no longer have, and what they send is no longer wanted.
    if (changed && (portChanged || wanted.port <= 0))
        closeConnectionsIf([](const Connection&) { return true; });
    const std::string port = std::string(name()) + " port " + std::to_string(wanted.port);
    if (wanted.port == 0) {
        reception_.set(ReceptionStatus::State::Off, {});
        return;
    }
    if (wanted.port < 0) {
        reception_.set(ReceptionStatus::State::NotReceiving,
                       std::string("the ") + name() + " port in the settings is not a port number (0-65535)");
        return;
    }
    if (kind_ == Transport::Tls) {
        std::string error;
        tls_ = TlsContext::load(wanted.certificate, wanted.key, wanted.caFile, error);
        if (changed) {
            // New files: keep only the sessions the new ones would have
            // accepted. A handshake under way is finished with the old
            // files, so it goes too; a session whose client certificate was
            // never checked goes once client certificates are required.
            closeConnectionsIf([&](const Connection& c) {
                return !tls_ || c.handshaking || !c.ssl || !tls_->accepts(c.ssl);
            });
        }
        if (!tls_) {
            reception_.set(ReceptionStatus::State::NotReceiving, "the TLS files are refused: " + error);
            if (reportFailure)
                std::fprintf(stderr, "BrantwellSrv: TLS reception stays off: %s\n", error.c_str());
            return;
        }
    }
    openListener(wanted);
    if (listenFd_ >= 0) {
        reception_.set(ReceptionStatus::State::Receiving, "port " + std::to_string(boundPort_.load()));
        return;
    }
    const int error = errno;
    reception_.set(ReceptionStatus::State::NotReceiving,
                   error == EADDRINUSE ? port + " is held by another program (" + std::strerror(error) + ")"
                                       : "cannot listen on " + port + ": " + std::strerror(error));
    if (reportFailure)
        std::fprintf(stderr, "BrantwellSrv: cannot listen on %s: %s; retrying every 5 s\n", port.c_str(),
                     std::strerror(error));
}

void TcpReceiver::openListener(const ListenerSetup& setup)
{
    SocketAddress sa;
    if (!sa.set(address_, static_cast<std::uint16_t>(setup.port))) {
        errno = EINVAL;
        return;
    }
    const int fd = openSocket(sa, SOCK_STREAM | SOCK_NONBLOCK, address_ == "::");
    if (fd < 0)
        return;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, sa.get(), sa.length()) != 0 || listen(fd, 128) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return;
    }
    listenFd_ = fd;
    pollListener(EPOLL_CTL_ADD, EPOLLIN);
    boundPort_ = localPort(fd);
}

void TcpReceiver::pollListener(int operation, std::uint32_t events)
{
    epoll_event e{};
    e.events = events;
    e.data.u64 = kListenTag;
    epoll_ctl(epoll_, operation, listenFd_, &e);
}

void TcpReceiver::resumeListener()
{
    if (!listenerResting_ || listenFd_ < 0)
        return;
    pollListener(EPOLL_CTL_MOD, EPOLLIN);
    listenerResting_ = false;
}

void TcpReceiver::closeListener()
{
    if (listenFd_ >= 0) {
        epoll_ctl(epoll_, EPOLL_CTL_DEL, listenFd_, nullptr);
        ::close(listenFd_);
        listenFd_ = -1;
    }
    listenerResting_ = false;
    boundPort_ = 0;
}

void TcpReceiver::acceptAll(double now)
{
    for (;;) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors or memory: the listener would stay
                // readable and spin the thread. It rests until the next tick;
                // the pending connections wait in the backlog.
                if ((reported_ & OutOfDescriptors) == 0)
                    std::fprintf(stderr, "BrantwellSrv: %s connections wait to be taken: %s (said once)\n", name(),
                                 std::strerror(errno));
                reported_ |= OutOfDescriptors;
                listenerResting_ = true;
                pollListener(EPOLL_CTL_MOD, 0);
            }
            return;  // EAGAIN: all taken
        }
        if (connections_.size() >= limits_.maxConnections) {
            refuse(fd, OverLimit, "more than " + std::to_string(limits_.maxConnections) + " connections at once");
            continue;
        }
        const SenderAddress sender = SenderAddress::fromSocketAddress(reinterpret_cast<const sockaddr*>(&peer));
        // One host must not take every slot and shut the others out.
        const auto held = perSource_.find(sender);
        if (held != perSource_.end() && held->second >= limits_.maxPerSource) {
            std::string text;
            sender.writeText(text);
            refuse(fd, OverSourceLimit, "from " + text + ": more than " + std::to_string(limits_.maxPerSource)
                                            + " connections from one address");
            continue;
        }
        auto c = std::make_unique<Connection>(limits_.maxFrame);
        c->fd = fd;
        c->sender = sender;
        c->sender.writeText(c->senderText);
        c->lastActive = c->opened = now;
        c->handshaking = kind_ == Transport::Tls;
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u64 = static_cast<std::uint64_t>(fd);
        if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e) != 0) {
            continue;  // the Connection closes the socket
        }
        connections_.emplace(fd, std::move(c));
        ++perSource_[sender];
        transport_.connectionsAccepted.fetch_add(1, std::memory_order_relaxed);
        transport_.connectionsOpen.store(connections_.size(), std::memory_order_relaxed);
    }
}

void TcpReceiver::refuse(int fd, int kind, const std::string& why)
{
    transport_.connectionsRefused.fetch_add(1, std::memory_order_relaxed);
    if ((reported_ & static_cast<unsigned>(kind)) == 0) {
        reported_ |= static_cast<unsigned>(kind);
        std::fprintf(stderr, "BrantwellSrv: %s connection refused: %s (later ones are only counted)\n", name(),
                     why.c_str());
    }
    if (const auto it = connections_.find(fd); it != connections_.end())
        forget(it);  // closes the socket
    else
        ::close(fd);
}

void TcpReceiver::forget(std::unordered_map<int, std::unique_ptr<Connection>>::iterator it)
{
    const auto held = perSource_.find(it->second->sender);
    if (held != perSource_.end() && --held->second == 0)
        perSource_.erase(held);
    epoll_ctl(epoll_, EPOLL_CTL_DEL, it->first, nullptr);
    connections_.erase(it);
    transport_.connectionsOpen.store(connections_.size(), std::memory_order_relaxed);
}

void TcpReceiver::closeConnectionsIf(const std::function<bool(const Connection&)>& unwanted)
{
    std::vector<int> closing;
    for (const auto& [fd, c] : connections_)
        if (unwanted(*c))
            closing.push_back(fd);
    for (int fd : closing)
        closeConnection(fd, false);  // what they sent since is not wanted either
}

void TcpReceiver::serve(Connection& c, double now)
{
    // A hang-up or an error shows as the end of the stream on the read.
    if (c.handshaking)
        stepTls(c, now);
    else if (c.ssl)
        readTls(c, now);
    else
        readPlain(c, now);
}

void TcpReceiver::takeFrame(Connection& c, std::string_view frame, bool cut)
{
    transport_.framesReceived.fetch_add(1, std::memory_order_relaxed);
    statistics_.received.fetch_add(1, std::memory_order_relaxed);
    pipeline_.add(frame, c.sender, cut);
}

bool TcpReceiver::deliver(Connection& c, std::string_view bytes, double now)
{
    c.lastActive = now;
    c.reader.feed(bytes, [&](std::string_view frame, bool cut) { takeFrame(c, frame, cut); });
    if (!c.reader.failed())
        return true;
    transport_.framingErrors.fetch_add(1, std::memory_order_relaxed);
    closeConnection(c.fd, false);
    return false;
}

void TcpReceiver::watch(Connection& c, std::uint32_t events)
{
    if (c.watching == events)
        return;
    epoll_event e{};
    e.events = c.watching = events;
    e.data.u64 = static_cast<std::uint64_t>(c.fd);
    epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &e);
}

bool TcpReceiver::readPlain(Connection& c, double now)
{
    for (int turn = 0; turn < kReadsPerTurn; ++turn) {
        const ssize_t n = recv(c.fd, buffer_.data(), buffer_.size(), 0);
        if (n > 0) {
            if (!deliver(c, std::string_view(buffer_.data(), static_cast<std::size_t>(n)), now))
                return false;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        closeConnection(c.fd, true);  // the end of the stream, or a reset: what came is kept
        return false;
    }
    return true;  // more may wait: level-triggered epoll comes back to it
}

bool TcpReceiver::stepTls(Connection& c, double now)
{
    if (!c.ssl) {
        // A client that speaks plain syslog to the TLS port: its first byte
        // is not a TLS handshake record.
        unsigned char first = 0;
        const ssize_t n = recv(c.fd, &first, 1, MSG_PEEK);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return true;
        if (n <= 0) {
            closeConnection(c.fd, false);
            return false;
        }
        if (first != kTlsHandshakeRecord) {
            refuse(c.fd, PlainText, "from " + c.senderText + ": plain text on the TLS port");
            return false;
        }
        // The files may have changed since it was accepted, and failed to load.
        c.ssl = tls_ ? SSL_new(tls_->get()) : nullptr;
        if (!c.ssl || SSL_set_fd(c.ssl, c.fd) != 1) {
            ERR_clear_error();
            refuse(c.fd, HandshakeFailed, "from " + c.senderText + ": no TLS session could be made");
            return false;
        }
        SSL_set_accept_state(c.ssl);
    }
    ERR_clear_error();
    const int result = SSL_do_handshake(c.ssl);
    if (result == 1) {
        c.handshaking = false;
        c.lastActive = now;
        watch(c, EPOLLIN);
        return readTls(c, now);  // records may have come with the handshake's last flight
    }
    const int error = SSL_get_error(c.ssl, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        watch(c, error == SSL_ERROR_WANT_WRITE ? (EPOLLIN | EPOLLOUT) : EPOLLIN);
        return true;
    }
    const long verify = SSL_get_verify_result(c.ssl);
    std::string why;
    int kind = HandshakeFailed;
    if (verify != X509_V_OK) {
        kind = BadCertificate;
        why = "from " + c.senderText + ": client certificate not trusted: " + X509_verify_cert_error_string(verify);
    } else {
        const unsigned long code = ERR_peek_error();
        why = "from " + c.senderText + ": TLS handshake failed"
              + (code ? std::string(": ") + ERR_reason_error_string(code) : std::string());
    }
    ERR_clear_error();
    refuse(c.fd, kind, why);
    return false;
}

bool TcpReceiver::readTls(Connection& c, double now)
{
    for (int turn = 0; turn < kReadsPerTurn; ++turn) {
        ERR_clear_error();
        const int n = SSL_read(c.ssl, buffer_.data(), static_cast<int>(buffer_.size()));
        if (n > 0) {
            // Any write it wanted is done: watched for "writable" any
            // longer, the level-triggered loop would spin on this socket.
            watch(c, EPOLLIN);
            if (!deliver(c, std::string_view(buffer_.data(), static_cast<std::size_t>(n)), now))
                return false;
            continue;
        }
        const int error = SSL_get_error(c.ssl, n);
        if (error == SSL_ERROR_WANT_READ) {
            watch(c, EPOLLIN);
            return true;
        }
        if (error == SSL_ERROR_WANT_WRITE) {
            watch(c, EPOLLIN | EPOLLOUT);  // a key update wants to answer: wait until it can
            return true;
        }
        ERR_clear_error();
        closeConnection(c.fd, true);  // close_notify, the end of the stream or an error: what came is kept
        return false;
    }
    // SSL_read may hold decrypted bytes the socket no longer shows as
    // readable: those are read on the next turn only if the socket says so,
    // so keep reading them now.
    while (SSL_pending(c.ssl) > 0) {
        const int n = SSL_read(c.ssl, buffer_.data(), static_cast<int>(buffer_.size()));
        if (n <= 0)
            break;
        if (!deliver(c, std::string_view(buffer_.data(), static_cast<std::size_t>(n)), now))
            return false;
    }
    return true;
}

void TcpReceiver::closeConnection(int fd, bool endOfStream)
{
    const auto it = connections_.find(fd);
    if (it == connections_.end())
        return;
    Connection& c = *it->second;
    if (endOfStream) {
        // A last frame without its LF, or cut short by the close, is kept.
        c.reader.finish([&](std::string_view frame, bool cut) { takeFrame(c, frame, cut); });
    }
    if (c.ssl && !c.handshaking)
        SSL_shutdown(c.ssl);  // one try, never waited for
    forget(it);
}

void TcpReceiver::sweepIdle(double now)
{
    std::vector<int> idle, slow;
    for (const auto& [fd, c] : connections_) {
        if (c->handshaking && now - c->opened >= limits_.handshakeSeconds)
            slow.push_back(fd);
        else if (now - c->lastActive >= limits_.idleSeconds)
            idle.push_back(fd);
    }
    for (int fd : slow)
        refuse(fd, SlowHandshake, "from " + connections_[fd]->senderText + ": no TLS handshake within "
                                      + std::to_string(static_cast<int>(limits_.handshakeSeconds)) + " s");
    if (idle.empty())
        return;
    pipeline_.begin(clock_());
    for (int fd : idle)
        closeConnection(fd, true);
    pipeline_.finish();
}

} // namespace brantwell
