// The command channel and the event signal over a private bus, with the
// real BrantwellSrv and brantwellctl binaries.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>
#include <gtest/gtest.h>

#include "BusNames.h"
#include "testkit/CtlProcess.h"
#include "testkit/DaemonProcess.h"
#include "testkit/PrivateMounts.h"
#include "EventRecord.h"
#include "testkit/TestBus.h"
#include "testkit/TestSupport.h"
#include "testkit/UdpTestClient.h"

using namespace brantwell::test;
using nlohmann::json;
using namespace std::string_literals;

namespace {

using brantwell::bus::kInterface;
using brantwell::bus::kObjectPath;
using brantwell::bus::kService;

// Runs brantwellctl through the shell; `prefix` may run it as another user.
CtlResult ctl(const std::string& args, const std::string& prefix = "")
{
    return runCtl(BRANTWELLCTL_PATH, args, prefix);
}

std::string shellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Listens to the event signal on the test bus and keeps what arrives.
class SignalRecorder {
public:
    using Event = std::map<std::string, std::string>;

    SignalRecorder()
    {
        proxy_->uponSignal(brantwell::bus::kEventSignal).onInterface(kInterface).call([this](const std::vector<Event>& events) {
            std::lock_guard lock(mutex_);
            received_.insert(received_.end(), events.begin(), events.end());
        });
        proxy_->finishRegistration();
        connection_->enterEventLoopAsync();
    }
    ~SignalRecorder() { connection_->leaveEventLoop(); }

    // Waits until at least `count` events have arrived (five seconds at most).
    std::vector<Event> waitFor(std::size_t count)
    {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard lock(mutex_);
                if (received_.size() >= count)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    std::unique_ptr<sdbus::IConnection> connection_ = sdbus::createSystemBusConnection();
    std::unique_ptr<sdbus::IProxy> proxy_ = sdbus::createProxy(*connection_, kService, kObjectPath);
    std::mutex mutex_;
    std::vector<Event> received_;
};

class ChannelTest : public ::testing::Test {
protected:
    TestBus bus;
    TempDir dir;
    std::uint16_t port = freeUdpPort();
    DaemonProcess daemon{BRANTWELL_SRV_PATH, {"--data-dir", dir.path(), "--port", std::to_string(port)},
                         dir.file("stderr.txt")};

    void SetUp() override
    {
        ASSERT_TRUE(bus.ready());
        ASSERT_TRUE(daemon.start());
        ASSERT_TRUE(daemon.waitForPort(port));
        // The name is owned once a call gets through.
        for (int i = 0; i < 300; ++i) {
            if (ctl("stats").exit == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FAIL() << "the daemon never answered on the bus";
    }

    std::string todaysFile() const { return dir.file(brantwell::eventLogFileName(std::time(nullptr))); }

    // setCommand with a raw text; the reply, or the D-Bus error name.
    std::string call(const std::string& text)
    {
        auto connection = sdbus::createSystemBusConnection();
        auto proxy = sdbus::createProxy(*connection, kService, kObjectPath);
        try {
            std::string reply;
            proxy->callMethod(brantwell::bus::kSetCommand).onInterface(kInterface).withArguments(text).storeResultsTo(reply);
            return reply;
        } catch (const sdbus::Error& e) {
            return e.getName();
        }
    }

    std::string waitForLines(std::size_t lines, int ms = 5000)
    {
        std::string contents;
        for (int i = 0; i < ms / 10; ++i) {
            contents = readFile(todaysFile());
            if (static_cast<std::size_t>(std::count(contents.begin(), contents.end(), '\n')) >= lines)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return contents;
    }
};

json filter(const char* severity, const char* message = "*")
{
    return {{"Name", "f"}, {"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"},
            {"Severity", severity}, {"Message", message}};
}

} // namespace

TEST_F(ChannelTest, SaveWritesExactlyTheDictionaryBeforeReplying)
{
    const json settings = {{"hostsDisplay", false}, {"unknownKey", {1, "two"}}, {"popupEvents", 5},
                           {"excludeFiltersArray", json::array({filter("Debug")})}};
    writeFile(dir.file("settings.json"), settings.dump());
    const auto r = ctl("save " + dir.file("settings.json"));
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "Received\n");
    // Read at once: the reply came after the file was replaced.
    EXPECT_EQ(json::parse(readFile(dir.file("Brantwell.ini"))), settings);
    EXPECT_EQ(fileMode(dir.file("Brantwell.ini")), 0640);
    EXPECT_EQ(ctl("get --data-dir " + dir.path()).out, readFile(dir.file("Brantwell.ini")));

    UdpSender sender;
    sender.send(port, "<15>debug, excluded");
    sender.send(port, "<14>info, kept");
    EXPECT_EQ(waitForLines(1).substr(10), ",User.Informational,127.0.0.1,info, kept\n");
}

TEST_F(ChannelTest, OddCommandsAreAnsweredAndChangeNothing)
{
    const std::string before = readFile(dir.file("Brantwell.ini"));
    const json sneaky = {{"hostsDisplay", true}};
    const std::pair<std::string, std::string> cases[] = {
        {json({{"command", "Save"}, {"Settings", sneaky}}).dump(), "Received"},
        {json({{"Settings", sneaky}}).dump(), "Received"},
        {json({{"command", 42}, {"Settings", sneaky}}).dump(), "Received"},
        {json({{"command", "save"}}).dump(), "Received"},
        {json({{"command", "update"}, {"Events", "not a dictionary"}}).dump(), "Received"},
        {json({{"command", "email"}}).dump(), "Received"},
        {"{\"command\": \"save\", \"Settings\": {", "org.freedesktop.DBus.Error.InvalidArgs"},
        {"[\"save\"]", "org.freedesktop.DBus.Error.InvalidArgs"},
        {"", "org.freedesktop.DBus.Error.InvalidArgs"},
    };
    for (const auto& [text, reply] : cases)
        EXPECT_EQ(call(text), reply) << text;
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), before);
    EXPECT_TRUE(daemon.running());
}

TEST_F(ChannelTest, CallersOutsideRootAndGroupAreRefused)
{
    const std::string before = readFile(dir.file("Brantwell.ini"));
    writeFile(dir.file("settings.json"), json({{"hostsDisplay", true}}).dump());
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.file("settings.json").c_str(), 0644);
    const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    EXPECT_EQ(ctl("save " + dir.file("settings.json"), nobody).exit, 3);
    EXPECT_EQ(ctl("delete x", nobody).exit, 3);
    EXPECT_EQ(ctl("stats", nobody).exit, 3);
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), before);
    EXPECT_EQ(ctl("save " + dir.file("settings.json")).exit, 0) << "root is let in";
}

TEST_F(ChannelTest, UpdateDeletesExactLinesAcrossFiles)
{
    const std::string a = "1700000000,User.Notice,10.0.0.1,same, line\n";
    const std::string b = "1700000001,User.Notice,10.0.0.1,once\n";
    const std::string c = "1700000002,User.Notice,10.0.0.1,other\n";
    writeFile(dir.file("2023-11-14.log"), a + a + c);
    writeFile(dir.file("2023-11-15.log"), b);
    writeFile(dir.file("2023-11-16.log"), c);
    struct stat untouched {};
    ::stat(dir.file("2023-11-16.log").c_str(), &untouched);

    const json events = {{a, "1"}, {b, 3}, {c.substr(0, c.size() - 1), "1"}};
    EXPECT_EQ(call(json({{"command", "update"}, {"Events", events}}).dump()), "Received");
    EXPECT_EQ(readFile(dir.file("2023-11-14.log")), a + c) << "the second copy stays";
    EXPECT_FALSE(exists(dir.file("2023-11-15.log"))) << "an emptied file is deleted";
    struct stat after {};
    ::stat(dir.file("2023-11-16.log").c_str(), &after);
    EXPECT_EQ(after.st_ino, untouched.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, untouched.st_mtim.tv_nsec);

    // brantwellctl counts a repeated line as two copies.
    const std::string cLine = shellQuote(c.substr(0, c.size() - 1));
    EXPECT_EQ(ctl("delete " + shellQuote(a.substr(0, a.size() - 1)) + " " + cLine + " " + cLine).exit, 0);
    EXPECT_FALSE(exists(dir.file("2023-11-14.log")));
    EXPECT_FALSE(exists(dir.file("2023-11-16.log"))) << "a line given twice deletes two copies";
}

TEST_F(ChannelTest, UpdateDuringABurstLosesNoArrivingLine)
{
    UdpSender sender;
    std::atomic<bool> sending{true};
    std::atomic<int> rounds{0};
    std::atomic<int> sent{0};
    constexpr int kDatagrams = 20000;
    // At least kDatagrams, and on until several updates have overlapped
    // the burst, however the threads are scheduled.
    std::thread burst([&] {
        for (int i = 0; (i < kDatagrams || rounds < 3) && i < 10 * kDatagrams; ++i) {
            sender.send(port, "<14>burst " + std::to_string(i));
            sent = i + 1;
            if (i % 500 == 499)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        sending = false;
    });
    // Delete a line that is not there, over and over: such a pass rewrites
    // nothing; every other pass also deletes the first stored line, so the
    // day's file really is rewritten while datagrams arrive.
    int deletions = 0;
    while (sending) {
        const std::string contents = readFile(todaysFile());
        const auto lf = contents.find('\n');
        json events = {{"no such line\n", "1"}};
        if (lf != std::string::npos && rounds % 2 == 0) {
            events[contents.substr(0, lf + 1)] = "1";
            ++deletions;
        }
        call(json({{"command", "update"}, {"Events", events}}).dump());
        ++rounds;
    }
    burst.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string contents = readFile(todaysFile());
    // Every datagram is still there unless it was one of the deleted lines.
    // One pass over the file: searching it once per datagram is quadratic
    // and takes minutes under a sanitizer.
    std::set<int> numbers;
    std::istringstream lines(contents);
    for (std::string line; std::getline(lines, line);)
        if (const auto at = line.rfind(",burst "); at != std::string::npos)
            numbers.insert(std::atoi(line.c_str() + at + 7));
    int present = 0;
    for (int i = 0; i < sent; ++i)
        present += numbers.count(i) != 0;
    EXPECT_LE(sent - present, deletions) << "rounds " << rounds;
    EXPECT_EQ(std::count(contents.begin(), contents.end(), '\n'), present);
    EXPECT_GE(rounds, 3);
}

TEST_F(ChannelTest, SubscribersReceiveEveryStoredEventInOrder)
{
    SignalRecorder recorder;
    ASSERT_EQ(call(json({{"command", "save"}, {"Settings", {{"excludeFiltersArray", json::array({filter("*", "*secret*")})}}}}).dump()),
              "Received");
    UdpSender sender("127.0.0.9");
    constexpr int kEvents = 300;
    for (int i = 0; i < kEvents; ++i) {
        sender.send(port, "<13>event " + std::to_string(i) + ", with a comma");
        if (i % 100 == 0)
            sender.send(port, "<13>a secret one");
    }
    const std::string contents = waitForLines(kEvents);
    const auto received = recorder.waitFor(kEvents);
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kEvents));
    std::string rebuilt;
    for (const auto& e : received) {
        EXPECT_EQ(e.size(), 5u);
        EXPECT_EQ(e.at("Type"), "Set");
        rebuilt += brantwell::formatEventLine({e.at("Date"), e.at("Priority"), e.at("Host"), e.at("Message")});
    }
    EXPECT_EQ(rebuilt, contents) << "the signal carries exactly the stored lines, in order";
}

TEST(ChannelWithoutBus, DaemonKeepsStoringAndSaysSoOnce)
{
    TempDir dir;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str(), 1);
    const std::uint16_t port = freeUdpPort();
    DaemonProcess daemon(BRANTWELL_SRV_PATH, {"--data-dir", dir.path(), "--port", std::to_string(port)},
                         dir.file("stderr.txt"));
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(daemon.waitForPort(port));
    UdpSender().send(port, "<14>stored without a bus");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    EXPECT_NE(readFile(dir.file(brantwell::eventLogFileName(std::time(nullptr)))).find(",stored without a bus\n"),
              std::string::npos);
    const std::string err = readFile(dir.file("stderr.txt"));
    std::size_t count = 0;
    for (auto pos = err.find("command channel down"); pos != std::string::npos; pos = err.find("command channel down", pos + 1))
        ++count;
    EXPECT_EQ(count, 1u) << err;
    EXPECT_EQ(ctl("stats").exit, 1) << "a clear failure when the daemon cannot be reached";
}

TEST(ChannelPolicy, ProjectPolicyFileKeepsOthersOut)
{
    TestBus bus(BRANTWELL_POLICY_FILE);
    ASSERT_TRUE(bus.ready());
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    const std::uint16_t port = freeUdpPort();
    DaemonProcess daemon(BRANTWELL_SRV_PATH, {"--data-dir", dir.path(), "--port", std::to_string(port)});
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(daemon.waitForPort(port));
    int rootExit = -1;
    for (int i = 0; i < 300 && rootExit != 0; ++i) {
        rootExit = ctl("stats").exit;
        if (rootExit != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(rootExit, 0) << "root owns the name and may call";
    EXPECT_EQ(ctl("stats", "setpriv --reuid=65534 --regid=65534 --clear-groups").exit, 3);
}

// Lines read back from files may hold bytes the bus refuses in a string
// (latin-1, NUL). Announcing their removal must neither cost the connection
// nor the events queued behind them.
TEST(ChannelSignalText, RemovedLinesWithBytesTheBusRefusesAreAnnouncedCleaned)
{
    TestBus bus;
    ASSERT_TRUE(bus.ready());
    TempDir dir;
    // Dated 1970: the default maximum age removes them at start.
    const std::string old = std::string("1000,User.Notice,10.0.0.1,caf\xE9 cr\xC3\xA8me\n") +
                            "1001,User.Notice,10.0.0.1,nul \0 inside\n"s +
                            "1002,User.Notice,10.0.0.1,plain\n";
    writeFile(dir.file("2020-01-01.log"), old);

    SignalRecorder recorder;
    const std::uint16_t port = freeUdpPort();
    DaemonProcess daemon(BRANTWELL_SRV_PATH, {"--data-dir", dir.path(), "--port", std::to_string(port)},
                         dir.file("stderr.txt"));
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(daemon.waitForPort(port));
    recorder.waitFor(3);
    UdpSender().send(port, "<14>after the odd bytes");
    const auto received = recorder.waitFor(4);

    ASSERT_EQ(received.size(), 4u) << readFile(dir.file("stderr.txt"));
    EXPECT_EQ(received[0].at("Type"), "Remove");
    EXPECT_EQ(received[0].at("Message"), "caf\xEF\xBF\xBD cr\xC3\xA8me") << "valid UTF-8 is kept, the rest replaced";
    EXPECT_EQ(received[1].at("Message"), "nul \xEF\xBF\xBD inside");
    EXPECT_EQ(received[2].at("Message"), "plain");
    EXPECT_EQ(received[3].at("Type"), "Set");
    EXPECT_EQ(received[3].at("Message"), "after the odd bytes");
    EXPECT_EQ(readFile(dir.file("stderr.txt")).find("command channel down"), std::string::npos);
}

// Copying, printing or freeing a value nested 100,000 deep overflows the
// stack: such a command is refused before anything touches it.
TEST_F(ChannelTest, DeeplyNestedCommandsAreRefusedAndTheDaemonLives)
{
    const std::string before = readFile(dir.file("Brantwell.ini"));
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(call(deep), "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(call(R"({"command": "save", "Settings": {"a": )" + deep + "}}"),
              "org.freedesktop.DBus.Error.InvalidArgs");
    writeFile(dir.file("deep.json"), "{\"a\": " + deep + "}");
    EXPECT_EQ(ctl("save " + dir.file("deep.json")).exit, 2) << "brantwellctl refuses to send it";
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), before);
    EXPECT_TRUE(daemon.running());
    EXPECT_EQ(call(json({{"command", "save"}, {"Settings", {{"hostsDisplay", false}}}}).dump()), "Received");
}

namespace {

// setCommand with a raw text: the reply, or "name: message" of the error.
std::string callForAnswer(const std::string& text)
{
    auto connection = sdbus::createSystemBusConnection();
    auto proxy = sdbus::createProxy(*connection, kService, kObjectPath);
    try {
        std::string reply;
        proxy->callMethod(brantwell::bus::kSetCommand).onInterface(kInterface).withArguments(text).storeResultsTo(reply);
        return reply;
    } catch (const sdbus::Error& e) {
        return e.getName() + ": " + e.getMessage();
    }
}

} // namespace

// On a full disk an update cannot rewrite its file and a save cannot write
// the settings: the caller is told so, by name, instead of "Received".
TEST(ChannelOnAFullDisk, UpdateAndSaveAnswerWithWhatFailed)
{
    TempDir dir, logs;
    PrivateMounts mounts;
    if (!mounts.ok())
        GTEST_SKIP() << mounts.why();
    ASSERT_TRUE(mounts.mountTmpfs(dir.path(), 64 * 1024)) << mounts.why();
    TestBus bus;
    ASSERT_TRUE(bus.ready());
    // Dated now: the removal at start leaves them.
    const std::string now = std::to_string(std::time(nullptr));
    const std::string victim = now + ",User.Notice,10.0.0.1,delete me\n";
    std::string day = victim;
    for (int i = 0; day.size() < 24 * 1024; ++i)
        day += now + ",User.Notice,10.0.0.1,filler " + std::to_string(i) + "\n";
    const std::string dayFile = dir.file(brantwell::eventLogFileName(std::time(nullptr)));
    writeFile(dayFile, day);

    const std::uint16_t port = freeUdpPort();
    DaemonProcess daemon(BRANTWELL_SRV_PATH, {"--data-dir", dir.path(), "--port", std::to_string(port)},
                         logs.file("stderr.txt"));
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(daemon.waitForPort(port));
    for (int i = 0; i < 300 && ctl("stats").exit != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string settingsBefore = readFile(dir.file("Brantwell.ini"));
    writeFile(dir.file("filler"), std::string(64 * 1024, 'f'));  // the disk is full now

    const std::string update = json({{"command", "update"}, {"Events", {{victim, "1"}}}}).dump();
    const std::string answer = callForAnswer(update);
    EXPECT_EQ(answer.rfind("org.freedesktop.DBus.Error.Failed: ", 0), 0u) << answer;
    EXPECT_NE(answer.find(dayFile + ": No space left on device"), std::string::npos) << answer;
    EXPECT_EQ(ctl("delete " + shellQuote(victim.substr(0, victim.size() - 1))).exit, 1);
    EXPECT_TRUE(readFile(dayFile) == day) << "nothing lost, nothing half-written";

    const json settings = {{"popupSound", std::string(8192, 's')}};
    const std::string saved = callForAnswer(json({{"command", "save"}, {"Settings", settings}}).dump());
    EXPECT_EQ(saved.rfind("org.freedesktop.DBus.Error.Failed: ", 0), 0u) << saved;
    EXPECT_NE(saved.find("cannot write " + dir.file("Brantwell.ini") + ": No space left on device"),
              std::string::npos) << saved;
    writeFile(logs.file("settings.json"), settings.dump());
    EXPECT_EQ(ctl("save " + logs.file("settings.json")).exit, 1);
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), settingsBefore);
    EXPECT_TRUE(daemon.running());

    ::unlink(dir.file("filler").c_str());
    EXPECT_EQ(callForAnswer(update), "Received");
    EXPECT_TRUE(readFile(dayFile) == day.substr(victim.size()));
}
