#include "RemovalThread.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "EventStore.h"
#include "settings/SettingsPipe.h"
#include "testkit/TestSupport.h"

namespace brantwell {
namespace {

constexpr double kNow = 1773000000;  // 8 March 2026, the clock of every round
constexpr double kMinute = 60, kHour = 3600, kDay = 86400;

using test::readFile;

void writeFile(const std::string& path, const std::string& contents, mode_t mode = 0640)
{
    test::writeFile(path, contents);
    chmod(path.c_str(), mode);
}

struct stat statOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st;
}

std::string line(double date, const std::string& priority, const std::string& message = "a message, with commas")
{
    return dateFieldText(date) + "," + priority + ",10.0.0.1," + message + "\n";
}

class RecordingAnnouncer : public EventAnnouncer {
public:
    void announce(EventType type, std::span<const EventRecord> events) override
    {
        for (const auto& e : events)
            announced.push_back({type, e});
    }
    std::vector<std::pair<EventType, EventRecord>> announced;
};

class RemovalThreadTest : public testing::Test {
protected:
    // Every class off, then the given ages and units by severity row
    // (0 Emergency .. 7 Debug, 8 Unknown).
    void configure(const std::map<std::size_t, std::pair<int, int>>& ageAndUnit)
    {
        nlohmann::json dictionary = nlohmann::json::object();
        for (std::size_t row = 0; row < kSeverityRows; ++row) {
            dictionary[std::string(kRemovalAgeKeys[row])] = 0;
            dictionary[std::string(kRemovalUnitKeys[row])] = 2;
        }
        for (const auto& [row, value] : ageAndUnit) {
            dictionary[std::string(kRemovalAgeKeys[row])] = value.first;
            dictionary[std::string(kRemovalUnitKeys[row])] = value.second;
        }
        ASSERT_EQ(settings.saveSettings({{"Settings", dictionary}}), SettingsPipe::SaveResult::Saved);
    }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    test::TempDir temp;
    std::string dir = temp.path();
    SettingsPipe settings{dir};
    EventStore store{dir};
    RecordingAnnouncer announcer;
    RemovalThread removal{settings, store, &announcer};
};

enum Row : std::size_t { Emergency, Alert, Critical, Error, Warning, Notice, Information, Debug, Unknown };

struct AgeCase {
    const char* what;
    std::map<std::size_t, std::pair<int, int>> ages;  // row -> (age, unit)
    std::string priority;
    double date;
    bool removed;
};

TEST_F(RemovalThreadTest, RemovesExactlyTheLinesPastTheAgeOfTheirClass)
{
    const std::vector<AgeCase> cases = {
        {"error of 3 days, 2 days allowed", {{Error, {2, 2}}}, "Mail.Error", kNow - 3 * kDay, true},
        {"error of exactly 3 days, 3 allowed", {{Error, {3, 2}}}, "Mail.Error", kNow - 3 * kDay, true},
        {"error a second short of 3 days", {{Error, {3, 2}}}, "Mail.Error", kNow - 3 * kDay + 1, false},
        {"alert in hours, critical unit apart", {{Alert, {4, 1}}, {Critical, {10, 2}}}, "User.Alert",
         kNow - 5 * kHour, true},
        {"alert kept although critical is 1 minute", {{Alert, {6, 1}}, {Critical, {1, 0}}}, "User.Alert",
         kNow - 5 * kHour, false},
        {"notice in minutes, one short", {{Notice, {90, 0}}}, "Local4.Notice", kNow - 89 * kMinute, false},
        {"notice in minutes, reached", {{Notice, {90, 0}}}, "Local4.Notice", kNow - 90 * kMinute, true},
        {"informational uses the Information row", {{Information, {1, 1}}}, "Local4.Informational",
         kNow - 2 * kHour, true},
        {"alert.debug by the debug age", {{Debug, {10, 0}}}, "Alert.Debug", kNow - 11 * kMinute, true},
        {"alert.debug by the alert age", {{Alert, {10, 0}}}, "Alert.Debug", kNow - 11 * kMinute, true},
        {"alert.debug younger than both", {{Alert, {20, 0}}, {Debug, {30, 0}}}, "Alert.Debug",
         kNow - 11 * kMinute, false},
        {"unknown follows its own age", {{Unknown, {1, 0}}}, "Unknown", kNow - 2 * kMinute, true},
        {"unknown at 0 is kept for ever", {{Emergency, {1, 0}}, {Alert, {1, 0}}, {Critical, {1, 0}},
          {Error, {1, 0}}, {Warning, {1, 0}}, {Notice, {1, 0}}, {Information, {1, 0}}, {Debug, {1, 0}}},
         "Unknown", kNow - 400 * kDay, false},
        {"a known class does not fall back to unknown", {{Unknown, {1, 0}}}, "Kernel.Warning",
         kNow - 400 * kDay, false},
        {"unit 3 keeps its class for ever", {{Error, {1, 3}}}, "Mail.Error", kNow - 400 * kDay, false},
        {"unit -1 keeps its class for ever", {{Error, {1, -1}}}, "Mail.Error", kNow - 400 * kDay, false},
        {"a date in the future ages too", {{Error, {2, 2}}}, "Mail.Error", kNow + 3 * kDay, true},
        {"severity names are case-sensitive", {{Error, {1, 0}}}, "Mail.error", kNow - kDay, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        configure(c.ages);
        const std::string stored = line(c.date, c.priority);
        writeFile(path("2026-03-01.log"), stored);
        announcer.announced.clear();

        const auto round = removal.runRound(kNow);

        EXPECT_EQ(round.removed, c.removed ? 1u : 0u);
        if (c.removed) {
            EXPECT_FALSE(std::filesystem::exists(path("2026-03-01.log")));
            ASSERT_EQ(announcer.announced.size(), 1u);
            EXPECT_EQ(announcer.announced[0].first, EventType::Remove);
            EXPECT_EQ(announcer.announced[0].second,
                      (EventRecord{dateFieldText(c.date), c.priority, "10.0.0.1", "a message, with commas"}));
        } else {
            EXPECT_EQ(readFile(path("2026-03-01.log")), stored);
            EXPECT_TRUE(announcer.announced.empty());
        }
    }
}

TEST_F(RemovalThreadTest, ReadsADateThatIsNoNumberAs1970)
{
    configure({{Error, {30, 2}}});
    writeFile(path("2026-03-01.log"), "yesterday,Mail.Error,10.0.0.1,m\n");
    EXPECT_EQ(removal.runRound(kNow).removed, 1u);
    EXPECT_FALSE(std::filesystem::exists(path("2026-03-01.log")));
}

TEST_F(RemovalThreadTest, WithEveryAgeZeroLooksAtNoFile)
{
    configure({});
    const std::string contents = line(kNow - 400 * kDay, "Mail.Error") + "not an event\n";
    writeFile(path("2026-03-01.log"), contents);

    const auto round = removal.runRound(kNow);

    EXPECT_EQ(round.files, 0u);
    EXPECT_EQ(readFile(path("2026-03-01.log")), contents);
}

TEST_F(RemovalThreadTest, RewritesKeptLinesByteForByteAndDropsBrokenOnesUnannounced)
{
    configure({{Error, {1, 2}}});
    const std::string keptA = line(kNow - 10, "Mail.Error", ",leading comma, and more");
    const std::string keptB = dateFieldText(kNow - 20) + ",Kernel.Warning,host.example,crlf ending\r\n";
    const std::string keptC = dateFieldText(kNow - 30) + ",Mail.Error,10.0.0.2," + std::string(5000, 'x') + "\n";
    // The receiver stores a datagram that was only a time stamp so: an
    // event with an empty message, which stays until its age is reached.
    const std::string keptEmpty = "1773000000,Mail.Error,10.0.0.1,\n";
    const std::string old = line(kNow - 2 * kDay, "Mail.Error", "old one");
    const std::string contents = keptA + old + keptEmpty + "1773000000,Mail.Error,10.0.0.1\n" + "\n" + keptB
        + "garbage without commas\n" + keptC + old;
    writeFile(path("2026-03-07.log"), contents, 0604);
    const auto before = statOf(path("2026-03-07.log"));

    const auto round = removal.runRound(kNow);

    EXPECT_EQ(readFile(path("2026-03-07.log")), keptA + keptEmpty + keptB + keptC);
    const auto after = statOf(path("2026-03-07.log"));
    EXPECT_NE(after.st_ino, before.st_ino) << "replaced by rename, not written in place";
    EXPECT_EQ(after.st_mode & 07777, 0604u);
    EXPECT_EQ(round.removed, 2u);
    EXPECT_EQ(round.dropped, 3u);
    ASSERT_EQ(announcer.announced.size(), 2u);
    for (const auto& [type, event] : announcer.announced)
        EXPECT_EQ(event, (EventRecord{dateFieldText(kNow - 2 * kDay), "Mail.Error", "10.0.0.1", "old one"}));
}

TEST_F(RemovalThreadTest, LeavesAFileThatLosesNothingUntouched)
{
    configure({{Error, {1, 2}}});
    const std::string contents = line(kNow - 10, "Mail.Error") + line(kNow - 5, "User.Debug");
    writeFile(path("2026-03-07.log"), contents);
    const auto before = statOf(path("2026-03-07.log"));

    const auto round = removal.runRound(kNow);

    EXPECT_EQ(round.rewritten, 0u);
    EXPECT_EQ(statOf(path("2026-03-07.log")).st_ino, before.st_ino);
    EXPECT_EQ(readFile(path("2026-03-07.log")), contents);
}

TEST_F(RemovalThreadTest, DeletesAnEmptiedFileAndTheNextEventCreatesItAgain)
{
    configure({{Error, {1, 2}}});
    const std::string day = eventLogFileName(static_cast<long long>(kNow));
    writeFile(path(day), line(kNow - 2 * kDay, "Mail.Error") + line(kNow - 3 * kDay, "Mail.Error"));
    writeFile(path("2026-01-01.log"), line(kNow - 9 * kDay, "Mail.Error"));

    const auto round = removal.runRound(kNow);
    EXPECT_EQ(round.removed, 3u);
    EXPECT_TRUE(store.listFiles().empty());

    const EventRecord fresh{dateFieldText(kNow), "Mail.Error", "10.0.0.1", "back again"};
    ASSERT_EQ(store.append(kNow, std::span(&fresh, 1)), 1u);
    EXPECT_EQ(readFile(path(day)), formatEventLine(fresh));
    EXPECT_EQ(statOf(path(day)).st_mode & 07777, 0640u);
}

TEST_F(RemovalThreadTest, KeepsEveryLineAReceiverAppendsDuringThePasses)
{
    // The receiver appends fresh lines and, among them, lines that are
    // already too old, while removal passes run over the same day file.
    configure({{Emergency, {1, 2}}, {Alert, {1, 2}}, {Critical, {1, 2}}, {Error, {1, 2}}, {Warning, {1, 2}},
               {Notice, {1, 2}}, {Information, {1, 2}}, {Debug, {1, 2}}, {Unknown, {1, 2}}});
    const std::string day = eventLogFileName(static_cast<long long>(kNow));
    std::string initial;
    for (int i = 0; i < 20000; ++i)
        initial += line(kNow - 2 * kDay, "Mail.Error", "initial " + std::to_string(i));
    writeFile(path(day), initial);

    constexpr int kBatches = 3000, kPerBatch = 4;
    std::atomic<bool> appending{true};
    std::atomic<std::size_t> rounds{0};
    std::string expectedFresh;
    std::size_t oldAppended = 0;
    std::jthread receiver([&] {
        // At least kBatches, and on until several passes have overlapped
        // the appends, however the two threads are scheduled.
        for (int b = 0; (b < kBatches || rounds < 3) && b < 100 * kBatches; ++b) {
            std::vector<EventRecord> batch;
            for (int i = 0; i < kPerBatch; ++i) {
                const bool old = i == 0;
                batch.push_back({dateFieldText(old ? kNow - 5 * kDay : kNow), "Local4.Notice", "10.0.0.9",
                                 (old ? "old " : "fresh ") + std::to_string(b * kPerBatch + i)});
            }
            EXPECT_EQ(store.append(kNow, batch), batch.size());
            for (const auto& e : batch) {
                if (e.message.starts_with("fresh"))
                    expectedFresh += formatEventLine(e);
                else
                    ++oldAppended;
            }
        }
        appending = false;
    });
    std::size_t removed = 0;
    while (appending) {
        removed += removal.runRound(kNow).removed;
        ++rounds;
    }
    receiver.join();
    removed += removal.runRound(kNow).removed;

    EXPECT_GT(rounds, 1u);
    EXPECT_EQ(readFile(path(day)), expectedFresh);
    EXPECT_EQ(removed, 20000 + oldAppended);
    EXPECT_EQ(announcer.announced.size(), removed);
    std::set<std::string> announcedMessages;
    for (const auto& [type, event] : announcer.announced)
        announcedMessages.insert(event.message);
    EXPECT_EQ(announcedMessages.size(), removed) << "each removed line announced once";
}

} // namespace
} // namespace brantwell
