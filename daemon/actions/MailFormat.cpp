#include "MailFormat.h"

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

std::string formatHeader(const MailHeader& h, std::time_t now)
{
    std::string out = "Date: " + rfc5322Date(now) + "\r\n";
    out += "From: <" + h.sender + ">\r\n";
    out += "To: ";
    for (std::size_t i = 0; i < h.recipients.size(); ++i) {
        if (i)
            out += ',';
        out += '<' + h.recipients[i] + '>';
    }
    out += "\r\n";
    // A line break in the subject would end the field and start a forged
    // one; it is sent as a space.
    std::string subject = h.subject.empty() ? std::string(" ") : h.subject;
    for (char& c : subject)
        if (c == '\r' || c == '\n')
            c = ' ';
    out += "Subject: " + subject + "\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += h.bHtml ? "Content-Type: text/html; charset=\"US-ASCII\"\r\n"
                   : "Content-Type: text/plain; charset=\"US-ASCII\"\r\n";
    out += "Content-Transfer-Encoding: 7bit\r\n";
    out += "\r\n";
    return out;
}

} // namespace brantwell
