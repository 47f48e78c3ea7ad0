// The announcements of stored and removed events, with the daemon's threads
// in this process (so that a removal pass runs when the test says), a
// private bus, real UDP datagrams and subscribers on the bus.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Daemon.h"
#include "EventRecord.h"
#include "testkit/EventSubscriber.h"
#include "testkit/TestBus.h"
#include "testkit/TestSupport.h"
#include "testkit/UdpTestClient.h"

using namespace brantwell;
using namespace brantwell::test;
using namespace std::string_literals;

namespace {

std::string lineOf(const EventSubscriber::Event& e)
{
    return formatEventLine({e.at("Date"), e.at("Priority"), e.at("Host"), e.at("Message")});
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0, lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1)
        lines.push_back(text.substr(start, lf + 1 - start));
    return lines;
}

// True when `part` is `whole` with some lines left out, the rest in order.
bool inOrderWithin(const std::vector<std::string>& part, const std::vector<std::string>& whole)
{
    std::size_t at = 0;
    for (const auto& line : part) {
        while (at < whole.size() && whole[at] != line)
            ++at;
        if (at == whole.size())
            return false;
        ++at;
    }
    return true;
}

class Announcements : public ::testing::Test {
protected:
    TestBus bus;
    TempDir dir;
    std::uint16_t port = freeUdpPort();
    std::unique_ptr<Daemon> daemon;

    void SetUp() override
    {
        ASSERT_TRUE(bus.ready());
        daemon = std::make_unique<Daemon>(DaemonOptions{dir.path(), port, dir.file("no-journal")});
        ASSERT_TRUE(daemon->start());
        ASSERT_TRUE(waitUntil([&] { return daemon->commandChannel().connected() && udpPortBound(port); },
                              std::chrono::seconds(10)));
    }

    std::string todaysFile() const { return dir.file(eventLogFileName(std::time(nullptr))); }

    // Sends `count` datagrams "<13>NAME i", pausing now and then so that a
    // test's receiver keeps them all.
    static void sendBurst(std::uint16_t port, const std::string& name, int count)
    {
        UdpSender sender;
        for (int i = 0; i < count; ++i) {
            sender.send(port, "<13>" + name + " " + std::to_string(i));
            if (i % 200 == 199)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // The day's file once it has stopped growing.
    std::string settledFile()
    {
        std::string before, now = readFile(todaysFile());
        do {
            before = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            now = readFile(todaysFile());
        } while (now != before);
        return now;
    }
};

} // namespace

TEST_F(Announcements, ARemovalPassAnnouncesEveryLineItRemovesWhileDatagramsArrive)
{
    EventSubscriber subscriber;
    ASSERT_TRUE(waitUntil([&] { return daemon->commandChannel().subscribers() == 1; }));

    // Dated 1970: older than the default maximum age of every severity.
    constexpr int kAged = 100000;
    std::string aged;
    for (int i = 0; i < kAged; ++i)
        aged += formatEventLine({std::to_string(1000 + i), "User.Notice", "10.0.0.1", "aged " + std::to_string(i)});
    writeFile(dir.file("1970-01-01.log"), aged);

    std::thread datagrams([this] { sendBurst(port, "arriving", 20000); });
    const auto round = daemon->removal().runRound(static_cast<double>(std::time(nullptr)));
    datagrams.join();
    EXPECT_EQ(round.removed, static_cast<std::size_t>(kAged));
    EXPECT_FALSE(exists(dir.file("1970-01-01.log")));

    const std::string stored = settledFile();
    const auto storedLines = linesOf(stored);
    ASSERT_TRUE(waitUntil([&] { return subscriber.count() + subscriber.told() >= kAged + storedLines.size(); },
                          std::chrono::seconds(30)));
    std::vector<std::string> removes, sets;
    for (const auto& e : subscriber.events())
        (e.at("Type") == "Remove" ? removes : sets).push_back(lineOf(e));
    EXPECT_EQ(removes, linesOf(aged)) << "every removed line, once, in file order";
    // Events that arrived meanwhile: each one announced, or counted as missed.
    EXPECT_EQ(sets.size() + subscriber.told(), storedLines.size());
    EXPECT_TRUE(inOrderWithin(sets, storedLines));
}

TEST_F(Announcements, ASubscriberThatStoppedReadingIsToldHowManyEventsItMissed)
{
    EventSubscriber reading;
    EventSubscriber stalled(/*subscribe=*/true, /*reading=*/false);
    ASSERT_TRUE(waitUntil([&] { return daemon->commandChannel().subscribers() == 2; }));

    // More than a subscriber may have unread.
    constexpr int kEvents = static_cast<int>(CommandChannel::kWindow) * 2;
    sendBurst(port, "burst", kEvents);
    const auto storedLines = linesOf(settledFile());
    ASSERT_GT(storedLines.size(), CommandChannel::kWindow);

    stalled.resume();
    for (auto* s : {&reading, &stalled}) {
        EXPECT_TRUE(waitUntil([&] { return s->count() + s->told() >= storedLines.size(); }, std::chrono::seconds(30)));
        std::vector<std::string> lines;
        for (const auto& e : s->events())
            lines.push_back(lineOf(e));
        EXPECT_EQ(lines.size() + s->told(), storedLines.size()) << "every event delivered or counted, never both";
        EXPECT_TRUE(inOrderWithin(lines, storedLines));
    }
    EXPECT_GT(stalled.told(), 0u);
    EXPECT_LE(stalled.count(), CommandChannel::kWindow + CommandChannel::kEventsPerSignal);
    EXPECT_EQ(daemon->commandChannel().droppedEvents(), reading.told() + stalled.told());
}

// Lines read back from files may hold bytes no D-Bus text may (latin-1,
// NUL). Their removal is announced byte for byte as stored, so that a
// reader finds the very line it holds, and neither the connection nor the
// events queued behind them suffer.
TEST_F(Announcements, RemovedLinesWithBytesNoTextMayHoldAreAnnouncedAsStored)
{
    EventSubscriber subscriber;
    ASSERT_TRUE(waitUntil([&] { return daemon->commandChannel().subscribers() == 1; }));
    writeFile(dir.file("1970-01-01.log"), std::string("1000,User.Notice,10.0.0.1,caf\xE9 cr\xC3\xA8me\n") +
                                              "1001,User.Notice,10.0.0.1,nul \0 inside\n"s +
                                              "1002,User.Notice,10.0.0.1,plain\n");
    daemon->removal().runRound(static_cast<double>(std::time(nullptr)));
    subscriber.waitFor(3);
    UdpSender().send(port, "<14>after the odd bytes");
    const auto received = subscriber.waitFor(4);

    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(received[0].at("Type"), "Remove");
    EXPECT_EQ(received[0].at("Message"), "caf\xE9 cr\xC3\xA8me");
    EXPECT_EQ(received[1].at("Message"), "nul \0 inside"s);
    EXPECT_EQ(received[2].at("Message"), "plain");
    EXPECT_EQ(received[3].at("Type"), "Set");
    EXPECT_EQ(received[3].at("Message"), "after the odd bytes");
    EXPECT_TRUE(daemon->commandChannel().connected());
}

// A subscriber that reads slowly holds the removal pass up (its "Remove"s
// wait for room, none is dropped), never the receiver: every datagram is
// stored while the pass still waits, and the store's lock was never held
// for long.
TEST_F(Announcements, ASlowSubscriberHoldsTheRemovalPassUpButNeverReception)
{
    EventSubscriber slow(/*subscribe=*/true, /*reading=*/true, std::chrono::milliseconds(4));
    ASSERT_TRUE(waitUntil([&] { return daemon->commandChannel().subscribers() == 1; }));

    constexpr int kAged = 100000;
    std::string aged;
    for (int i = 0; i < kAged; ++i)
        aged += formatEventLine({std::to_string(1000 + i), "User.Notice", "10.0.0.1", "aged " + std::to_string(i)});
    writeFile(dir.file("1970-01-01.log"), aged);

    std::atomic<bool> passDone{false};
    RemovalThread::Round round;
    std::thread pass([&] {
        round = daemon->removal().runRound(static_cast<double>(std::time(nullptr)));
        passDone = true;
    });
    constexpr int kArriving = 20000;
    sendBurst(port, "arriving", kArriving);
    const bool storedAll = waitUntil([&] { return linesOf(readFile(todaysFile())).size() == kArriving; },
                                     std::chrono::seconds(20));
    const bool passWasWaiting = !passDone;
    pass.join();
    EXPECT_TRUE(storedAll);
    EXPECT_TRUE(passWasWaiting) << "the subscriber reads 100,000 removals in no less than 2 s";
    EXPECT_EQ(round.removed, static_cast<std::size_t>(kAged));
    EXPECT_LT(daemon->statistics().at("storeLongestWaitMicroseconds"), 100'000u);

    const auto storedLines = linesOf(settledFile());
    ASSERT_EQ(storedLines.size(), static_cast<std::size_t>(kArriving));
    ASSERT_TRUE(waitUntil([&] { return slow.count() + slow.told() >= kAged + storedLines.size(); },
                          std::chrono::seconds(60)));
    std::vector<std::string> removes, sets;
    for (const auto& e : slow.events())
        (e.at("Type") == "Remove" ? removes : sets).push_back(lineOf(e));
    EXPECT_EQ(removes, linesOf(aged)) << "every removal announced, once, in file order";
    EXPECT_EQ(sets.size() + slow.told(), storedLines.size()) << "arrivals announced or counted as missed";
    EXPECT_TRUE(inOrderWithin(sets, storedLines));
}
