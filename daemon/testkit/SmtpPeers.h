// Mail servers for the e-mail tests, all on 127.0.0.1: aiosmtpd run by
// /usr/bin/python3 (plain, STARTTLS or implicit TLS, with AUTH), and a
// small scripted server that records every line of the dialogue.
#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "TestPeers.h"

namespace brantwell::test {

// A self-signed certificate for "localhost" made with `openssl req`.
struct TestCertificate {
    std::string certFile;
    std::string keyFile;
    explicit TestCertificate(const TempDir& dir);
};

class AiosmtpdServer {
public:
    enum class Mode { Plain, StartTls, ImplicitTls };
    // `exclude`: an AUTH mechanism the server does not offer ("" for none);
    // `refuseAuth`: every AUTH is answered "535 5.7.8"; `rcptReply`: the
    // answer to every RCPT TO (the recipient is taken).
    AiosmtpdServer(const TempDir& dir, Mode mode, const TestCertificate* cert, const std::string& exclude = "",
                   bool refuseAuth = false, const std::string& rcptReply = "250 OK");
    ~AiosmtpdServer();
    unsigned port() const { return port_; }
    // The messages received so far: mail_from, rcpt_tos, data (the raw
    // text), subject and body as Python's email package decodes them, its
    // defects, auth, ehlo (the name the client gave).
    std::vector<nlohmann::json> messages() const;

private:
    pid_t pid_ = -1;
    unsigned port_ = 0;
    std::string out_;
};

// Greets every connection with 220 and then never says another word, as a
// hung mail server does; the connections stay open until it is destroyed.
class SilentSmtpServer {
public:
    SilentSmtpServer();
    ~SilentSmtpServer();
    unsigned port() const { return port_; }
    int connections() const { return connections_; }

private:
    unsigned port_ = 0;  // before listenFd_, whose set-up fills it in
    int listenFd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

class ScriptedSmtpServer {
public:
    std::string greeting = "220 scripted ESMTP";  // empty: stay silent
    std::string ehloReply = "250-scripted\r\n250 8BITMIME";
    std::set<std::string> refusedRecipients;
    std::string finalReply = "250 queued";

    ScriptedSmtpServer();
    ~ScriptedSmtpServer();
    void start();  // after the fields are set
    unsigned port() const { return port_; }
    int connections() const { return connections_; }
    // Every line the client sent, CR LF removed; the message text as one
    // entry of its own, un-stuffed, without the final "." line.
    std::vector<std::string> lines() const;
    std::string data() const;

private:
    void serve();
    std::string replyTo(const std::string& line, int& authStep);

    unsigned port_ = 0;  // before listenFd_, whose set-up fills it in
    int listenFd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::string data_;
};

} // namespace brantwell::test
