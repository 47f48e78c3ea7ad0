#include "BusText.h"

#include <string>

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

struct Case {
    const char* what;
    std::string in;
    std::string out;  // as it goes onto the bus
};

const std::string kR = "\xEF\xBF\xBD";  // U+FFFD

TEST(BusText, KeepsWhatTheBusTakesAndReplacesTheRest)
{
    const Case cases[] = {
        {"empty", "", ""},
        {"ascii", "plain text, 01:02", "plain text, 01:02"},
        {"ascii longer than a word", "0123456789abcdefghijklmnop", "0123456789abcdefghijklmnop"},
        {"two bytes", "cr\xC3\xA8me", "cr\xC3\xA8me"},
        {"three bytes", "\xE2\x82\xAC 5", "\xE2\x82\xAC 5"},
        {"four bytes", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"largest code point", "\xF4\x8F\xBF\xBD", "\xF4\x8F\xBF\xBD"},
        {"NUL", "a\0b"s, "a" + kR + "b"},
        {"NUL in the eighth byte", "0123456\0"s + "89", "0123456" + kR + "89"},
        {"latin-1 byte", "caf\xE9", "caf" + kR},
        {"latin-1 byte before ascii", "caf\xE9 noir", "caf" + kR + " noir"},
        {"high bit in the middle of a word", "0123\xFF" "56789", "0123" + kR + "56789"},
        {"stray continuation", "\x80x", kR + "x"},
        {"overlong slash", "\xC0\xAF", kR + kR},
        {"overlong three bytes", "\xE0\x80\xAF", kR + kR + kR},
        {"overlong four bytes", "\xF0\x80\x80\xAF", kR + kR + kR + kR},
        {"surrogate", "\xED\xA0\x80", kR + kR + kR},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", kR + kR + kR + kR},
        {"F5 lead", "\xF5\x80\x80\x80", kR + kR + kR + kR},
        {"noncharacter U+FFFE", "\xEF\xBF\xBE", kR + kR + kR},
        {"noncharacter U+FDD0", "\xEF\xB7\x90", kR + kR + kR},
        {"truncated at the end", "ab\xE2\x82", "ab" + kR + kR},
        {"lead then ascii", "\xC3" "A", kR + "A"},
    };
    for (const auto& c : cases) {
        std::string out = "left over";
        brantwell::toBusText(c.in, out);
        EXPECT_EQ(out, c.out) << c.what;
        EXPECT_EQ(brantwell::isBusText(c.in), c.in == c.out) << c.what;
        EXPECT_TRUE(brantwell::isBusText(out)) << c.what;
    }
}

} // namespace
