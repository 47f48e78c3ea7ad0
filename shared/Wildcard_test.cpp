#include "Wildcard.h"

#include <gtest/gtest.h>

struct WildcardCase {
    const char* pattern;
    const char* text;
    bool matches;
};

class Wildcard : public ::testing::TestWithParam<WildcardCase> {};

TEST_P(Wildcard, MatchesTheWholeTextIgnoringCase)
{
    const auto& c = GetParam();
    EXPECT_EQ(brantwell::isExpressionInclude(c.text, c.pattern), c.matches)
        << c.pattern << " ~ " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Wildcard,
    ::testing::Values(WildcardCase{"*", "", true}, WildcardCase{"*", "anything", true},
                      WildcardCase{"error", "Error", true}, WildcardCase{"error", "ERROR", true},
                      WildcardCase{"Error", "Errors", false}, WildcardCase{"err*", "Error", true},
                      WildcardCase{"*link down*", "port 3 link down now", true},
                      WildcardCase{"*link down*", "link up", false},
                      WildcardCase{"?", "", false}, WildcardCase{"?", "x", true},
                      WildcardCase{"a?c", "abc", true}, WildcardCase{"a?c", "ac", false},
                      WildcardCase{"*a*b*c", "xaxbxc", true}, WildcardCase{"*a*b*c", "xaxbxcx", false},
                      WildcardCase{"", "", true}, WildcardCase{"", "x", false},
                      WildcardCase{"a**b", "ab", true}, WildcardCase{"[x]", "[x]", true},
                      WildcardCase{".*", "abc", false}));

TEST(Wildcard, MissingPatternMatchesNothing)
{
    const brantwell::WildcardPattern missing;
    EXPECT_FALSE(missing.matches(""));
    EXPECT_FALSE(missing.matches("x"));
}

TEST(Wildcard, HostilePatternFinishes)
{
    const std::string text(1024, 'a');
    const std::string pattern = std::string(30, '*') + "a*a*a*a*a*a*a*a*a*b";
    EXPECT_FALSE(brantwell::isExpressionInclude(text, pattern));
}
