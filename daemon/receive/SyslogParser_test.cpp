#include "SyslogParser.h"

#include <algorithm>
#include <cstdint>

#include <gtest/gtest.h>

using brantwell::ParsedDatagram;

struct DatagramCase {
    std::string bytes;
    const char* priority;
    std::string message;
    bool empty = false;
};

class SyslogParse : public ::testing::TestWithParam<DatagramCase> {};

TEST_P(SyslogParse, CleansTextPriorityAndTimestamp)
{
    const auto& c = GetParam();
    ParsedDatagram parsed;
    brantwell::parseDatagram(c.bytes, parsed);
    EXPECT_EQ(parsed.empty, c.empty) << c.bytes;
    if (!c.empty) {
        EXPECT_EQ(parsed.priority, c.priority) << c.bytes;
        EXPECT_EQ(parsed.message, c.message) << c.bytes;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SyslogParse,
    ::testing::Values(
        DatagramCase{"<191>Brantwell - Test message", "Local7.Debug", "Brantwell - Test message"},
        DatagramCase{"<34>Oct 11 22:14:15 mymachine su: 'su root' failed", "Security.Critical",
                     "mymachine su: 'su root' failed"},
        DatagramCase{"<13>1 2003-10-11T22:14:15.003Z host app - - hello", "User.Notice",
                     "1 2003-10-11T22:14:15.003Z host app - - hello"},
        DatagramCase{"<0>panic", "Unknown", "panic"},
        DatagramCase{"<x>panic", "Unknown", ">panic"},
        DatagramCase{"abc<14>def", "User.Informational", "abcdef"},
        DatagramCase{"<14>a<b", "User.Informational", "a<b"},
        DatagramCase{"line1\nline2\r\n", "Unknown", "line1 line2 "},
        DatagramCase{"no pri at all", "Unknown", "no pri at all"},
        DatagramCase{"<192>beyond the table", "Unknown", "beyond the table"},
        DatagramCase{"<4294967295>wraps", "Unknown", "wraps"},
        DatagramCase{"<4294967426>overflow", "Local0.Critical", "overflow"},  // wraps to 130
        DatagramCase{"<14", "", "", true},
        DatagramCase{"<", "", "", true},
        DatagramCase{"<14>", "", "", true},
        DatagramCase{std::string("\x01\x02\xff\t\r", 5), "", "", true},
        DatagramCase{std::string("<14>a\0b\xc3\xa9" "c", 10), "User.Informational", "abc"},
        // Exactly one time stamp: stored with an empty message.
        DatagramCase{"<14>Oct 11 22:14:15 ", "User.Informational", ""},
        DatagramCase{"<14>Oct  1 22:14:15 x", "User.Informational", "x"},
        // Not the time stamp shape: kept whole.
        DatagramCase{"<14>Oct 11 22-14-15 x", "User.Informational", "Oct 11 22-14-15 x"},
        DatagramCase{"<14>Oct 11 22:14:15", "User.Informational", "Oct 11 22:14:15"}));

TEST(SyslogParse, CutsDatagramsAt1024Bytes)
{
    ParsedDatagram parsed;
    std::string big(1500, 'x');
    brantwell::parseDatagram(big, parsed);
    EXPECT_EQ(parsed.message.size(), 1024u);
    // A PRI beyond the cut is not seen.
    big.replace(1100, 4, "<14>");
    brantwell::parseDatagram(big, parsed);
    EXPECT_EQ(parsed.priority, "Unknown");
}

TEST(SyslogParse, ReusedBufferCarriesNothingOver)
{
    ParsedDatagram parsed;
    brantwell::parseDatagram("<14>a long first message", parsed);
    brantwell::parseDatagram("short", parsed);
    EXPECT_EQ(parsed.message, "short");
    EXPECT_EQ(parsed.priority, "Unknown");
}

// The cleaning rule stated byte by byte, as the reference for the parser's
// word-at-a-time path: every byte value at every offset of a word.
TEST(SyslogParse, WordAtATimeCleaningMatchesTheByteRule)
{
    const auto reference = [](const std::string& rest) {
        std::string out;
        for (unsigned char c : rest) {
            if (c >= 0x20 && c <= 0x7E)
                out += static_cast<char>(c);
            else if (c == '\n')
                out += ' ';
        }
        return out;
    };
    ParsedDatagram parsed;
    for (int value = 0; value < 256; ++value) {
        for (std::size_t offset = 0; offset < 19; ++offset) {
            std::string rest = "abcdefghijklmnopqrstuvwxyz0123";
            rest[offset] = static_cast<char>(value);
            brantwell::parseDatagram("<13>" + rest, parsed);
            ASSERT_EQ(parsed.message, reference(rest)) << "byte " << value << " at " << offset;
        }
    }
    // Runs of unprintable bytes across word boundaries, and odd lengths.
    std::uint32_t seed = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::string rest;
        const std::size_t length = seed % 70;
        for (std::size_t i = 0; i < length; ++i) {
            seed = seed * 1103515245u + 12345u;
            const unsigned pick = (seed >> 16) % 8;
            rest += pick == 0 ? static_cast<char>((seed >> 8) & 0xFF) : static_cast<char>('a' + pick);
        }
        rest.erase(std::remove(rest.begin(), rest.end(), '<'), rest.end());
        brantwell::parseDatagram("<13>" + rest, parsed);
        ASSERT_EQ(parsed.message, reference(rest)) << "round " << round;
    }
}
