#include "SyslogThread.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "store/EventStore.h"
#include "settings/Settings.h"
#include "settings/SettingsPipe.h"
#include "testkit/TestSupport.h"
#include "testkit/UdpTestClient.h"

using namespace brantwell;
using namespace brantwell::test;
using nlohmann::json;

namespace {

constexpr double kNow = 1796770799.4;  // 2026-12-08 23:59:59 in Berlin, rounds down

// Records what the receiver announces and dispatches, and checks that an
// announcement comes before the line is in the file.
class Recorder final : public EventAnnouncer, public ActionDispatcher {
public:
    explicit Recorder(std::string file) : file_(std::move(file)) {}
    void announce(EventType type, std::span<const EventRecord> events) override
    {
        std::lock_guard lock(mutex_);
        const std::string contents = readFile(file_);
        for (const auto& e : events) {
            announced.push_back(e);
            if (type == EventType::Set && contents.find(formatEventLine(e)) != std::string::npos)
                announcedLate = true;
        }
    }
    void dispatch(const Settings&, const AcceptedEvent& event) override
    {
        std::lock_guard lock(mutex_);
        if (readFile(file_).find(formatEventLine(event.record)) == std::string::npos)
            dispatchedEarly = true;
        dispatched.push_back({std::string(event.senderAddress), event.record.host});
    }
    std::size_t count()
    {
        std::lock_guard lock(mutex_);
        return dispatched.size();
    }

    std::vector<EventRecord> announced;
    std::vector<std::pair<std::string, std::string>> dispatched;
    bool announcedLate = false;
    bool dispatchedEarly = false;

private:
    std::mutex mutex_;
    std::string file_;
};

struct Receiver {
    TempDir dir;
    SettingsPipe settings{dir.path()};
    EventStore store{dir.path()};
    Recorder recorder{dir.file("2026-12-08.log")};
    SyslogThread thread{settings, store, &recorder, &recorder, [] { return kNow; }};
    std::jthread runner;

    Receiver()
    {
        settings.readSettings();
        EXPECT_TRUE(thread.open(0, "127.0.0.1"));
        runner = std::jthread([this](std::stop_token stop) { thread.run(stop); });
    }
    std::uint16_t port() const { return thread.boundPort(); }
    // Waits until `n` datagrams have been handled to the end: stored,
    // filtered out or dropped as empty.
    bool waitForHandled(std::uint64_t n)
    {
        for (int i = 0; i < 1000; ++i) {
            const auto& s = thread.statistics();
            if (s.stored.load() + s.unstored.load() + s.filtered.load() + s.empty.load() >= n)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

json filter(const char* ip, const char* mask, const char* severity)
{
    return {{"Name", "f"}, {"IP", ip}, {"Mask", mask}, {"Facility", "*"},
            {"Severity", severity}, {"Message", "*"}};
}

} // namespace

TEST(SyslogThread, StoresAnnouncesAndDispatchesInThatOrder)
{
    Receiver r;
    UdpSender from5("127.0.0.5");
    ASSERT_TRUE(from5.send(r.port(), "<34>Oct 11 22:14:15 mymachine su: 'su root' failed, twice"));
    ASSERT_TRUE(from5.send(r.port(), "\x01\x02"));  // nothing printable: dropped
    ASSERT_TRUE(r.waitForHandled(2));
    for (int i = 0; i < 1000 && r.recorder.count() < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    EXPECT_EQ(readFile(r.dir.file("2026-12-08.log")),
              "1796770799,Security.Critical,127.0.0.5,mymachine su: 'su root' failed, twice\n");
    ASSERT_EQ(r.recorder.announced.size(), 1u);
    EXPECT_FALSE(r.recorder.announcedLate);
    EXPECT_FALSE(r.recorder.dispatchedEarly);
    ASSERT_EQ(r.recorder.dispatched.size(), 1u);
    EXPECT_EQ(r.recorder.dispatched[0].first, "127.0.0.5");
    EXPECT_EQ(r.thread.statistics().empty.load(), 1u);
}

TEST(SyslogThread, AppliesASavedFilterFromTheNextDatagram)
{
    Receiver r;
    UdpSender from5("127.0.0.5"), from9("127.0.0.9");
    ASSERT_EQ(SettingsPipe::SaveResult::Saved, r.settings.saveSettings(
        {{"Settings",
          {{"includeFiltersArray", json::array({filter("127.0.0.5", "32", "*")})},
           {"excludeFiltersArray", json::array({filter("0.0.0.0", "0", "Debug")})}}}}));
    from5.send(r.port(), "<14>kept");
    from5.send(r.port(), "<15>debug is excluded");
    from9.send(r.port(), "<14>not included");
    from5.send(r.port(), "no priority, still included");
    ASSERT_TRUE(r.waitForHandled(4));
    EXPECT_EQ(readFile(r.dir.file("2026-12-08.log")),
              "1796770799,User.Informational,127.0.0.5,kept\n"
              "1796770799,Unknown,127.0.0.5,no priority, still included\n");
    EXPECT_EQ(r.thread.statistics().filtered.load(), 2u);
}

TEST(SyslogThread, UnknownPriorityIsSelectedBySeverityUnknown)
{
    Receiver r;
    UdpSender from("127.0.0.1");
    r.settings.saveSettings({{"Settings", {{"excludeFiltersArray", json::array({filter("0.0.0.0", "0", "Unknown")})}}}});
    from.send(r.port(), "<0>panic");
    from.send(r.port(), "<200>beyond");
    from.send(r.port(), "<13>notice");
    ASSERT_TRUE(r.waitForHandled(3));
    EXPECT_EQ(readFile(r.dir.file("2026-12-08.log")), "1796770799,User.Notice,127.0.0.1,notice\n");
}

TEST(SyslogThread, StopsPromptlyWhileWaiting)
{
    const auto start = std::chrono::steady_clock::now();
    {
        Receiver r;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
