#include "SyslogParser.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include <unicode/utf8.h>

#include "Priority.h"

namespace brantwell {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::size_t kStampLength = 16;                   // "Mmm dd hh:mm:ss "
// Cleaned text is written up to this many bytes: enough to strip a time
// stamp and a BOM and still know whether more than kMaxMessage was left.
constexpr std::size_t kCleanLimit = kMaxMessage + kStampLength + kBom.size() + 1;
static_assert(kCleanLimit + 4 == kParseBuffer);

// Writes cleaned text into a buffer of kCleanLimit + 4 bytes (the longest
// code point fits behind the limit). Stops at the limit; what was left over
// shows as a text longer than kMaxMessage.
class Cleaner {
public:
    explicit Cleaner(char* begin) : begin_(begin), at_(begin), limit_(begin + kCleanLimit) {}

    void put(std::string_view bytes)
    {
        const char* p = bytes.data();
        const char* const end = p + bytes.size();
        while (p < end && at_ < limit_) {
            // Eight printable ASCII bytes at a time, the common case.
            for (auto room = std::min(end - p, limit_ - at_); room >= 8; room -= 8) {
                std::uint64_t w;
                std::memcpy(&w, p, 8);
                constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
                const std::uint64_t below = (w - 0x20 * kOnes) & ~w & kHigh;  // a byte under 0x20
                const std::uint64_t above = ((w + kOnes) | w) & kHigh;        // a byte over 0x7E
                if (below | above)
                    break;
                std::memcpy(at_, p, 8);
                at_ += 8;
                p += 8;
            }
            if (p == end || at_ >= limit_)
                break;
            const auto c = static_cast<unsigned char>(*p);
            if (c < 0x80) {
                // Controls (TAB and LF among them) and DEL become a space: a
                // stored line stays one line and the text export's TAB
                // stays a column separator.
                *at_++ = (c >= 0x20 && c != 0x7F) ? static_cast<char>(c) : ' ';
                ++p;
                continue;
            }
            std::int32_t i = 0;
            const auto length = static_cast<std::int32_t>(end - p);
            UChar32 cp;
            U8_NEXT(reinterpret_cast<const std::uint8_t*>(p), i, length, cp);
            if (cp < 0) {
                // One U+FFFD for each ill-formed sequence (its maximal
                // subpart, as Unicode recommends).
                std::memcpy(at_, kReplacement.data(), kReplacement.size());
                at_ += kReplacement.size();
                invalid_ = true;
            } else if (cp <= 0x9F) {
                *at_++ = ' ';  // a C1 control
            } else {
                std::memcpy(at_, p, static_cast<std::size_t>(i));
                at_ += i;
            }
            p += i;
        }
    }

    std::size_t size() const { return static_cast<std::size_t>(at_ - begin_); }
    bool invalid() const { return invalid_; }

private:
    char* begin_;
    char* at_;
    char* limit_;
    bool invalid_ = false;
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool digits(std::string_view t, std::size_t at, std::size_t count)
{
    if (t.size() < at + count)
        return false;
    for (std::size_t i = at; i < at + count; ++i)
        if (!isDigit(t[i]))
            return false;
    return true;
}

// "-" or FULL-DATE "T" FULL-TIME, with 1-9 fraction digits (RFC 5424 allows
// six; senders with nanoseconds exist) and "Z" or an offset.
bool isRfc5424Timestamp(std::string_view t)
{
    if (t == "-")
        return true;
    if (!(digits(t, 0, 4) && t[4] == '-' && digits(t, 5, 2) && t[7] == '-' && digits(t, 8, 2) && t.size() > 19 &&
          (t[10] == 'T' || t[10] == 't') && digits(t, 11, 2) && t[13] == ':' && digits(t, 14, 2) && t[16] == ':' &&
          digits(t, 17, 2)))
        return false;
    std::size_t at = 19;
    if (t[at] == '.') {
        const std::size_t start = ++at;
        while (at < t.size() && isDigit(t[at]))
            ++at;
        if (at == start || at - start > 9)
            return false;
    }
    if (at < t.size() && (t[at] == 'Z' || t[at] == 'z'))
        return at + 1 == t.size();
    return t.size() == at + 6 && (t[at] == '+' || t[at] == '-') && digits(t, at + 1, 2) && t[at + 3] == ':' &&
           digits(t, at + 4, 2);
}

// One header field: 1 to `longest` bytes up to a space (taken off `t`).
bool takeField(std::string_view& t, std::size_t longest, std::string_view& field)
{
    const std::size_t n = t.substr(0, longest + 1).find(' ');
    if (n == 0 || n > longest)
        return false;
    field = t.substr(0, n);
    t.remove_prefix(n + 1);
    return true;
}

// One SD-ELEMENT at the start of `t`: "[" SD-ID *(SP NAME="VALUE") "]".
// Returns its length, or 0 when it is not one.
std::size_t sdElementLength(std::string_view t)
{
    const auto isNameChar = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 33 && u <= 126 && c != '=' && c != ']' && c != '"';
    };
    if (t.empty() || t[0] != '[')
        return 0;
    std::size_t at = 1;
    const auto name = [&] {
        const std::size_t start = at;
        while (at < t.size() && isNameChar(t[at]))
            ++at;
        return at > start && at - start <= 32;
    };
    if (!name())
        return 0;
    while (at < t.size() && t[at] == ' ') {
        ++at;
        if (!name() || at + 1 >= t.size() || t[at] != '=' || t[at + 1] != '"')
            return 0;
        at += 2;
        // The value: anything up to an unescaped '"'; a backslash escapes
        // the byte after it.
        while (at < t.size() && t[at] != '"')
            at += t[at] == '\\' ? 2 : 1;
        if (at >= t.size())
            return 0;
        ++at;
    }
    return at < t.size() && t[at] == ']' ? at + 1 : 0;
}

// The SD-IDs RFC 5424 registers for itself: data about the transport and
// the clock, not the event.
bool isRegisteredSdId(std::string_view element)
{
    const std::size_t end = element.find_first_of(" ]");
    const std::string_view id = element.substr(1, end - 1);
    return id == "timeQuality" || id == "origin" || id == "meta";
}

struct Pri {
    bool taken = false;  // a "<" was found
    bool valid = false;  // "<" 1-3 digits ">" up to 191
    std::uint32_t value = 0;
    std::string_view before, rest;  // the text around the PRI
};

Pri findPri(std::string_view bytes)
{
    Pri pri;
    const auto lt = bytes.find('<');
    if (lt == std::string_view::npos) {
        pri.rest = bytes;
        return pri;
    }
    pri.taken = true;
    pri.before = bytes.substr(0, lt);
    std::size_t at = lt + 1, count = 0;
    while (at < bytes.size() && isDigit(bytes[at])) {
        if (count < 4)
            pri.value = pri.value * 10 + static_cast<std::uint32_t>(bytes[at] - '0');
        ++count;
        ++at;
    }
    pri.valid = count >= 1 && count <= 3 && at < bytes.size() && bytes[at] == '>' && pri.value <= 191;
    // The byte after the digits (normally ">") leaves the text too, or the
    // one byte after "<" when there are no digits.
    if (at < bytes.size())
        ++at;
    pri.rest = bytes.substr(at);
    return pri;
}

std::string_view withoutBom(std::string_view text)
{
    return text.starts_with(kBom) ? text.substr(kBom.size()) : text;
}

// The message of an RFC 5424 event in the shape an RFC 3164 sender gives
// after its time stamp: "HOSTNAME APP-NAME[PROCID]: MSGID [SD] MSG".
void putRfc5424(const Rfc5424Header& h, Cleaner& out)
{
    bool first = true;
    const auto separate = [&] {
        if (!first)
            out.put(" ");
        first = false;
    };
    if (h.hostname != "-") {
        separate();
        out.put(h.hostname);
    }
    if (h.appName != "-") {
        separate();
        out.put(h.appName);
        if (h.procId != "-") {
            out.put("[");
            out.put(h.procId);
            out.put("]");
        }
        out.put(":");
    }
    if (h.msgId != "-") {
        separate();
        out.put(h.msgId);
    }
    if (h.structuredData != "-") {
        bool anyKept = false;
        const auto keep = [&](std::string_view element) {
            if (isRegisteredSdId(element))
                return;
            if (!anyKept)
                separate();
            anyKept = true;
            out.put(element);
        };
        if (h.elementCount <= Rfc5424Header::kElementsKept) {
            for (std::size_t i = 0; i < h.elementCount; ++i)
                keep(h.elements[i]);
        } else {
            for (std::string_view sd = h.structuredData; !sd.empty();) {
                const std::size_t n = sdElementLength(sd);
                keep(sd.substr(0, n));
                sd.remove_prefix(n);
            }
        }
    }
    const std::string_view message = withoutBom(h.message);
    if (!message.empty()) {
        separate();
        out.put(message);
    }
}

} // namespace

bool hasRfc3164Timestamp(std::string_view t)
{
    // Punctuation alone is not enough: "ERR 42 at:10:22 ..." has the same
    // spaces and colons, and its first words would be lost from the text.
    // Senders write the month in English and the day padded with a space.
    static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (t.size() < kStampLength || t[3] != ' ' || t[6] != ' ' || t[9] != ':' || t[12] != ':' || t[15] != ' ')
        return false;
    return std::ranges::find(kMonths, t.substr(0, 3)) != kMonths.end() && (t[4] == ' ' || digit(t[4]))
           && digit(t[5]) && digit(t[7]) && digit(t[8]) && digit(t[10]) && digit(t[11]) && digit(t[13])
           && digit(t[14]);
}

bool parseRfc5424Header(std::string_view t, Rfc5424Header& h)
{
    if (!t.starts_with("1 "))
        return false;
    t.remove_prefix(2);
    if (!takeField(t, 64, h.timestamp) || !isRfc5424Timestamp(h.timestamp) || !takeField(t, 255, h.hostname) ||
        !takeField(t, 48, h.appName) || !takeField(t, 128, h.procId) || !takeField(t, 32, h.msgId))
        return false;
    std::size_t sdLength = 0;
    h.elementCount = 0;
    if (t.starts_with('-')) {
        sdLength = 1;
    } else {
        while (const std::size_t n = sdElementLength(t.substr(sdLength))) {
            if (h.elementCount < Rfc5424Header::kElementsKept)
                h.elements[h.elementCount] = t.substr(sdLength, n);
            ++h.elementCount;
            sdLength += n;
        }
        if (sdLength == 0)
            return false;
    }
    h.structuredData = t.substr(0, sdLength);
    t.remove_prefix(sdLength);
    if (!t.empty() && t[0] != ' ')
        return false;
    h.message = t.empty() ? t : t.substr(1);
    return true;
}

void parseDatagram(std::string_view bytes, ParsedDatagram& out)
{
    out.cut = bytes.size() > kMaxReceived;
    if (out.cut)
        bytes = bytes.substr(0, kMaxReceived);
    // Line ends and NUL terminators at the end are framing, not text: gone
    // before anything else, so a pattern ending in a word matches.
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r' || bytes.back() == '\0'))
        bytes.remove_suffix(1);

    const Pri pri = findPri(bytes);
    Cleaner cleaner(out.buffer);
    cleaner.put(pri.before);
    Rfc5424Header header;
    const bool rfc5424 = pri.valid && parseRfc5424Header(pri.rest, header);
    if (rfc5424)
        putRfc5424(header, cleaner);
    else
        cleaner.put(pri.before.empty() ? withoutBom(pri.rest) : pri.rest);
    std::string_view text(out.buffer, cleaner.size());
    out.invalidUtf8 = cleaner.invalid();
    // Nothing but controls and spaces carries no text either.
    out.empty = text.find_first_not_of(' ') == std::string_view::npos;
    out.priority = pri.valid ? priorityText(pri.value) : kUnknownPriority;
    if (!rfc5424 && hasRfc3164Timestamp(text)) {
        text.remove_prefix(kStampLength);
        if (text.starts_with(kBom))
            text.remove_prefix(kBom.size());
    }
    if (text.size() > kMaxMessage) {
        out.cut = true;
        std::size_t n = kMaxMessage;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;  // back to the start of the character that does not fit
        text = text.substr(0, n);
    }
    out.message = text;
}

} // namespace brantwell
