// The event record and its line in an event log file.
//
// One line per event: "Date,Priority,Host,Message\n". There is no quoting;
// the message may contain commas and is everything after the third field.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brantwell {

struct EventRecord {
    std::string date;      // whole seconds since 1970, decimal
    std::string priority;  // "Facility.Severity" or "Unknown"
    std::string host;      // dotted address or resolved name
    std::string message;   // UTF-8 without control characters, may be empty, may hold commas

    bool operator==(const EventRecord&) const = default;
};

// Appends the stored line of `record`, final LF included, to `out`.
void appendEventLine(std::string& out, const EventRecord& record);
std::string formatEventLine(const EventRecord& record);

// Splits one line by the rule every reader uses: the first three fields end
// at a comma, runs of commas between them count as one, and the fourth field
// is the rest of the line up to the first CR or LF (leading CR/LF skipped).
// Returns nothing unless the first three fields are non-empty and the third
// ends at a comma; the message may be empty.
std::optional<EventRecord> splitEventLine(std::string_view line);

// Calls `each` with every line of `text` without its LF: the bytes of a day
// file, or of an event signal, which carries the same lines. A last line
// without its LF counts; nothing after a last LF does.
template <typename Each>
void forEachStoredLine(std::string_view text, Each&& each)
{
    while (!text.empty()) {
        const auto lf = text.find('\n');
        each(text.substr(0, lf));
        if (lf == std::string_view::npos)
            break;
        text.remove_prefix(lf + 1);
    }
}

// "yyyy-MM-dd.log" for the local calendar day of `seconds` since 1970.
std::string eventLogFileName(long long seconds);

// True for names whose extension is exactly "log".
bool isEventLogFileName(std::string_view name);

// The Date field text of a reception time: "%.0f", nearest whole second.
std::string dateFieldText(double secondsSince1970);

} // namespace brantwell
