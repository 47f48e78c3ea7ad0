#include "SocketAddress.h"

#include <arpa/inet.h>

#include <cerrno>

namespace brantwell {

bool SocketAddress::set(const std::string& address, std::uint16_t port)
{
    storage_ = {};
    auto& v4 = reinterpret_cast<sockaddr_in&>(storage_);
    if (inet_pton(AF_INET, address.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        length_ = sizeof v4;
        return true;
    }
    auto& v6 = reinterpret_cast<sockaddr_in6&>(storage_);
    if (inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        length_ = sizeof v6;
        return true;
    }
    storage_ = {};
    length_ = 0;
    return false;
}

std::uint16_t localPort(int fd)
{
    sockaddr_storage ss{};
    socklen_t length = sizeof ss;
    if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &length) != 0)
        return 0;
    if (ss.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(ss).sin_port);
    if (ss.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(ss).sin6_port);
    return 0;
}

int openSocket(SocketAddress& address, int type, bool anyAddress)
{
    const int protocol = (type & SOCK_DGRAM) == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP;
    int fd = socket(address.family(), type | SOCK_CLOEXEC, protocol);
    if (fd < 0 && address.family() == AF_INET6 && anyAddress && (errno == EAFNOSUPPORT || errno == EPROTONOSUPPORT)) {
        // No IPv6 on this machine: IPv4 alone.
        const std::uint16_t port = ntohs(reinterpret_cast<const sockaddr_in6*>(address.get())->sin6_port);
        address.set("0.0.0.0", port);
        fd = socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    }
    if (fd >= 0 && address.family() == AF_INET6) {
        // One socket for both families: IPv4 peers arrive as ::ffff:a.b.c.d.
        const int off = 0;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    return fd;
}

} // namespace brantwell
