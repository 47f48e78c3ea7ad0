#include "ActionDispatch.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "ActionRunner.h"
#include "DateFormat.h"
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
    // The count of held-back events, and a message that quotes the placeholder.
    const PlaceholderValues held{"h", "d", "p", "says $suppressed", "45"};
    EXPECT_EQ(replacePlaceholders("$suppressed more: $message", held), "45 more: says $suppressed");
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

// The failure lines the workers write, read by the test thread.
class FailureLines {
public:
    FailureLog::Sink sink()
    {
        return [this](std::string_view line) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(line);
        };
    }
    std::vector<std::string> lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

struct DispatchFixture : ::testing::Test {
    test::TempDir dir;
    test::JournalSocket journal{dir.file("journal.socket")};
    SettingsPipe pipe{dir.path()};
    FailureLines failures;
    // One run worker and a short queue, which a burst fills.
    ActionRunner runner{pipe, {journal.path(), failures.sink(), {1, 64}}};
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
    EXPECT_TRUE(failures.lines().empty());
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
    // Journal lines get a plain space where ICU puts U+202F before "AM".
    EXPECT_EQ(c->at("MESSAGE"), "at " + withPlainSpaces(DateFormatter("").format(1772874000)));
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
    const auto lines = failures.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("too many actions at once: a run command was dropped"), std::string::npos);
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
    ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 1 && failures.lines().size() == 1; }));
    const auto lines = failures.lines();
    const auto msg = smtpd.messages()[0];
    EXPECT_EQ(msg["rcpt_tos"], json::array({"a@example.com", "b@example.com"}));
    const std::string data = msg["data"];
    EXPECT_NE(data.find("\r\nTo: <a@example.com>,<b@example.com>\r\nSubject: Test\r\n"), std::string::npos) << data;
    EXPECT_NE(data.find("Content-Type: text/html; charset=\"US-ASCII\"\r\n"), std::string::npos) << data;
    EXPECT_NE(data.find("\r\n\r\n<b>hello</b>\r\n"), std::string::npos) << data;
    EXPECT_NE(lines[0].find("e-mail to (no recipients) via 127.0.0.1:"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("not sent: no recipients"), std::string::npos) << lines[0];
}

json mailServer(unsigned port)
{
    return {{"actionsEmailServer", "127.0.0.1"},
            {"actionsEmailPort", port},
            {"actionsEmailSender", "brantwell@example.com"},
            {"actionsEmailUsername", "u"},
            {"actionsEmailPassword", "p"}};
}

TEST_F(DispatchFixture, MailsALongMessageThatTheServerAcceptsAndReadsBackWhole)
{
    std::string spaced, unbroken;
    for (int i = 0; spaced.size() < 2000; ++i)
        spaced += "word" + std::to_string(i) + (i % 7 ? " " : ", ");
    spaced.resize(2000);
    for (int i = 0; unbroken.size() < 2000; ++i)
        unbroken += static_cast<char>('!' + i % 90);
    // The default date format: ICU writes U+202F before "AM"/"PM".
    test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::Plain, nullptr);
    ASSERT_NE(smtpd.port(), 0u);
    json settings = mailServer(smtpd.port());
    settings["actionsArray"] = json::array({matchAll({{"sendEmail", {{"Recipients", {"ops@example.com"}}}}})});
    settings["actionsFormatSubject"] = "$message";
    settings["actionsFormatBody"] = std::string(kDefaultBody);
    settings["dateFormat"] = "";
    ASSERT_EQ(SettingsPipe::SaveResult::Saved, pipe.saveSettings({{"command", "save"}, {"Settings", settings}}));
    for (const std::string& message : {spaced, unbroken})
        runner.dispatcher().dispatch(*pipe.snapshot(),
                                     {"10.0.0.1", 1772874000, {"1772874000", "Local7.Debug", "10.0.0.1", message}});

    ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 2; }, std::chrono::seconds(20)))
        << testing::PrintToString(failures.lines());
    const std::string date = withPlainSpaces(DateFormatter("").format(1772874000));
    for (const auto& received : smtpd.messages()) {
        const std::string data = received["data"], subject = received["subject"], body = received["body"];
        const std::string& message = subject == spaced ? spaced : unbroken;
        SCOPED_TRACE(message == spaced ? "spaced" : "unbroken");
        EXPECT_EQ(subject, message);
        EXPECT_NE(body.find("Message: " + message + "\r\n"), std::string::npos) << body.substr(0, 300);
        EXPECT_NE(body.find("Date: " + date + "\r\n"), std::string::npos) << body.substr(0, 300);
        EXPECT_EQ(received["defects"], json::array());
        for (const auto& line : test::crlfLines(data))
            EXPECT_LE(line.size(), 998u) << line.substr(0, 80);
        EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            << "a raw 8-bit byte in the mail";
    }
    EXPECT_EQ(failures.lines(), std::vector<std::string>{});
}

// Appends its argument as one line to the file named in the script.
std::string appenderScript(const test::TempDir& dir, const std::string& name, const std::string& body = "")
{
    const std::string script = dir.file(name + ".sh");
    test::writeFile(script, "#!/bin/sh\necho \"$1\" >> '" + dir.file(name + ".log") + "'\n" + body, 0755);
    return script;
}

int linesOf(const std::string& path)
{
    if (!test::fileExists(path))
        return 0;
    const std::string text = test::readFile(path);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// A program that appends its first argument as one line to `out`: one line
// per run.
std::string appendingScript(const test::TempDir& dir, const std::string& out)
{
    const std::string script = dir.file("append.sh");
    test::writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + out + "'\n", 0755);
    return script;
}

std::vector<std::string> textLines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// The action limits on the time of a clock the test moves, with a real
// program started through the real pools.
struct LimitFixture : ::testing::Test {
    test::TempDir dir;
    test::JournalSocket journal{dir.file("journal.socket")};
    SettingsPipe pipe{dir.path()};
    FailureLines failures;
    double now = 1772874000;
    ActionRunnerOptions options()
    {
        ActionRunnerOptions o{journal.path(), failures.sink(), {1, 256}};
        o.clock = [this] { return now; };
        return o;
    }
    ActionRunner runner{pipe, options()};
    std::string out = dir.file("runs");

    json programAction(json extra = json::object())
    {
        json a = matchAll({{"Name", "flapping port"},
                           {"runCommand", {{"Command", appendingScript(dir, out)}, {"Arguments", "$suppressed|$message"}}}});
        a.update(extra);
        return a;
    }
    void dispatchAt(const Settings& s, double when, const std::string& message)
    {
        now = when;
        runner.dispatcher().dispatch(s, {"10.0.0.1", when, {"1772874000", "Local4.Error", "10.0.0.1", message}});
    }
    // The runs' lines, sorted: programs started in order may write in any.
    std::vector<std::string> runs(std::size_t n)
    {
        test::waitFor([&] { return textLines(test::readFile(out)).size() >= n; });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // and no more
        auto lines = textLines(test::readFile(out));
        std::sort(lines.begin(), lines.end());
        return lines;
    }
};

TEST_F(LimitFixture, FivePerMinuteRunsFiveOfFiftyThenOneSummaryWithTheCountHeldBack)
{
    const Settings s = applySettingsDictionary(
        Settings{}, {{"actionsArray", json::array({programAction({{"ThrottleCount", 5}, {"ThrottleSeconds", 60}})})}});
    const double start = now;
    for (int i = 0; i < 50; ++i)
        dispatchAt(s, start + i * 0.04, "link down " + std::to_string(i));
    EXPECT_EQ(runs(5), (std::vector<std::string>{"0|link down 0", "0|link down 1", "0|link down 2", "0|link down 3",
                                                 "0|link down 4"}));
    auto counts = runner.actionCounts();
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_EQ(counts[0].name, "flapping port");
    EXPECT_EQ(counts[0].runs, 5u);
    EXPECT_EQ(counts[0].heldBack, 45u);
    // Not before the window lets the action run again.
    ActionDispatch& dispatch = static_cast<ActionDispatch&>(runner.dispatcher());
    dispatch.runDueSummaries(start + 59.9);
    EXPECT_EQ(runs(5).size(), 5u);
    // Then one summary run, with the last held-back message and the count.
    dispatch.runDueSummaries(start + 60.01);
    dispatch.runDueSummaries(start + 61);
    const auto all = runs(6);
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all[5], "45|link down 49");  // sorted last: "4" > "0"
    EXPECT_EQ(runner.actionCounts()[0].runs, 6u);
    // The next burst starts counting from nothing.
    dispatchAt(s, start + 121, "link up");
    const auto after = runs(7);
    EXPECT_NE(std::find(after.begin(), after.end(), "0|link up"), after.end());
}

TEST_F(LimitFixture, AnEventAfterThePeriodCarriesTheCountAndNeedsNoSummary)
{
    const Settings s = applySettingsDictionary(
        Settings{}, {{"actionsArray", json::array({programAction({{"ThrottleCount", 1}, {"ThrottleSeconds", 10}})})}});
    const double start = now;
    dispatchAt(s, start, "first");
    dispatchAt(s, start + 1, "held 1");
    dispatchAt(s, start + 2, "held 2");
    dispatchAt(s, start + 10.5, "after");
    ActionDispatch& dispatch = static_cast<ActionDispatch&>(runner.dispatcher());
    dispatch.runDueSummaries(start + 30);
    EXPECT_EQ(runs(2), (std::vector<std::string>{"0|first", "2|after"}));  // sorted
}

TEST_F(LimitFixture, WithoutALimitEveryMatchingEventRuns)
{
    for (const json& extra : {json::object(), json{{"ThrottleCount", 0}, {"ThrottleSeconds", 60}},
                             json{{"ThrottleCount", 3}, {"ThrottleSeconds", -1}}}) {
        std::filesystem::remove(out);
        const Settings s = applySettingsDictionary(Settings{}, {{"actionsArray", json::array({programAction(extra)})}});
        for (int i = 0; i < 20; ++i)
            dispatchAt(s, now + 0.01, "event " + std::to_string(i));
        EXPECT_EQ(runs(20).size(), 20u) << extra.dump();
    }
}

// The limit belongs to the record: a save that keeps it keeps the count.
TEST_F(LimitFixture, ASaveThatKeepsTheActionKeepsItsWindow)
{
    const json action = programAction({{"ThrottleCount", 2}, {"ThrottleSeconds", 60}});
    const Settings first = applySettingsDictionary(Settings{}, {{"actionsArray", json::array({action})}});
    dispatchAt(first, now, "a");
    dispatchAt(first, now + 1, "b");
    const Settings second =
        applySettingsDictionary(Settings{}, {{"actionsArray", json::array({action})}, {"hostsDisplay", true}});
    dispatchAt(second, now + 2, "held");
    EXPECT_EQ(runs(2).size(), 2u);
    EXPECT_EQ(runner.actionCounts()[0].heldBack, 1u);
}

TEST(ActionPools, AHungMailServerDelaysNoProgramAndNoRequestedMail)
{
    test::TempDir dir;
    SettingsPipe pipe{dir.path()};
    FailureLines failures;
    std::atomic<bool> answered{false};  // before the runner, whose workers may still set it
    ActionRunner runner{pipe, {dir.file("journal.socket"), failures.sink()}};
    test::SilentSmtpServer silent;
    json settings = mailServer(silent.port());
    settings["actionsArray"] = json::array({matchAll({{"sendEmail", {{"Recipients", {"ops@example.com"}}}},
                                                      {"runCommand", {{"Command", appenderScript(dir, "run")},
                                                                      {"Arguments", "$message"}}}})});
    ASSERT_EQ(SettingsPipe::SaveResult::Saved, pipe.saveSettings({{"command", "save"}, {"Settings", settings}}));

    // Three times as many mails as mail workers: every worker hangs on the
    // silent server for its one-minute reply timeout.
    constexpr int kEvents = 24;
    for (int i = 0; i < kEvents; ++i)
        runner.dispatcher().dispatch(*pipe.snapshot(),
                                     {"10.0.0.1", 1772874000, {"1772874000", "User.Notice", "10.0.0.1", "e" + std::to_string(i)}});
    EXPECT_TRUE(test::waitFor([&] { return linesOf(dir.file("run.log")) == kEvents; }))
        << linesOf(dir.file("run.log")) << " of " << kEvents << " programs ran";
    ASSERT_TRUE(test::waitFor([&] { return silent.connections() == 8; }));

    // The test mail the user asks for gets a worker of its own at once.
    runner.sendEmail({{"command", "email"}, {"Recipients", {"me@example.com"}}, {"Subject", "test"}},
                     [&](const SmtpOutcome&) { answered = true; });
    EXPECT_TRUE(test::waitFor([&] { return silent.connections() == 9; }));
    EXPECT_FALSE(answered) << "the server has not answered yet";
    EXPECT_EQ(failures.lines(), std::vector<std::string>{});
    EXPECT_EQ(runner.statistics().dropped, 0u);
    // Stopping ends the hung dialogues at once (the destructors join).
}

TEST(ActionPools, RequestedMailTellsItsOutcome)
{
    test::TempDir dir;
    SettingsPipe pipe{dir.path()};
    std::mutex mutex;
    std::vector<SmtpOutcome> outcomes;
    ActionRunner runner{pipe, {dir.file("journal.socket"), [](std::string_view) {}}};
    test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::Plain, nullptr);
    ASSERT_NE(smtpd.port(), 0u);
    ASSERT_EQ(SettingsPipe::SaveResult::Saved,
              pipe.saveSettings({{"command", "save"}, {"Settings", mailServer(smtpd.port())}}));
    const auto record = [&](const SmtpOutcome& o) {
        std::lock_guard lock(mutex);
        outcomes.push_back(o);
    };
    // Text typed in the application may hold any character.
    const std::string subject = "St\u00f6rung \u2013 caf\u00e9", body = "Gr\u00fc\u00dfe\n" + std::string(1500, '=') + "\n";
    runner.sendEmail({{"command", "email"}, {"Recipients", {"me@example.com"}}, {"Subject", subject}, {"Body", body}},
                     record);
    ASSERT_TRUE(test::waitFor([&] {
        std::lock_guard lock(mutex);
        return outcomes.size() == 1;
    }));
    runner.sendEmail({{"command", "email"}, {"Subject", "nobody"}}, record);
    ASSERT_TRUE(test::waitFor([&] {
        std::lock_guard lock(mutex);
        return outcomes.size() == 2;
    }));
    EXPECT_TRUE(outcomes[0].sent) << outcomes[0].failure;
    EXPECT_FALSE(outcomes[1].sent);
    EXPECT_EQ(outcomes[1].failure, "no recipients");
    ASSERT_EQ(smtpd.messages().size(), 1u);
    const auto received = smtpd.messages()[0];
    EXPECT_EQ(received["subject"], subject);
    // Line breaks come back as CR LF.
    EXPECT_EQ(received["body"].get<std::string>().rfind("Gr\u00fc\u00dfe\r\n" + std::string(1500, '=') + "\r\n", 0), 0u)
        << received["body"];
    EXPECT_EQ(received["defects"], json::array());
}

int openDescriptors()
{
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

TEST(ActionPools, ProgramsThatDoNotEndHoldNoMoreThanTheirLimitOfDescriptors)
{
    test::TempDir dir;
    SettingsPipe pipe{dir.path()};
    constexpr int kLimit = 8, kEvents = 60;
    ActionRunnerOptions options{dir.file("journal.socket"), [](std::string_view) {}};
    options.runningPrograms = kLimit;
    ActionRunner runner{pipe, options};
    // Each program says when it starts and ends, and runs until the test
    // lets it go.
    const std::string release = dir.file("release");
    const std::string script = appenderScript(dir, "runs",
                                              "while [ ! -e '" + release + "' ]; do sleep 0.05; done\n"
                                              "echo end >> '" + dir.file("runs.log") + "'\n");
    Settings s = applySettingsDictionary(
        Settings{}, {{"actionsArray", json::array({matchAll({{"runCommand", {{"Command", script}, {"Arguments", "start"}}}})})}});
    const int before = openDescriptors();
    for (int i = 0; i < kEvents; ++i)
        runner.dispatcher().dispatch(s, {"10.0.0.1", 1772874000, {"1772874000", "User.Notice", "10.0.0.1", "m"}});

    ASSERT_TRUE(test::waitFor([&] { return linesOf(dir.file("runs.log")) == kLimit; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(linesOf(dir.file("runs.log")), kLimit) << "more programs started than the limit allows";
    EXPECT_LE(openDescriptors() - before, kLimit + 2);
    EXPECT_EQ(runner.statistics().dropped, 0u);

    // Let them go: the waiting ones start in turn, never more than the
    // limit at once, and all of them run.
    test::writeFile(release, "");
    ASSERT_TRUE(test::waitFor([&] { return linesOf(dir.file("runs.log")) == 2 * kEvents; }, std::chrono::seconds(30)))
        << linesOf(dir.file("runs.log"));
    int running = 0, most = 0;
    std::istringstream log(test::readFile(dir.file("runs.log")));
    for (std::string line; std::getline(log, line);) {
        running += line == "start" ? 1 : line == "end" ? -1 : 0;
        most = std::max(most, running);
    }
    EXPECT_LE(most, kLimit);
    EXPECT_TRUE(test::waitFor([&] { return runner.reaper().placesTaken() == 0; }));
}

} // namespace
} // namespace brantwell
