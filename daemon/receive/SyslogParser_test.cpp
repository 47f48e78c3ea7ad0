#include "SyslogParser.h"

#include <algorithm>
#include <cstdint>

#include <gtest/gtest.h>

using brantwell::kMaxMessage;
using brantwell::ParsedDatagram;

namespace {

struct DatagramCase {
    std::string bytes;
    const char* priority;
    std::string message;
    bool empty = false;
    bool invalidUtf8 = false;
};

const std::string kFffd = "\xEF\xBF\xBD";

void PrintTo(const DatagramCase& c, std::ostream* os)
{
    *os << '"' << c.bytes << '"';
}

} // namespace

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
    EXPECT_EQ(parsed.invalidUtf8, c.invalidUtf8) << c.bytes;
    EXPECT_FALSE(parsed.cut) << c.bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Priorities, SyslogParse,
    ::testing::Values(
        DatagramCase{"<191>Brantwell - Test message", "Local7.Debug", "Brantwell - Test message"},
        DatagramCase{"<34>Oct 11 22:14:15 mymachine su: 'su root' failed", "Security.Critical",
                     "mymachine su: 'su root' failed"},
        DatagramCase{"<0>panic", "Kernel.Emergency", "panic"},
        DatagramCase{"<00>panic", "Kernel.Emergency", "panic"},
        DatagramCase{"<x>panic", "Unknown", ">panic"},
        DatagramCase{"<>panic", "Unknown", "panic"},
        DatagramCase{"abc<14>def", "User.Informational", "abcdef"},
        DatagramCase{"<14>a<b", "User.Informational", "a<b"},
        DatagramCase{"no pri at all", "Unknown", "no pri at all"},
        DatagramCase{"<192>beyond the table", "Unknown", "beyond the table"},
        DatagramCase{"<1911>four digits", "Unknown", "four digits"},
        DatagramCase{"<4294967295>wraps", "Unknown", "wraps"},
        DatagramCase{"<4294967426>overflow", "Unknown", "overflow"},
        DatagramCase{"<13 no closing bracket", "Unknown", "no closing bracket"},
        DatagramCase{"<14", "", "", true},
        DatagramCase{"<", "", "", true},
        DatagramCase{"<14>", "", "", true},
        // Exactly one time stamp: stored with an empty message.
        DatagramCase{"<14>Oct 11 22:14:15 ", "User.Informational", ""},
        DatagramCase{"<14>Oct  1 22:14:15 x", "User.Informational", "x"},
        // Not the time stamp shape: kept whole.
        DatagramCase{"<14>Oct 11 22-14-15 x", "User.Informational", "Oct 11 22-14-15 x"},
        DatagramCase{"<14>Oct 11 22:14:15", "User.Informational", "Oct 11 22:14:15"},
        // Its spaces and colons alone are no time stamp: the words stay.
        DatagramCase{"<14>ERR 42 at:10:22 disk full", "User.Informational", "ERR 42 at:10:22 disk full"},
        DatagramCase{"<14>Oct 1x 22:14:15 x", "User.Informational", "Oct 1x 22:14:15 x"},
        DatagramCase{"<14>Oct 11 2a:14:15 x", "User.Informational", "Oct 11 2a:14:15 x"},
        DatagramCase{"<14>ctN 11 22:14:15 x", "User.Informational", "ctN 11 22:14:15 x"},
        DatagramCase{"<14>Dec 31 23:59:59 last", "User.Informational", "last"},
        DatagramCase{"<14>Jan  9 00:00:00 first", "User.Informational", "first"}));

INSTANTIATE_TEST_SUITE_P(
    Text, SyslogParse,
    ::testing::Values(
        DatagramCase{"<14>Grüße — 日本語 ✓ end", "User.Informational", "Grüße — 日本語 ✓ end"},
        DatagramCase{"<11>Ошибка диска /dev/sda", "User.Error", "Ошибка диска /dev/sda"},
        DatagramCase{"<14>磁盘已满", "User.Informational", "磁盘已满"},
        DatagramCase{"<14>emoji \xF0\x9F\x92\xA5 four bytes", "User.Informational", "emoji \xF0\x9F\x92\xA5 four bytes"},
        // Ill-formed: one U+FFFD per maximal bad sequence.
        DatagramCase{"<14>a\xFF" "b", "User.Informational", "a" + kFffd + "b", false, true},
        DatagramCase{"<14>a\xC3" "b", "User.Informational", "a" + kFffd + "b", false, true},  // lead without trail
        DatagramCase{"<14>a\xE6\x97" "b", "User.Informational", "a" + kFffd + "b", false, true},  // cut 3-byte
        DatagramCase{"<14>a\xC0\xAF" "b", "User.Informational", "a" + kFffd + kFffd + "b", false, true},  // overlong
        DatagramCase{"<14>a\xED\xA0\x80" "b", "User.Informational", "a" + kFffd + kFffd + kFffd + "b", false,
                     true},  // a surrogate
        DatagramCase{"<14>\x80\x80", "User.Informational", kFffd + kFffd, false, true},
        DatagramCase{"<14>end \xE6\x97", "User.Informational", "end " + kFffd, false, true},
        // Controls become a space, TAB and C1 included; a BOM at the start goes.
        DatagramCase{"<14>tab\there", "User.Informational", "tab here"},
        DatagramCase{std::string("<14>a\0b\x01" "c\x7F" "d", 11), "User.Informational", "a b c d"},
        DatagramCase{"<14>c1 \xC2\x85 next line", "User.Informational", "c1   next line"},
        DatagramCase{"<14>\xEF\xBB\xBF" "bom first", "User.Informational", "bom first"},
        DatagramCase{"<14>Oct 11 22:14:15 \xEF\xBB\xBF" "bom after the stamp", "User.Informational",
                     "bom after the stamp"},
        DatagramCase{"<14>keep \xEF\xBB\xBF inside", "User.Informational", "keep \xEF\xBB\xBF inside"},
        // Line ends and NUL at the end are framing, gone before anything else.
        DatagramCase{"<14>disk full\n", "User.Informational", "disk full"},
        DatagramCase{std::string("<14>disk full\r\n\0", 16), "User.Informational", "disk full"},
        DatagramCase{"line1\nline2\r\n", "Unknown", "line1 line2"},
        DatagramCase{"line1\r\nline2", "Unknown", "line1  line2"},
        DatagramCase{std::string("\x01\x02\t\r", 4), "", "", true},
        DatagramCase{"<14>  \t ", "", "", true},
        DatagramCase{"\r\n", "", "", true}));

INSTANTIATE_TEST_SUITE_P(
    Rfc5424, SyslogParse,
    ::testing::Values(
        DatagramCase{"<165>1 2026-12-09T10:00:00.123Z web1 nginx 4242 ID47 [exampleSDID@32473 iut=\"3\"] "
                     "\xEF\xBB\xBF" "an error, with comma",
                     "Local4.Notice", "web1 nginx[4242]: ID47 [exampleSDID@32473 iut=\"3\"] an error, with comma"},
        // logger's default
        DatagramCase{"<13>1 2026-12-09T00:18:36.768231+00:00 vm root - - [timeQuality tzKnown=\"1\" "
                     "isSynced=\"0\"] hello\n",
                     "User.Notice", "vm root: hello"},
        DatagramCase{"<13>1 2003-10-11T22:14:15.003Z host app - - - hello", "User.Notice", "host app: hello"},
        DatagramCase{"<13>1 - - - - - - only the message", "User.Notice", "only the message"},
        DatagramCase{"<13>1 - host - 77 - - procid without app", "User.Notice", "host procid without app"},
        DatagramCase{"<13>1 - - - - ID9 -", "User.Notice", "ID9"},
        DatagramCase{"<13>1 - - - - - -", "", "", true},
        // Registered SD-IDs go, every other element stays verbatim.
        DatagramCase{"<13>1 - h a 1 - [origin ip=\"192.0.2.1\"][x@1 k=\"v \\\"q\\\" \\]\"][meta sequenceId=\"7\"] m",
                     "User.Notice", "h a[1]: [x@1 k=\"v \\\"q\\\" \\]\"] m"},
        DatagramCase{"<13>1 - h a - - [a@1][b@2 c=\"ü\"] m", "User.Notice", "h a: [a@1][b@2 c=\"ü\"] m"},
        DatagramCase{"<13>1 - h a - - [timeQuality tzKnown=\"1\"]", "User.Notice", "h a:"},
        // A header that does not parse is not RFC 5424: kept as it came.
        DatagramCase{"<13>1 yesterday host app - - hello", "User.Notice", "1 yesterday host app - - hello"},
        DatagramCase{"<13>1 - host app - - [unclosed hello", "User.Notice", "1 - host app - - [unclosed hello"},
        DatagramCase{"<13>1 - host app - -hello", "User.Notice", "1 - host app - -hello"},
        DatagramCase{"<13>1 - host", "User.Notice", "1 - host"},
        DatagramCase{"<13>1 2003-10-11T22:14:15.003Z host app - - hello", "User.Notice",
                     "1 2003-10-11T22:14:15.003Z host app - - hello"},  // no SD field
        DatagramCase{"<13>2 - h a - - - version two", "User.Notice", "2 - h a - - - version two"},
        DatagramCase{"<999>1 - h a - - - bad pri", "Unknown", "1 - h a - - - bad pri"},
        DatagramCase{"<13>1 2026-12-09T10:00:00 h a - - - no zone", "User.Notice",
                     "1 2026-12-09T10:00:00 h a - - - no zone"},
        DatagramCase{"<13>1 2026-12-09T10:00:00.1234567890Z h a - - - ten fraction digits", "User.Notice",
                     "1 2026-12-09T10:00:00.1234567890Z h a - - - ten fraction digits"},
        DatagramCase{"<13>1 2026-12-09T10:00:00+01:00 h a - - - offset", "User.Notice", "h a: offset"}));

TEST(SyslogParse, CutsTheStoredTextAt1024BytesNeverInsideACharacter)
{
    ParsedDatagram parsed;
    std::string big(1500, 'x');
    brantwell::parseDatagram(big, parsed);
    EXPECT_EQ(parsed.message, std::string(kMaxMessage, 'x'));
    EXPECT_TRUE(parsed.cut);
    // Exactly 1,024 bytes: not cut.
    brantwell::parseDatagram("<14>" + std::string(kMaxMessage, 'y'), parsed);
    EXPECT_EQ(parsed.message.size(), kMaxMessage);
    EXPECT_FALSE(parsed.cut);
    // A three-byte character across the limit at every offset: the text
    // ends before it and is valid UTF-8.
    for (std::size_t lead = kMaxMessage - 3; lead <= kMaxMessage; ++lead) {
        const std::string text = std::string(lead, 'a') + "日本語";
        brantwell::parseDatagram("<14>" + text, parsed);
        const std::size_t whole = lead + 3 * ((kMaxMessage - lead) / 3);
        EXPECT_EQ(parsed.message, text.substr(0, std::min(whole, text.size()))) << lead;
        EXPECT_EQ(parsed.cut, text.size() > kMaxMessage) << lead;
    }
    // The limit counts the stored text: an RFC 5424 header and an RFC 3164
    // stamp are taken off first.
    const std::string body(kMaxMessage - 6, 'm');
    brantwell::parseDatagram("<13>1 2026-12-09T10:00:00.123456+01:00 host app - - - " + body, parsed);
    EXPECT_EQ(parsed.message, "host app: " + body.substr(0, kMaxMessage - 10));
    brantwell::parseDatagram("<13>Oct 11 22:14:15 " + std::string(kMaxMessage, 's'), parsed);
    EXPECT_EQ(parsed.message, std::string(kMaxMessage, 's'));
    EXPECT_FALSE(parsed.cut);
    // Bad bytes triple in size as U+FFFD: still cut at 1,024 bytes, whole.
    brantwell::parseDatagram("<14>" + std::string(600, '\xFF'), parsed);
    EXPECT_EQ(parsed.message.size(), 1023u);
    EXPECT_TRUE(parsed.cut);
    // More than is read at all: cut, whatever is left.
    brantwell::parseDatagram(std::string(brantwell::kMaxReceived + 1, 'z'), parsed);
    EXPECT_TRUE(parsed.cut);
}

TEST(SyslogParse, ReusedBufferCarriesNothingOver)
{
    ParsedDatagram parsed;
    brantwell::parseDatagram("<14>a long first message \xFF", parsed);
    brantwell::parseDatagram("short", parsed);
    EXPECT_EQ(parsed.message, "short");
    EXPECT_EQ(parsed.priority, "Unknown");
    EXPECT_FALSE(parsed.invalidUtf8);
}

// The cleaning rule stated byte by byte, as the reference for the parser's
// word-at-a-time path: every byte value at every offset of a word. Bytes
// 0x80 and above alone among ASCII are never UTF-8: each is one U+FFFD.
TEST(SyslogParse, WordAtATimeCleaningMatchesTheByteRule)
{
    const auto reference = [](const std::string& rest) {
        std::string out;
        for (unsigned char c : rest) {
            if (c >= 0x80)
                out += kFffd;
            else
                out += (c >= 0x20 && c != 0x7F) ? static_cast<char>(c) : ' ';
        }
        return out;
    };
    ParsedDatagram parsed;
    for (int value = 0; value < 256; ++value) {
        for (std::size_t offset = 0; offset < 19; ++offset) {
            std::string rest = "abcdefghijklmnopqrstuvwxyz0123";
            rest[offset] = static_cast<char>(value);
            if (value == '<')
                continue;
            brantwell::parseDatagram("<13>" + rest, parsed);
            ASSERT_EQ(parsed.message, reference(rest)) << "byte " << value << " at " << offset;
        }
    }
    // Runs of controls and bytes that never start UTF-8 across word
    // boundaries, and odd lengths.
    static constexpr unsigned char kNeverUtf8[] = {0xC0, 0xC1, 0xF5, 0xF8, 0xFE, 0xFF};
    std::uint32_t seed = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::string rest;
        const std::size_t length = seed % 70;
        for (std::size_t i = 0; i < length; ++i) {
            seed = seed * 1103515245u + 12345u;
            const unsigned pick = (seed >> 16) % 8;
            const unsigned byte = (seed >> 8) & 0xFF;
            rest += pick == 0 ? static_cast<char>(byte & 0x7F)
                  : pick == 1 ? static_cast<char>(kNeverUtf8[byte % 6])
                              : static_cast<char>('a' + pick);
        }
        rest.erase(std::remove(rest.begin(), rest.end(), '<'), rest.end());
        // Trailing CR, LF and NUL are framing: the reference keeps them out.
        while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n' || rest.back() == '\0'))
            rest.pop_back();
        brantwell::parseDatagram("<13>" + rest, parsed);
        ASSERT_EQ(parsed.message, reference(rest)) << "round " << round;
    }
}
