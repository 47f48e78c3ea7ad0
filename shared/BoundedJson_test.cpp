#include "BoundedJson.h"

#include <string>

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

using brantwell::jsonDepthWithin;
using brantwell::kMaxJsonDepth;
using brantwell::parseBoundedJson;

namespace {

std::string nested(std::size_t depth, char open = '[', char close = ']')
{
    return std::string(depth, open) + std::string(depth, close);
}

} // namespace

TEST(BoundedJson, CountsOnlyBracketsOutsideStrings)
{
    const struct {
        std::string text;
        std::size_t limit;
        bool within;
    } cases[] = {
        {"{}", 1, true},
        {R"({"a":[1]})", 1, false},
        {R"({"a":[1]})", 2, true},
        {R"({"a":"[[[[[[[[[["})", 1, true},        // brackets in a string
        {R"({"a\"[[[":"\\"})", 1, true},            // escaped quote and backslash
        {R"({"a":"\\"}[[)", 1, false},              // string ends after "\\"
        {R"(["]"[[)", 2, false},                     // "]" in a string closes nothing
        {"[]" + nested(3), 3, true},                // siblings do not add up
        {"]]]]" + nested(2), 2, true},              // stray closers do not lower the bar
        {nested(kMaxJsonDepth), kMaxJsonDepth, true},
        {nested(kMaxJsonDepth + 1), kMaxJsonDepth, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(jsonDepthWithin(c.text, c.limit), c.within) << c.text << " limit " << c.limit;
}

TEST(BoundedJson, RefusesDeepTextsAndParsesTheRest)
{
    EXPECT_TRUE(parseBoundedJson(nested(100000)).is_discarded());
    EXPECT_TRUE(parseBoundedJson("{\"Settings\":" + nested(50000, '{', '}') + "}").is_discarded());
    EXPECT_TRUE(parseBoundedJson("{\"a\":").is_discarded());
    EXPECT_TRUE(parseBoundedJson("").is_discarded());

    std::string deepest = "1";
    for (std::size_t i = 0; i < kMaxJsonDepth; ++i)
        deepest = "{\"k\":" + deepest + "}";
    const auto value = parseBoundedJson(deepest);
    ASSERT_TRUE(value.is_object());
    EXPECT_EQ(value.dump(), deepest);
    EXPECT_EQ(parseBoundedJson(R"({"s":"[{","n":[1,2]})"), nlohmann::json::parse(R"({"s":"[{","n":[1,2]})"));
}
