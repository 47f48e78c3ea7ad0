#include "DropReport.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "store/EventStore.h"
#include "settings/SettingsPipe.h"
#include "SyslogThread.h"
#include "testkit/TestSupport.h"
#include "testkit/UdpTestClient.h"

using namespace brantwell;
using namespace brantwell::test;

namespace {

template <typename Condition>
bool waitFor(Condition condition)
{
    for (int i = 0; i < 500; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

} // namespace

TEST(DropReport, NamesEachCounterThatGrewWithItsGrowthAndTotal)
{
    struct Step {
        Counters counters;
        const char* line;  // nullptr: nothing to say
    };
    const std::vector<Step> steps = {
        {{{"kernelDropped", 0}, {"eventsStored", 10}}, nullptr},
        {{{"kernelDropped", 0}, {"eventsStored", 900}}, nullptr},  // stored events are no loss
        {{{"kernelDropped", 40}, {"eventsStored", 950}},
         "BrantwellSrv: lost in the last minute: 40 datagrams dropped by the kernel (receive queue full), "
         "40 since start\n"},
        {{{"kernelDropped", 40}, {"eventsStored", 990}}, nullptr},  // no growth: quiet again
        {{{"kernelDropped", 45}, {"signalDroppedEvents", 7}, {"actionsDropped", 0}},
         "BrantwellSrv: lost in the last minute: 5 datagrams dropped by the kernel (receive queue full), "
         "45 since start; 7 event signals dropped (the bus could not keep up), 7 since start\n"},
        {{{"kernelDropped", 3}}, // the socket was opened anew: its count starts over
         "BrantwellSrv: lost in the last minute: 3 datagrams dropped by the kernel (receive queue full), "
         "3 since start\n"},
        {{{"eventsUnstored", 2}, {"actionsDropped", 1}},
         "BrantwellSrv: lost in the last minute: 2 events not stored (the write failed), 2 since start; "
         "1 actions dropped (too many at once), 1 since start\n"},
    };
    DropReport report;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto line = report.check(steps[i].counters);
        if (steps[i].line)
            EXPECT_EQ(line.value_or("(nothing)"), steps[i].line) << "step " << i;
        else
            EXPECT_FALSE(line) << "step " << i << ": " << *line;
    }
}

TEST(DropReport, StartsFromTheCountersItFirstSeesWhenAskedTo)
{
    DropReport report;
    EXPECT_FALSE(report.check({{"kernelDropped", 100}}, /*fromZero=*/false));
    EXPECT_FALSE(report.check({{"kernelDropped", 100}}));
    EXPECT_TRUE(report.check({{"kernelDropped", 101}}));
}

TEST(DropReporter, WritesOneLinePerIntervalOnlyWhileACounterGrows)
{
    std::mutex mutex;
    std::uint64_t dropped = 0;
    std::vector<std::string> lines;
    {
        DropReporter reporter(
            [&] {
                std::lock_guard lock(mutex);
                return Counters{{"signalDroppedEvents", dropped}};
            },
            [&](std::string_view line) {
                std::lock_guard lock(mutex);
                lines.emplace_back(line);
            },
            std::chrono::milliseconds(30));
        reporter.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // still: nothing
        {
            std::lock_guard lock(mutex);
            EXPECT_TRUE(lines.empty());
            dropped = 12;
        }
        ASSERT_TRUE(waitFor([&] {
            std::lock_guard lock(mutex);
            return !lines.empty();
        }));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // still again
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("12 event signals dropped"), std::string::npos) << lines[0];
}

TEST(SyslogThread, CountsEveryDatagramEitherReceivedOrDroppedByTheKernel)
{
    TempDir dir;
    SettingsPipe settings(dir.path());
    settings.readSettings();
    EventStore store(dir.path());
    SyslogThread thread(settings, store, nullptr, nullptr);
    ASSERT_TRUE(thread.open(0, "127.0.0.1"));

    // Far more than the receive buffer holds while nobody reads it.
    constexpr std::uint64_t kSent = 60000;
    const std::string datagram = "<14>" + std::string(1000, 'x');
    UdpSender sender;
    std::uint64_t sent = 0;
    for (std::uint64_t i = 0; i < kSent; ++i)
        sent += sender.send(thread.boundPort(), datagram) ? 1 : 0;
    ASSERT_EQ(sent, kSent);

    std::jthread runner([&](std::stop_token stop) { thread.run(stop); });
    const auto& s = thread.statistics();
    EXPECT_TRUE(waitFor([&] { return s.received.load() + s.kernelDropped.load() == kSent; }))
        << "received " << s.received.load() << " dropped " << s.kernelDropped.load();
    EXPECT_GT(s.kernelDropped.load(), 0u);
    EXPECT_EQ(s.stored.load(), s.received.load());
}
