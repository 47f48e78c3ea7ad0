#include "EventRecord.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace brantwell {

void appendEventLine(std::string& out, const EventRecord& record)
{
    out.reserve(out.size() + record.date.size() + record.priority.size() + record.host.size()
                + record.message.size() + 4);
    out += record.date;
    out += ',';
    out += record.priority;
    out += ',';
    out += record.host;
    out += ',';
    out += record.message;
    out += '\n';
}

std::string formatEventLine(const EventRecord& record)
{
    std::string line;
    appendEventLine(line, record);
    return line;
}

namespace {

// One token in the manner of strtok: skip leading delimiters, then take up
// to the next delimiter, which is consumed. Empty when only delimiters remain.
// `delimited` says whether a delimiter ended the token (not the text's end).
// A plain loop: every reader of the store runs through here once per line.
template <typename IsDelimiter>
std::string_view nextToken(std::string_view& rest, IsDelimiter isDelimiter, bool* delimited = nullptr)
{
    std::size_t start = 0;
    while (start < rest.size() && isDelimiter(rest[start]))
        ++start;
    std::size_t end = start;
    while (end < rest.size() && !isDelimiter(rest[end]))
        ++end;
    const std::string_view token = rest.substr(start, end - start);
    if (delimited)
        *delimited = end < rest.size();
    rest = end < rest.size() ? rest.substr(end + 1) : std::string_view{};
    return token;
}

// Lambdas, not functions: each is a type of its own, so nextToken is made
// for it and the test is inlined instead of called through a pointer for
// every byte.
constexpr auto isComma = [](char c) { return c == ','; };
constexpr auto isLineEnd = [](char c) { return c == '\r' || c == '\n'; };

} // namespace

std::optional<EventRecord> splitEventLine(std::string_view line)
{
    std::string_view rest = line;
    const std::string_view date = nextToken(rest, isComma);
    const std::string_view priority = nextToken(rest, isComma);
    // The receiver stores an event whose text was only a time stamp as
    // "date,priority,host," with an empty message; it is an event all the
    // same. Only the comma after the host tells it from a line cut short.
    bool hostEnded = false;
    const std::string_view host = nextToken(rest, isComma, &hostEnded);
    const std::string_view message = nextToken(rest, isLineEnd);
    if (date.empty() || priority.empty() || host.empty() || !hostEnded)
        return std::nullopt;
    return EventRecord{std::string(date), std::string(priority), std::string(host),
                       std::string(message)};
}

std::string eventLogFileName(long long seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    char name[32];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d.log", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return name;
}

bool isEventLogFileName(std::string_view name)
{
    const auto dot = name.rfind('.');
    // A name that is only ".log" has no stem and so no extension.
    return dot != std::string_view::npos && dot > 0 && name.substr(dot + 1) == "log";
}

std::string dateFieldText(double secondsSince1970)
{
    char digits[32];
    const auto rounded = static_cast<long long>(std::nearbyint(secondsSince1970));
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, rounded);
    (void)ec;
    return std::string(digits, end);
}

} // namespace brantwell
