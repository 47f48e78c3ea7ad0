// Sends datagrams over loopback from a chosen source address.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace brantwell::test {

class UdpSender {
public:
    explicit UdpSender(const char* source = "127.0.0.1")
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &from.sin_addr);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from);
    }
    ~UdpSender() { ::close(fd_); }
    bool send(std::uint16_t port, std::string_view bytes) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to)
               == static_cast<ssize_t>(bytes.size());
    }

private:
    int fd_ = -1;
};

// A port on 127.0.0.1 that was free a moment ago, for sockets of `type`.
inline std::uint16_t freeLoopbackPort(int type)
{
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    ::close(fd);
    return ntohs(sa.sin_port);
}

// A UDP port that was free a moment ago.
inline std::uint16_t freeUdpPort()
{
    return freeLoopbackPort(SOCK_DGRAM);
}

} // namespace brantwell::test
