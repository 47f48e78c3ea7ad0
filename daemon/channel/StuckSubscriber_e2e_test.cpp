// A subscriber that subscribes and never reads, on a bus with Debian's stock
// system policy and the project's policy file, with the real BrantwellSrv:
// nobody else's calls may wait on it, and the bus daemon must not hoard
// what it cannot deliver.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>
#include <gtest/gtest.h>

#include "BusNames.h"
#include "testkit/DaemonOnBus.h"
#include "testkit/EventSubscriber.h"
#include "testkit/UdpTestClient.h"
#include "testkit/WaitUntil.h"

using namespace brantwell::test;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

namespace bus = brantwell::bus;

// Resident memory of a process in bytes (VmRSS), 0 when it cannot be read.
std::uint64_t residentBytes(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoull(line.substr(6)) * 1024;
    return 0;
}

std::map<std::string, std::uint64_t> statistics(std::chrono::milliseconds timeout = std::chrono::seconds(1))
{
    auto connection = sdbus::createSystemBusConnection();
    auto proxy = sdbus::createProxy(*connection, bus::kService, bus::kObjectPath);
    std::map<std::string, std::uint64_t> counters;
    proxy->callMethod(bus::kGetStatistics).onInterface(bus::kInterface).withTimeout(timeout).storeResultsTo(counters);
    return counters;
}

// How long `call` took; a call that threw counts as never answered.
template <typename F> std::chrono::milliseconds timed(F&& call)
{
    const auto start = Clock::now();
    try {
        call();
    } catch (const sdbus::Error&) {
        return std::chrono::hours(1);
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

class StuckSubscriber : public DaemonOnBus {};

} // namespace

// Three of them: what all subscribers leave unread counts against the
// daemon's one connection.
TEST_F(StuckSubscriber, FreezesNoCallAndTheBusDaemonHoardsNothing)
{
    EventSubscriber stuck(/*subscribe=*/true, /*reading=*/false);
    EventSubscriber second(/*subscribe=*/true, /*reading=*/false);
    EventSubscriber third(/*subscribe=*/true, /*reading=*/false);
    ASSERT_TRUE(waitUntil([] { return statistics()["subscribers"] == 3; }));

    // 200,000 events of about 700 bytes: more than the bus daemon lets one
    // connection have in flight (127 MiB), if it kept them all.
    constexpr int kEvents = 200000;
    const std::string text(680, 'x');
    std::atomic<bool> sending{true};
    std::thread burst([&] {
        UdpSender sender;
        for (int i = 0; i < kEvents; ++i) {
            sender.send(port, "<13>unread " + std::to_string(i) + " " + text);
            if (i % 200 == 199)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        sending = false;
    });
    std::chrono::milliseconds slowestStats{0}, slowestSave{0}, slowestSubscribe{0};
    std::uint64_t busMemory = 0;
    int rounds = 0;
    const auto measure = [&] {
        slowestStats = std::max(slowestStats, timed([] { statistics(); }));
        slowestSave = std::max(slowestSave, timed([] {
            const auto answer =
                setCommand(json({{"command", "save"}, {"Settings", {{"hostsDisplay", false}}}}).dump(), std::chrono::seconds(1));
            if (answer.reply != bus::kReceived)
                throw sdbus::Error(answer.error, answer.message);
        }));
        // Another subscriber comes and goes.
        slowestSubscribe = std::max(slowestSubscribe, timed([] {
            auto connection = sdbus::createSystemBusConnection();
            auto proxy = sdbus::createProxy(*connection, bus::kService, bus::kObjectPath);
            proxy->callMethod(bus::kSubscribe).onInterface(bus::kInterface).withTimeout(std::chrono::seconds(1));
            proxy->callMethod(bus::kUnsubscribe).onInterface(bus::kInterface).withTimeout(std::chrono::seconds(1));
        }));
        busMemory = std::max(busMemory, residentBytes(bus.pid()));
        ++rounds;
    };
    while (sending) {
        measure();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    burst.join();
    // And once the bus daemon holds all it will for the stuck one.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    measure();

    std::printf("slowest stats %lld ms, save %lld ms, subscribe %lld ms over %d rounds; bus daemon at most %llu KiB\n",
                static_cast<long long>(slowestStats.count()), static_cast<long long>(slowestSave.count()),
                static_cast<long long>(slowestSubscribe.count()), rounds, static_cast<unsigned long long>(busMemory >> 10));
    EXPECT_LT(slowestStats.count(), 1000);
    EXPECT_LT(slowestSave.count(), 1000);
    EXPECT_LT(slowestSubscribe.count(), 1000);
    EXPECT_GT(rounds, 5);
    EXPECT_LT(busMemory, 64u << 20) << "bus daemon resident bytes";

    const auto counters = statistics();
    const std::uint64_t stored = counters.at("eventsStored");
    EXPECT_GT(stored, kEvents / 2u) << "the burst arrived";
    // Once it reads again it gets what the bus held for it and is told how
    // many it missed.
    for (auto* s : {&stuck, &second, &third})
        s->resume();
    for (auto* s : {&stuck, &second, &third}) {
        EXPECT_TRUE(waitUntil([&] { return s->count() + s->told() >= stored; }, std::chrono::seconds(20)))
            << s->count() << " received, " << s->told() << " told of, " << stored << " stored";
        EXPECT_EQ(s->count() + s->told(), stored);
        EXPECT_GT(s->told(), 0u);
    }
}

// A subscriber that answers no ping for 30 seconds is dropped (and the
// test takes that long); it may subscribe again.
TEST_F(StuckSubscriber, OneThatAnswersNoPingFor30SecondsIsDroppedAndMaySubscribeAgain)
{
    EventSubscriber stuck(/*subscribe=*/true, /*reading=*/false);
    ASSERT_TRUE(waitUntil([] { return statistics()["subscribers"] == 1; }));
    UdpSender().send(port, "<13>one for the stuck subscriber");
    const auto start = Clock::now();
    ASSERT_TRUE(waitUntil([] { return statistics()["subscribers"] == 0; }, std::chrono::seconds(40)));
    EXPECT_GE(Clock::now() - start, std::chrono::seconds(25)) << "not before it had time to answer";
    EXPECT_EQ(statistics()["subscribersDropped"], 1u);

    stuck.resume();
    EXPECT_EQ(stuck.call(bus::kSubscribe), "");
    EXPECT_EQ(statistics()["subscribers"], 1u);
    UdpSender().send(port, "<13>after subscribing again");
    EXPECT_TRUE(waitUntil([&] {
        const auto events = stuck.events();
        return std::any_of(events.begin(), events.end(),
                           [](const auto& e) { return e.at("Message") == "after subscribing again"; });
    }));
}
