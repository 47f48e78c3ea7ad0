#include "Priority.h"

#include <gtest/gtest.h>

TEST(PriorityText, NamesFacilityAndSeverity)
{
    const std::pair<std::uint32_t, const char*> cases[] = {
        {191, "Local7.Debug"},     {34, "Security.Critical"}, {13, "User.Notice"},
        {14, "User.Informational"}, {1, "Kernel.Alert"},      {0, "Kernel.Emergency"},
        {192, "Unknown"},          {0xFFFFFFFFu, "Unknown"},  {0x80000000u, "Unknown"},
        {4 * 8 + 3, "Security.Error"}, {10 * 8 + 3, "Security.Error"}, {14 * 8 + 1, "Alert.Alert"},
    };
    for (auto [pri, text] : cases)
        EXPECT_EQ(brantwell::priorityText(pri), text) << pri;
}

TEST(PriorityParts, UnknownIsBothFacilityAndSeverity)
{
    auto p = brantwell::splitPriority("Local7.Debug");
    EXPECT_EQ(p.facility, "Local7");
    EXPECT_EQ(p.severity, "Debug");
    p = brantwell::splitPriority("Unknown");
    EXPECT_EQ(p.facility, "Unknown");
    EXPECT_EQ(p.severity, "Unknown");
}
