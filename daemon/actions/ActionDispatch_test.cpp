#include "ActionDispatch.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ActionRunner.h"
#include "settings/Settings.h"
#include "settings/SettingsPipe.h"
#include "testkit/SmtpPeers.h"
#include "testkit/TestPeers.h"

namespace brantwell {
namespace {

using nlohmann::json;

TEST(Placeholders, AreReplacedInTheFixedOrder)
{
    const PlaceholderValues v{"10.0.0.1", "2026-03-07 10:00:00", "Local7.Debug", "says $host and $date"};
    const std::pair<const char*, const char*> cases[] = {
        {"-m $message -h $host", "-m says $host and $date -h 10.0.0.1"},
        {"$priority: $message", "Local7.Debug: says $host and $date"},
        {"$date|$date", "2026-03-07 10:00:00|2026-03-07 10:00:00"},
        {"$hostname $HOST $ho st", "10.0.0.1name $HOST $ho st"},
        {"no placeholder", "no placeholder"},
        {"", ""},
        {"$$host$", "$10.0.0.1$"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(replacePlaceholders(text, v), expected) << text;
}

json matchAll(json extra)
{
    json a = {{"Name", "all"}, {"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"}, {"Severity", "*"},
              {"Message", "*"}, {"runCommand", json::object()}, {"sendEmail", json::object()},
              {"setEvent", json::object()}};
    if (extra.is_object())
        a.update(extra);
    return a;
}

struct DispatchFixture : ::testing::Test {
    test::TempDir dir;
    test::JournalSocket journal{dir.file("journal.socket")};
    SettingsPipe pipe{dir.path()};
    std::vector<std::string> failures;
    // One worker, so the commands run in the order they were queued.
    ActionRunner runner{pipe, {journal.path(), 1, 64, [this](std::string_view l) { failures.emplace_back(l); }}};
    EventRecord record{"1772874000", "Local7.Debug", "10.0.0.1", "disk full, $host"};

    void dispatch(const json& dictionary, const EventRecord& r, std::string_view sender = "10.0.0.1",
                  double time = 1772874000)
    {
        const Settings s = applySettingsDictionary(Settings{}, dictionary);
        runner.dispatcher().dispatch(s, {sender, time, r});
    }
};

TEST_F(DispatchFixture, StartsTheCommandsOfEveryMatchingActionInListOrder)
{
    const json actions = json::array({
        matchAll({{"setEvent", {{"Type", "Error"}, {"Format", "first $priority: $message"}}}}),
        matchAll({{"Message", "nothing like this"}, {"setEvent", {{"Type", "Error"}, {"Format", "unmatched"}}}}),
        matchAll({}),  // matches, starts nothing
        matchAll({{"setEvent", {{"Type", "Debug"}, {"Format", "second from $host"}}}}),
    });
    dispatch({{"actionsArray", actions}}, record);
    const auto first = journal.receive();
    const auto second = journal.receive();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->at("MESSAGE"), "first Local7.Debug: disk full, $host");
    EXPECT_EQ(first->at("PRIORITY"), "3");
    EXPECT_EQ(second->at("MESSAGE"), "second from 10.0.0.1");
    EXPECT_FALSE(journal.receive(std::chrono::milliseconds(200)));
    EXPECT_EQ(runner.statistics().accepted, 2u);
    EXPECT_TRUE(failures.empty());
}

TEST_F(DispatchFixture, TestsTheSenderAddressNotTheResolvedName)
{
    const json actions = json::array({
        matchAll({{"IP", "192.168.1.0"}, {"Mask", "24"}, {"setEvent", {{"Type", "Error"}, {"Format", "$host"}}}}),
    });
    const EventRecord named{"1772874000", "Local7.Debug", "router.example", "m"};
    dispatch({{"actionsArray", actions}}, named, "10.0.0.1");
    dispatch({{"actionsArray", actions}}, named, "192.168.1.20");
    const auto fields = journal.receive();
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->at("MESSAGE"), "router.example");
    EXPECT_FALSE(journal.receive(std::chrono::milliseconds(200)));
}

TEST_F(DispatchFixture, FillsTheDisplayDateOfTheDateFormatSetting)
{
    const json actions = json::array({matchAll({{"setEvent", {{"Type", "Error"}, {"Format", "at $date"}}}})});
    // 2026-03-07 09:00:00 UTC is 10:00 in Berlin (the tests run with TZ=Europe/Berlin).
    dispatch({{"actionsArray", actions}, {"dateFormat", "yyyy-MM-dd hh:mm:ss AM/PM"}}, record);
    dispatch({{"actionsArray", actions}, {"dateFormat", "d MMM yyyy HH:mm"}}, record);
    dispatch({{"actionsArray", actions}, {"dateFormat", ""}}, record);
    const auto a = journal.receive(), b = journal.receive(), c = journal.receive();
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->at("MESSAGE"), "at 2026-03-07 10:00:00 AM");
    EXPECT_EQ(b->at("MESSAGE"), "at 7 Mar 2026 10:00");
    EXPECT_EQ(c->at("MESSAGE"), "at " + DateFormatter("").format(1772874000));
    EXPECT_NE(c->at("MESSAGE"), "at 1772874000");
}

TEST_F(DispatchFixture, RunsTheProgramWithTheArgumentsFilledIn)
{
    const std::string script = dir.file("record.sh");
    test::writeFile(script, test::recorderScript(dir.file("out")), 0755);
    const json actions = json::array({matchAll({{"runCommand",
                                                 {{"Command", script},
                                                  {"Arguments", "-m $message -h $host"},
                                                  {"Environment", "PATH:/usr/bin:/bin\nMODE:alert"}}}})});
    dispatch({{"actionsArray", actions}}, record);
    ASSERT_TRUE(test::waitFor([&] { return test::fileExists(dir.file("out")); }));
    const auto r = test::readRecording(dir.file("out"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->arguments, std::vector<std::string>{"-m disk full, $host -h 10.0.0.1"});
    EXPECT_EQ(r->environment, (std::map<std::string, std::string>{{"PATH", "/usr/bin:/bin"}, {"MODE", "alert"}}));
}

TEST_F(DispatchFixture, CountsAndReportsCommandsBeyondAFullQueue)
{
    const json actions = json::array({matchAll({{"runCommand", {{"Command", "/bin/sleep"}, {"Arguments", "0.2"}}}})});
    for (int i = 0; i < 200; ++i)
        dispatch({{"actionsArray", actions}}, record);
    const auto s = runner.statistics();
    EXPECT_EQ(s.accepted + s.dropped, 200u);
    EXPECT_GT(s.dropped, 0u);
    ASSERT_FALSE(failures.empty());
    EXPECT_NE(failures[0].find("too many actions at once: a run command was dropped"), std::string::npos);
}

TEST_F(DispatchFixture, MailsTheBodyTemplateWithEachValueOnItsLine)
{
    test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::Plain, nullptr);
    ASSERT_NE(smtpd.port(), 0u);
    const json actions = json::array({matchAll({{"sendEmail", {{"Recipients", {"ops@example.com"}}}}})});
    // The server settings come from the settings owner when the mail starts.
    ASSERT_EQ(SettingsPipe::SaveResult::Saved, pipe.saveSettings({{"command", "save"},
                                   {"Settings",
                                    {{"actionsArray", actions},
                                     {"actionsEmailServer", "127.0.0.1"},
                                     {"actionsEmailPort", smtpd.port()},
                                     {"actionsEmailSender", "brantwell@example.com"},
                                     {"actionsEmailUsername", "u"},
                                     {"actionsEmailPassword", "p"},
                                     {"dateFormat", "yyyy-MM-dd HH:mm:ss"},
                                     {"actionsFormatSubject", "$message"},
                                     {"actionsFormatBody", std::string(kDefaultBody)}}}}));
    runner.dispatcher().dispatch(*pipe.snapshot(), {"10.0.0.1", 1772874000, record});
    ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 1; }));
    const auto msg = smtpd.messages()[0];
    EXPECT_EQ(msg["rcpt_tos"], json::array({"ops@example.com"}));
    const std::string data = msg["data"];
    EXPECT_NE(data.find("\r\nSubject: disk full, $host\r\n"), std::string::npos) << data;
    EXPECT_NE(data.find("\r\n\r\nDate: 2026-03-07 10:00:00\r\nPriority: Local7.Debug\r\nHost: 10.0.0.1\r\n"
                        "Message: disk full, $host\r\n"),
              std::string::npos)
        << data;
    EXPECT_NE(data.find("Content-Type: text/plain;"), std::string::npos);
}

TEST_F(DispatchFixture, SendsTheEmailCommandWithItsOwnValues)
{
    test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::Plain, nullptr);
    ASSERT_NE(smtpd.port(), 0u);
    ASSERT_EQ(SettingsPipe::SaveResult::Saved, pipe.saveSettings({{"command", "save"},
                                   {"Settings",
                                    {{"actionsEmailServer", "127.0.0.1"},
                                     {"actionsEmailPort", smtpd.port()},
                                     {"actionsEmailSender", "brantwell@example.com"},
                                     {"actionsEmailUsername", "u"},
                                     {"actionsEmailPassword", "p"}}}}));
    runner.sendEmail({{"command", "email"},
                      {"Recipients", {"a@example.com", "b@example.com"}},
                      {"Subject", "Test"},
                      {"Body", "<b>hello</b>"},
                      {"Html", true}});
    // Without recipients the mail fails at once, and says so.
    runner.sendEmail({{"command", "email"}, {"Subject", "nobody"}});
    ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 1 && failures.size() == 1; }));
    const auto msg = smtpd.messages()[0];
    EXPECT_EQ(msg["rcpt_tos"], json::array({"a@example.com", "b@example.com"}));
    const std::string data = msg["data"];
    EXPECT_NE(data.find("\r\nTo: <a@example.com>,<b@example.com>\r\nSubject: Test\r\n"), std::string::npos) << data;
    EXPECT_NE(data.find("Content-Type: text/html; charset=\"US-ASCII\"\r\n"), std::string::npos) << data;
    EXPECT_NE(data.find("\r\n\r\n<b>hello</b>\r\n"), std::string::npos) << data;
    EXPECT_NE(failures[0].find("e-mail to (no recipients) via 127.0.0.1:"), std::string::npos) << failures[0];
    EXPECT_NE(failures[0].find("not sent: no recipients"), std::string::npos) << failures[0];
}

} // namespace
} // namespace brantwell
