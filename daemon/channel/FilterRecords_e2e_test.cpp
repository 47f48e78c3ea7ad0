// Filter records the receiver cannot use: a save or a merge holding one is
// refused with InvalidArgs naming the record; the settings in force and the
// file stay as they were.
#include <ctime>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include "EventRecord.h"
#include "testkit/DaemonOnBus.h"
#include "testkit/TestSupport.h"
#include "testkit/UdpTestClient.h"

using namespace brantwell::test;
using nlohmann::json;

namespace {

json goodFilter()
{
    return {{"Name", "lab"}, {"IP", "127.0.0.0"}, {"Mask", "8"}, {"Facility", "*"}, {"Severity", "*"}, {"Message", "*"}};
}

struct Malformed {
    const char* key;
    json value;
    const char* said;  // part of the error's text
};

} // namespace

// Each command once: both may hold a filter list, and each is checked.
class FilterRecordsOnBus : public DaemonOnBus, public ::testing::WithParamInterface<const char*> {};

TEST_P(FilterRecordsOnBus, AnUnusableFilterIsRefusedByNameAndChangesNothing)
{
    const std::string verb = GetParam();
    const std::vector<Malformed> cases = {
        {"IP", "999.1.1.1", "\"999.1.1.1\" is not an IPv4 address"},
        {"IP", "", "no address"},
        {"IP", "localhost", "\"localhost\" is not an IPv4 address"},
        {"Mask", "40", "mask \"40\" is not a prefix length from 0 to 32"},
        {"Mask", "ab-7", "mask \"ab-7\" is not a prefix length"},
        {"Mask", "-1", "mask \"-1\""},
        {"Mask", json::array(), "\"Mask\" is missing or not text"},
        {"Name", "", "the name is empty"},
        {"Name", 7, "\"Name\" is missing or not text"},
        {"Severity", "", "the severity pattern is empty"},
        {"Message", "a\tb", "the message pattern holds a control character"},
        {"Facility", nullptr, "\"Facility\" is missing or not text"},
    };
    // A key of another editor that a merge must keep and a refused command
    // must not touch.
    const json other = {{"dateFormat", "yyyy-MM-dd HH:mm:ss"}};
    ASSERT_EQ(setCommand(json{{"command", "save"}, {"Settings", other}}.dump()).text(), "Received");
    const std::string before = readFile(dir.file("Brantwell.ini"));
    for (const char* list : {"includeFiltersArray", "excludeFiltersArray"}) {
        for (const auto& c : cases) {
            json bad = goodFilter();
            bad[c.key] = c.value;
            const json command = {{"command", verb},
                                  {"Settings", {{list, json::array({goodFilter(), bad})}}}};
            const auto answer = setCommand(command.dump());
            EXPECT_EQ(answer.error, "org.freedesktop.DBus.Error.InvalidArgs") << verb << " " << list << " " << bad.dump();
            EXPECT_NE(answer.message.find(std::string(list) + "[1]"), std::string::npos) << answer.text();
            EXPECT_NE(answer.message.find(c.said), std::string::npos) << answer.text();
        }
    }
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), before) << "a refused " << verb << " leaves the file alone";
    // Nor did one of them reach the receiver: every event is still stored.
    UdpSender("127.0.0.3").send(port, "<14>still stored");
    EXPECT_TRUE(waitFor([&] { return readFile(dir.file(brantwell::eventLogFileName(std::time(nullptr)))).find("still stored") != std::string::npos; }));

    // A record written as it should be is taken: a save replaces the file,
    // a merge lays it over the other key.
    const json good = {{"includeFiltersArray", json::array({goodFilter()})}};
    EXPECT_EQ(setCommand(json{{"command", verb}, {"Settings", good}}.dump()).text(), "Received");
    json expected = good;
    if (verb == "merge")
        expected.update(other);
    EXPECT_EQ(json::parse(readFile(dir.file("Brantwell.ini"))), expected);
}

INSTANTIATE_TEST_SUITE_P(SaveAndMerge, FilterRecordsOnBus, ::testing::Values("save", "merge"),
                         [](const auto& info) { return std::string(info.param); });
