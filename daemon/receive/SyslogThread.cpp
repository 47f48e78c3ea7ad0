#include "SyslogThread.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <linux/sock_diag.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <vector>

#include "SocketAddress.h"
#include "SyslogParser.h"

namespace brantwell {

namespace {

constexpr int kBatchSize = 128;
constexpr int kReceiveBuffer = 32 * 1024 * 1024;
constexpr int kDropSettleMs = 100;
constexpr int kGatherMs = 1;
constexpr int kGatherBuffer = 4 * 1024 * 1024;
constexpr int kReceiveNice = -10;

double realClock()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

} // namespace

// Buffers of one receive batch, reused from batch to batch so the loop does
// not allocate once warmed up.
struct SyslogThread::Batch {
    std::array<mmsghdr, kBatchSize> headers{};
    std::array<iovec, kBatchSize> iov{};
    std::array<sockaddr_in6, kBatchSize> senders{};  // room for either family
    // One byte more than is read: a datagram that fills it was longer, and
    // its event counts as cut.
    std::array<std::array<char, kMaxReceived + 1>, kBatchSize> data{};
    double lastDropCheck = 0;

    void prepare(int count)
    {
        for (int i = 0; i < count; ++i) {
            iov[i] = {data[i].data(), data[i].size()};
            auto& h = headers[i].msg_hdr;
            h.msg_name = &senders[i];
            h.msg_namelen = sizeof senders[i];
            h.msg_iov = &iov[i];
            h.msg_iovlen = 1;
            h.msg_control = nullptr;
            h.msg_controllen = 0;
            h.msg_flags = 0;
        }
    }
};

SyslogThread::SyslogThread(SettingsPipe& settings, EventStore& store, EventAnnouncer* announcer,
                           ActionDispatcher* dispatcher, Clock clock)
    : clock_(clock ? std::move(clock) : Clock(realClock)), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      pipeline_(settings, store, announcer, dispatcher, statistics_)
{
    reception_.set(ReceptionStatus::State::NotReceiving, "the UDP port is not bound yet");
}

SyslogThread::~SyslogThread()
{
    if (fd_ >= 0)
        close(fd_);
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

bool SyslogThread::open(std::uint16_t port, const std::string& address)
{
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    SocketAddress sa;
    if (!sa.set(address, port)) {
        errno = EINVAL;
        reportFailure(port);
        return false;
    }
    const int fd = openSocket(sa, SOCK_DGRAM, address == "::");
    if (fd < 0) {
        reportFailure(port);
        return false;
    }
    // No address reuse (SO_REUSEADDR, SO_REUSEPORT): with it any local user
    // could bind the same port beside this socket and take the datagrams
    // meant for it. Without it the bind fails while another socket holds
    // the port, whatever that socket set.
    // A burst must wait in the socket, not be lost: ask for a large buffer,
    // beyond rmem_max when privileged.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    if (bind(fd, sa.get(), sa.length()) != 0) {
        const int saved = errno;
        close(fd);
        reportFailure(port);
        errno = saved;
        return false;
    }
    // Letting datagrams gather for a millisecond needs room for them: with
    // the default buffer of an unprivileged socket (about 200 datagrams) a
    // fast stream would overflow it while the receiver waits.
    int granted = 0;
    socklen_t length = sizeof granted;
    gather_ = getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &length) == 0 && granted >= kGatherBuffer;
    fd_ = fd;
    reception_.set(ReceptionStatus::State::Receiving, "port " + std::to_string(boundPort()));
    return true;
}

void SyslogThread::reportFailure(std::uint16_t port)
{
    const int error = errno;
    const std::string name = "UDP port " + std::to_string(port);
    reception_.set(ReceptionStatus::State::NotReceiving,
                   error == EADDRINUSE ? name + " is held by another program (" + std::strerror(error) + ")"
                                       : "cannot bind " + name + ": " + std::strerror(error));
    errno = error;
}

std::uint16_t SyslogThread::boundPort() const
{
    return localPort(fd_);
}

void SyslogThread::run(std::stop_token stop)
{
    std::stop_callback wake(stop, [this] {
        const std::uint64_t one = 1;
        (void)!write(wakeFd_, &one, sizeof one);
    });
    // The socket is the one place where an event can be lost: when this
    // thread shares a core with the bus daemon and the subscribers it
    // announces to, it must win, and what the bus cannot take is dropped
    // there (counted, and told). Needs privilege; without it the thread
    // keeps the default.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kReceiveNice);
    auto batch = std::make_unique<Batch>();
    while (!stop.stop_requested()) {
        batch->prepare(kBatchSize);
        const int n = recvmmsg(fd_, batch->headers.data(), kBatchSize, MSG_DONTWAIT, nullptr);
        if (n > 0) {
            handleBatch(*batch, n);
            if (n == kBatchSize || !gather_)
                continue;
            // A short batch emptied the socket while datagrams are flowing.
            // Let them gather for kGatherMs before the next receive, so a
            // wake-up (and a write) serves tens of datagrams instead of a
            // few; at a few ten thousand a second the wake-ups, not the
            // datagrams, were most of the cost. A stop ends the wait.
            pollfd w{wakeFd_, POLLIN, 0};
            poll(&w, 1, kGatherMs);
            continue;
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            // Not a socket we can read (never bound): wait for the stop
            // instead of spinning.
            if (fd_ < 0 || errno == EBADF || errno == ENOTSOCK) {
                pollfd w{wakeFd_, POLLIN, 0};
                poll(&w, 1, -1);
                continue;
            }
        }
        // While datagrams come, the drop count is read a few times a second
        // (handleBatch); once they have stopped for kDropSettleMs, the final
        // count of the burst. Reading it at every pause would cost a
        // syscall per wake-up.
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(fds, 2, dropsStale_ ? kDropSettleMs : -1) == 0) {
            readKernelDrops();
            dropsStale_ = false;
        }
    }
}

void SyslogThread::readKernelDrops()
{
    std::uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof info;
    if (getsockopt(fd_, SOL_SOCKET, SO_MEMINFO, info, &length) == 0 && length > SK_MEMINFO_DROPS * sizeof info[0])
        statistics_.kernelDropped.store(info[SK_MEMINFO_DROPS], std::memory_order_relaxed);
}

void SyslogThread::handleBatch(Batch& batch, int count)
{
    const double now = clock_();
    statistics_.received.fetch_add(static_cast<std::uint64_t>(count), std::memory_order_relaxed);
    // The kernel's count of datagrams it dropped on this socket, a few times
    // a second: asking per datagram (SO_RXQ_OVFL) cost a control message each.
    if (now - batch.lastDropCheck >= 0.1 || now < batch.lastDropCheck) {
        batch.lastDropCheck = now;
        readKernelDrops();
    }
    dropsStale_ = true;

    pipeline_.begin(now);
    for (int i = 0; i < count; ++i) {
        const auto length = std::min<std::size_t>(batch.headers[i].msg_len, kMaxReceived + 1);
        pipeline_.add(std::string_view(batch.data[i].data(), length),
                      SenderAddress::fromSocketAddress(reinterpret_cast<const sockaddr*>(&batch.senders[i])));
    }
    pipeline_.finish();
}

} // namespace brantwell
