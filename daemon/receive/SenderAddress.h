// A sender's address as the receivers take it from a socket: IPv4 and IPv6
// in one form, so that a dual-stack socket, the filters and the resolver
// see one kind of value.
#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <string>

namespace brantwell {

struct SenderAddress {
    // IPv6 bytes; an IPv4 sender as ::ffff:a.b.c.d, also when it came over
    // an IPv4 socket.
    std::array<std::uint8_t, 16> bytes{};

    static SenderAddress fromIpv4(std::uint32_t address);  // host byte order
    // An AF_INET or AF_INET6 socket address; anything else gives "::".
    static SenderAddress fromSocketAddress(const sockaddr* address);

    bool isIpv4() const;
    std::uint32_t ipv4() const;  // host byte order; meaningful for isIpv4()

    // Dotted decimal for IPv4, the compressed text form for IPv6.
    void writeText(std::string& out) const;

    friend bool operator==(const SenderAddress&, const SenderAddress&) = default;
};

struct SenderAddressHash {
    std::size_t operator()(const SenderAddress& a) const;
};

} // namespace brantwell
