#include "ExportThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "store/EventStore.h"
#include "settings/SettingsPipe.h"
#include "testkit/TestSupport.h"

namespace brantwell {
namespace {

using test::exists;
using test::readFile;
using test::TempDir;
using test::writeFile;

class ExportThreadTest : public testing::Test {
protected:
    void save(const nlohmann::json& dictionary) { ASSERT_EQ(settings.saveSettings({{"Settings", dictionary}}), SettingsPipe::SaveResult::Saved); }

    TempDir dir, out;
    SettingsPipe settings{dir.path()};
    EventStore store{dir.path()};
    double now = 1773000000;
    ExportThread exporter{settings, store, [this] { return now; }};
};

TEST_F(ExportThreadTest, ExportsAtOnceThenWhenEachIntervalHasPassed)
{
    writeFile(dir.file("2026-03-08.log"), "1773000000,User.Notice,10.0.0.1,first\n");
    const std::string csv = out.file("events.csv"), sqlite = out.file("events.sqlite");
    save({{"textInterval", 5}, {"textLocation", csv}, {"databaseInterval", 2}, {"databaseLocation", sqlite},
          {"dateFormat", "yyyy-MM-dd HH:mm:ss"}});

    auto round = exporter.runRound();
    EXPECT_TRUE(round.text);
    EXPECT_TRUE(round.database);
    EXPECT_EQ(readFile(csv), "Date,Priority,Host,Message\n2026-03-08 21:00:00,User.Notice,10.0.0.1,first\n");

    writeFile(dir.file("2026-03-08.log"),
              "1773000000,User.Notice,10.0.0.1,first\n1773000100,User.Notice,10.0.0.1,second\n");
    const struct {
        double minutesLater;
        bool text, database;
    } schedule[] = {{1, false, false}, {2, false, true}, {4.9, false, true}, {5, true, false}, {6, false, false}};
    const double base = now;
    for (const auto& step : schedule) {
        now = base + step.minutesLater * 60;
        round = exporter.runRound();
        EXPECT_EQ(round.text, step.text) << step.minutesLater;
        EXPECT_EQ(round.database, step.database) << step.minutesLater;
    }
    EXPECT_NE(readFile(csv).find("second"), std::string::npos);
}

TEST_F(ExportThreadTest, FollowsAChangedDateFormatAtTheNextExport)
{
    writeFile(dir.file("2026-03-08.log"), "1773000000,User.Notice,10.0.0.1,m\n");
    const std::string txt = out.file("events.txt");
    save({{"textInterval", 1}, {"textLocation", txt}, {"dateFormat", "yyyy"}});
    exporter.runRound();
    EXPECT_EQ(readFile(txt), "Date\tPriority\tHost\tMessage\n2026\tUser.Notice\t10.0.0.1\tm\n");

    save({{"textInterval", 1}, {"textLocation", txt}, {"dateFormat", "h:mm AM/PM"}});
    now += 60;
    exporter.runRound();
    EXPECT_EQ(readFile(txt), "Date\tPriority\tHost\tMessage\n9:00 PM\tUser.Notice\t10.0.0.1\tm\n");
}

TEST_F(ExportThreadTest, SaysOnceWhatIsWrongWithALocationAndGoesOn)
{
    writeFile(dir.file("2026-03-08.log"), "1773000000,User.Notice,10.0.0.1,m\n");
    struct Case {
        nlohmann::json settings;
        const char* said;
    };
    const std::vector<Case> cases = {
        {{{"textInterval", 1}, {"textLocation", ""}}, "textLocation is empty"},
        {{{"textInterval", 1}, {"textLocation", out.file("events.log")}}, "neither .txt nor .csv"},
        {{{"textInterval", 1}, {"textLocation", out.file("missing/events.csv")}}, "cannot write the text export"},
        {{{"databaseInterval", 1}, {"databaseLocation", ""}}, "databaseLocation is empty"},
        {{{"databaseInterval", 1}, {"databaseLocation", out.file("missing/e.sqlite")}}, "cannot export to the database"},
        // Files of the store itself are never taken over by the database.
        {{{"databaseInterval", 1}, {"databaseLocation", dir.file("2026-03-09.log")}}, "is a file of the event store"},
        {{{"databaseInterval", 1}, {"databaseLocation", dir.path() + "/./Brantwell.ini"}}, "is a file of the event store"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        save({{"textInterval", 0}, {"databaseInterval", 0}});
        save(c.settings);
        testing::internal::CaptureStderr();
        for (int i = 0; i < 3; ++i) {
            now += 60;
            const auto round = exporter.runRound();
            EXPECT_FALSE(round.text || round.database);
        }
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
    EXPECT_FALSE(exists(out.file("events.log")));
    EXPECT_FALSE(exists(dir.file("2026-03-09.log")));

    // Mended, the next round exports.
    save({{"textInterval", 1}, {"textLocation", out.file("events.csv")}, {"databaseInterval", 0}});
    now += 60;
    EXPECT_TRUE(exporter.runRound().text);
    EXPECT_TRUE(exists(out.file("events.csv")));
}

TEST_F(ExportThreadTest, StopsAtOnceWhileWaitingForTheNextRound)
{
    save({{"textInterval", 1}, {"textLocation", out.file("events.csv")}});
    ExportThread realClock(settings, store);
    std::jthread thread([&](std::stop_token stop) { realClock.run(stop); });
    for (int i = 0; i < 500 && !exists(out.file("events.csv")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(exists(out.file("events.csv")));
    const auto start = std::chrono::steady_clock::now();
    thread.request_stop();
    thread.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

} // namespace
} // namespace brantwell
