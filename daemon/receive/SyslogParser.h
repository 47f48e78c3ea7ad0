// Turns the bytes of one syslog datagram (or TCP/TLS frame) into priority
// and message text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brantwell {

// The stored message text is at most this many bytes (never a UTF-8
// sequence cut in half).
inline constexpr std::size_t kMaxMessage = 1024;
// Bytes of a datagram or frame that are read. More than kMaxMessage, so that
// an RFC 5424 header (up to a few hundred bytes) can be taken off before the
// message is cut. A caller that had more hands kMaxReceived + 1 bytes, so the
// parser knows the text was cut.
inline constexpr std::size_t kMaxReceived = 8192;

// Bytes the cleaned text may take before it is cut: room to strip a time
// stamp and a BOM and still know whether more than kMaxMessage was left,
// and for the longest character behind that.
inline constexpr std::size_t kParseBuffer = kMaxMessage + 16 + 3 + 1 + 4;

struct ParsedDatagram {
    std::string_view priority;  // static text: "Facility.Severity" or "Unknown"
    std::string_view message;   // cleaned text, its RFC 3164 time stamp or RFC 5424 header reshaped
    bool empty = true;          // no text but spaces: the datagram is dropped
    bool cut = false;           // the text was longer than kMaxMessage (or kMaxReceived)
    bool invalidUtf8 = false;   // bytes that are not UTF-8 were replaced by U+FFFD

    ParsedDatagram() = default;
    ParsedDatagram(const ParsedDatagram&) = delete;  // `message` points into `buffer`
    ParsedDatagram& operator=(const ParsedDatagram&) = delete;

    char buffer[kParseBuffer];  // where `message` is written, reused from call to call
};

// Cleans `bytes`:
// - CR, LF and NUL at the end are removed first;
// - the first "<" anywhere starts the PRI: it leaves the text together with
//   its digits and the one byte after them; only "<" 1-3 digits ">" with a
//   value up to 191 gives a priority, anything else "Unknown";
// - "<PRI>1 " followed by a header that parses is RFC 5424: the message
//   becomes "HOSTNAME APP-NAME[PROCID]: MSGID [SD] MSG" with nil fields and
//   the SD elements RFC 5424 registers itself (timeQuality, origin, meta)
//   left out;
// - valid UTF-8 is kept, each ill-formed sequence becomes U+FFFD, C0 and C1
//   controls (TAB and LF too) and DEL become a space, a leading BOM goes;
// - a leading "Mmm dd hh:mm:ss " time stamp (hasRfc3164Timestamp) is stripped;
// - the text is cut to kMaxMessage bytes at a character boundary.
// `out.message` is valid until the next call with `out`.
void parseDatagram(std::string_view bytes, ParsedDatagram& out);

// True when `text` starts with an RFC 3164 time stamp: an English month,
// the day (space-padded), hh:mm:ss and a space.
bool hasRfc3164Timestamp(std::string_view text);

// The parts of an RFC 5424 header (views into the text given), for
// parseRfc5424Header. Nil fields are "-".
struct Rfc5424Header {
    static constexpr std::size_t kElementsKept = 8;

    std::string_view timestamp, hostname, appName, procId, msgId;
    std::string_view structuredData;  // "-" or the SD elements, verbatim
    std::string_view message;         // MSG, possibly empty, its BOM still on
    // The first kElementsKept SD elements, as found; `elementCount` counts all.
    std::string_view elements[kElementsKept];
    std::size_t elementCount = 0;
};

// Parses what follows "<PRI>": "1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID
// SD [SP MSG]". False when it is not that shape; `out` is then unspecified.
// The header fields are taken as any bytes but space (the cleaning that
// follows deals with what a field should not hold); the time stamp and the
// structured data must have their shape.
bool parseRfc5424Header(std::string_view text, Rfc5424Header& out);

} // namespace brantwell
