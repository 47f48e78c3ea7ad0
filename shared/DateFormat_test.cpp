#include "DateFormat.h"

#include <gtest/gtest.h>

// The test runs with TZ=Europe/Berlin; 1796770799 is 2026-12-08 23:59:59 there.
constexpr double kLastSecond = 1796770799;

TEST(DateFormat, ReadsAmPmAsThePatternLetter)
{
    EXPECT_EQ(brantwell::icuPatternOf("yyyy-MM-dd hh:mm:ss AM/PM"), "yyyy-MM-dd hh:mm:ss a");
    EXPECT_EQ(brantwell::icuPatternOf("AM/PMAM/PM"), "aa");
    EXPECT_EQ(brantwell::icuPatternOf("HH:mm"), "HH:mm");
}

TEST(DateFormat, FormatsInTheMachineZone)
{
    EXPECT_EQ(brantwell::DateFormatter("yyyy-MM-dd hh:mm:ss AM/PM").format(kLastSecond),
              "2026-12-08 11:59:59 PM");
    EXPECT_EQ(brantwell::DateFormatter("dd.MM.yyyy HH:mm").format(kLastSecond + 1),
              "09.12.2026 00:00");
}

TEST(DateFormat, EmptySettingUsesShortDateAndMediumTime)
{
    const std::string text = brantwell::DateFormatter("").format(kLastSecond);
    EXPECT_NE(text.find("12/8/26"), std::string::npos) << text;
    EXPECT_NE(text.find("11:59:59"), std::string::npos) << text;
}

// Whatever the locale data puts between the time and AM/PM (newer ICU gives
// U+202F), exports and mails get a plain space: every byte is ASCII.
TEST(DateFormat, WritesOnlyPlainSpaces)
{
    for (const char* setting : {"", "h:mm a", "yyyy-MM-dd hh:mm:ss AM/PM", "MMM d, y, h:mm:ss a"}) {
        const std::string text = brantwell::DateFormatter(setting).format(kLastSecond);
        for (const unsigned char c : text)
            EXPECT_LT(c, 0x80) << "\"" << setting << "\" gave " << text;
    }
    EXPECT_EQ(brantwell::DateFormatter("").format(kLastSecond), "12/8/26, 11:59:59 PM");
    // A space the user typed into the pattern as a quoted literal is
    // made plain as well.
    EXPECT_EQ(brantwell::DateFormatter("HH'\u202F'mm").format(kLastSecond), "23 59");
}
