#include "SmtpClient.h"

#include <netdb.h>
#include <unistd.h>

#include <cctype>

#include "MailFormat.h"
#include "SmtpConnection.h"

namespace brantwell {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// This machine's fully qualified domain name, or empty when it has none
// (a bare host name is no name a mail server can check).
std::string machineName()
{
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        return {};
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    std::string name = host;
    if (getaddrinfo(host, nullptr, &hints, &found) == 0) {
        if (found && found->ai_canonname)
            name = found->ai_canonname;
        freeaddrinfo(found);
    }
    const bool wellFormed = name.find('.') != std::string::npos && name.front() != '.' && name.back() != '.'
        && name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-.") == std::string::npos;
    return wellFormed && !name.starts_with("localhost") ? name : std::string();
}

bool holdsLineBreak(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

class Dialogue {
public:
    Dialogue(const SmtpServer& server, std::stop_token stop) : server_(server), connection_(std::move(stop)) {}

    Deadline replyDeadline() const { return std::chrono::steady_clock::now() + server_.replyTimeout; }

    // Sends `line` (CR LF added) and reads the reply; true when it carries
    // `expected`. `what` names the step in a failure.
    bool command(const std::string& line, int expected, std::string_view what)
    {
        std::string error;
        if (!connection_.send(line + "\r\n", replyDeadline(), error))
            return fail(std::string(what) + ": " + error);
        return expect(expected, what);
    }

    bool expect(int expected, std::string_view what)
    {
        std::string error;
        if (!connection_.readReply(last_, replyDeadline(), error))
            return fail(std::string(what) + ": " + error);
        if (expected == kAnySuccess ? last_.code / 100 != 2 : last_.code != expected)
            return fail(std::string(what) + " refused: " + last_.lastLine);
        return true;
    }

    bool fail(std::string text)
    {
        if (failure_.empty())
            failure_ = std::move(text);
        return false;
    }

    void hello()
    {
        // The result is not checked: a server that dislikes EHLO simply
        // offers nothing.
        std::string error;
        if (connection_.send("EHLO " + clientName() + "\r\n", replyDeadline(), error) &&
            connection_.readReply(last_, replyDeadline(), error))
            ehlo_ = last_.text;
        else
            ehlo_.clear();
    }

    bool connect()
    {
        std::string error;
        if (!connection_.connect(server_.host, server_.port, replyDeadline(), error))
            return fail(error);
        connected_ = true;
        if (!connection_.waitForData(std::chrono::steady_clock::now() + server_.greetingWait)) {
            // A silent server on an implicit-TLS port waits for the
            // client's handshake.
            if (!server_.tls)
                return fail("no greeting from the server");
            if (!connection_.startTls(server_.host, replyDeadline(), error))
                return fail(error);
        }
        if (!expect(220, "greeting"))
            return false;
        hello();
        if (server_.tls && !connection_.secure()) {
            // With "SSL" the password and the mail must not travel in plain
            // text because a server (or someone in between) left STARTTLS out.
            if (!offersKeyword(ehlo_, "STARTTLS"))
                return fail("the server offers no STARTTLS");
            if (!command("STARTTLS", 220, "STARTTLS"))
                return false;
            if (!connection_.startTls(server_.host, replyDeadline(), error))
                return fail(error);
            hello();
        }
        if (!offersKeyword(ehlo_, "AUTH"))
            return true;
        if (server_.username.empty() || server_.password.empty())
            return fail("the server asks for AUTH but no user name or password is set");
        if (offersKeyword(ehlo_, "LOGIN")) {
            return command("AUTH LOGIN", 334, "AUTH LOGIN") && command(base64(server_.username), 334, "AUTH LOGIN user name") &&
                   command(base64(server_.password), 235, "AUTH LOGIN password");
        }
        if (offersKeyword(ehlo_, "PLAIN")) {
            std::string credential = server_.username;
            credential += '\0';
            credential += server_.username;
            credential += '\0';
            credential += server_.password;
            return command("AUTH PLAIN " + base64(credential), 235, "AUTH PLAIN");
        }
        return true;  // no mechanism this client knows: go on without
    }

    bool send(const MailMessage& m, std::time_t now)
    {
        if (server_.sender.empty())
            return fail("no sender address is set");
        if (holdsLineBreak(server_.sender))
            return fail("the sender address holds a line break");
        if (!command("MAIL FROM:<" + server_.sender + ">", 250, "MAIL FROM"))
            return false;
        if (m.recipients.empty())
            return fail("no recipients");
        for (const auto& r : m.recipients) {
            if (holdsLineBreak(r))
                return fail("a recipient address holds a line break");
            // 251 ("user not local; will forward") accepts the recipient
            // as much as 250 does.
            if (!command("RCPT TO:<" + r + ">", kAnySuccess, "RCPT TO:<" + r + ">"))
                return false;
        }
        if (!command("DATA", 354, "DATA"))
            return false;
        const MailBody body = encodeBody(m.body);
        std::string data =
            formatHeader({server_.sender, m.recipients, m.subject, m.bHtml, body.utf8, body.quotedPrintable}, now);
        data += dotStuffed(body.text);
        data += "\r\n";
        data += "\r\n.\r\n";
        std::string error;
        if (!connection_.send(data, replyDeadline(), error))
            return fail("message text: " + error);
        return expect(250, "message text");
    }

    void quit()
    {
        if (!connected_)
            return;
        std::string error;
        if (connection_.send("QUIT\r\n", replyDeadline(), error))
            connection_.readReply(last_, replyDeadline(), error);  // 221 expected, not needed
    }

    std::string failure_;

private:
    static constexpr int kAnySuccess = -2;  // any 2xx reply

    // The name EHLO gives: the one set, else this machine's fully
    // qualified name, else the address of this end of the connection as a
    // literal ("[192.0.2.1]", "[IPv6:2001:db8::1]"), as RFC 5321 asks.
    const std::string& clientName()
    {
        if (clientName_.empty())
            clientName_ = !server_.heloName.empty() ? server_.heloName : machineName();
        if (clientName_.empty())
            clientName_ = connection_.localAddressLiteral();
        return clientName_;
    }
    std::string clientName_;

    const SmtpServer& server_;
    SmtpConnection connection_;
    SmtpReply last_;
    std::string ehlo_;
    bool connected_ = false;
};

} // namespace

bool offersKeyword(std::string_view reply, std::string_view keyword)
{
    if (keyword.empty())
        return false;
    for (std::size_t at = 1; at + keyword.size() <= reply.size(); ++at) {
        if (!equalsIgnoringCase(reply.substr(at, keyword.size()), keyword))
            continue;
        const char before = reply[at - 1];
        if (before != ' ' && before != '-' && before != '=')
            continue;
        const std::size_t after = at + keyword.size();
        if (after >= reply.size())
            continue;
        const char next = reply[after];
        if (next == ' ' || next == '=' || (next == '\r' && after + 1 < reply.size() && reply[after + 1] == '\n'))
            return true;
    }
    return false;
}

SmtpOutcome sendMail(const SmtpServer& server, const MailMessage& message, std::stop_token stop, std::time_t now)
{
    Dialogue d(server, std::move(stop));
    const bool sent = d.connect() && d.send(message, now);
    d.quit();
    return {sent, sent ? std::string() : d.failure_};
}

} // namespace brantwell
