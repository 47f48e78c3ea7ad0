#include "HostResolver.h"

#include <gtest/gtest.h>

TEST(HostResolver, CachesFoundAndFailedNamesForTheirTime)
{
    int lookups = 0;
    double now = 1000;
    brantwell::HostResolver resolver(
        [&](const brantwell::SenderAddress& address) -> std::string {
            ++lookups;
            return address == brantwell::SenderAddress::fromIpv4(1) ? "router.example" : "";
        },
        [&] { return now; });
    const std::string one = "0.0.0.1", two = "0.0.0.2";
    const auto a1 = brantwell::SenderAddress::fromIpv4(1), a2 = brantwell::SenderAddress::fromIpv4(2);
    EXPECT_EQ(resolver.hostText(a1, one), "router.example");
    EXPECT_EQ(resolver.hostText(a1, one), "router.example");
    EXPECT_EQ(resolver.hostText(a2, two), "0.0.0.2");
    EXPECT_EQ(resolver.hostText(a2, two), "0.0.0.2");
    EXPECT_EQ(lookups, 2);
    now += brantwell::HostResolver::kFailedSeconds + 1;  // failed name expires first
    resolver.hostText(a1, one);
    resolver.hostText(a2, two);
    EXPECT_EQ(lookups, 3);
    now += brantwell::HostResolver::kFoundSeconds;
    resolver.hostText(a1, one);
    EXPECT_EQ(lookups, 4);
}

TEST(HostResolver, RefusesNamesThatWouldBreakTheLine)
{
    const std::pair<const char*, bool> names[] = {
        {"host.example", true}, {"a,b", false}, {"with space", false}, {"", false},
        {"tab\there", false}, {"new\nline", false}, {"\xc3\xa9t\xc3\xa9", false}};
    for (auto [name, usable] : names) {
        EXPECT_EQ(brantwell::isUsableHostName(name), usable) << name;
        brantwell::HostResolver resolver([&](const brantwell::SenderAddress&) { return std::string(name); }, [] { return 0.0; });
        const std::string dotted = "10.0.0.1";
        EXPECT_EQ(resolver.hostText(brantwell::SenderAddress::fromIpv4(7), dotted), usable ? std::string(name) : dotted);
    }
}
