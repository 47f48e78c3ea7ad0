#include "EventRecord.h"

#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

using brantwell::EventRecord;

TEST(EventLine, KeepsCommasOfTheMessage)
{
    const EventRecord r{"1700000000", "User.Notice", "10.0.0.1", "a,b,c"};
    const std::string line = brantwell::formatEventLine(r);
    EXPECT_EQ(line, "1700000000,User.Notice,10.0.0.1,a,b,c\n");
    EXPECT_EQ(brantwell::splitEventLine(line), r);
}

struct SplitCase {
    const char* line;
    bool isRecord;
    const char* message;  // fourth field when it is a record
};

class EventLineSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(EventLineSplit, FollowsTheReadersRule)
{
    const auto& c = GetParam();
    const auto r = brantwell::splitEventLine(c.line);
    ASSERT_EQ(r.has_value(), c.isRecord) << c.line;
    if (r) {
        EXPECT_EQ(r->message, c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EventLineSplit,
    ::testing::Values(
        SplitCase{"1,User.Notice,h,msg\n", true, "msg"},
        SplitCase{"1,User.Notice,h,msg\r\n", true, "msg"},
        // A leading comma of the message stays in the message.
        SplitCase{"1,User.Notice,h,,msg\n", true, ",msg"},
        // Runs of commas between the first fields count as one.
        SplitCase{"1,,User.Notice,h,msg\n", true, "msg"},
        // An empty message after the host's comma is still an event (the
        // receiver stores a time stamp alone so); without that comma the
        // line was cut short.
        SplitCase{"1,User.Notice,h,\n", true, ""},
        SplitCase{"1,User.Notice,h,\r\n", true, ""},
        SplitCase{"1,User.Notice,h,", true, ""},
        SplitCase{"1,User.Notice,h\n", false, ""},
        SplitCase{"1,User.Notice,h", false, ""},
        SplitCase{"1,User.Notice,\n", false, ""},
        SplitCase{"", false, ""},
        SplitCase{"\n", false, ""},
        SplitCase{"1,User.Notice,h,m1\rtrailing", true, "m1"},
        SplitCase{"1,User.Notice,h,x", true, "x"}));

TEST(EventLine, ReadsLinesLongerThanAnyBuffer)
{
    const std::string message(5000, 'm');
    const auto r = brantwell::splitEventLine("1,Kernel.Alert,some.host.name," + message + "\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->message, message);
}

TEST(EventLogFile, NamesTheLocalDayAcrossMidnight)
{
    // The test runs with TZ=Europe/Berlin (UTC+1 in December).
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    const long long lastSecond = 1796770799;  // 2026-12-08 23:59:59 +0100
    EXPECT_EQ(brantwell::eventLogFileName(lastSecond), "2026-12-08.log");
    EXPECT_EQ(brantwell::eventLogFileName(lastSecond + 1), "2026-12-09.log");
}

TEST(EventLogFile, RecognisesOnlyTheLogExtension)
{
    EXPECT_TRUE(brantwell::isEventLogFileName("2026-03-07.log"));
    EXPECT_TRUE(brantwell::isEventLogFileName("x.y.log"));
    EXPECT_FALSE(brantwell::isEventLogFileName("2026-03-07.LOG"));
    EXPECT_FALSE(brantwell::isEventLogFileName("2026-03-07.log.tmp"));
    EXPECT_FALSE(brantwell::isEventLogFileName("Brantwell.ini"));
    EXPECT_FALSE(brantwell::isEventLogFileName(".log"));
}

TEST(EventDate, RoundsToTheNearestSecond)
{
    EXPECT_EQ(brantwell::dateFieldText(1700000000.4), "1700000000");
    EXPECT_EQ(brantwell::dateFieldText(1700000000.6), "1700000001");
    EXPECT_EQ(brantwell::dateFieldText(5.0), "5");
}
