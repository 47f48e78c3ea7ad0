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
