#include "SettingsValue.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace brantwell {

std::optional<std::int64_t> leadingInteger(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'
                               || text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || text[i] < '0' || text[i] > '9')
        return std::nullopt;
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value > (kMax - digit) / 10) {
            value = kMax;
            break;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

std::optional<std::int64_t> integerValue(const nlohmann::json& value)
{
    if (value.is_boolean())
        return value.get<bool>() ? 1 : 0;
    if (value.is_number_integer())
        return value.is_number_unsigned()
                   ? static_cast<std::int64_t>(std::min<std::uint64_t>(
                       value.get<std::uint64_t>(),
                       static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())))
                   : value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (!std::isfinite(d))
            return std::nullopt;
        if (d >= 9.2e18)
            return std::numeric_limits<std::int64_t>::max();
        if (d <= -9.2e18)
            return std::numeric_limits<std::int64_t>::min();
        return static_cast<std::int64_t>(d);
    }
    if (value.is_string()) {
        // A string without digits reads as 0, as a number object would give.
        return leadingInteger(value.get_ref<const std::string&>()).value_or(0);
    }
    return std::nullopt;
}

std::optional<bool> booleanValue(const nlohmann::json& value)
{
    if (value.is_boolean())
        return value.get<bool>();
    if (value.is_number())
        return value.get<double>() != 0.0;
    if (value.is_string()) {
        const auto& s = value.get_ref<const std::string&>();
        const auto first = s.find_first_not_of(" \t\r\n");
        if (first == std::string::npos)
            return false;
        const char c = s[first];
        if (c == 'Y' || c == 'y' || c == 'T' || c == 't')
            return true;
        return leadingInteger(s).value_or(0) != 0;
    }
    return std::nullopt;
}

std::optional<std::string> stringValue(const nlohmann::json& value)
{
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_number_integer())
        return value.dump();
    if (value.is_number_float()) {
        // A whole number stored as a float reads as its integer text.
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9e15)
            return std::to_string(static_cast<long long>(d));
        return value.dump();
    }
    if (value.is_boolean())
        return value.get<bool>() ? "1" : "0";
    return std::nullopt;
}

namespace {

const nlohmann::json* lookup(const nlohmann::json& object, std::string_view key)
{
    if (!object.is_object())
        return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

} // namespace

std::optional<std::int64_t> readInteger(const nlohmann::json& object, std::string_view key)
{
    const auto* v = lookup(object, key);
    return v ? integerValue(*v) : std::nullopt;
}

std::optional<bool> readBoolean(const nlohmann::json& object, std::string_view key)
{
    const auto* v = lookup(object, key);
    return v ? booleanValue(*v) : std::nullopt;
}

std::optional<std::string> readString(const nlohmann::json& object, std::string_view key)
{
    const auto* v = lookup(object, key);
    return v ? stringValue(*v) : std::nullopt;
}

std::optional<std::string> recordText(const nlohmann::json& record, std::string_view key)
{
    return readString(record, key);
}

} // namespace brantwell
