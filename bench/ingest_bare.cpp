// The ceiling of the ingestion benchmark: a bare recvmmsg receiver that only
// writes each datagram's bytes and a line feed to a file, one write per
// batch, with the same socket settings as the daemon. Runs until SIGTERM or
// SIGINT; prints "received N" on standard output when it stops.
//
//   brantwell_ingest_bare --port N --out FILE
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr unsigned kBatch = 128;
constexpr unsigned kMax = 1024;
volatile std::sig_atomic_t stopped = 0;

void onSignal(int) { stopped = 1; }

} // namespace

int main(int argc, char** argv)
{
    unsigned long port = 0;
    std::string out;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--port") == 0)
            port = std::strtoul(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--out") == 0)
            out = argv[i + 1];
    }
    if (port == 0 || port > 65535 || out.empty()) {
        std::fprintf(stderr, "usage: brantwell_ingest_bare --port N --out FILE\n");
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;  // no SA_RESTART: poll returns EINTR
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    const int buffer = 32 * 1024 * 1024;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("brantwell_ingest_bare: bind");
        return 1;
    }
    const int file = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (file < 0) {
        std::perror("brantwell_ingest_bare: open");
        return 1;
    }

    std::vector<char> data(kBatch * kMax);
    std::vector<iovec> iov(kBatch);
    std::vector<mmsghdr> headers(kBatch);
    std::string lines;
    lines.reserve(kBatch * (kMax + 1));
    unsigned long received = 0;
    while (!stopped) {
        for (unsigned i = 0; i < kBatch; ++i) {
            iov[i] = {data.data() + i * kMax, kMax};
            headers[i] = {};
            headers[i].msg_hdr.msg_iov = &iov[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        const int n = recvmmsg(fd, headers.data(), kBatch, MSG_DONTWAIT, nullptr);
        if (n <= 0) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 200);
            continue;
        }
        lines.clear();
        for (int i = 0; i < n; ++i) {
            lines.append(data.data() + static_cast<std::size_t>(i) * kMax, headers[i].msg_len);
            lines += '\n';
        }
        if (write(file, lines.data(), lines.size()) < 0)
            std::perror("brantwell_ingest_bare: write");
        received += static_cast<unsigned long>(n);
    }
    std::printf("received %lu\n", received);
    return 0;
}
