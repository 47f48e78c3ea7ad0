// The local address a receiver binds: IPv4 or IPv6 text and a port.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace brantwell {

class SocketAddress {
public:
    // Dotted decimal or IPv6 text ("::" is every address of both families
    // on a dual-stack socket). False when `address` is neither.
    bool set(const std::string& address, std::uint16_t port);
    int family() const { return storage_.ss_family; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage_); }
    socklen_t length() const { return length_; }

private:
    sockaddr_storage storage_{};
    socklen_t length_ = 0;
};

// The port a socket is bound to; 0 when it is not a bound socket.
std::uint16_t localPort(int fd);

// A socket of `address`'s family; for "::" a dual-stack one (IPV6_V6ONLY
// off), or an IPv4 one bound to 0.0.0.0 when the machine has no IPv6, in
// which case `address` is changed to match. -1 with errno when it fails.
int openSocket(SocketAddress& address, int type, bool anyAddress);

} // namespace brantwell
