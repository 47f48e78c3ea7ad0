// The SMTP dialogue of one message: greeting, EHLO, TLS (implicit after a
// silent greeting, or by STARTTLS), AUTH LOGIN or PLAIN, the envelope, the
// data, and QUIT in every case once connected.
#pragma once

#include <chrono>
#include <ctime>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace brantwell {

struct SmtpServer {
    std::string host;
    // The name the client gives in EHLO; empty: this machine's fully
    // qualified name, or the connection's local address as a literal.
    std::string heloName;
    long long port = 25;
    std::string sender;
    std::string username;
    std::string password;
    bool tls = false;                           // the "SSL" security setting
    std::chrono::milliseconds replyTimeout{60000};  // for each reply
    std::chrono::milliseconds greetingWait{5000};   // silence that means implicit TLS
};

struct MailMessage {
    std::vector<std::string> recipients;
    std::string subject;
    std::string body;
    bool bHtml = false;
};

struct SmtpOutcome {
    bool sent = false;
    std::string failure;  // the step and the server's reply that failed
};

// Case-insensitive search of an EHLO reply for `keyword` preceded by a
// space, "-" or "=" and followed by a space, "=" or CR LF.
bool offersKeyword(std::string_view reply, std::string_view keyword);

SmtpOutcome sendMail(const SmtpServer& server, const MailMessage& message, std::stop_token stop,
                     std::time_t now = std::time(nullptr));

} // namespace brantwell
