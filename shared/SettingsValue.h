// Reading typed values out of the settings dictionary (a JSON object).
//
// A value of an unexpected kind is read the way the settings file has
// always been read: a string where an integer is expected gives its leading
// decimal number, a number where a string is expected gives its decimal
// text, and anything unusable (an array for an integer, say) reads as
// missing, so a save leaves the field as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace brantwell {

// Leading decimal number of a text: leading white space and one sign
// allowed, digits up to the first non-digit; nothing when there is no digit.
// Saturates instead of overflowing.
std::optional<std::int64_t> leadingInteger(std::string_view text);

std::optional<std::int64_t> integerValue(const nlohmann::json& value);
std::optional<bool> booleanValue(const nlohmann::json& value);
std::optional<std::string> stringValue(const nlohmann::json& value);

// The same, looked up by key in an object; missing when `object` is not an
// object or has no such key.
std::optional<std::int64_t> readInteger(const nlohmann::json& object, std::string_view key);
std::optional<bool> readBoolean(const nlohmann::json& object, std::string_view key);
std::optional<std::string> readString(const nlohmann::json& object, std::string_view key);

// A text value inside a filter, action or command record.
std::optional<std::string> recordText(const nlohmann::json& record, std::string_view key);

} // namespace brantwell
