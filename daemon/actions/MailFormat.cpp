#include "MailFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace brantwell {

std::string base64(std::string_view bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string rfc5322Date(std::time_t time)
{
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    localtime_r(&time, &tm);
    const long offset = tm.tm_gmtoff / 60;  // minutes east of UTC
    const long magnitude = std::labs(offset);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld", kDays[tm.tm_wday], tm.tm_mday,
                  kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, offset < 0 ? '-' : '+',
                  magnitude / 60, magnitude % 60);
    return text;
}

std::string dotStuffed(std::string_view body)
{
    std::string out;
    out.reserve(body.size() + 8);
    bool lineStart = true;
    for (char c : body) {
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

namespace {

bool isSevenBit(std::string_view text)
{
    for (const char c : text)
        if (c == '\0' || static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool hasLongLine(std::string_view text)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::size_t length = end - start;
        if (length > 0 && end < text.size() && text[end - 1] == '\r')
            --length;
        if (length > kMailLineLimit)
            return true;
        start = end + 1;
    }
    return false;
}

// The subject as encoded words of at most 39 bytes each (52 Base64
// characters, a 65-character word), never splitting a UTF-8 sequence, so
// every line stays within the 76 characters RFC 2047 allows.
std::string encodedWords(std::string_view text)
{
    constexpr std::size_t kBytesPerWord = 39;
    std::string out;
    std::size_t at = 0;
    do {
        std::size_t end = std::min(text.size(), at + kBytesPerWord);
        for (int back = 0; back < 3 && end < text.size() && end > at + 1 &&
                           (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80;
             ++back)
            --end;
        if (!out.empty())
            out += "\r\n";
        out += " =?UTF-8?B?" + base64(text.substr(at, end - at)) + "?=";
        at = end;
    } while (at < text.size());
    return out;
}

} // namespace

std::string quotedPrintable(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        const bool lastLine = end == std::string_view::npos;
        if (lastLine)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!lastLine && line.ends_with('\r'))
            line.remove_suffix(1);
        std::size_t column = 0;
        for (std::size_t k = 0; k < line.size(); ++k) {
            const auto c = static_cast<unsigned char>(line[k]);
            char piece[3];
            std::size_t size = 1;
            // A space or tab is literal except at the end of a line, where
            // transports may strip it.
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && k + 1 < line.size())) {
                piece[0] = static_cast<char>(c);
            } else {
                piece[0] = '=';
                piece[1] = kHex[c >> 4];
                piece[2] = kHex[c & 15];
                size = 3;
            }
            if (column + size > 75) {
                out += "=\r\n";
                column = 0;
            }
            out.append(piece, size);
            column += size;
        }
        if (lastLine)
            break;
        out += "\r\n";
        start = end + 1;
    }
    return out;
}

MailBody encodeBody(std::string_view body)
{
    MailBody out;
    out.utf8 = !isSevenBit(body);
    out.quotedPrintable = out.utf8 || hasLongLine(body);
    out.text = out.quotedPrintable ? quotedPrintable(body) : std::string(body);
    return out;
}

std::string subjectField(std::string_view subject)
{
    constexpr std::string_view kName = "Subject:";
    if (isSevenBit(subject)) {
        // Folding puts a CR LF before one of the subject's own spaces; a
        // reader removes the CR LF again and gets the text unchanged.
        std::string out(kName);
        out += ' ';
        std::size_t column = out.size(), longest = 0;
        for (std::size_t i = 0; i < subject.size();) {
            std::size_t j = i;
            while (j < subject.size() && subject[j] == ' ')
                ++j;
            const bool hasWord = j < subject.size();
            while (j < subject.size() && subject[j] != ' ')
                ++j;
            const std::string_view piece = subject.substr(i, j - i);
            if (column + piece.size() > kMailLineWidth && column > kName.size() + 1 && piece[0] == ' ' && hasWord) {
                out += "\r\n";
                column = 0;
            }
            out.append(piece);
            column += piece.size();
            longest = std::max(longest, column);
            i = j;
        }
        if (longest <= kMailLineLimit)
            return out + "\r\n";
    }
    return std::string(kName) + encodedWords(subject) + "\r\n";
}

std::string formatHeader(const MailHeader& h, std::time_t now)
{
    std::string out = "Date: " + rfc5322Date(now) + "\r\n";
    out += "From: <" + h.sender + ">\r\n";
    out += "To: ";
    std::size_t column = 4;
    for (std::size_t i = 0; i < h.recipients.size(); ++i) {
        const std::string address = '<' + h.recipients[i] + '>';
        if (i) {
            out += ',';
            ++column;
            // A long list goes on over several lines, folded after a comma.
            if (column + address.size() > kMailLineWidth) {
                out += "\r\n ";
                column = 1;
            }
        }
        out += address;
        column += address.size();
    }
    out += "\r\n";
    // A line break in the subject would end the field and start a forged
    // one; it is sent as a space.
    std::string subject = h.subject.empty() ? std::string(" ") : h.subject;
    for (char& c : subject)
        if (c == '\r' || c == '\n')
            c = ' ';
    out += subjectField(subject);
    out += "MIME-Version: 1.0\r\n";
    out += h.bHtml ? "Content-Type: text/html; charset=" : "Content-Type: text/plain; charset=";
    out += h.utf8 ? "\"UTF-8\"\r\n" : "\"US-ASCII\"\r\n";
    out += h.quotedPrintable ? "Content-Transfer-Encoding: quoted-printable\r\n"
                             : "Content-Transfer-Encoding: 7bit\r\n";
    out += "\r\n";
    return out;
}

} // namespace brantwell
