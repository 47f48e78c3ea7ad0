#include "SettingsValue.h"
#include "SettingsKeys.h"

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

using nlohmann::json;

TEST(SettingsValue, IntegersReadFromEveryKind)
{
    const json d = {{"int", 42},      {"str", " -17abc"}, {"word", "abc"}, {"bool", true},
                    {"float", 90.7},  {"arr", {1, 2}},    {"obj", json::object()},
                    {"huge", "99999999999999999999999"}};
    EXPECT_EQ(brantwell::readInteger(d, "int"), 42);
    EXPECT_EQ(brantwell::readInteger(d, "str"), -17);
    EXPECT_EQ(brantwell::readInteger(d, "word"), 0);
    EXPECT_EQ(brantwell::readInteger(d, "bool"), 1);
    EXPECT_EQ(brantwell::readInteger(d, "float"), 90);
    EXPECT_EQ(brantwell::readInteger(d, "arr"), std::nullopt);
    EXPECT_EQ(brantwell::readInteger(d, "obj"), std::nullopt);
    EXPECT_EQ(brantwell::readInteger(d, "missing"), std::nullopt);
    EXPECT_EQ(brantwell::readInteger(d, "huge"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(brantwell::readInteger(json::array(), "int"), std::nullopt);
}

TEST(SettingsValue, BooleansAndStrings)
{
    const json d = {{"t", true}, {"one", 1}, {"zero", 0}, {"yes", "YES"}, {"s", "text"},
                    {"n", 25}, {"arr", json::array()}};
    EXPECT_EQ(brantwell::readBoolean(d, "t"), true);
    EXPECT_EQ(brantwell::readBoolean(d, "one"), true);
    EXPECT_EQ(brantwell::readBoolean(d, "zero"), false);
    EXPECT_EQ(brantwell::readBoolean(d, "yes"), true);
    EXPECT_EQ(brantwell::readBoolean(d, "arr"), std::nullopt);
    EXPECT_EQ(brantwell::readString(d, "s"), "text");
    EXPECT_EQ(brantwell::readString(d, "n"), "25");
    EXPECT_EQ(brantwell::readString(d, "arr"), std::nullopt);
}

TEST(SettingsDefaults, HoldExactlyTheThirtyThreeKeys)
{
    const json d = brantwell::defaultSettingsDictionary();
    EXPECT_EQ(d.size(), 33u);
    EXPECT_EQ(d["hostsDisplay"], false);
    EXPECT_EQ(d["actionsEmailPort"], 25);
    EXPECT_EQ(d["actionsEmailTimeout"], 1);
    EXPECT_EQ(d["popupEvents"], 0);
    EXPECT_EQ(d["actionsFormatSubject"], "$message");
    EXPECT_EQ(d["actionsFormatBody"],
              "Date: $date\r\nPriority: $priority\r\nHost: $host\r\nMessage: $message\r\n");
    const long long classes[] = {2, 2, 2, 1, 1, 1, 0, 0, 0};
    for (std::size_t i = 0; i < brantwell::kSeverityRows; ++i) {
        EXPECT_EQ(d[std::string(brantwell::kSeverityClassKeys[i])], classes[i]);
        EXPECT_EQ(d[std::string(brantwell::kRemovalAgeKeys[i])], 30);
        EXPECT_EQ(d[std::string(brantwell::kRemovalUnitKeys[i])], 2);
    }
}
