#include "SyslogParser.h"

#include <cstdint>

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
    text.clear();
    bool priTaken = false;
    std::uint32_t pri = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '<' && !priTaken) {
            priTaken = true;
            std::size_t j = i + 1;
            pri = 0;
            while (j < bytes.size() && bytes[j] >= '0' && bytes[j] <= '9') {
                pri = pri * 10u + static_cast<std::uint32_t>(bytes[j] - '0');  // wraps, unsigned
                ++j;
            }
            // Skip the byte after the digits (normally ">"), or the one
            // non-digit after "<" when there are no digits.
            i = j;
            continue;
        }
        if (c == '\n')
            text += ' ';
        else if (c >= 0x20 && c <= 0x7E)
            text += static_cast<char>(c);
    }
    out.empty = text.empty();
    out.priority = priTaken ? priorityText(pri) : kUnknownPriority;
    if (hasRfc3164Timestamp(text))
        text.erase(0, 16);
}

} // namespace brantwell
