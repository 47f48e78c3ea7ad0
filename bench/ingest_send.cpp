// Load generator of the ingestion benchmark: sends numbered RFC 3164
// datagrams over UDP with sendmmsg, as fast as it can or at a fixed rate,
// and stops after a count or a time limit, whichever comes first.
//
//   brantwell_ingest_send --port N [--host A] [--count N] [--rate R]
//                         [--size BYTES] [--senders K] [--seconds S]
//                         [--warmup S]
//
// Every datagram carries "seq=" and ten digits, so a receiver's output can
// be counted exactly. With --senders K the datagrams leave round robin from
// K sockets bound to 127.0.0.2 .. 127.0.0.(K+1), as K different hosts.
// --warmup S first sends one datagram without a sequence number from each
// socket and waits S seconds, so that what a receiver does once per sender
// (a name lookup) is out of the measured part.
// Prints "sent N seconds S rate R" on standard output.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "IngestMessage.h"

namespace {

constexpr unsigned kBatch = 64;

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void sleepUntil(double t)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(t);
    ts.tv_nsec = static_cast<long>((t - static_cast<double>(ts.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

[[noreturn]] void usage()
{
    std::fprintf(stderr,
                 "usage: brantwell_ingest_send --port N [--host A] [--count N] [--rate R] [--size B] "
                 "[--senders K] [--seconds S]\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    std::string host = "127.0.0.1";
    unsigned long port = 0, count = 500000, size = 200, senders = 0;
    double rate = 0, seconds = 60, warmup = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const char* v = argv[i + 1];
        if (a == "--host")
            host = v;
        else if (a == "--port")
            port = std::strtoul(v, nullptr, 10);
        else if (a == "--count")
            count = std::strtoul(v, nullptr, 10);
        else if (a == "--rate")
            rate = std::strtod(v, nullptr);
        else if (a == "--size")
            size = std::strtoul(v, nullptr, 10);
        else if (a == "--senders")
            senders = std::strtoul(v, nullptr, 10);
        else if (a == "--warmup")
            warmup = std::strtod(v, nullptr);
        else if (a == "--seconds")
            seconds = std::strtod(v, nullptr);
        else
            usage();
    }
    if (argc % 2 == 0 || port == 0 || port > 65535 || size < 80 || size > 1024 || senders > 250)
        usage();

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1)
        usage();

    std::vector<int> fds;
    for (unsigned long k = 0; k < std::max(1ul, senders); ++k) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        if (fd < 0) {
            std::perror("socket");
            return 1;
        }
        const int buffer = 4 * 1024 * 1024;
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        if (senders > 0) {
            sockaddr_in from{};
            from.sin_family = AF_INET;
            from.sin_addr.s_addr = htonl(0x7f000002u + static_cast<std::uint32_t>(k));
            if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
                std::perror("bind");
                return 1;
            }
        }
        if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            std::perror("connect");
            return 1;
        }
        fds.push_back(fd);
    }

    // Prebuilt messages, so that the sender's cost is sending, not
    // formatting; the sequence digits are patched in per datagram.
    std::vector<std::string> texts(kBatch);
    std::vector<iovec> iov(kBatch);
    std::vector<mmsghdr> headers(kBatch);
    for (unsigned i = 0; i < kBatch; ++i)
        texts[i] = ingestMessage(0, size);
    const std::size_t seqAt = texts[0].find("seq=") + 4;

    if (warmup > 0) {
        static const char hello[] = "<134>Dec  8 06:40:33 benchhost bench[4242]: warm-up";
        for (const int fd : fds)
            (void)!send(fd, hello, sizeof hello - 1, 0);
        sleepUntil(now() + warmup);
    }
    const double start = now();
    const double deadline = start + seconds;
    unsigned long sent = 0;
    std::size_t next = 0;  // socket of the next datagram
    while (sent < count) {
        const double t = now();
        if (t >= deadline)
            break;
        unsigned n = static_cast<unsigned>(std::min<unsigned long>(kBatch, count - sent));
        if (rate > 0) {
            // Send what is due, in small batches, so the rate stays smooth.
            const double due = (t - start) * rate;
            if (static_cast<double>(sent) >= due) {
                sleepUntil(start + static_cast<double>(sent + 1) / rate);
                continue;
            }
            n = static_cast<unsigned>(std::min<double>(n, due - static_cast<double>(sent) + 1));
        }
        const int fd = fds[next];
        // With several senders each batch goes from one socket.
        for (unsigned i = 0; i < n; ++i) {
            char digits[11];
            std::snprintf(digits, sizeof digits, "%010lu", sent + i);
            std::memcpy(texts[i].data() + seqAt, digits, 10);
            iov[i] = {texts[i].data(), texts[i].size()};
            headers[i] = {};
            headers[i].msg_hdr.msg_iov = &iov[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        const int done = sendmmsg(fd, headers.data(), n, 0);
        if (done < 0) {
            if (errno == EINTR || errno == ENOBUFS || errno == EAGAIN)
                continue;
            if (errno == ECONNREFUSED)  // nobody listening yet: the datagram is lost, count it sent
                continue;
            std::perror("sendmmsg");
            return 1;
        }
        sent += static_cast<unsigned long>(done);
        next = (next + 1) % fds.size();
    }
    const double elapsed = now() - start;
    std::printf("sent %lu seconds %.6f rate %.0f\n", sent, elapsed, elapsed > 0 ? sent / elapsed : 0.0);
    return 0;
}
