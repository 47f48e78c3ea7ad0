// The "email" command over a private bus with the real BrantwellSrv and
// brantwellctl: answered once the SMTP dialogue has ended, with the failed
// step when the server refused, and never in the way of other commands.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include "BusNames.h"
#include "testkit/CtlProcess.h"
#include "testkit/DaemonOnBus.h"
#include "testkit/DaemonProcess.h"
#include "testkit/SmtpPeers.h"
#include "testkit/TestBus.h"
#include "testkit/TestSupport.h"
#include "testkit/UdpTestClient.h"

using namespace brantwell::test;
using nlohmann::json;

namespace {

// brantwellctl's exit status, its standard output and error together.
brantwell::test::CtlResult ctl(const std::string& args)
{
    return brantwell::test::runCtl(BRANTWELLCTL_PATH, args, "", /*withStderr=*/true);
}

// setCommand with a JSON text: the reply, or the error's name and text.
// A mail's answer waits for the whole SMTP dialogue.
std::string call(const json& command)
{
    return setCommand(command.dump(), std::chrono::seconds(60)).text();
}

class EmailCommand : public DaemonOnBus {
protected:
    void useServer(unsigned smtpPort)
    {
        const json settings = {{"actionsEmailServer", "127.0.0.1"},   {"actionsEmailPort", smtpPort},
                               {"actionsEmailSender", "srv@example.com"}, {"actionsEmailUsername", "user"},
                               {"actionsEmailPassword", "secret"},      {"actionsEmailTimeout", 1}};
        ASSERT_EQ(call({{"command", "save"}, {"Settings", settings}}), "Received");
    }
};

} // namespace

TEST_F(EmailCommand, IsReceivedOnlyAfterTheServerAcceptedTheMessage)
{
    AiosmtpdServer smtpd(dir, AiosmtpdServer::Mode::Plain, nullptr);
    ASSERT_NE(smtpd.port(), 0u);
    useServer(smtpd.port());
    const auto r = ctl("email --to ops@example.com --to b@example.com --subject 'Test 1' --body 'hello'");
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(r.out, "Received\n");
    // Looked at once the reply is in: the message is already delivered.
    const auto messages = smtpd.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]["rcpt_tos"], json::array({"ops@example.com", "b@example.com"}));
    EXPECT_NE(messages[0]["data"].get<std::string>().find("Subject: Test 1\r\n"), std::string::npos);
    EXPECT_EQ(messages[0]["auth"]["login"], "user");

    // Without recipients nothing can go out, and the caller hears why.
    EXPECT_EQ(call({{"command", "email"}, {"Subject", "nobody"}}),
              std::string(brantwell::bus::kMailNotSent) + ": no recipients");
    EXPECT_EQ(smtpd.messages().size(), 1u);
}

TEST_F(EmailCommand, RefusalNamesTheStepAndTheServersReply)
{
    AiosmtpdServer refusing(dir, AiosmtpdServer::Mode::Plain, nullptr, "", /*refuseAuth=*/true);
    ASSERT_NE(refusing.port(), 0u);
    useServer(refusing.port());
    const auto r = ctl("email --to ops@example.com --subject s --body b");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.out.find("not sent: AUTH LOGIN password refused: 535 5.7.8"), std::string::npos) << r.out;
    EXPECT_TRUE(refusing.messages().empty());

    ASSERT_EQ(call({{"command", "save"}, {"Settings", {{"actionsEmailServer", ""}}}}), "Received");
    EXPECT_EQ(call({{"command", "email"}, {"Recipients", {"a@example.com"}}}),
              std::string(brantwell::bus::kMailNotSent) + ": no e-mail server is set");
    EXPECT_TRUE(daemon.running());
}

TEST_F(EmailCommand, OtherCommandsAreAnsweredWhileAServerKeepsSilent)
{
    ScriptedSmtpServer silent;
    silent.greeting.clear();  // the client gives up after its greeting wait
    silent.start();
    useServer(silent.port());
    std::atomic<bool> answered{false};
    std::string mailReply;
    std::thread mail([&] {
        mailReply = call({{"command", "email"}, {"Recipients", {"a@example.com"}}, {"Subject", "s"}});
        answered = true;
    });
    // The dialogue has begun once the server holds the connection.
    ASSERT_TRUE(waitFor([&] { return silent.connections() > 0; }));
    EXPECT_EQ(ctl("stats").exit, 0);
    EXPECT_EQ(call({{"command", "save"}, {"Settings", {{"actionsEmailPort", silent.port()}}}}), "Received");
    EXPECT_FALSE(answered) << "a command waited for the mail: " << mailReply;
    mail.join();
    EXPECT_EQ(mailReply, std::string(brantwell::bus::kMailNotSent) + ": no greeting from the server");
}
