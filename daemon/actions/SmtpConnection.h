// One TCP connection to a mail server, optionally switched to TLS on the
// same socket. Every wait is a poll() against a deadline and ends early
// when the stop token is requested, so a reply is read as soon as it comes
// and a silent server ties up its worker no longer than the timeout.
#pragma once

#include <chrono>
#include <stop_token>
#include <string>
#include <string_view>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace brantwell {

using Deadline = std::chrono::steady_clock::time_point;

struct SmtpReply {
    int code = 0;          // of the final line; 0 when none came
    std::string text;      // every line, CR LF included
    std::string lastLine;  // the final line without CR LF, for reports
};

class SmtpConnection {
public:
    explicit SmtpConnection(std::stop_token stop);
    ~SmtpConnection();
    SmtpConnection(const SmtpConnection&) = delete;
    SmtpConnection& operator=(const SmtpConnection&) = delete;

    // Resolves `host` and connects to the first address that answers.
    bool connect(const std::string& host, long long port, Deadline deadline, std::string& error);

    // True when the server has sent something (or closed) before `deadline`.
    bool waitForData(Deadline deadline);

    // TLS handshake on the open socket: system trust store (SSL_CERT_FILE
    // and SSL_CERT_DIR honoured), the certificate must name `host`.
    bool startTls(const std::string& host, Deadline deadline, std::string& error);
    bool secure() const { return ssl_ != nullptr; }

    bool send(std::string_view bytes, Deadline deadline, std::string& error);

    // One reply: continuation lines ("250-...") up to the final line
    // ("250 ..." or "250" alone). Bytes after it stay for the next reply.
    bool readReply(SmtpReply& reply, Deadline deadline, std::string& error);

    // This end's address as an SMTP address literal: "[192.0.2.1]" or
    // "[IPv6:2001:db8::1]"; empty before the connection.
    std::string localAddressLiteral() const;

    // Bytes received but not yet taken by a reply.
    std::size_t buffered() const { return input_.size(); }

private:
    enum class Wait { Ready, Timeout, Stopped };
    Wait waitFor(short events, Deadline deadline);
    bool receiveMore(Deadline deadline, std::string& error);

    std::stop_token stop_;
    int fd_ = -1;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    std::string input_;
};

} // namespace brantwell
