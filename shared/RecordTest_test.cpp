#include "RecordTest.h"

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include <vector>

using nlohmann::json;

struct RangeCase {
    const char* ip;
    const char* mask;
    const char* sender;
    bool inRange;
};

class SenderRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(SenderRange, StartsAtTheEnteredAddress)
{
    const auto& c = GetParam();
    const std::string range = std::string(c.ip) + "/" + c.mask;
    EXPECT_EQ(brantwell::isHostInclude(c.sender, range), c.inRange) << range << " " << c.sender;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SenderRange,
    ::testing::Values(RangeCase{"0.0.0.0", "0", "1.2.3.4", true},
                      RangeCase{"0.0.0.0", "0", "255.255.255.255", true},
                      RangeCase{"192.168.1.0", "24", "192.168.1.0", true},
                      RangeCase{"192.168.1.0", "24", "192.168.1.255", true},
                      RangeCase{"192.168.1.0", "24", "192.168.2.1", false},
                      RangeCase{"192.168.1.5", "24", "192.168.1.4", false},
                      RangeCase{"192.168.1.5", "24", "192.168.1.5", true},
                      RangeCase{"10.0.0.7", "32", "10.0.0.7", true},
                      RangeCase{"10.0.0.7", "32", "10.0.0.8", false},
                      RangeCase{"10.0.0.7", "40", "10.0.0.8", false},
                      RangeCase{"10.0.0.7", "40", "10.0.0.7", true},
                      RangeCase{"10.0.0.7", "-1", "10.0.0.7", true},
                      RangeCase{"10.0.0.7", "-1", "10.0.0.6", false},
                      RangeCase{"200.1.2.3", "8", "200.255.255.255", true},
                      RangeCase{"200.1.2.3", "8", "10.0.0.1", false},
                      RangeCase{"127.0.0.0", " +8", "127.0.0.5", true},
                      RangeCase{"127.0.0.0", "abc", "127.0.0.0", true},
                      RangeCase{"127.0.0.0", "abc", "200.0.0.1", true},
                      RangeCase{"127.0.0.0", "abc", "126.0.0.1", false},
                      // Not a dotted quad: no sender is in range.
                      RangeCase{"localhost", "0", "127.0.0.1", false},
                      RangeCase{"1.2.3", "0", "1.2.3.0", false},
                      RangeCase{"1.2.3.256", "0", "1.2.3.4", false},
                      RangeCase{"", "0", "0.0.0.0", false},
                      // Read as "%u.%u.%u.%u": blanks and what follows the
                      // fourth number do not spoil the address.
                      RangeCase{"127.0.0.1 ", "32", "127.0.0.1", true},
                      RangeCase{" 127.0.0.1", "32", "127.0.0.1", true},
                      RangeCase{"10. 1.2.3", "32", "10.1.2.3", true},
                      RangeCase{"127.0.0.0/8", "0", "127.9.9.9", true},
                      RangeCase{"127.0.0.0/8", "0", "128.0.0.1", false},
                      RangeCase{"127.0.0.0/8", "24", "127.9.9.9", true},
                      RangeCase{"1.2.3.4x", "32", "1.2.3.4", true},
                      RangeCase{"1.2.3.-4", "32", "1.2.3.4", false},
                      // An IPv6 sender is only in the range of every sender.
                      RangeCase{"0.0.0.0", "0", "::1", true},
                      RangeCase{"0.0.0.0", "0", "2001:db8::7", true},
                      RangeCase{"0.0.0.0", "1", "2001:db8::7", false},
                      RangeCase{"0.0.0.1", "0", "2001:db8::7", false},
                      RangeCase{"127.0.0.0", "8", "::1", false},
                      RangeCase{"0.0.0.0", "32", "::", false},
                      RangeCase{"localhost", "0", "::1", false}));

TEST(DottedQuad, ParsesOnlyFourParts)
{
    EXPECT_EQ(brantwell::netAddr("1.2.3.4"), 0x01020304u);
    EXPECT_EQ(brantwell::netAddr("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(brantwell::parseDottedQuad("1.2.3.4.5"), 0x01020304u);
    EXPECT_EQ(brantwell::parseDottedQuad("\t1.2.3.4 \n"), 0x01020304u);
    EXPECT_FALSE(brantwell::parseDottedQuad("1..3.4"));
    EXPECT_FALSE(brantwell::parseDottedQuad("1 .2.3.4"));
    EXPECT_FALSE(brantwell::parseDottedQuad("1.2.3.1000"));
}

namespace {

json filter(const char* ip, const char* mask, const char* facility, const char* severity,
            const char* message)
{
    return {{"Name", "f"}, {"IP", ip}, {"Mask", mask}, {"Facility", facility},
            {"Severity", severity}, {"Message", message}};
}

bool test(const json& record, const char* sender, const char* priority, const char* message)
{
    const brantwell::CompiledRecord compiled(record);
    return compiled.matches(brantwell::criteriaOf(sender, priority, message));
}

} // namespace

TEST(RecordTest, AllFourCriteriaMustHold)
{
    const auto any = filter("0.0.0.0", "0", "*", "*", "*");
    EXPECT_TRUE(test(any, "10.1.1.1", "Mail.Error", "x"));
    EXPECT_TRUE(test(any, "10.1.1.1", "Unknown", "x"));

    const auto errors = filter("0.0.0.0", "0", "*", "err*", "*");
    EXPECT_TRUE(test(errors, "10.1.1.1", "Mail.Error", "x"));
    EXPECT_FALSE(test(errors, "10.1.1.1", "Mail.Warning", "x"));

    const auto local7 = filter("0.0.0.0", "0", "Local7", "Debug", "*link*");
    EXPECT_TRUE(test(local7, "1.1.1.1", "Local7.Debug", "the link is down"));
    EXPECT_FALSE(test(local7, "1.1.1.1", "Local6.Debug", "the link is down"));
    EXPECT_FALSE(test(local7, "1.1.1.1", "Local7.Debug", "no match"));

    const auto unknown = filter("0.0.0.0", "0", "*", "Unknown", "*");
    EXPECT_TRUE(test(unknown, "1.1.1.1", "Unknown", "x"));
    EXPECT_FALSE(test(unknown, "1.1.1.1", "User.Notice", "x"));
}

TEST(RecordTest, OddRecordsMatchNothingAndNeverThrow)
{
    EXPECT_FALSE(test(json("not a record"), "1.1.1.1", "User.Notice", "x"));
    EXPECT_FALSE(test(json::array(), "1.1.1.1", "User.Notice", "x"));
    EXPECT_FALSE(test(json::object(), "1.1.1.1", "User.Notice", "x"));
    // No "Message" key: the missing pattern matches nothing.
    EXPECT_FALSE(test({{"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"}, {"Severity", "*"}},
                      "1.1.1.1", "User.Notice", "x"));
    // Mask given as a number and no mask at all are both read.
    EXPECT_TRUE(test({{"IP", "1.1.1.0"}, {"Mask", 24}, {"Facility", "*"}, {"Severity", "*"},
                      {"Message", "*"}},
                     "1.1.1.9", "User.Notice", "x"));
    // No mask reads as 0: every address from "IP" on.
    EXPECT_TRUE(test({{"IP", "1.1.1.0"}, {"Facility", "*"}, {"Severity", "*"}, {"Message", "*"}},
                     "9.1.1.9", "User.Notice", "x"));
    EXPECT_FALSE(test({{"IP", "1.1.1.0"}, {"Facility", "*"}, {"Severity", "*"}, {"Message", "*"}},
                      "1.1.0.9", "User.Notice", "x"));
    // A pattern of the wrong kind counts as missing.
    EXPECT_FALSE(test({{"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", json::array()},
                       {"Severity", "*"}, {"Message", "*"}},
                      "1.1.1.1", "User.Notice", "x"));
}

TEST(RecordTest, AnAddressWithBlanksOrAPrefixTypedInStillSelectsItsSenders)
{
    // Typed into the editor this way, the include filter used to match
    // nothing, so every event was dropped.
    for (const char* ip : {"127.0.0.0/8", "127.0.0.1 ", " 127.0.0.1"}) {
        const auto include = filter(ip, "0", "*", "*", "*");
        EXPECT_TRUE(test(include, "127.0.0.1", "User.Notice", "x")) << ip;
        // The record path and the range text path give the same answer.
        EXPECT_EQ(test(include, "127.0.0.1", "User.Notice", "x"),
                  brantwell::isHostInclude("127.0.0.1", std::string(ip) + "/0"));
    }
    EXPECT_FALSE(test(filter("127.0.0.0/8", "0", "*", "*", "*"), "128.0.0.1", "User.Notice", "x"));
}

TEST(RecordTest, AnIpv6SenderIsSelectedOnlyByTheRangeOfEverySender)
{
    EXPECT_TRUE(test(filter("0.0.0.0", "0", "*", "*", "*"), "fe80::1", "User.Notice", "x"));
    // "::" and "::1" must not read as 0.0.0.0 and fall into a range that
    // starts there.
    EXPECT_FALSE(test(filter("0.0.0.0", "8", "*", "*", "*"), "::", "User.Notice", "x"));
    EXPECT_FALSE(test(filter("0.0.0.0", "32", "*", "*", "*"), "::1", "User.Notice", "x"));
    EXPECT_FALSE(test(filter("10.0.0.0", "0", "*", "*", "*"), "2001:db8::1", "User.Notice", "x"));
    // The other criteria still hold for it.
    EXPECT_FALSE(test(filter("0.0.0.0", "0", "*", "Error", "*"), "::1", "User.Notice", "x"));
}

TEST(RecordTest, AMessageThatStartsWithAStarIsMatched)
{
    const auto errors = filter("0.0.0.0", "0", "*", "*", "*error*");
    EXPECT_TRUE(test(errors, "10.0.0.1", "Local7.Error", "*** error: disk full"));
    EXPECT_TRUE(test(errors, "10.0.0.1", "Local7.Error", "*Mar  1 18:46:11: %SYS-3-error"));
    EXPECT_FALSE(test(errors, "10.0.0.1", "Local7.Error", "*** all good"));
}

namespace {

struct FilterCase {
    const char* key;
    nlohmann::json value;
    const char* problem;  // empty: usable
};

} // namespace

TEST(FilterRecordProblem, NamesEachFieldTheReceiverCannotUse)
{
    const json good = {{"Name", "lab"}, {"IP", "192.168.1.0"}, {"Mask", "24"},
                       {"Facility", "*"}, {"Severity", "Err*"}, {"Message", "*"}};
    const std::vector<FilterCase> cases = {
        {"IP", "0.0.0.0", ""},
        {"IP", " 10.1.2.3 ", ""},
        {"IP", "127.0.0.0/8", ""},  // read as the receiver reads it
        {"IP", "999.1.1.1", "\"999.1.1.1\" is not an IPv4 address (four numbers 0 to 255, as 192.168.1.0)"},
        {"IP", "1.2.3", "\"1.2.3\" is not an IPv4 address (four numbers 0 to 255, as 192.168.1.0)"},
        {"IP", "", "no address; 0.0.0.0 with mask 0 takes every host"},
        {"IP", 17, "\"IP\" is missing or not text"},
        {"Mask", "0", ""},
        {"Mask", "32", ""},
        {"Mask", " 8 ", ""},
        {"Mask", 16, ""},
        {"Mask", "33", "mask \"33\" is not a prefix length from 0 to 32"},
        {"Mask", "40", "mask \"40\" is not a prefix length from 0 to 32"},
        {"Mask", "ab-7", "mask \"ab-7\" is not a prefix length from 0 to 32"},
        {"Mask", "-1", "mask \"-1\" is not a prefix length from 0 to 32"},
        {"Mask", "", "mask \"\" is not a prefix length from 0 to 32"},
        {"Mask", 40, "mask \"40\" is not a prefix length from 0 to 32"},
        {"Name", "", "the name is empty"},
        {"Name", "   ", "the name is empty"},
        {"Facility", "", "the facility pattern is empty; * matches any text"},
        {"Severity", "Err\nor", "the severity pattern holds a control character, which no event text has"},
        {"Message", nullptr, "\"Message\" is missing or not text"},
    };
    EXPECT_FALSE(brantwell::filterRecordProblem(good));
    for (const auto& c : cases) {
        json r = good;
        r[c.key] = c.value;
        const auto problem = brantwell::filterRecordProblem(r);
        EXPECT_EQ(problem.value_or(""), c.problem) << r.dump();
    }
    json noMask = good;
    noMask.erase("Mask");
    EXPECT_EQ(brantwell::filterRecordProblem(noMask).value_or(""), "\"Mask\" is missing or not text");
    EXPECT_EQ(brantwell::filterRecordProblem(json::array()).value_or(""), "the record is not a dictionary");
}

TEST(FilterRecordProblem, EditorAddressCheckTakesOnlyAnAddress)
{
    for (const char* ok : {"0.0.0.0", "255.255.255.255", "10.0.0.7", " 1.2.3.4"})
        EXPECT_FALSE(brantwell::filterAddressProblem(ok)) << ok;
    for (const char* bad : {"127.0.0.0/8", "1.2.3.4.5", "1..3.4", "0001.2.3.4", "1.2.3.256", "a.b.c.d", "1.2.3.4x"})
        EXPECT_TRUE(brantwell::filterAddressProblem(bad)) << bad;
}
