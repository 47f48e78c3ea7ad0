// Load generator over TCP: N messages spread over C connections to one
// receiver, as RFC 6587 octet-counted frames or LF-terminated lines, as fast
// as the receiver takes them (TCP pushes back; nothing is dropped on the way).
//
//   brantwell_ingest_tcp_send --port P [--count N] [--connections C]
//                             [--framing octet|lf] [--size B] [--seconds S]
// prints "sent N seconds S rate R".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "IngestMessage.h"

namespace {

constexpr int kFramesPerWrite = 64;

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: brantwell_ingest_tcp_send --port P [--count N] [--connections C] "
                         "[--framing octet|lf] [--size B] [--seconds S]\n");
    std::exit(2);
}

struct Stream {
    int fd = -1;
    std::string pending;  // bytes of the current write not yet taken
    std::size_t offset = 0;
    unsigned long frames = 0;  // in `pending`
};

} // namespace

int main(int argc, char** argv)
{
    unsigned long port = 0, count = 500000, connections = 1, size = 200;
    double seconds = 60;
    bool octet = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const char* v = argv[i + 1];
        if (a == "--port") port = std::strtoul(v, nullptr, 10);
        else if (a == "--count") count = std::strtoul(v, nullptr, 10);
        else if (a == "--connections") connections = std::max(1ul, std::strtoul(v, nullptr, 10));
        else if (a == "--size") size = std::strtoul(v, nullptr, 10);
        else if (a == "--seconds") seconds = std::atof(v);
        else if (a == "--framing") octet = std::string(v) != "lf";
        else usage();
    }
    if (port == 0 || port > 65535)
        usage();

    std::vector<Stream> streams(connections);
    for (auto& s : streams) {
        s.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            std::perror("connect");
            return 1;
        }
    }

    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    unsigned long next = 0, sent = 0;
    std::vector<pollfd> fds(connections);
    while (sent < count && elapsed() < seconds) {
        // Refill every stream whose last write went out whole.
        for (auto& s : streams) {
            if (s.offset < s.pending.size() || next >= count)
                continue;
            s.pending.clear();
            s.offset = 0;
            s.frames = 0;
            for (int f = 0; f < kFramesPerWrite && next < count; ++f, ++next, ++s.frames) {
                const std::string m = ingestMessage(next, size);
                if (octet)
                    s.pending += std::to_string(m.size()) + " " + m;
                else
                    s.pending += m + "\n";
            }
        }
        for (std::size_t i = 0; i < connections; ++i)
            fds[i] = {streams[i].fd, static_cast<short>(streams[i].offset < streams[i].pending.size() ? POLLOUT : 0), 0};
        if (poll(fds.data(), fds.size(), 1000) <= 0)
            continue;
        for (std::size_t i = 0; i < connections; ++i) {
            auto& s = streams[i];
            if (!(fds[i].revents & POLLOUT))
                continue;
            const ssize_t n = send(s.fd, s.pending.data() + s.offset, s.pending.size() - s.offset,
                                   MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0)
                continue;
            s.offset += static_cast<std::size_t>(n);
            if (s.offset == s.pending.size()) {
                sent += s.frames;  // counted once the whole write has gone out
            }
        }
    }
    const double took = elapsed();
    for (auto& s : streams) {
        shutdown(s.fd, SHUT_WR);
        close(s.fd);
    }
    std::printf("sent %lu seconds %.6f rate %.0f\n", sent, took, took > 0 ? sent / took : 0.0);
    return 0;
}
