// The automatic actions end to end: the real BrantwellSrv binary (and, for
// the journal, whose socket the binary cannot be pointed at from outside,
// the in-process daemon object) on a temporary data directory and a free
// UDP port, with a real program, a real SMTP server and a journal socket.
#include <dirent.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "Daemon.h"
#include "testkit/DaemonProcess.h"
#include "EventRecord.h"
#include "testkit/SmtpPeers.h"
#include "testkit/TestPeers.h"
#include "testkit/UdpTestClient.h"

namespace brantwell {
namespace {

using nlohmann::json;

json matchAll(json commands)
{
    json a = {{"Name", "everything"}, {"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"}, {"Severity", "*"},
              {"Message", "*"}, {"runCommand", json::object()}, {"sendEmail", json::object()},
              {"setEvent", json::object()}};
    a.update(commands);
    return a;
}

json settingsWith(json actions, unsigned smtpPort)
{
    return {{"actionsArray", actions},
            {"actionsEmailServer", "127.0.0.1"},
            {"actionsEmailPort", smtpPort},
            {"actionsEmailSender", "brantwell@example.com"},
            {"actionsEmailUsername", "u"},
            {"actionsEmailPassword", "p"},
            {"actionsFormatSubject", "$message"},
            {"actionsFormatBody", "Priority: $priority\r\nHost: $host\r\nMessage: $message\r\n"}};
}

// The daemon must never reach the machine's own system bus.
struct NoSystemBus {
    explicit NoSystemBus(const test::TempDir& dir)
    {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str(), 1);
    }
    ~NoSystemBus() { unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }
};

struct ActionsEndToEnd : ::testing::Test {
    test::TempDir dir;
    NoSystemBus noBus{dir};
    std::string data = dir.file("data");
    std::uint16_t port = test::freeUdpPort();

    std::string recorder()
    {
        const std::string script = dir.file("record.sh");
        test::writeFile(script, test::recorderScript(dir.file("out")), 0755);
        return script;
    }

    void writeSettings(const json& settings)
    {
        mkdir(data.c_str(), 0750);
        test::writeFile(data + "/Brantwell.ini", settings.dump(), 0640);
    }

    json allThree()
    {
        return json::array({matchAll({{"runCommand", {{"Command", recorder()}, {"Arguments", "$priority|$host|$message"}}},
                                      {"sendEmail", {{"Recipients", {"ops@example.com"}}}},
                                      {"setEvent", {{"Type", "Error"}, {"Format", "$priority: $message"}}}})});
    }

    void expectProgramAndMail(const test::AiosmtpdServer& smtpd)
    {
        ASSERT_TRUE(test::waitFor([&] { return test::fileExists(dir.file("out")); }));
        const auto r = test::readRecording(dir.file("out"));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->arguments, std::vector<std::string>{"Local7.Error|127.0.0.7|host app: disk full, $host"});
        ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 1; }));
        const auto msg = smtpd.messages()[0];
        EXPECT_EQ(msg["rcpt_tos"], json::array({"ops@example.com"}));
        const std::string text = msg["data"];
        EXPECT_NE(text.find("\r\nSubject: host app: disk full, $host\r\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\r\n\r\nPriority: Local7.Error\r\nHost: 127.0.0.7\r\nMessage: host app: disk full, $host\r\n"),
                  std::string::npos)
            << text;
    }

    static constexpr const char* kDatagram = "<187>Oct 11 22:14:15 host app: disk full, $host";
};

TEST_F(ActionsEndToEnd, OneDatagramRunsTheProgramAndSendsTheMail)
{
    test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::Plain, nullptr);
    ASSERT_NE(smtpd.port(), 0u);
    writeSettings(settingsWith(allThree(), smtpd.port()));
    const std::string errors = dir.file("stderr");
    test::DaemonProcess daemon(BRANTWELL_SRV_PATH, {"--data-dir", data, "--port", std::to_string(port)}, errors);
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(daemon.waitForPort(port));
    test::UdpSender("127.0.0.7").send(port, kDatagram);
    expectProgramAndMail(smtpd);
    EXPECT_EQ(daemon.stop(), 0);
    EXPECT_EQ(test::readFile(errors).find("BrantwellSrv: run command"), std::string::npos) << test::readFile(errors);
    EXPECT_EQ(test::readFile(errors).find("BrantwellSrv: e-mail"), std::string::npos) << test::readFile(errors);
}

// A sender's UTF-8 reaches the mail reader as it was sent: the subject as an
// encoded word, the body in UTF-8 with a transfer encoding that leaves every
// byte on the wire 7-bit.
TEST_F(ActionsEndToEnd, NonAsciiTextArrivesInTheMailAsItWasSent)
{
    test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::Plain, nullptr);
    ASSERT_NE(smtpd.port(), 0u);
    writeSettings(settingsWith(json::array({matchAll({{"sendEmail", {{"Recipients", {"ops@example.com"}}}}})}),
                               smtpd.port()));
    test::DaemonProcess daemon(BRANTWELL_SRV_PATH, {"--data-dir", data, "--port", std::to_string(port)});
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(daemon.waitForPort(port));
    test::UdpSender("127.0.0.7").send(port, "<11>1 2026-12-09T10:00:00Z db1 pg 77 - - Ошибка диска — Grüße 日本語");
    ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 1; }));
    const auto msg = smtpd.messages()[0];
    const std::string text = "db1 pg[77]: Ошибка диска — Grüße 日本語";
    EXPECT_EQ(msg["subject"], text);
    const std::string body = msg["body"];
    EXPECT_NE(body.find("Priority: User.Error\r\nHost: 127.0.0.7\r\nMessage: " + text + "\r\n"), std::string::npos)
        << body;
    EXPECT_EQ(msg["defects"], json::array());
    const std::string raw = msg["data"];
    EXPECT_TRUE(std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        << raw;
    EXPECT_EQ(daemon.stop(), 0);
}

// A mail action limited to one mail per 10 s: the first event is mailed at
// once; the five after it are held back and told in one summary mail when
// the period ends, with the last one's text and the count.
TEST_F(ActionsEndToEnd, ALimitedMailActionSendsOneSummaryOfWhatItHeldBack)
{
    test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::Plain, nullptr);
    ASSERT_NE(smtpd.port(), 0u);
    json settings = settingsWith(json::array({matchAll({{"Name", "switch"},
                                                        {"ThrottleCount", 1},
                                                        {"ThrottleSeconds", 10},
                                                        {"sendEmail", {{"Recipients", {"ops@example.com"}}}}})}),
                                 smtpd.port());
    settings["actionsFormatSubject"] = "$message (+$suppressed)";
    writeSettings(settings);
    test::DaemonProcess daemon(BRANTWELL_SRV_PATH, {"--data-dir", data, "--port", std::to_string(port)});
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(daemon.waitForPort(port));
    const auto sent = std::chrono::steady_clock::now();
    test::UdpSender sender("127.0.0.7");
    for (int i = 0; i < 6; ++i)
        sender.send(port, "<187>port 7 flapping " + std::to_string(i));
    ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 1; }));
    EXPECT_EQ(smtpd.messages()[0]["subject"], "port 7 flapping 0 (+0)");
    ASSERT_TRUE(test::waitFor([&] { return smtpd.messages().size() == 2; }, std::chrono::seconds(20)));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::seconds(9));
    const auto summary = smtpd.messages()[1];
    EXPECT_EQ(summary["subject"], "port 7 flapping 5 (+5)");
    const std::string body = summary["body"];
    EXPECT_NE(body.find("Message: port 7 flapping 5\r\n"), std::string::npos) << body;
    // The last line, whatever the template: how many, over how long.
    const auto held = body.find("\r\n5 matching events were held back by this action's limit over the ");
    ASSERT_NE(held, std::string::npos) << body;
    EXPECT_EQ(body.find_first_not_of("\r\n", body.find('\n', held + 2)), std::string::npos) << body;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(smtpd.messages().size(), 2u);
    EXPECT_EQ(daemon.stop(), 0);
}

TEST_F(ActionsEndToEnd, OneDatagramAlsoWritesTheJournalLine)
{
    test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::Plain, nullptr);
    ASSERT_NE(smtpd.port(), 0u);
    writeSettings(settingsWith(allThree(), smtpd.port()));
    test::JournalSocket journal(dir.file("journal.socket"));
    Daemon daemon({data, port, journal.path()});
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(test::waitFor([&] { return test::udpPortBound(port); }));
    test::UdpSender("127.0.0.7").send(port, kDatagram);
    const auto entry = journal.receive();
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->at("MESSAGE"), "Local7.Error: host app: disk full, $host");
    EXPECT_EQ(entry->at("PRIORITY"), "3");
    EXPECT_EQ(entry->at("SYSLOG_IDENTIFIER"), "BrantwellSrv");
    expectProgramAndMail(smtpd);
}

int threadsOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Threads:", 0) == 0)
            return std::stoi(line.substr(8));
    return -1;
}

int zombieChildrenOf(pid_t pid)
{
    int zombies = 0;
    DIR* proc = opendir("/proc");
    while (dirent* e = readdir(proc)) {
        std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
        std::string stat;
        if (!std::getline(in, stat))
            continue;
        // "pid (comm) state ppid ...": the name may hold spaces, so read after ")".
        std::istringstream rest(stat.substr(stat.rfind(')') + 1));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        zombies += parent == pid && state == 'Z';
    }
    closedir(proc);
    return zombies;
}

TEST_F(ActionsEndToEnd, ABurstOfMatchingEventsKeepsTheDaemonUpWithBoundedThreads)
{
    // Every e-mail fails at once (nothing listens there): a storm of failures.
    const unsigned closedPort = test::freePort(false);
    const json actions = json::array({matchAll({{"runCommand", {{"Command", "/bin/true"}, {"Arguments", "$message"}}},
                                                {"sendEmail", {{"Recipients", {"ops@example.com"}}}},
                                                {"setEvent", {{"Type", "Error"}, {"Format", "$message"}}}})});
    writeSettings(settingsWith(actions, closedPort));
    const std::string errors = dir.file("stderr");
    test::DaemonProcess daemon(BRANTWELL_SRV_PATH, {"--data-dir", data, "--port", std::to_string(port)}, errors);
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(daemon.waitForPort(port));

    constexpr int kEvents = 10000;
    test::UdpSender sender("127.0.0.9");
    int most = 0;
    for (int i = 0; i < kEvents; ++i) {
        sender.send(port, "<11>burst event " + std::to_string(i));
        if (i % 500 == 0)
            most = std::max(most, threadsOf(daemon.pid()));
    }
    const std::string file = data + "/" + eventLogFileName(std::time(nullptr));
    const auto stored = [&] {
        const std::string s = test::readFile(file);
        return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
    };
    const bool allStored = test::waitFor(
        [&] {
            most = std::max(most, threadsOf(daemon.pid()));
            return stored() >= kEvents;
        },
        std::chrono::seconds(60));
    EXPECT_TRUE(allStored) << stored() << " of " << kEvents << " stored";
    ASSERT_TRUE(daemon.running());
    // A fixed pool: the count does not grow with the number of events.
    const ActionRunnerOptions pools;
    const auto workers = pools.runPool.workers + pools.logPool.workers + pools.mailPool.workers +
                         pools.requestedMailPool.workers;
    EXPECT_LE(most, static_cast<int>(workers) + 16) << "threads seen: " << most;
    EXPECT_TRUE(test::waitFor([&] { return zombieChildrenOf(daemon.pid()) == 0; }));
    EXPECT_EQ(daemon.stop(), 0);

    // Failures are reported, but the storm is summed up rather than written out.
    const std::string err = test::readFile(errors);
    const auto lines = std::count(err.begin(), err.end(), '\n');
    EXPECT_GE(lines, 2);
    EXPECT_LE(lines, 50) << err.substr(0, 4000);
    EXPECT_NE(err.find("BrantwellSrv: e-mail to ops@example.com via 127.0.0.1:" + std::to_string(closedPort) +
                       " not sent: cannot connect"),
              std::string::npos)
        << err.substr(0, 2000);
    EXPECT_NE(err.find("more action failures in the last"), std::string::npos) << err.substr(0, 4000);
}

} // namespace
} // namespace brantwell
