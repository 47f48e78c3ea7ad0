// A TCP client over loopback for the stream reception tests, and the small
// waits they need.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "UdpTestClient.h"
#include "WaitUntil.h"

namespace brantwell::test {

// A TCP port on 127.0.0.1 that was free a moment ago.
inline std::uint16_t freeTcpPort()
{
    return freeLoopbackPort(SOCK_STREAM);
}

// True while a socket listens on TCP `port` (IPv4 or dual-stack), read from
// /proc/net/tcp and /proc/net/tcp6 without connecting.
inline bool tcpListening(std::uint16_t port)
{
    char local[16];
    std::snprintf(local, sizeof local, ":%04X", port);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line, slot, address, remote, state;
        std::getline(in, line);  // header
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            fields >> slot >> address >> remote >> state;
            if (state == "0A" && address.size() >= 5 && address.compare(address.size() - 5, 5, local) == 0)
                return true;
        }
    }
    return false;
}

class TcpClient {
public:
    // From `source` (a loopback address) when given.
    explicit TcpClient(std::uint16_t port, const char* server = "127.0.0.1", const char* source = nullptr)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (source) {
            sockaddr_in from{};
            from.sin_family = AF_INET;
            ::inet_pton(AF_INET, source, &from.sin_addr);
            ::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from);
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, server, &to.sin_addr);
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~TcpClient() { ::close(fd_); }
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool connected() const { return connected_; }
    bool sendAll(std::string_view bytes) const
    {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
    // Sends `bytes` as a segment of its own: no delay, then a pause so the
    // next send does not join it.
    bool sendSegment(std::string_view bytes) const
    {
        const bool sent = sendAll(bytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return sent;
    }
    // True when the server ends the connection within `limit`.
    bool closedByPeer(std::chrono::milliseconds limit = std::chrono::seconds(5)) const
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0)
            return false;
        char byte;
        return ::recv(fd_, &byte, 1, MSG_DONTWAIT) <= 0;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

} // namespace brantwell::test
