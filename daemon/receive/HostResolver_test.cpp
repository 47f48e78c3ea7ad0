#include "HostResolver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "testkit/WaitUntil.h"

using brantwell::HostResolver;
using brantwell::SenderAddress;
using brantwell::test::waitUntil;

namespace {

// A resolver behind the seam: answers from a table, counts the lookups, and
// holds every lookup while it is closed (a resolver that does not answer).
struct FakeDns {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = true;
    int lookups = 0;
    std::atomic<double> now{1000};

    std::string lookup(const SenderAddress& address)
    {
        std::unique_lock lock(mutex);
        ++lookups;
        opened.wait(lock, [&] { return open; });
        return address == SenderAddress::fromIpv4(1) ? "router.example" : "";
    }
    void setOpen(bool value)
    {
        {
            std::lock_guard lock(mutex);
            open = value;
        }
        opened.notify_all();
    }
    int count()
    {
        std::lock_guard lock(mutex);
        return lookups;
    }
};

HostResolver resolverOf(const std::shared_ptr<FakeDns>& dns)
{
    return HostResolver([dns](const SenderAddress& a) { return dns->lookup(a); }, [dns] { return dns->now.load(); });
}

std::string hostText(HostResolver& resolver, std::uint32_t address)
{
    std::string text, out;
    SenderAddress::fromIpv4(address).writeText(text);
    resolver.writeHostText(SenderAddress::fromIpv4(address), text, out);
    return out;
}

} // namespace

TEST(HostResolver, GivesTheAddressAtOnceAndTheNameOnceFoundAndCachesBothForTheirTime)
{
    auto dns = std::make_shared<FakeDns>();
    HostResolver resolver = resolverOf(dns);
    EXPECT_EQ(hostText(resolver, 1), "0.0.0.1");  // not known yet
    ASSERT_TRUE(waitUntil([&] { return hostText(resolver, 1) == "router.example"; }));
    EXPECT_EQ(hostText(resolver, 2), "0.0.0.2");
    ASSERT_TRUE(waitUntil([&] { return dns->count() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(hostText(resolver, 2), "0.0.0.2");
    EXPECT_EQ(hostText(resolver, 1), "router.example");
    EXPECT_EQ(dns->count(), 2) << "found and failed names are cached";

    dns->now = dns->now + HostResolver::kFailedSeconds + 1;  // the failed name expires first
    hostText(resolver, 1);
    hostText(resolver, 2);
    ASSERT_TRUE(waitUntil([&] { return dns->count() == 3; }));
    dns->now = dns->now + HostResolver::kFoundSeconds;
    // While the name is looked up again, the one found before stays.
    dns->setOpen(false);
    EXPECT_EQ(hostText(resolver, 1), "router.example");
    ASSERT_TRUE(waitUntil([&] { return dns->count() == 4; }));
    EXPECT_EQ(hostText(resolver, 1), "router.example");
    dns->setOpen(true);
}

// The receive thread's side of a resolver that never answers: every call
// returns at once, each address is queued once, and the queue stays bounded.
TEST(HostResolver, NeverWaitsForASilentResolverAndBoundsItsQueue)
{
    auto dns = std::make_shared<FakeDns>();
    dns->setOpen(false);
    HostResolver resolver = resolverOf(dns);
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 3; ++round)
        for (std::uint32_t a = 100; a < 100 + 2 * HostResolver::kMaxQueued; ++a)
            EXPECT_EQ(hostText(resolver, a).rfind("0.0.", 0), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_TRUE(waitUntil([&] { return dns->count() == HostResolver::kThreads; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(dns->count(), HostResolver::kThreads) << "one lookup per thread, the rest wait in the queue";

    // Addresses that waited past the deadline are given up, not looked up:
    // a sender queued after them is named at once.
    dns->now = dns->now + HostResolver::kQueueDeadlineSeconds + 1;
    dns->setOpen(true);
    EXPECT_TRUE(waitUntil([&] { return hostText(resolver, 1) == "router.example"; }));
    EXPECT_EQ(dns->count(), HostResolver::kThreads + 1);
}

TEST(HostResolver, RefusesNamesThatWouldBreakTheLine)
{
    const std::pair<const char*, bool> names[] = {
        {"host.example", true}, {"a,b", false}, {"with space", false}, {"", false},
        {"tab\there", false}, {"new\nline", false}, {"\xc3\xa9t\xc3\xa9", false}};
    for (auto [name, usable] : names) {
        EXPECT_EQ(brantwell::isUsableHostName(name), usable) << name;
        auto found = std::make_shared<std::atomic<int>>(0);
        HostResolver resolver([name, found](const SenderAddress&) { ++*found; return std::string(name); },
                              [] { return 0.0; });
        ASSERT_EQ(hostText(resolver, 7), "0.0.0.7");
        ASSERT_TRUE(waitUntil([&] { return *found == 1; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(hostText(resolver, 7), usable ? std::string(name) : "0.0.0.7");
    }
}
