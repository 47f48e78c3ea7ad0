// The pieces of an outgoing mail that do not depend on the connection: the
// header, the Date field, dot-stuffing of the body, Base64 for AUTH.
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

struct MailHeader {
    std::string sender;
    std::vector<std::string> recipients;
    std::string subject;
    bool bHtml = false;
};

// Date, From, To, Subject, MIME-Version, Content-Type and
// Content-Transfer-Encoding, each ending in CR LF, then the empty line.
std::string formatHeader(const MailHeader& header, std::time_t now);

} // namespace brantwell
