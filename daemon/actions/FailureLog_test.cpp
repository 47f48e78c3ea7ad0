#include "FailureLog.h"

#include <gtest/gtest.h>

namespace brantwell {
namespace {

TEST(FailureLog, WritesAFewLinesPerWindowAndSumsUpTheRest)
{
    auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    std::vector<std::string> lines;
    FailureLog log([&](std::string_view l) { lines.emplace_back(l); }, [&] { return now; });

    for (int i = 0; i < 1000; ++i)
        log.report("run command: cannot start /x: No such file or directory");
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "BrantwellSrv: run command: cannot start /x: No such file or directory\n");

    log.flush();  // the window is still open: nothing yet
    EXPECT_EQ(lines.size(), 10u);
    now += std::chrono::seconds(61);
    log.flush();
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[10], "BrantwellSrv: 990 more action failures in the last 61 s not shown\n");
    log.flush();
    EXPECT_EQ(lines.size(), 11u);

    // A new window writes lines of its own again.
    log.report("e-mail: second storm");
    EXPECT_EQ(lines.size(), 12u);
    EXPECT_EQ(log.reported(), 1001u);
    EXPECT_EQ(log.suppressed(), 990u);
}

TEST(FailureLog, SumsUpAStormThatIsCutShortByTheEnd)
{
    std::vector<std::string> lines;
    {
        FailureLog log([&](std::string_view l) { lines.emplace_back(l); });
        for (int i = 0; i < 15; ++i)
            log.report("x");
    }
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines.back().rfind("BrantwellSrv: 5 more action failures in the last ", 0), 0u) << lines.back();
}

TEST(FailureLog, WritesLineBreaksOfTheTextEscapedSoEveryFailureIsOneLine)
{
    std::vector<std::string> lines;
    FailureLog log([&](std::string_view l) { lines.emplace_back(l); });
    // A mail server's reply or a program's path may hold anything.
    log.report("RCPT TO refused: 550 no\r\nBrantwellSrv: forged line");
    log.report("cannot start /tmp/a\nb");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "BrantwellSrv: RCPT TO refused: 550 no\\r\\nBrantwellSrv: forged line\n");
    EXPECT_EQ(lines[1], "BrantwellSrv: cannot start /tmp/a\\nb\n");
}

} // namespace
} // namespace brantwell
