#include "SyslogOutput.h"

#include <gtest/gtest.h>

namespace brantwell {
namespace {

TEST(SyslogOutput, PriorityTextsGiveTheirPriValue)
{
    const std::pair<const char*, int> cases[] = {
        {"Kernel.Emergency", 0}, {"User.Notice", 13}, {"Local4.Notice", 165}, {"Local7.Debug", 191},
        {"Mail.Error", 19},     {"Security.Alert", 33}, {"Clock.Informational", 78},  // the first of two names
        {"Unknown", 13},        {"Nonsense.Error", 13}, {"User.Loud", 13},
    };
    for (const auto& [text, pri] : cases)
        EXPECT_EQ(priorityValue(text), pri) << text;
}

TEST(SyslogOutput, BuildsBothFormatsWithFramingAndASafeHost)
{
    // 2026-12-09 10:00:05 UTC is 11:00:05 in Berlin (the tests' zone).
    const EventRecord event{"1796810405", "Local4.Warning", "web 1\x01", "disk full, says sda"};
    SyslogOutput rfc5424(ForwardFormat::Rfc5424), rfc3164(ForwardFormat::Rfc3164);
    std::string out;
    rfc5424.append(out, event);
    EXPECT_EQ(out, "<164>1 2026-12-09T11:00:05+01:00 web_1_ - - - - disk full, says sda");
    out.clear();
    rfc3164.append(out, event);
    EXPECT_EQ(out, "<164>Dec  9 11:00:05 web_1_ disk full, says sda");
    out.clear();
    rfc3164.appendFrame(out, {"1796810405", "Unknown", "", "x"});
    EXPECT_EQ(out, "23 <13>Dec  9 11:00:05 - x");
}

} // namespace
} // namespace brantwell
