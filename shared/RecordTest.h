// The four-criteria test of an event against a filter or action record:
// sender range ("IP" and "Mask"), facility, severity and message patterns.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "Wildcard.h"

namespace brantwell {

// Reads an address as "%u.%u.%u.%u" reads it: blanks before each number
// are skipped and whatever follows the fourth number is ignored, so
// "127.0.0.0/8" and " 10.0.0.1 " are read as the address they start with.
// Each part must be 0..255 (a larger one would spill into its neighbour);
// anything else is no address.
std::optional<std::uint32_t> parseDottedQuad(std::string_view text);

// The address as a number, a*2^24 + b*2^16 + c*2^8 + d; 0 when unparsable.
std::uint32_t netAddr(std::string_view dotted);

// The prefix length of a "Mask" text: leading spaces and a sign allowed,
// no digits gives 0 (so does a missing value).
long long maskLength(std::string_view text);

struct SenderRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    bool valid = false;  // an "IP" that is not a dotted quad matches no sender

    // The range starts at the address as entered (it is not masked) and
    // ends at that address with every host bit set.
    static SenderRange fromRecord(std::string_view ip, long long prefix);
    // From "IP/Mask" text: the address before the first "/", the prefix
    // length read from the rest. Both record paths read a range this way,
    // so an "IP" of "127.0.0.0/8" gives the same range wherever it is used.
    static SenderRange fromRangeText(std::string_view range);
    bool contains(std::uint32_t sender) const { return valid && first <= sender && sender <= last; }
    // "0.0.0.0"/0: the range that holds every sender, IPv6 ones as well.
    // Any narrower range is an IPv4 range and holds no IPv6 sender.
    bool holdsEverySender() const { return valid && first == 0 && last == 0xFFFFFFFFu; }
};

// `range` is "IP/Mask" text as the record builds it; `sender` is dotted
// decimal or IPv6 text.
bool isHostInclude(std::string_view sender, std::string_view range);

// An event as the record test sees it: always the sender's address, never
// a resolved name.
struct EventCriteria {
    std::uint32_t sender = 0;  // IPv4 address; unused for an IPv6 sender
    std::string_view priority;
    std::string_view message;
    bool ipv6 = false;  // the sender has an IPv6 address
};

// The criteria of an event whose sender is written as `sender`: dotted
// decimal, or IPv6 text (which holds a ':').
EventCriteria criteriaOf(std::string_view sender, std::string_view priority, std::string_view message);

// A filter or action record compiled once, when the settings are saved, so
// that the receiver never parses a pattern or an address per datagram.
// Why one field of a filter record cannot be used, or nothing when it can.
// The editor shows these beside the field; the daemon refuses or skips a
// record that has one. An include filter with an address that is no address
// or a mask of 40 would otherwise match nothing and so drop every event.
std::optional<std::string> filterNameProblem(std::string_view name);
// An IPv4 address in dotted form, blanks around it allowed.
std::optional<std::string> filterAddressProblem(std::string_view ip);
// Decimal digits from 0 to 32, blanks around them allowed.
std::optional<std::string> filterMaskProblem(std::string_view mask);
// `what` names the field in the reason ("facility", "severity", "message").
std::optional<std::string> filterPatternProblem(std::string_view pattern, std::string_view what);

// For the checks of whole records: a key's value when it is text (nothing
// when it is missing or not text), "Mask" stored as text or as a whole
// number, and a value shown in a reason (in double quotes, cut to 40 bytes,
// controls as '?').
std::optional<std::string> textField(const nlohmann::json& record, const char* key);
std::optional<std::string> maskField(const nlohmann::json& record);
std::string shownQuoted(std::string_view text);

// The first problem of a whole record, naming its key. A record that is not
// an object, lacks one of the six keys or holds one that is not text has
// one. An "IP" written as "a.b.c.d/n" is read as the receiver reads it (the
// address it starts with), so a file that has always worked keeps working.
std::optional<std::string> filterRecordProblem(const nlohmann::json& record);

class CompiledRecord {
public:
    CompiledRecord() = default;  // matches nothing
    // `record` may be anything: a non-object or missing keys give a record
    // whose missing criteria match nothing.
    explicit CompiledRecord(const nlohmann::json& record);

    bool matches(const EventCriteria& event) const;

private:
    SenderRange range_;
    WildcardPattern facility_;
    WildcardPattern severity_;
    WildcardPattern message_;
};

} // namespace brantwell
