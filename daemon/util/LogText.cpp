#include "LogText.h"

namespace brantwell {

std::string escapeLineBreaks(std::string_view text)
{
    if (text.find_first_of("\r\n") == std::string_view::npos)
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    for (const char c : text) {
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace brantwell
