// The upstream server of the forwarding benchmark: takes TCP connections on
// 127.0.0.1:PORT, reads octet-counted frames ("LEN SP MSG") and writes each
// message as one line to OUT, so brantwell_ingest_count can count what was
// relayed. Stops on SIGTERM.
//
//   brantwell_forward_sink --port N --out FILE
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {
volatile std::sig_atomic_t stopping = 0;
void stop(int) { stopping = 1; }
}

int main(int argc, char** argv)
{
    int port = 0;
    const char* out = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--port"))
            port = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--out"))
            out = argv[i + 1];
    }
    if (!port || !out) {
        std::fprintf(stderr, "usage: brantwell_forward_sink --port N --out FILE\n");
        return 2;
    }
    std::signal(SIGTERM, stop);
    FILE* file = std::fopen(out, "wb");
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!file || bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 8) != 0) {
        std::perror("brantwell_forward_sink");
        return 1;
    }
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    std::vector<std::string> pending(1);
    std::vector<char> buffer(1 << 20);
    while (!stopping) {
        if (poll(fds.data(), fds.size(), 100) <= 0)
            continue;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (i == 0) {
                const int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    fds.push_back({c, POLLIN, 0});
                    pending.emplace_back();
                }
                continue;
            }
            const ssize_t n = read(fds[i].fd, buffer.data(), buffer.size());
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;  // poll ignores it from now on
                continue;
            }
            std::string& p = pending[i];
            p.append(buffer.data(), static_cast<std::size_t>(n));
            std::size_t at = 0;
            for (;;) {
                const auto space = p.find(' ', at);
                if (space == std::string::npos)
                    break;
                const std::size_t length = std::strtoul(p.c_str() + at, nullptr, 10);
                if (p.size() < space + 1 + length)
                    break;
                std::fwrite(p.data() + space + 1, 1, length, file);
                std::fputc('\n', file);
                at = space + 1 + length;
            }
            p.erase(0, at);
        }
        std::fflush(file);
    }
    std::fclose(file);
    return 0;
}
