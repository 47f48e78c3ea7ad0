// Turns the bytes of one syslog datagram into priority and message text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brantwell {

inline constexpr std::size_t kMaxDatagram = 1024;  // longer datagrams are cut

struct ParsedDatagram {
    std::string_view priority;  // static text: "Facility.Severity" or "Unknown"
    std::string message;        // cleaned text without its RFC 3164 time stamp
    bool empty = true;          // no text at all: the datagram is dropped
};

// Cleans `bytes` (at most kMaxDatagram are read): the first "<digits>"
// anywhere is the PRI and leaves the text together with the one byte after
// the digits; LF becomes a space; only printable ASCII is kept. Then a
// leading "Mmm dd hh:mm:ss " time stamp is stripped. `out.message` keeps its
// capacity between calls.
void parseDatagram(std::string_view bytes, ParsedDatagram& out);

// True when `text` starts with the shape of an RFC 3164 time stamp.
bool hasRfc3164Timestamp(std::string_view text);

} // namespace brantwell
