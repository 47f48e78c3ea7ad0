#include "RecordTest.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "Priority.h"
#include "SettingsValue.h"

namespace brantwell {

std::optional<std::uint32_t> parseDottedQuad(std::string_view text)
{
    std::uint32_t value = 0;
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        std::uint32_t number = 0;
        std::size_t digits = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
            number = number * 10 + static_cast<std::uint32_t>(text[i] - '0');
            if (number > 255)
                return std::nullopt;
        }
        if (digits == 0)
            return std::nullopt;
        value = (value << 8) | number;
    }
    return value;
}

std::uint32_t netAddr(std::string_view dotted)
{
    return parseDottedQuad(dotted).value_or(0);
}

long long maskLength(std::string_view text)
{
    return leadingInteger(text).value_or(0);
}

SenderRange SenderRange::fromRecord(std::string_view ip, long long prefix)
{
    SenderRange range;
    const auto first = parseDottedQuad(ip);
    if (!first)
        return range;
    // Bit j (from the top) is set while j < prefix, compared unsigned: a
    // negative prefix or one of 32 and more sets every bit.
    const auto p = static_cast<unsigned long long>(prefix);
    const std::uint32_t mask = p >= 32 ? 0xFFFFFFFFu : (p == 0 ? 0u : ~((1u << (32 - p)) - 1u));
    range.first = *first;
    range.last = *first | ~mask;
    range.valid = true;
    return range;
}

SenderRange SenderRange::fromRangeText(std::string_view range)
{
    const auto slash = range.find('/');
    const std::string_view ip = range.substr(0, slash);
    const long long prefix = slash == std::string_view::npos ? 0 : maskLength(range.substr(slash + 1));
    return fromRecord(ip, prefix);
}

bool isHostInclude(std::string_view sender, std::string_view range)
{
    if (sender.find(':') != std::string_view::npos)
        return SenderRange::fromRangeText(range).holdsEverySender();
    const auto address = parseDottedQuad(sender);
    return address && SenderRange::fromRangeText(range).contains(*address);
}

EventCriteria criteriaOf(std::string_view sender, std::string_view priority, std::string_view message)
{
    if (sender.find(':') != std::string_view::npos)
        return {0, priority, message, true};
    return {netAddr(sender), priority, message, false};
}

namespace {

WildcardPattern patternOf(const nlohmann::json& record, const char* key)
{
    const auto text = recordText(record, key);
    return text ? WildcardPattern(*text) : WildcardPattern();
}

} // namespace

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::string shownQuoted(std::string_view text)
{
    constexpr std::size_t kShown = 40;
    std::string out = "\"";
    for (const char c : text.substr(0, kShown))
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    if (text.size() > kShown)
        out += "...";
    return out + "\"";
}

std::optional<std::string> textField(const nlohmann::json& record, const char* key)
{
    const auto it = record.find(key);
    if (it == record.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

std::optional<std::string> maskField(const nlohmann::json& record)
{
    if (auto mask = textField(record, "Mask"))
        return mask;
    const auto it = record.find("Mask");
    if (it != record.end() && it->is_number_integer())
        return std::to_string(it->get<long long>());
    return std::nullopt;
}

std::optional<std::string> filterNameProblem(std::string_view name)
{
    if (trimmed(name).empty())
        return std::string("the name is empty");
    return std::nullopt;
}

std::optional<std::string> filterAddressProblem(std::string_view ip)
{
    const std::string_view t = trimmed(ip);
    if (t.empty())
        return std::string("no address; 0.0.0.0 with mask 0 takes every host");
    // Four parts of one to three digits each, nothing else.
    int parts = 0;
    std::size_t i = 0;
    bool ok = true;
    while (ok && parts < 4) {
        std::size_t digits = 0;
        unsigned value = 0;
        for (; i < t.size() && t[i] >= '0' && t[i] <= '9' && digits < 4; ++i, ++digits)
            value = value * 10 + static_cast<unsigned>(t[i] - '0');
        ok = digits >= 1 && digits <= 3 && value <= 255;
        ++parts;
        if (ok && parts < 4)
            ok = i < t.size() && t[i++] == '.';
    }
    if (!ok || i != t.size())
        return shownQuoted(ip) + " is not an IPv4 address (four numbers 0 to 255, as 192.168.1.0)";
    return std::nullopt;
}

std::optional<std::string> filterMaskProblem(std::string_view mask)
{
    const std::string_view t = trimmed(mask);
    bool digits = !t.empty() && t.size() <= 2;
    for (const char c : t)
        digits = digits && c >= '0' && c <= '9';
    if (!digits || std::stoi(std::string(t)) > 32)
        return "mask " + shownQuoted(mask) + " is not a prefix length from 0 to 32";
    return std::nullopt;
}

std::optional<std::string> filterPatternProblem(std::string_view pattern, std::string_view what)
{
    if (pattern.empty())
        return "the " + std::string(what) + " pattern is empty; * matches any text";
    for (const char c : pattern)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return "the " + std::string(what) + " pattern holds a control character, which no event text has";
    return std::nullopt;
}

std::optional<std::string> filterRecordProblem(const nlohmann::json& record)
{
    if (!record.is_object())
        return std::string("the record is not a dictionary");
    const auto text = [&record](const char* k) { return textField(record, k); };
    const auto missing = [](const char* k) { return "\"" + std::string(k) + "\" is missing or not text"; };
    const auto name = text("Name");
    if (!name)
        return missing("Name");
    if (auto why = filterNameProblem(*name))
        return why;
    const auto ip = text("IP");
    if (!ip)
        return missing("IP");
    // As the receiver reads it: whatever follows the fourth number (a
    // "/8", say) is not part of the address.
    if (!parseDottedQuad(*ip))
        return filterAddressProblem(*ip).value_or(shownQuoted(*ip) + " is not an IPv4 address");
    const auto mask = maskField(record);
    if (!mask)
        return missing("Mask");
    if (auto why = filterMaskProblem(*mask))
        return why;
    for (const auto& [k, what] : {std::pair{"Facility", "facility"}, {"Severity", "severity"}, {"Message", "message"}}) {
        const auto pattern = text(k);
        if (!pattern)
            return missing(k);
        if (auto why = filterPatternProblem(*pattern, what))
            return why;
    }
    return std::nullopt;
}

CompiledRecord::CompiledRecord(const nlohmann::json& record)
{
    if (!record.is_object())
        return;
    // A missing "IP" matches no sender; a missing "Mask" reads as 0.
    if (const auto ip = recordText(record, "IP"))
        range_ = SenderRange::fromRangeText(*ip + "/" + recordText(record, "Mask").value_or(std::string()));
    facility_ = patternOf(record, "Facility");
    severity_ = patternOf(record, "Severity");
    message_ = patternOf(record, "Message");
}

bool CompiledRecord::matches(const EventCriteria& event) const
{
    if (event.ipv6 ? !range_.holdsEverySender() : !range_.contains(event.sender))
        return false;
    const PriorityParts parts = splitPriority(event.priority);
    return facility_.matches(parts.facility) && severity_.matches(parts.severity)
           && message_.matches(event.message);
}

} // namespace brantwell
