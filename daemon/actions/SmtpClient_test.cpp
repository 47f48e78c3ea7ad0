#include "SmtpClient.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include "MailFormat.h"
#include "testkit/SmtpPeers.h"

namespace brantwell {
namespace {

using test::ScriptedSmtpServer;
using Lines = std::vector<std::string>;

SmtpServer serverAt(unsigned port)
{
    SmtpServer s;
    s.host = "127.0.0.1";
    s.heloName = "client.example.org";
    s.port = port;
    s.sender = "daemon@example.com";
    s.replyTimeout = std::chrono::seconds(10);
    return s;
}

const MailMessage kMessage{{"admin@example.com"}, "Brantwell - Test message", "Date: now\r\nHost: 10.0.0.1\r\n", false};

TEST(SmtpKeywords, AreFoundOnlyAsWholeWordsAfterTheFirstCharacter)
{
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"250-mail\r\n250-AUTH LOGIN PLAIN\r\n250 OK\r\n", "AUTH", true},
        {"250-mail\r\n250-AUTH LOGIN PLAIN\r\n250 OK\r\n", "PLAIN", true},
        {"250-mail\r\n250-auth login\r\n", "LOGIN", true},
        {"250-mail\r\n250-STARTTLS\r\n250 OK\r\n", "STARTTLS", true},
        {"250-mail\r\n250 AUTH=LOGIN\r\n", "LOGIN", true},
        {"250-mail\r\n250 AUTHX LOGINS\r\n", "AUTH", false},
        {"250-mail\r\n250 AUTHX LOGINS\r\n", "LOGIN", false},
        {"AUTH LOGIN", "AUTH", false},  // not at the very start
        {"250 XAUTH\r\n", "AUTH", false},
        {"250 STARTTLS", "STARTTLS", false},  // no CR LF after it
    };
    for (const auto& [reply, keyword, offered] : cases)
        EXPECT_EQ(offersKeyword(reply, keyword), offered) << reply << " / " << keyword;
}

struct AuthCase {
    const char* ehlo;
    Lines expected;  // the lines after EHLO up to MAIL FROM
};

TEST(SmtpDialogue, AuthenticatesWithLoginWheneverItIsOfferedElsePlain)
{
    const std::string user = base64("u"), pass = base64("p");
    const AuthCase cases[] = {
        {"250-scripted\r\n250 AUTH PLAIN LOGIN", {"AUTH LOGIN", user, pass}},
        {"250-scripted\r\n250-AUTH=LOGIN\r\n250 AUTH PLAIN", {"AUTH LOGIN", user, pass}},
        {"250-scripted\r\n250 AUTH PLAIN", {"AUTH PLAIN dQB1AHA="}},
        {"250-scripted\r\n250 AUTH CRAM-MD5", {}},
        {"250-scripted\r\n250 SIZE 1000", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ehlo);
        ScriptedSmtpServer peer;
        peer.ehloReply = c.ehlo;
        peer.start();
        auto s = serverAt(peer.port());
        s.username = "u";
        s.password = "p";
        const auto outcome = sendMail(s, kMessage, {});
        EXPECT_TRUE(outcome.sent) << outcome.failure;
        Lines expected{"EHLO client.example.org"};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        for (const char* l : {"MAIL FROM:<daemon@example.com>", "RCPT TO:<admin@example.com>", "DATA", "<data>", "QUIT"})
            expected.push_back(l);
        EXPECT_EQ(peer.lines(), expected);
    }
}

TEST(SmtpDialogue, EndsAfterEhloWhenAuthIsOfferedWithoutCredentials)
{
    for (auto [user, pass] : {std::pair{"", "p"}, std::pair{"u", ""}}) {
        ScriptedSmtpServer peer;
        peer.ehloReply = "250-scripted\r\n250 AUTH LOGIN PLAIN";
        peer.start();
        auto s = serverAt(peer.port());
        s.username = user;
        s.password = pass;
        const auto outcome = sendMail(s, kMessage, {});
        EXPECT_FALSE(outcome.sent);
        EXPECT_NE(outcome.failure.find("no user name or password"), std::string::npos) << outcome.failure;
        EXPECT_EQ(peer.lines(), (Lines{"EHLO client.example.org", "QUIT"}));
    }
}

TEST(SmtpDialogue, StaysInPlainTextWithoutTheSslSetting)
{
    ScriptedSmtpServer peer;
    peer.ehloReply = "250-scripted\r\n250 STARTTLS";
    peer.start();
    const auto outcome = sendMail(serverAt(peer.port()), kMessage, {});
    EXPECT_TRUE(outcome.sent) << outcome.failure;
    const auto lines = peer.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "STARTTLS"), 0);
    EXPECT_EQ(lines.at(1), "MAIL FROM:<daemon@example.com>");
}

TEST(SmtpDialogue, RefusesPlainTextWithTheSslSettingWhenStartTlsIsMissing)
{
    ScriptedSmtpServer peer;
    peer.start();
    auto s = serverAt(peer.port());
    s.tls = true;
    s.username = "u";
    s.password = "p";
    const auto outcome = sendMail(s, kMessage, {});
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(outcome.failure, "the server offers no STARTTLS");
    EXPECT_EQ(peer.lines(), (Lines{"EHLO client.example.org", "QUIT"}));
}

TEST(SmtpDialogue, StopsAtTheFirstRefusedRecipient)
{
    ScriptedSmtpServer peer;
    peer.refusedRecipients = {"b@example.com"};
    peer.start();
    MailMessage m = kMessage;
    m.recipients = {"a@example.com", "b@example.com", "c@example.com"};
    const auto outcome = sendMail(serverAt(peer.port()), m, {});
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(outcome.failure, "RCPT TO:<b@example.com> refused: 550 no such user");
    EXPECT_EQ(peer.lines(), (Lines{"EHLO client.example.org", "MAIL FROM:<daemon@example.com>", "RCPT TO:<a@example.com>",
                                   "RCPT TO:<b@example.com>", "QUIT"}));
}

TEST(SmtpDialogue, SendsTheHeaderAndABodyWithALoneDotWhole)
{
    ScriptedSmtpServer peer;
    peer.start();
    MailMessage m = kMessage;
    m.recipients = {"a@example.com", "b@example.com"};
    m.body = "first line\r\n.\r\n.hidden\r\nlast line";
    const std::time_t now = 1796706303;
    const auto outcome = sendMail(serverAt(peer.port()), m, {}, now);
    ASSERT_TRUE(outcome.sent) << outcome.failure;
    EXPECT_EQ(peer.data(), formatHeader({"daemon@example.com", m.recipients, m.subject, false}, now) + m.body +
                               "\r\n\r\n");
    EXPECT_EQ(peer.data().substr(0, 44), "Date: Tue, 8 Dec 2026 06:05:03 +0100\r\nFrom: ");
}

TEST(SmtpDialogue, ReportsTheStepThatFailedAndStillSaysQuit)
{
    struct Case {
        std::function<void(ScriptedSmtpServer&, SmtpServer&, MailMessage&)> setup;
        std::string failure;
        Lines lines;
    };
    const Case cases[] = {
        {[](auto&, auto& s, auto&) { s.sender = ""; }, "no sender address is set", {"EHLO client.example.org", "QUIT"}},
        {[](auto&, auto&, auto& m) { m.recipients.clear(); }, "no recipients",
         {"EHLO client.example.org", "MAIL FROM:<daemon@example.com>", "QUIT"}},
        {[](auto&, auto&, auto& m) { m.recipients = {"x@example.com>\r\nRCPT TO:<y@example.com"}; },
         "a recipient address holds a line break", {"EHLO client.example.org", "MAIL FROM:<daemon@example.com>", "QUIT"}},
        {[](auto& p, auto&, auto&) { p.finalReply = "554 rejected as spam"; }, "message text refused: 554 rejected as spam",
         {"EHLO client.example.org", "MAIL FROM:<daemon@example.com>", "RCPT TO:<admin@example.com>", "DATA", "<data>", "QUIT"}},
        {[](auto& p, auto& s, auto&) {
             p.greeting = "";
             s.greetingWait = std::chrono::milliseconds(300);
         },
         "no greeting from the server", {"QUIT"}},
        {[](auto& p, auto&, auto&) { p.greeting = "554 go away"; }, "greeting refused: 554 go away", {"QUIT"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        ScriptedSmtpServer peer;
        auto s = serverAt(peer.port());
        MailMessage m = kMessage;
        c.setup(peer, s, m);
        peer.start();
        const auto outcome = sendMail(s, m, {});
        EXPECT_FALSE(outcome.sent);
        EXPECT_EQ(outcome.failure, c.failure);
        EXPECT_TRUE(test::waitFor([&] { return peer.lines().size() >= c.lines.size(); }));
        EXPECT_EQ(peer.lines(), c.lines);
    }
}

TEST(SmtpDialogue, GivesUpOnAServerThatDoesNotReplyInTime)
{
    ScriptedSmtpServer peer;
    peer.finalReply = "";  // answers the message text with an empty line only
    peer.start();
    auto s = serverAt(peer.port());
    s.replyTimeout = std::chrono::milliseconds(500);
    const auto outcome = sendMail(s, kMessage, {});
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(outcome.failure, "message text: no reply in time");
}

TEST(SmtpDialogue, ReportsAServerThatCannotBeReached)
{
    auto s = serverAt(test::freePort(false));
    const auto outcome = sendMail(s, kMessage, {});
    EXPECT_FALSE(outcome.sent);
    EXPECT_NE(outcome.failure.find("Connection refused"), std::string::npos) << outcome.failure;
}

// Against aiosmtpd, with TLS and a certificate trusted through SSL_CERT_FILE.
struct RealServer : ::testing::Test {
    test::TempDir dir;
    test::TestCertificate cert{dir};
    void SetUp() override { setenv("SSL_CERT_FILE", cert.certFile.c_str(), 1); }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    SmtpServer server(unsigned port, bool tls)
    {
        SmtpServer s = serverAt(port);
        s.host = "localhost";
        s.tls = tls;
        s.username = "brantwell";
        s.password = "s3cret:pass";
        return s;
    }
};

TEST_F(RealServer, SendsOverStartTlsWithAuthLoginOrPlain)
{
    for (const std::string exclude : {"", "LOGIN"}) {
        SCOPED_TRACE(exclude);
        test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::StartTls, &cert, exclude);
        ASSERT_NE(smtpd.port(), 0u);
        MailMessage m = kMessage;
        m.recipients = {"a@example.com", "b@example.com"};
        const auto outcome = sendMail(server(smtpd.port(), true), m, {});
        ASSERT_TRUE(outcome.sent) << outcome.failure;
        ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 1; }));
        const auto msg = smtpd.messages()[0];
        EXPECT_EQ(msg["mail_from"], "daemon@example.com");
        EXPECT_EQ(msg["rcpt_tos"], nlohmann::json::array({"a@example.com", "b@example.com"}));
        EXPECT_TRUE(msg["tls"].get<bool>());
        EXPECT_EQ(msg["auth"]["mechanism"], exclude.empty() ? "LOGIN" : "PLAIN");
        EXPECT_EQ(msg["auth"]["login"], "brantwell");
        EXPECT_EQ(msg["auth"]["password"], "s3cret:pass");
        const std::string data = msg["data"];
        EXPECT_NE(data.find("\r\nSubject: Brantwell - Test message\r\n"), std::string::npos);
        EXPECT_NE(data.find("\r\n\r\nDate: now\r\nHost: 10.0.0.1\r\n"), std::string::npos) << data;
    }
}

TEST_F(RealServer, SwitchesToTlsAfterASilentGreeting)
{
    test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::ImplicitTls, &cert);
    ASSERT_NE(smtpd.port(), 0u);
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = sendMail(server(smtpd.port(), true), kMessage, {});
    ASSERT_TRUE(outcome.sent) << outcome.failure;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 1; }));
    EXPECT_TRUE(smtpd.messages()[0]["tls"].get<bool>());
    EXPECT_EQ(smtpd.messages()[0]["auth"]["mechanism"], "LOGIN");
}

TEST_F(RealServer, RefusesACertificateThatIsNotTrustedOrNamesAnotherHost)
{
    test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::StartTls, &cert);
    ASSERT_NE(smtpd.port(), 0u);
    // The certificate names localhost only.
    auto byAddress = server(smtpd.port(), true);
    byAddress.host = "127.0.0.1";
    auto outcome = sendMail(byAddress, kMessage, {});
    EXPECT_FALSE(outcome.sent);
    EXPECT_NE(outcome.failure.find("certificate not accepted"), std::string::npos) << outcome.failure;

    test::TempDir other;
    test::TestCertificate stranger(other);
    setenv("SSL_CERT_FILE", stranger.certFile.c_str(), 1);
    outcome = sendMail(server(smtpd.port(), true), kMessage, {});
    EXPECT_FALSE(outcome.sent);
    EXPECT_NE(outcome.failure.find("certificate not accepted"), std::string::npos) << outcome.failure;
    EXPECT_TRUE(smtpd.messages().empty());
}

TEST_F(RealServer, DeliversABodyWithDotLinesUnchanged)
{
    test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::Plain, nullptr);
    ASSERT_NE(smtpd.port(), 0u);
    MailMessage m = kMessage;
    m.body = "before\r\n.\r\n..two\r\nafter";
    const auto outcome = sendMail(server(smtpd.port(), false), m, {});
    ASSERT_TRUE(outcome.sent) << outcome.failure;
    ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 1; }));
    const std::string data = smtpd.messages()[0]["data"];
    EXPECT_NE(data.find("\r\n\r\nbefore\r\n.\r\n..two\r\nafter\r\n\r\n"), std::string::npos) << data;
}

// 251 ("user not local; will forward") takes the recipient as 250 does;
// EHLO names this machine, never the server.
TEST_F(RealServer, TakesAnyPositiveReplyToRcptAndNamesThisMachineInEhlo)
{
    test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::Plain, nullptr, "", false,
                               "251 2.1.5 User not local; will forward");
    ASSERT_NE(smtpd.port(), 0u);
    SmtpServer s = server(smtpd.port(), false);
    s.heloName.clear();
    MailMessage m = kMessage;
    m.recipients = {"far@example.com", "away@example.com"};
    const auto outcome = sendMail(s, m, {});
    ASSERT_TRUE(outcome.sent) << outcome.failure;
    ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 1; }));
    const auto msg = smtpd.messages()[0];
    EXPECT_EQ(msg["rcpt_tos"], nlohmann::json::array({"far@example.com", "away@example.com"}));
    // This machine's fully qualified name, or the address literal of the
    // connection when it has none: never the server's name.
    const std::string ehlo = msg["ehlo"];
    EXPECT_NE(ehlo, s.host);
    if (ehlo.front() == '[')
        EXPECT_EQ(ehlo, "[127.0.0.1]");
    else
        EXPECT_NE(ehlo.find('.'), std::string::npos) << ehlo;

    s.heloName = "mailer.example.org";
    ASSERT_TRUE(sendMail(s, m, {}).sent);
    ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 2; }));
    EXPECT_EQ(smtpd.messages()[1]["ehlo"], "mailer.example.org");
}

} // namespace
} // namespace brantwell
