#include "SyslogParser.h"

#include <cstdint>
#include <cstring>

#include "Priority.h"

namespace brantwell {

bool hasRfc3164Timestamp(std::string_view t)
{
    return t.size() >= 16 && t[3] == ' ' && t[6] == ' ' && t[15] == ' ' && t[9] == ':' && t[12] == ':';
}

void parseDatagram(std::string_view bytes, ParsedDatagram& out)
{
    if (bytes.size() > kMaxDatagram)
        bytes = bytes.substr(0, kMaxDatagram);
    std::string& text = out.message;
    // The text is never longer than the datagram: write through a pointer
    // into a buffer of that size and cut it to what was kept at the end.
    // (Appending byte by byte was the receiver's largest cost.)
    text.resize(bytes.size());
    char* const begin = text.data();
    char* at = begin;
    bool priTaken = false;
    std::uint32_t pri = 0;
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    // Up to the PRI: "<" is special.
    while (p < end && !priTaken) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '<') {
            priTaken = true;
            ++p;
            while (p < end && *p >= '0' && *p <= '9') {
                pri = pri * 10u + static_cast<std::uint32_t>(*p - '0');  // wraps, unsigned
                ++p;
            }
            // Skip the byte after the digits (normally ">"), or the one
            // non-digit after "<" when there are no digits.
            if (p < end)
                ++p;
            break;
        }
        if (c >= 0x20 && c <= 0x7E)
            *at++ = static_cast<char>(c);
        else if (c == '\n')
            *at++ = ' ';
        ++p;
    }
    // The rest. Eight bytes at a time while they are all printable (the
    // common case), then without branches: printable bytes are kept, LF
    // becomes a space, everything else is written and not counted.
    while (end - p >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
        const std::uint64_t below = (w - 0x20 * kOnes) & ~w & kHigh;  // a byte under 0x20
        const std::uint64_t above = ((w + kOnes) | w) & kHigh;        // a byte over 0x7E
        if (below | above) {
            for (const char* stop = p + 8; p < stop; ++p) {
                const auto c = static_cast<unsigned char>(*p);
                const bool lf = c == '\n';
                *at = lf ? ' ' : static_cast<char>(c);
                at += (static_cast<unsigned char>(c - 0x20) <= 0x5E) | lf;
            }
            continue;
        }
        std::memcpy(at, p, 8);
        at += 8;
        p += 8;
    }
    for (; p < end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        const bool lf = c == '\n';
        *at = lf ? ' ' : static_cast<char>(c);
        at += (static_cast<unsigned char>(c - 0x20) <= 0x5E) | lf;
    }
    text.resize(static_cast<std::size_t>(at - begin));
    out.empty = text.empty();
    out.priority = priTaken ? priorityText(pri) : kUnknownPriority;
    if (hasRfc3164Timestamp(text))
        text.erase(0, 16);
}

} // namespace brantwell
