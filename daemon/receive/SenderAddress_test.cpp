#include "SenderAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

using brantwell::SenderAddress;

namespace {

SenderAddress fromText(const char* text)
{
    sockaddr_storage ss{};
    auto& v4 = reinterpret_cast<sockaddr_in&>(ss);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(ss);
    if (inet_pton(AF_INET, text, &v4.sin_addr) == 1)
        v4.sin_family = AF_INET;
    else if (inet_pton(AF_INET6, text, &v6.sin6_addr) == 1)
        v6.sin6_family = AF_INET6;
    return SenderAddress::fromSocketAddress(reinterpret_cast<const sockaddr*>(&ss));
}

std::string textOf(const SenderAddress& a)
{
    std::string out;
    a.writeText(out);
    return out;
}

} // namespace

TEST(SenderAddress, WritesIpv4DottedAndIpv6InItsCompressedForm)
{
    const std::pair<const char*, const char*> cases[] = {
        {"192.0.2.1", "192.0.2.1"},
        {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", "255.255.255.255"},
        // An IPv4 sender on a dual-stack socket: dotted, as over IPv4.
        {"::ffff:192.0.2.1", "192.0.2.1"},
        {"::FFFF:10.0.0.7", "10.0.0.7"},
        {"::1", "::1"},
        {"::", "::"},
        {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},    // the first of two equal runs
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"}, // one zero group stays
        {"2001:0db8:0000:0000:0000:0000:0002:0001", "2001:db8::2:1"},
        {"fe80::1:2:3:4", "fe80::1:2:3:4"},
    };
    for (auto [in, out] : cases)
        EXPECT_EQ(textOf(fromText(in)), out) << in;
}

TEST(SenderAddress, TellsIpv4FromIpv6)
{
    EXPECT_TRUE(fromText("10.1.2.3").isIpv4());
    EXPECT_EQ(fromText("10.1.2.3").ipv4(), 0x0A010203u);
    EXPECT_TRUE(fromText("::ffff:10.1.2.3") == fromText("10.1.2.3"));
    EXPECT_FALSE(fromText("::1").isIpv4());
    EXPECT_FALSE(fromText("::a01:203").isIpv4());  // not mapped: an IPv6 address
    EXPECT_FALSE(fromText("::1") == fromText("::2"));
}
