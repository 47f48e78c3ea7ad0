#include "Wildcard.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

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
                      WildcardCase{".*", "abc", false},
                      // A "*" or "?" in the text is an ordinary character.
                      WildcardCase{"*error*", "*** error: disk full", true},
                      WildcardCase{"*a", "*ba", true}, WildcardCase{"*a", "*", false},
                      WildcardCase{"*%SYS-5-*", "*Mar  1 18:46:11: %SYS-5-CONFIG_I: done", true},
                      WildcardCase{"*?", "*", true}, WildcardCase{"?*", "**", true},
                      WildcardCase{"a*", "a*", true}, WildcardCase{"*x*", "***", false},
                      // "?" is one character, however many bytes of UTF-8 it takes.
                      WildcardCase{"gr??e", "Grüße", true}, WildcardCase{"?", "日", true},
                      WildcardCase{"??", "日", false}, WildcardCase{"*?本", "日本", true},
                      WildcardCase{"*?", "\xF0\x9F\x92\xA5", true}, WildcardCase{"a?c", "a\xF0\x9F\x92\xA5" "c", true},
                      WildcardCase{"*ü?", "ßüx", true}, WildcardCase{"*ошибка*", "Ошибка ошибка", true}));

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

namespace {

// Whole-text match by the textbook table: cell (i, j) says whether the
// first i pattern characters match the first j text characters.
bool referenceMatch(const std::string& pattern, const std::string& text)
{
    const auto fold = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    std::vector<std::vector<bool>> m(pattern.size() + 1, std::vector<bool>(text.size() + 1, false));
    m[0][0] = true;
    for (std::size_t i = 1; i <= pattern.size(); ++i) {
        const char p = pattern[i - 1];
        for (std::size_t j = 0; j <= text.size(); ++j) {
            if (p == '*')
                m[i][j] = m[i - 1][j] || (j > 0 && m[i][j - 1]);
            else
                m[i][j] = j > 0 && m[i - 1][j - 1] && (p == '?' || fold(p) == fold(text[j - 1]));
        }
    }
    return m[pattern.size()][text.size()];
}

} // namespace

TEST(Wildcard, AgreesWithTheTableMatcherOnAMillionRandomPairs)
{
    // Few distinct characters, so that patterns and texts often nearly
    // match; "*" and "?" appear on both sides.
    static constexpr char kAlphabet[] = {'a', 'A', 'b', '*', '?', ' '};
    std::mt19937 random(20261208);
    std::uniform_int_distribution<std::size_t> length(0, 9), pick(0, sizeof kAlphabet - 1);
    const auto draw = [&] {
        std::string s(length(random), ' ');
        for (char& c : s)
            c = kAlphabet[pick(random)];
        return s;
    };
    int mismatches = 0;
    for (int n = 0; n < 1'000'000 && mismatches < 5; ++n) {
        const std::string pattern = draw(), text = draw();
        const bool expected = referenceMatch(pattern, text);
        if (brantwell::isExpressionInclude(text, pattern) != expected) {
            ++mismatches;
            ADD_FAILURE() << "\"" << pattern << "\" ~ \"" << text << "\" should be " << expected;
        }
    }
}
