#include "SenderAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <functional>

namespace brantwell {

SenderAddress SenderAddress::fromIpv4(std::uint32_t address)
{
    SenderAddress a;
    a.bytes[10] = 0xFF;
    a.bytes[11] = 0xFF;
    a.bytes[12] = static_cast<std::uint8_t>(address >> 24);
    a.bytes[13] = static_cast<std::uint8_t>(address >> 16);
    a.bytes[14] = static_cast<std::uint8_t>(address >> 8);
    a.bytes[15] = static_cast<std::uint8_t>(address);
    return a;
}

SenderAddress SenderAddress::fromSocketAddress(const sockaddr* address)
{
    SenderAddress a;
    if (address->sa_family == AF_INET)
        return fromIpv4(ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr));
    if (address->sa_family == AF_INET6)
        std::memcpy(a.bytes.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
    return a;
}

bool SenderAddress::isIpv4() const
{
    static constexpr std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return std::memcmp(bytes.data(), kMapped, sizeof kMapped) == 0;
}

std::uint32_t SenderAddress::ipv4() const
{
    return (std::uint32_t{bytes[12]} << 24) | (std::uint32_t{bytes[13]} << 16) | (std::uint32_t{bytes[14]} << 8)
           | bytes[15];
}

void SenderAddress::writeText(std::string& out) const
{
    char text[INET6_ADDRSTRLEN];
    // inet_ntop writes IPv6 as RFC 5952 asks: lower case, the longest run of
    // zero groups as "::".
    if (isIpv4())
        inet_ntop(AF_INET, bytes.data() + 12, text, sizeof text);
    else
        inet_ntop(AF_INET6, bytes.data(), text, sizeof text);
    out.assign(text);
}

std::size_t SenderAddressHash::operator()(const SenderAddress& a) const
{
    std::uint64_t high = 0, low = 0;
    std::memcpy(&high, a.bytes.data(), 8);
    std::memcpy(&low, a.bytes.data() + 8, 8);
    return std::hash<std::uint64_t>()(high * 0x9E3779B97F4A7C15ull ^ low);
}

} // namespace brantwell
