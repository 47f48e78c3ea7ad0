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
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "UdpTestClient.h"

namespace brantwell::test {

// Polls `condition` every 10 ms until it holds or `limit` passes.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A TCP port on 127.0.0.1 that was free a moment ago.
inline std::uint16_t freeTcpPort()
{
    return freeLoopbackPort(SOCK_STREAM);
}

class TcpClient {
public:
    explicit TcpClient(std::uint16_t port, const char* server = "127.0.0.1")
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
