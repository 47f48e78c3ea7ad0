// The pieces of an outgoing mail that do not depend on the connection: the
// header, the Date field, the body's transfer encoding, dot-stuffing,
// Base64 for AUTH.
//
// Whatever an event holds, the mail stays valid: no line is longer than
// 998 octets (servers refuse the whole message otherwise) and no raw 8-bit
// byte travels in a part declared US-ASCII.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace brantwell {

// RFC 4648 Base64, standard alphabet, padded, no line breaks.
std::string base64(std::string_view bytes);

// RFC 5322 date-time in the machine's zone: "Tue, 8 Dec 2026 06:05:03 +0100".
std::string rfc5322Date(std::time_t time);

// Doubles a "." that starts the body or follows a LF, so that a line of its
// own holding "." cannot end the message early.
std::string dotStuffed(std::string_view body);

// The longest line the header and body are written in where they can be
// broken (RFC 5322 recommends 78 characters; 998 is the hard limit).
inline constexpr std::size_t kMailLineWidth = 78;
inline constexpr std::size_t kMailLineLimit = 998;

// RFC 2045 quoted-printable of `text`: its line breaks (LF or CR LF) as
// CR LF, encoded lines of at most 76 characters joined by soft breaks.
std::string quotedPrintable(std::string_view text);

// The body as it is sent: as given when it is 7-bit text whose lines fit
// in 998 octets, else quoted-printable, in UTF-8 when it holds 8-bit bytes.
struct MailBody {
    std::string text;
    bool utf8 = false;
    bool quotedPrintable = false;
};
MailBody encodeBody(std::string_view body);

// The whole "Subject:" field with its CR LF: folded at spaces into lines
// of about 78 characters, or, when the text holds 8-bit bytes or a word too
// long for any line, as RFC 2047 UTF-8 encoded words on lines of their own.
std::string subjectField(std::string_view subject);

struct MailHeader {
    std::string sender;
    std::vector<std::string> recipients;
    std::string subject;
    bool bHtml = false;
    bool utf8 = false;             // the body's charset: UTF-8 or US-ASCII
    bool quotedPrintable = false;  // the body's transfer encoding, else 7bit
};

// Date, From, To, Subject, MIME-Version, Content-Type and
// Content-Transfer-Encoding, each ending in CR LF, then the empty line.
std::string formatHeader(const MailHeader& header, std::time_t now);

} // namespace brantwell
