// brantwellctl as administrators and scripts use it: the real binary
// against the real BrantwellSrv on a private bus and a temporary data
// directory.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include "EventRecord.h"
#include "testkit/CtlProcess.h"
#include "testkit/DaemonProcess.h"
#include "testkit/TestBus.h"
#include "testkit/TestSupport.h"
#include "testkit/UdpTestClient.h"
#include "testkit/WaitUntil.h"

using namespace brantwell::test;
using nlohmann::json;

namespace {

// Runs brantwellctl; `out` holds what it printed on both streams.
CtlResult ctl(const std::string& args, const std::string& prefix = "")
{
    return runCtl(BRANTWELLCTL_PATH, args, prefix, true);
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

const std::string kNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";

class CtlTest : public ::testing::Test {
protected:
    TestBus bus;
    TempDir dir;
    std::uint16_t port = freeUdpPort();
    std::unique_ptr<DaemonProcess> daemon;

    void SetUp() override
    {
        ASSERT_TRUE(bus.ready());
        ::chmod(dir.path().c_str(), 0755);  // other users reach the files given to them
    }

    void startDaemon()
    {
        daemon = std::make_unique<DaemonProcess>(
            BRANTWELL_SRV_PATH, std::vector<std::string>{"--data-dir", dir.path(), "--port", std::to_string(port)},
            dir.file("stderr.txt"));
        ASSERT_TRUE(daemon->start());
        ASSERT_TRUE(daemon->waitForPort(port));
        for (int i = 0; i < 300; ++i) {
            if (ctl("stats").exit == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FAIL() << "the daemon never answered on the bus";
    }

    std::string dayFile(long long when) const { return dir.file(brantwell::eventLogFileName(when)); }

    // Waits until the day file of today holds `lines` lines.
    bool waitForLines(std::size_t lines)
    {
        for (int i = 0; i < 500; ++i) {
            const std::string text = readFile(dayFile(std::time(nullptr)));
            if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= lines)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

} // namespace

TEST_F(CtlTest, StatusTellsARunningFromAStoppedDaemonAndCountsTheStore)
{
    const long long now = std::time(nullptr);
    const std::string line = std::to_string(now) + ",User.Notice,10.0.0.1,hello, world\n";
    writeFile(dayFile(now - 86400), line + line);
    // A last line cut short (no line feed) is an event too.
    writeFile(dayFile(now), line.substr(0, line.size() - 1));
    writeFile(dir.file("notes.log"), "not a day file\n");
    startDaemon();

    auto running = ctl("status");
    EXPECT_EQ(running.exit, 0) << running.out;
    EXPECT_TRUE(contains(running.out, "running and answering")) << running.out;
    EXPECT_TRUE(contains(running.out, "Version: " BRANTWELL_VERSION "\n")) << running.out;
    EXPECT_TRUE(contains(running.out, "UDP port: " + std::to_string(port) + "\n")) << running.out;
    EXPECT_TRUE(contains(running.out, "UDP reception: receiving on port " + std::to_string(port) + "\n")) << running.out;
    EXPECT_TRUE(contains(running.out, "TCP reception: off\n")) << running.out;
    // Without --data-dir the daemon's own directory is counted.
    EXPECT_TRUE(contains(running.out, "Data directory: " + dir.path() + "\n")) << running.out;
    EXPECT_TRUE(contains(running.out, "Stored events: 3 in 2 day files\n")) << running.out;
    EXPECT_TRUE(contains(running.out, "  eventsStored 0\n")) << running.out;
    EXPECT_FALSE(contains(running.out, "problem:")) << running.out;

    UdpSender().send(port, "<14>one more");
    ASSERT_TRUE(waitForLines(1));
    running = ctl("status");
    EXPECT_TRUE(contains(running.out, "  eventsStored 1\n")) << running.out;
    EXPECT_TRUE(contains(running.out, "Stored events: 4 in 2 day files\n")) << running.out;

    // Status is for root and the group too: others learn that it runs, no more.
    const auto refused = ctl("status --data-dir " + dir.path(), kNobody);
    EXPECT_EQ(refused.exit, 3) << refused.out;
    EXPECT_TRUE(contains(refused.out, "running (pid ")) << refused.out;
    EXPECT_FALSE(contains(refused.out, "eventsStored")) << refused.out;
    // Without --data-dir it says it could not ask rather than name a
    // directory the daemon may not use.
    const auto refusedNoDir = ctl("status", kNobody);
    EXPECT_EQ(refusedNoDir.exit, 3) << refusedNoDir.out;
    EXPECT_TRUE(contains(refusedNoDir.out, "Data directory: unknown, could not ask the daemon (refused)"))
        << refusedNoDir.out;
    EXPECT_FALSE(contains(refusedNoDir.out, "/var/lib/brantwell")) << refusedNoDir.out;

    daemon->stop();
    const auto stopped = ctl("status --data-dir " + dir.path());
    EXPECT_EQ(stopped.exit, 1) << stopped.out;
    EXPECT_TRUE(contains(stopped.out, "not running")) << stopped.out;
    EXPECT_TRUE(contains(stopped.out, "Stored events: 4 in 2 day files\n")) << stopped.out;

    const auto noBus = ctl("status --data-dir " + dir.path(), "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + dir.file("no-bus"));
    EXPECT_EQ(noBus.exit, 1) << noBus.out;
    EXPECT_TRUE(contains(noBus.out, "bus cannot be reached")) << noBus.out;
}

TEST_F(CtlTest, GetWithoutDataDirReadsWhereTheDaemonStores)
{
    startDaemon();
    // The daemon writes its defaults at start; get finds them in the
    // directory the daemon reports, not in the default one.
    const auto got = ctl("get");
    EXPECT_EQ(got.exit, 0) << got.out;
    EXPECT_EQ(json::parse(got.out, nullptr, false), json::parse(readFile(dir.file("Brantwell.ini")), nullptr, false))
        << got.out;
    // (Someone the daemon refuses would read the default directory, which
    // tests leave alone.)
}

TEST_F(CtlTest, OnlyACommandTheDaemonCarriedOutExitsZero)
{
    startDaemon();
    // The daemon keeps its directory at 0750; the user "nobody" below must
    // still reach good.json, but not the settings file (0640).
    ::chmod(dir.path().c_str(), 0755);
    const std::string before = readFile(dir.file("Brantwell.ini"));
    writeFile(dir.file("array.json"), "[1, 2]");
    writeFile(dir.file("broken.json"), "{\"hostsDisplay\": ");
    writeFile(dir.file("good.json"), json({{"hostsDisplay", true}}).dump());
    ::chmod(dir.file("good.json").c_str(), 0644);
    writeFile(dir.file("big.json"), json({{"big", std::string(1100000, 'b')}}).dump());
    const std::uint16_t silentPort = freeUdpPort();

    const struct {
        std::string args, prefix;
        int exit;
    } cases[] = {
        {"save " + dir.file("array.json"), "", 2},
        {"save " + dir.file("broken.json"), "", 2},
        {"save " + dir.file("missing.json"), "", 2},
        {"save " + dir.file("good.json") + " " + dir.file("good.json"), "", 2},
        {"save " + dir.file("good.json"), kNobody, 3},
        {"save --merge " + dir.file("good.json"), kNobody, 3},
        // More than the daemon keeps: rejected by name, exit 4.
        {"save " + dir.file("big.json"), "", 4},
        {"save --merge " + dir.file("big.json"), "", 4},
        {"delete x", kNobody, 3},
        {"stats", kNobody, 3},
        {"frobnicate", "", 2},
        {"--port 0 test-message", "", 2},
        {"--port " + std::to_string(silentPort) + " test-message", "", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ctl(c.args, c.prefix).exit, c.exit) << c.prefix << " brantwellctl " << c.args;
    const auto rejected = ctl("save " + dir.file("big.json"));
    EXPECT_TRUE(contains(rejected.out, "rejected the command (org.freedesktop.DBus.Error.InvalidArgs)")) << rejected.out;
    EXPECT_TRUE(contains(rejected.out, "at most 1048576")) << rejected.out;
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), before) << "no refused or malformed command changed the settings";

    // test-message says where the datagram went, and it arrives there.
    const auto sent = ctl("--port " + std::to_string(port) + " test-message");
    EXPECT_EQ(sent.exit, 0) << sent.out;
    EXPECT_TRUE(contains(sent.out, "127.0.0.1 UDP port " + std::to_string(port))) << sent.out;
    ASSERT_TRUE(waitForLines(1));
    EXPECT_TRUE(contains(readFile(dayFile(std::time(nullptr))), ",Local7.Debug,127.0.0.1,Brantwell - Test message\n"));

    // A save the daemon could not write: a directory stands where the file goes.
    std::filesystem::remove(dir.file("Brantwell.ini"));
    std::filesystem::create_directories(dir.file("Brantwell.ini/in-the-way"));
    const auto failed = ctl("save " + dir.file("good.json"));
    EXPECT_EQ(failed.exit, 1) << failed.out;
    EXPECT_FALSE(contains(failed.out, "Received")) << failed.out;

    daemon->stop();
    EXPECT_EQ(ctl("save " + dir.file("good.json")).exit, 1) << "no daemon on the bus";
}

TEST_F(CtlTest, SaveMergeKeepsTheOtherKeysAndPlainSaveReplacesTheFile)
{
    startDaemon();
    const json defaults = json::parse(readFile(dir.file("Brantwell.ini")));
    ASSERT_GT(defaults.size(), 10u);
    const json change = {{"hostsDisplay", !defaults.value("hostsDisplay", false)},
                         {"includeFiltersArray", json::array({{{"Name", "all"}, {"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"}, {"Severity", "*"}, {"Message", "*"}}})},
                         {"aNewKey", "kept as given"}};
    writeFile(dir.file("change.json"), change.dump());

    // The daemon merges with its own file.
    const auto merged = ctl("save --merge " + dir.file("change.json"));
    EXPECT_EQ(merged.exit, 0) << merged.out;
    json expected = defaults;
    expected.update(change);
    EXPECT_EQ(json::parse(readFile(dir.file("Brantwell.ini"))), expected);

    const auto replaced = ctl("save " + dir.file("change.json"));
    EXPECT_EQ(replaced.exit, 0) << replaced.out;
    EXPECT_TRUE(contains(replaced.out, "--merge")) << "plain save says what it does: " << replaced.out;
    EXPECT_EQ(json::parse(readFile(dir.file("Brantwell.ini"))), change);
    EXPECT_EQ(ctl("get").out, readFile(dir.file("Brantwell.ini")));
}

// What the export threads last failed at is the daemon's to tell: status
// prints it; the daemon still receives, so the exit status stays 0.
TEST_F(CtlTest, StatusPrintsWhatTheExportsLastFailedAt)
{
    // Both exports are due at start.
    const std::string database = dir.file("no-such-directory/events.db");
    writeFile(dir.file("Brantwell.ini"), json({{"textInterval", 1}, {"textLocation", ""},
                                               {"databaseInterval", 1}, {"databaseLocation", database}}).dump());
    startDaemon();
    const std::string text = "Text export problem: textInterval is set but textLocation is empty: no text export\n";
    const std::string db = "Database export problem: cannot export to the database " + database + ": ";
    CtlResult failing;
    ASSERT_TRUE(waitUntil([&] {
        failing = ctl("status");
        return contains(failing.out, text) && contains(failing.out, db);
    })) << failing.out;
    EXPECT_EQ(failing.exit, 0) << failing.out;
    EXPECT_FALSE(contains(failing.out, "Mail problem:")) << failing.out;
}

// A daemon that runs but cannot receive is not well: rsyslog on the UDP
// port, or another program on the TCP port the settings name.
TEST_F(CtlTest, StatusExitsOneAndNamesThePortAnotherSocketHolds)
{
    const int udpHolder = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int tcpHolder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const std::uint16_t tcpPort = freeLoopbackPort(SOCK_STREAM);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ASSERT_EQ(::bind(udpHolder, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    sa.sin_port = htons(tcpPort);
    ASSERT_EQ(::bind(tcpHolder, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(tcpHolder, 1), 0);
    startDaemon();
    writeFile(dir.file("tcp.json"), json({{"receptionTcpPort", tcpPort}}).dump());
    ASSERT_EQ(ctl("save --merge " + dir.file("tcp.json")).exit, 0);

    const std::string udpHeld = "UDP reception: not receiving: UDP port " + std::to_string(port)
                                + " is held by another program (Address already in use)\n";
    const std::string tcpHeld = "TCP reception: not receiving: TCP port " + std::to_string(tcpPort)
                                + " is held by another program (Address already in use)\n";
    CtlResult held;
    ASSERT_TRUE(waitUntil([&] { return contains((held = ctl("status")).out, tcpHeld); })) << held.out;
    EXPECT_EQ(held.exit, 1) << held.out;
    EXPECT_TRUE(contains(held.out, "running and answering")) << held.out;
    EXPECT_TRUE(contains(held.out, udpHeld)) << held.out;
    EXPECT_TRUE(contains(held.out, "TLS reception: off\n")) << held.out;

    // Once the holders let go, the daemon takes the ports and all is well.
    ::close(udpHolder);
    ::close(tcpHolder);
    CtlResult freed;
    EXPECT_TRUE(waitUntil([&] { return (freed = ctl("status")).exit == 0; }, std::chrono::seconds(15))) << freed.out;
    EXPECT_TRUE(contains(freed.out, "UDP reception: receiving on port " + std::to_string(port) + "\n")) << freed.out;
    EXPECT_TRUE(contains(freed.out, "TCP reception: receiving on port " + std::to_string(tcpPort) + "\n")) << freed.out;
    UdpSender().send(port, "<14>received at last");
    EXPECT_TRUE(waitForLines(1));
}

TEST_F(CtlTest, StatsCountCutDatagramsAndTextThatWasNotUtf8)
{
    startDaemon();
    UdpSender sender;
    sender.send(port, "<14>" + std::string(1500, 'c'));
    sender.send(port, "<14>latin-1 \xE9t\xE9");
    sender.send(port, "<14>UTF-8 été");
    ASSERT_TRUE(waitForLines(3));
    const auto stats = ctl("stats");
    EXPECT_EQ(stats.exit, 0) << stats.out;
    EXPECT_TRUE(contains(stats.out, "datagramsCut 1\n")) << stats.out;
    EXPECT_TRUE(contains(stats.out, "datagramsInvalidUtf8 1\n")) << stats.out;
    EXPECT_TRUE(contains(stats.out, "tcpFramesInvalidUtf8 0\n")) << stats.out;
    const std::string stored = readFile(dayFile(std::time(nullptr)));
    EXPECT_TRUE(contains(stored, ",latin-1 \xEF\xBF\xBDt\xEF\xBF\xBD\n")) << stored;
    EXPECT_TRUE(contains(stored, ",UTF-8 été\n")) << stored;
}
