#include "RecordTest.h"

#include <cctype>
#include <climits>
#include <cstdlib>

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
