#include "EventThread.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "FailureLog.h"
#include "JournalWriter.h"
#include "testkit/TestPeers.h"

namespace brantwell {
namespace {

struct EventFixture : ::testing::Test {
    test::TempDir dir;
    test::JournalSocket socket{dir.file("journal.socket")};
    JournalWriter journal{socket.path()};
    std::vector<std::string> failures;
    FailureLog log{[this](std::string_view line) { failures.emplace_back(line); }};

    void logEvent(std::optional<std::string> type, std::optional<std::string> format)
    {
        EventThread e(journal, log);
        e.type = std::move(type);
        e.format = std::move(format);
        e.run({});
    }
};

TEST_F(EventFixture, WritesTheTextAtTheJournalPriorityOfEachType)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Default", "5"}, {"Information", "6"}, {"Debug", "7"}, {"Error", "3"}, {"Fault", "2"}};
    for (const auto& [type, priority] : cases) {
        SCOPED_TRACE(type);
        logEvent(type, "Local7.Debug: disk full, again");
        const auto fields = socket.receive();
        ASSERT_TRUE(fields);
        EXPECT_EQ(*fields, (std::map<std::string, std::string>{{"MESSAGE", "Local7.Debug: disk full, again"},
                                                               {"PRIORITY", priority},
                                                               {"SYSLOG_IDENTIFIER", "BrantwellSrv"}}));
    }
    EXPECT_TRUE(failures.empty());
}

TEST_F(EventFixture, WritesNothingForATypeOutsideTheFiveNames)
{
    for (const char* type : {"error", "Info", "", "Fault "})
        logEvent(type, "must not appear");
    logEvent(std::nullopt, "must not appear");
    logEvent("Error", std::nullopt);
    logEvent("Error", "the first entry");
    const auto fields = socket.receive();
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->at("MESSAGE"), "the first entry");
    EXPECT_EQ(failures.size(), 6u);
}

TEST_F(EventFixture, WritesATextWithLineBreaksAsOneEscapedLine)
{
    // A line break would let the rest pass for an entry of its own where
    // the journal is read line by line (syslog, journalctl -o cat).
    logEvent("Debug", "first line\nsecond line with = sign\r\n");
    const auto fields = socket.receive();
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->at("MESSAGE"), "first line\\nsecond line with = sign\\r\\n");
    EXPECT_EQ(fields->at("PRIORITY"), "7");
}

TEST_F(EventFixture, ReportsASocketThatNobodyReadsAnyMore)
{
    // What a stopped journal leaves behind: the socket file without a reader.
    const std::string stale = dir.file("stale.socket");
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::strncpy(sa.sun_path, stale.c_str(), sizeof sa.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    close(fd);
    const JournalWriter writer(stale);
    EventThread e(writer, log);
    e.type = "Error";
    e.format = "lost";
    e.run({});
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("cannot write to the journal at " + stale), std::string::npos) << failures[0];
}

} // namespace
} // namespace brantwell
