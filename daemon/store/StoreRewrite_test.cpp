// Rewrites of the store while the receiver appends: what arrives meanwhile
// is kept exactly once and in order, what was taken out stays out, and the
// receiver does not wait for the rewrite (the store's own wait counter says
// how long an append waited for its lock).
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "EventStore.h"
#include "EventUpdate.h"
#include "RemovalThread.h"
#include "settings/SettingsPipe.h"
#include "testkit/TestSupport.h"

namespace brantwell {
namespace {

using test::readFile;
using test::writeFile;

// 2026-12-08 23:59:59 in Europe/Berlin (the tests run with that TZ): every
// append lands in 2026-12-08.log.
constexpr double kToday = 1796770799;
constexpr const char* kTodaysFile = "2026-12-08.log";
// Far beyond any scheduling hiccup, far below a rewrite that held the lock
// for the whole file (each case below makes its rewrite last longer).
constexpr std::uint64_t kWaitBoundMicroseconds = 100'000;

std::string storedLine(const std::string& message, const std::string& date = "1796770799")
{
    return formatEventLine({date, "User.Notice", "10.0.0.1", message});
}

// Appends "appended N" lines, one or a few per batch, from its own thread
// until told to stop; remembers what it stored, in order.
class Appender {
public:
    explicit Appender(EventStore& store)
        : thread_([this, &store](std::stop_token stop) {
              for (int n = 0; !stop.stop_requested(); ++n) {
                  std::vector<EventRecord> batch = {{"1796770799", "User.Notice", "10.0.0.1",
                                                     "appended " + std::to_string(n)}};
                  if (store.append(kToday, batch) == 1)
                      expected_ += formatEventLine(batch[0]);
                  count_.store(n + 1);
                  if (n % 64 == 63)
                      std::this_thread::sleep_for(std::chrono::microseconds(200));
              }
          })
    {
    }
    int count() const { return count_.load(); }
    // Stops the thread; what it stored, in order.
    const std::string& finish()
    {
        thread_.request_stop();
        thread_.join();
        return expected_;
    }

private:
    std::atomic<int> count_{0};
    std::string expected_;
    std::jthread thread_;
};

void waitForAppends(const Appender& appender, int more)
{
    const int target = appender.count() + more;
    while (appender.count() < target)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

struct TodayCase {
    const char* what;
    int lines;                     // in the file before the rewrite
    bool (*leaves)(int n);         // which of them the rewrite takes out
    bool throughUpdate;            // as the "update" command, else EventStore::rewrite
};

TEST(StoreRewrite, TodaysFileKeepsEveryLineAppendedDuringTheRewriteOnceAndInOrder)
{
    const TodayCase cases[] = {
        {"one line of many", 200000, [](int n) { return n == 123456; }, true},
        {"10,000 lines", 200000, [](int n) { return n % 20 == 7; }, true},
        {"every line (delete all)", 50000, [](int) { return true; }, true},
        {"every other line, straight through the store", 200000, [](int n) { return n % 2 == 0; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        std::string before, kept;
        nlohmann::json command = {{"command", "update"}, {"Events", nlohmann::json::object()}};
        int leaving = 0;
        for (int n = 0; n < c.lines; ++n) {
            const std::string line = storedLine("stored " + std::to_string(n));
            before += line;
            if (c.leaves(n)) {
                command["Events"][line] = "1";
                ++leaving;
            } else {
                kept += line;
            }
        }
        writeFile(dir.file(kTodaysFile), before);
        EventStore store(dir.path());
        Appender appender(store);
        waitForAppends(appender, 500);

        if (c.throughUpdate) {
            // Appends go on during the whole rewrite; the command's thread
            // is simply slower than the appender.
            const auto result = updateEvents(store, command);
            EXPECT_TRUE(result.failures.empty());
            EXPECT_EQ(result.deleted, static_cast<std::size_t>(leaving));
        } else {
            // A rewrite that lasts: the filter waits in the middle of the
            // file until many lines have been appended behind it.
            // Lines appended before the rewrite began are shown to it too.
            constexpr std::string_view kStored = "1796770799,User.Notice,10.0.0.1,stored ";
            int seen = 0;
            ASSERT_TRUE(store.rewrite(kTodaysFile, [&](std::string_view line) {
                if (!line.starts_with(kStored))
                    return true;
                EXPECT_EQ(line, storedLine("stored " + std::to_string(seen)));
                if (++seen == c.lines / 2)
                    waitForAppends(appender, 5000);
                return !c.leaves(seen - 1);
            }));
            EXPECT_EQ(seen, c.lines) << "each line that was there at the start, once";
        }
        waitForAppends(appender, 500);  // and on into the new file
        const std::string& appended = appender.finish();
        ASSERT_GT(appended.size(), 0u);
        const std::string after = readFile(dir.file(kTodaysFile));
        ASSERT_EQ(after.size(), kept.size() + appended.size());
        EXPECT_TRUE(after == kept + appended) << "the kept lines, then every appended line once, in order";
        EXPECT_LT(store.longestWaitMicroseconds(), kWaitBoundMicroseconds);
    }
}

// A last line torn by a crash is judged like any other; when it leaves,
// the LF that the next append puts after it leaves with it.
TEST(StoreRewrite, ATornLastLineLeavesWholeOrStaysWhole)
{
    for (const bool leaves : {false, true}) {
        SCOPED_TRACE(leaves ? "torn line leaves" : "torn line stays");
        test::TempDir dir;
        writeFile(dir.file(kTodaysFile), storedLine("first") + "1796770000,User.Notice,10.0.0.1,torn");
        EventStore store(dir.path());
        const std::vector<EventRecord> next = {{"1796770799", "User.Notice", "10.0.0.1", "next"}};
        bool appended = false;
        ASSERT_TRUE(store.rewrite(kTodaysFile, [&](std::string_view line) {
            if (!appended)  // arrives during the rewrite
                appended = store.append(kToday, next) == 1;
            return line == storedLine("first") ? false : !leaves;
        }));
        EXPECT_EQ(readFile(dir.file(kTodaysFile)),
                  (leaves ? "" : "1796770000,User.Notice,10.0.0.1,torn\n") + storedLine("next"));
    }
}

TEST(StoreRewrite, RemovalOfABigOldFileNeverMakesTheReceiverWait)
{
    test::TempDir dir;
    SettingsPipe settings(dir.path());
    nlohmann::json ages = nlohmann::json::object();
    for (std::size_t row = 0; row < kSeverityRows; ++row) {
        ages[std::string(kRemovalAgeKeys[row])] = 1;
        ages[std::string(kRemovalUnitKeys[row])] = 2;  // one day
    }
    ASSERT_EQ(settings.saveSettings({{"Settings", ages}}), SettingsPipe::SaveResult::Saved);
    // 300,000 lines of 1970: read, filtered and deleted in one pass.
    std::string old;
    for (int n = 0; n < 300000; ++n)
        old += storedLine("aged " + std::to_string(n), std::to_string(1000 + n));
    writeFile(dir.file("1970-01-01.log"), old);
    old = {};

    EventStore store(dir.path());
    RemovalThread removal(settings, store, nullptr);
    Appender appender(store);
    waitForAppends(appender, 500);
    const auto round = removal.runRound(kToday);
    const std::string& appended = appender.finish();

    EXPECT_EQ(round.removed, 300000u);
    EXPECT_FALSE(test::exists(dir.file("1970-01-01.log")));
    EXPECT_EQ(readFile(dir.file(kTodaysFile)), appended) << "today's file untouched by the pass";
    EXPECT_LT(store.longestWaitMicroseconds(), kWaitBoundMicroseconds);
}

// The bound above means something only if a wait shows on the counter.
TEST(StoreRewrite, TheWaitCounterSeesAnAppendThatWaitedForTheLock)
{
    test::TempDir dir;
    EventStore store(dir.path());
    EXPECT_EQ(store.longestWaitMicroseconds(), 0u);
    std::unique_lock held(store.removalLock());
    std::thread receiver([&] {
        const std::vector<EventRecord> one = {{"1796770799", "User.Notice", "10.0.0.1", "waits"}};
        store.append(kToday, one);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    held.unlock();
    receiver.join();
    EXPECT_GE(store.longestWaitMicroseconds(), 20'000u);
    EXPECT_EQ(readFile(dir.file(kTodaysFile)), storedLine("waits"));
}

} // namespace
} // namespace brantwell
