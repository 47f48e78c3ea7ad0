#include "BusText.h"

#include <cstdint>
#include <cstring>

namespace brantwell {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence at `p` (1 to 4), or 0.
std::size_t sequenceLength(const unsigned char* p, const unsigned char* end)
{
    const unsigned c = p[0];
    if (c >= 0x01 && c <= 0x7F)
        return 1;
    std::size_t length;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        cp = c & 0x07;
    } else {
        return 0;  // NUL, a continuation byte, C0/C1 (always overlong), F5..FF
    }
    if (static_cast<std::size_t>(end - p) < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[length] || cp > 0x10FFFF)
        return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF)
        return 0;
    if ((cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE)
        return 0;
    return length;
}

bool asciiWithoutNul(const unsigned char* p, std::size_t n)
{
    // Eight bytes at a time: no high bit set and no zero byte.
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        const std::uint64_t zero = (w - 0x0101010101010101ULL) & ~w & 0x8080808080808080ULL;
        if ((w & 0x8080808080808080ULL) | zero)
            return false;
    }
    for (; i < n; ++i)
        if (p[i] == 0 || p[i] >= 0x80)
            return false;
    return true;
}

} // namespace

bool isBusText(std::string_view text)
{
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const auto end = p + text.size();
    if (asciiWithoutNul(p, text.size()))
        return true;
    while (p < end) {
        const std::size_t n = sequenceLength(p, end);
        if (n == 0)
            return false;
        p += n;
    }
    return true;
}

void toBusText(std::string_view text, std::string& out)
{
    out.clear();
    out.reserve(text.size());
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const auto end = p + text.size();
    while (p < end) {
        const std::size_t n = sequenceLength(p, end);
        if (n == 0) {
            out.append(kReplacement);
            ++p;
        } else {
            out.append(reinterpret_cast<const char*>(p), n);
            p += n;
        }
    }
}

} // namespace brantwell
