// The command channel and the event signal over a private bus, with the
// real BrantwellSrv and brantwellctl binaries.
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>
#include <gtest/gtest.h>

#include "BusNames.h"
#include "testkit/CtlProcess.h"
#include "testkit/DaemonOnBus.h"
#include "testkit/DaemonProcess.h"
#include "testkit/PrivateMounts.h"
#include "testkit/EventSubscriber.h"
#include "EventRecord.h"
#include "testkit/TcpTestClient.h"
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

// The daemon's counters, as brantwellctl stats prints them.
std::map<std::string, std::uint64_t> counters()
{
    std::map<std::string, std::uint64_t> values;
    std::istringstream lines(ctl("stats").out);
    std::string name;
    std::uint64_t value = 0;
    while (lines >> name >> value)
        values[name] = value;
    return values;
}

// `brantwellctl watch` in the background, `prefix` may run it as another
// user; what it prints goes to `output`.
std::unique_ptr<DaemonProcess> watch(const std::string& output, const std::string& prefix = "")
{
    auto process = std::make_unique<DaemonProcess>(
        "/bin/sh", std::vector<std::string>{"-c", "exec " + prefix + " " BRANTWELLCTL_PATH " watch >" + output + " 2>&1"});
    process->start();
    return process;
}

class ChannelTest : public DaemonOnBus {
protected:
    using DaemonOnBus::DaemonOnBus;

    std::string todaysFile() const { return dir.file(brantwell::eventLogFileName(std::time(nullptr))); }

    // setCommand with a raw text; the reply, or the D-Bus error name.
    static std::string call(const std::string& text)
    {
        const auto answer = setCommand(text);
        return answer.error.empty() ? answer.reply : answer.error;
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

// Each command the daemon cannot take as meant is answered with a named
// error that says what was wrong, and changes nothing.
TEST_F(ChannelTest, MalformedCommandsGetNamedErrorsAndChangeNothing)
{
    const std::string line = "1700000000,User.Notice,10.0.0.1,kept\n";
    writeFile(dir.file("2023-11-14.log"), line);
    const std::string before = readFile(dir.file("Brantwell.ini"));
    const json sneaky = {{"hostsDisplay", true}};
    const std::string invalid = "org.freedesktop.DBus.Error.InvalidArgs";
    const struct {
        std::string text, error, says;
    } cases[] = {
        {json({{"command", "sav"}, {"Settings", sneaky}}).dump(), invalid, "unknown command \"sav\""},
        {json({{"command", "Save"}, {"Settings", sneaky}}).dump(), invalid, "unknown command \"Save\""},
        {json({{"Settings", sneaky}}).dump(), invalid, "no \"command\""},
        {json({{"command", 42}, {"Settings", sneaky}}).dump(), invalid, "no \"command\""},
        {json({{"command", "save"}}).dump(), invalid, "\"save\" needs \"Settings\", a dictionary"},
        {json({{"command", "save"}, {"Settings", json::array({sneaky})}}).dump(), invalid, "needs \"Settings\""},
        {json({{"command", "merge"}}).dump(), invalid, "\"merge\" needs \"Settings\", a dictionary"},
        {json({{"command", "merge"}, {"Settings", "hostsDisplay"}}).dump(), invalid, "needs \"Settings\""},
        {json({{"command", "update"}, {"Events", "not a dictionary"}}).dump(), invalid, "needs \"Events\""},
        {json({{"command", "update"}, {"Events", json::array({line})}}).dump(), invalid, "needs \"Events\""},
        {json({{"command", "update"}}).dump(), invalid, "needs \"Events\""},
        {json({{"command", "update"}, {"Events", json::object()}}).dump(), invalid, "names no line"},
        {json({{"command", "save"}, {"Settings", {{"hostsDisplay", true}, {"big", std::string(1100000, 'b')}}}}).dump(),
         invalid, "at most 1048576"},
        {json({{"command", "merge"}, {"Settings", {{"big", std::string(1100000, 'b')}}}}).dump(), invalid,
         "at most 1048576"},
        {json({{"command", "email"}}).dump(), brantwell::bus::kMailNotSent, ""},
        {"{\"command\": \"save\", \"Settings\": {", invalid, "not a JSON object"},
        {"[\"save\"]", invalid, "not a JSON object"},
        {"", invalid, "not a JSON object"},
    };
    for (const auto& c : cases) {
        const auto answer = setCommand(c.text);
        EXPECT_EQ(answer.error, c.error) << c.text.substr(0, 200);
        EXPECT_NE(answer.message.find(c.says), std::string::npos) << answer.message;
    }
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), before);
    EXPECT_EQ(readFile(dir.file("2023-11-14.log")), line);
    EXPECT_TRUE(daemon.running());
    // Nor did any of them reach the settings in force: no names are looked up.
    UdpSender().send(port, "<14>after them");
    EXPECT_EQ(waitForLines(1).substr(10), ",User.Informational,127.0.0.1,after them\n");
}

// The daemon's own check of its callers: on a stock bus the policy file
// turns outsiders away before the daemon sees them, so this bus also has a
// mistaken local policy that lets the user nobody call the daemon.
class ChannelBehindALooseLocalPolicy : public ChannelTest {
protected:
    ChannelBehindALooseLocalPolicy() : ChannelTest(TestBus::Policy::StockWithLocalOpening) {}
};

TEST_F(ChannelBehindALooseLocalPolicy, CallersOutsideRootAndGroupAreRefused)
{
    const std::string before = readFile(dir.file("Brantwell.ini"));
    writeFile(dir.file("settings.json"), json({{"hostsDisplay", true}}).dump());
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.file("settings.json").c_str(), 0644);
    const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    // Refused by the daemon itself (its message), not by the bus.
    for (const char* command : {"save SETTINGS", "delete x", "stats"}) {
        std::string args = command;
        if (args == "save SETTINGS")
            args = "save " + dir.file("settings.json");
        const auto refused = runCtl(BRANTWELLCTL_PATH, args, nobody, /*withStderr=*/true);
        EXPECT_EQ(refused.exit, 3) << args;
        EXPECT_NE(refused.out.find("only root and members of group brantwell"), std::string::npos)
            << args << ": " << refused.out;
    }
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
            // Past the burst, slower: a slow daemon (a sanitizer build)
            // still gets its updates in before the sender gives up.
            if (i % (i < kDatagrams ? 500 : 20) == 19)
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
    // Every line the daemon stored is still there unless it was deleted;
    // datagrams the kernel dropped before the daemon read them (a slow
    // build) are not the update's doing.
    const auto stored = static_cast<int>(counters()["eventsStored"]);
    EXPECT_LE(stored - present, deletions) << "rounds " << rounds << ", sent " << sent;
    EXPECT_GE(stored, present);
    EXPECT_EQ(std::count(contents.begin(), contents.end(), '\n'), present);
    EXPECT_GE(rounds, 3);
}

TEST_F(ChannelTest, SubscribersReceiveEveryStoredEventInOrder)
{
    EventSubscriber recorder;
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
    TestBus bus;
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

TEST_F(ChannelTest, WatchSubscribesAgainWhenTheDaemonRestarts)
{
    auto watcher = watch(dir.file("watch.txt"));
    ASSERT_TRUE(waitUntil([&] { return counters()["subscribers"] == 1; }));
    daemon.stop();
    EXPECT_TRUE(waitUntil([&] { return readFile(dir.file("watch.txt")).find("left the bus") != std::string::npos; }))
        << readFile(dir.file("watch.txt"));
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(daemon.waitForPort(port));
    ASSERT_TRUE(waitUntil([&] { return counters()["subscribers"] == 1; })) << readFile(dir.file("watch.txt"));

    UdpSender sender;
    sender.send(port, "<14>after the restart");
    EXPECT_TRUE(waitUntil([&] {
        return readFile(dir.file("watch.txt")).find(",127.0.0.1,after the restart\n") != std::string::npos;
    })) << readFile(dir.file("watch.txt"));
    EXPECT_TRUE(watcher->running()) << "watch outlives the daemon's restart";
}

TEST_F(ChannelTest, OnlySubscribersGetEventsAndOneThatLeftIsForgotten)
{
    EventSubscriber listener(/*subscribe=*/false);  // match rules only
    EventSubscriber subscriber;
    EventSubscriber leaving;
    auto watcher = watch(dir.file("watch.txt"));
    ASSERT_TRUE(waitUntil([&] { return counters()["subscribers"] == 3; }));

    UdpSender sender;
    sender.send(port, "<14>first, with a comma and \xc3\xbcn\xc3\xaf" "code");
    ASSERT_EQ(subscriber.waitFor(1).size(), 1u);
    ASSERT_EQ(leaving.waitFor(1).size(), 1u);
    // watch prints the event as the store holds it, after its type.
    std::string stored;
    waitUntil([&] {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            if (entry.path().extension() == ".log")
                stored = readFile(entry.path().string());
        return !stored.empty();
    });
    ASSERT_NE(stored, "");
    EXPECT_TRUE(waitUntil([&] { return readFile(dir.file("watch.txt")).find("\nSet " + stored) != std::string::npos; }))
        << readFile(dir.file("watch.txt")) << "\nstored: " << stored;

    EXPECT_EQ(leaving.call(brantwell::bus::kUnsubscribe), "");
    watcher->stop();  // leaves the bus without a word
    ASSERT_TRUE(waitUntil([&] { return counters()["subscribers"] == 1; }));
    const auto before = counters();
    sender.send(port, "<14>second");
    const auto received = subscriber.waitFor(2);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].at("Message"), "second");
    const auto after = counters();
    EXPECT_EQ(after.at("eventSignalsSent"), before.at("eventSignalsSent") + 1) << "nothing sent to a departed name";
    EXPECT_EQ(after.at("signalledEvents"), before.at("signalledEvents") + 1);

    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(leaving.count(), 1u) << "nothing after Unsubscribe";
    EXPECT_EQ(listener.count(), 0u) << "a match rule alone receives nothing";
    // An outsider is turned away.
    EXPECT_EQ(ctl("watch", "setpriv --reuid=65534 --regid=65534 --clear-groups").exit, 3);
    EXPECT_EQ(counters()["subscribers"], 1u);
}

namespace {

// Runs this thread (and what it starts) with a group "brantwell" that
// lists the user nobody, as only it sees: /etc/group bound over in a mount
// namespace of its own. The daemon and the bus daemon both read members from
// the user database. Returns the group's id, or -1 when that cannot be done
// here.
long long privateBrantwellGroup(const std::string& scratch)
{
    std::string groups = readFile("/etc/group");
    long long gid = -1;
    if (const group* existing = ::getgrnam("brantwell")) {
        gid = existing->gr_gid;
        std::string out;
        std::istringstream lines(groups);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("brantwell:", 0) == 0)
                line += line.back() == ':' ? "nobody" : ",nobody";
            out += line + "\n";
        }
        groups = out;
    } else {
        gid_t free = 4711;
        while (::getgrgid(free))
            ++free;
        gid = free;
        groups += "brantwell:x:" + std::to_string(gid) + ":nobody\n";
    }
    writeFile(scratch, groups);
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount(scratch.c_str(), "/etc/group", nullptr, MS_BIND, nullptr) != 0)
        return -1;
    return gid;
}

} // namespace

TEST(ChannelPolicy, GroupMembersSubscribeOthersNeitherSubscribeNorReceive)
{
    TempDir scratch;
    const long long gid = privateBrantwellGroup(scratch.file("group"));
    if (gid < 0)
        GTEST_SKIP() << "no mount namespace for a private group file here";
    TestBus bus;
    ASSERT_TRUE(bus.ready());
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);  // the watchers write their output here
    const std::uint16_t port = freeUdpPort();
    DaemonProcess daemon(BRANTWELL_SRV_PATH, {"--data-dir", dir.path() + "/data", "--port", std::to_string(port)});
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(daemon.waitForPort(port));
    ASSERT_TRUE(waitUntil([] { return ctl("stats").exit == 0; }));

    // A member as after a new login: listed in the group and carrying it
    // (the bus daemon goes by the groups a process carries, BrantwellSrv by
    // the user database).
    const std::string member = "setpriv --reuid=65534 --regid=65534 --groups=" + std::to_string(gid);
    const std::string outsider = "setpriv --reuid=1 --regid=1 --clear-groups";
    auto memberWatch = watch(dir.file("member.txt"), member);
    EXPECT_EQ(ctl("watch", outsider).exit, 3) << "an outsider cannot subscribe";
    // An outsider that asks the bus for the daemon's signals by a match rule.
    DaemonProcess monitor("/bin/sh", {"-c", "exec " + outsider + " dbus-monitor --system \"type='signal',interface='" +
                                                std::string(kInterface) + "'\" >" + dir.file("monitor.txt") + " 2>&1"});
    ASSERT_TRUE(monitor.start());
    ASSERT_TRUE(waitUntil([&] { return counters()["subscribers"] == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the monitor's rules in place

    UdpSender().send(port, "<14>password hunter2 typed as a user name");
    EXPECT_TRUE(waitUntil([&] { return readFile(dir.file("member.txt")).find("hunter2") != std::string::npos; }))
        << readFile(dir.file("member.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    memberWatch->stop();
    monitor.stop();
    EXPECT_EQ(readFile(dir.file("monitor.txt")).find("hunter2"), std::string::npos) << readFile(dir.file("monitor.txt"));
    ::umount2("/etc/group", MNT_DETACH);
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
    const std::string answer = setCommand(update).text();
    EXPECT_EQ(answer.rfind("org.freedesktop.DBus.Error.Failed: ", 0), 0u) << answer;
    EXPECT_NE(answer.find(dayFile + ": No space left on device"), std::string::npos) << answer;
    EXPECT_EQ(ctl("delete " + shellQuote(victim.substr(0, victim.size() - 1))).exit, 1);
    EXPECT_TRUE(readFile(dayFile) == day) << "nothing lost, nothing half-written";

    const json settings = {{"popupSound", std::string(8192, 's')}};
    const std::string saved = setCommand(json({{"command", "save"}, {"Settings", settings}}).dump()).text();
    EXPECT_EQ(saved.rfind("org.freedesktop.DBus.Error.Failed: ", 0), 0u) << saved;
    EXPECT_NE(saved.find("cannot write " + dir.file("Brantwell.ini") + ": No space left on device"),
              std::string::npos) << saved;
    writeFile(logs.file("settings.json"), settings.dump());
    EXPECT_EQ(ctl("save " + logs.file("settings.json")).exit, 1);
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), settingsBefore);
    EXPECT_TRUE(daemon.running());

    ::unlink(dir.file("filler").c_str());
    EXPECT_EQ(setCommand(update).text(), "Received");
    EXPECT_TRUE(readFile(dayFile) == day.substr(victim.size()));
}

TEST_F(ChannelTest, SaveMergeTurnsTcpReceptionOnAndStatsCountPerTransport)
{
    const std::uint16_t tcpPort = freeTcpPort();
    writeFile(dir.file("reception.json"), json{{"receptionTcpPort", tcpPort}}.dump());
    ASSERT_EQ(ctl("save --merge " + dir.file("reception.json")).exit, 0);
    ASSERT_TRUE(waitUntil([&] { return tcpListening(tcpPort); }));
    {
        TcpClient c(tcpPort);
        ASSERT_TRUE(c.sendAll("<13>over TCP\n<13>" + std::string(2000, 'x') + "\n"));
    }
    const std::string lines = waitForLines(2);
    EXPECT_NE(lines.find(",User.Notice,127.0.0.1,over TCP\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find(",User.Notice,127.0.0.1," + std::string(1024, 'x') + "\n"), std::string::npos);
    ASSERT_TRUE(waitUntil([&] { return counters()["tcpConnectionsOpen"] == 0; }));
    auto c = counters();
    EXPECT_EQ(c["tcpConnectionsAccepted"], 1u);
    EXPECT_EQ(c["tcpFramesReceived"], 2u);
    EXPECT_EQ(c["tcpFramesCut"], 1u);
    EXPECT_EQ(c["tlsConnectionsAccepted"], 0u);
    EXPECT_EQ(c["eventsStored"], 2u);

    // A key others may read keeps TLS off, and standard error names it.
    const std::uint16_t tlsPort = freeTcpPort();
    writeFile(dir.file("server.key"), "not a key", 0644);
    writeFile(dir.file("server.pem"), "not a certificate", 0600);
    writeFile(dir.file("tls.json"), json{{"receptionTlsPort", tlsPort},
                                         {"receptionTlsCertificate", dir.file("server.pem")},
                                         {"receptionTlsKey", dir.file("server.key")}}.dump());
    ASSERT_EQ(ctl("save --merge " + dir.file("tls.json")).exit, 0);
    ASSERT_TRUE(waitUntil([&] { return readFile(dir.file("stderr.txt")).find("TLS reception stays off") != std::string::npos; }));
    EXPECT_NE(readFile(dir.file("stderr.txt")).find(dir.file("server.key") + " may be read or written by others"),
              std::string::npos) << readFile(dir.file("stderr.txt"));
    EXPECT_FALSE(tcpListening(tlsPort));
    EXPECT_TRUE(tcpListening(tcpPort));  // the TCP receiver goes on
}

// An event the store could not append is not announced: subscribers (and
// so popups, the list and actions) see only stored events.
TEST_F(ChannelTest, AFailedAppendAnnouncesNoSet)
{
    EventSubscriber subscriber;
    ASSERT_TRUE(waitUntil([&] { return counters()["subscribers"] == 1; }));
    // The day's file replaced by a link: the store refuses to follow it.
    writeFile(dir.file("elsewhere.txt"), "");
    std::filesystem::remove(todaysFile());
    ASSERT_EQ(::symlink(dir.file("elsewhere.txt").c_str(), todaysFile().c_str()), 0);
    UdpSender sender;
    sender.send(port, "<14>never stored, first");
    sender.send(port, "<14>never stored, second");
    ASSERT_TRUE(waitUntil([&] { return counters()["eventsUnstored"] == 2; })) << "the appends failed";

    std::filesystem::remove(todaysFile());
    sender.send(port, "<14>stored");
    ASSERT_EQ(waitForLines(1).substr(10), ",User.Informational,127.0.0.1,stored\n");
    const auto received = subscriber.waitFor(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(subscriber.count(), 1u) << "only the stored event is announced";
    EXPECT_EQ(received[0].at("Message"), "stored");
    EXPECT_EQ(readFile(dir.file("elsewhere.txt")), "");
}

// A save replaces the settings in force with exactly what it writes, laid
// over the defaults as a start would: nothing of an earlier save stays.
TEST_F(ChannelTest, TwoSavesLeaveTheDaemonRunningTheSecondFile)
{
    const std::uint16_t tcpPort = freeTcpPort();
    ASSERT_EQ(call(json({{"command", "save"}, {"Settings", {{"receptionTcpPort", tcpPort}}}}).dump()), "Received");
    ASSERT_TRUE(waitUntil([&] { return tcpListening(tcpPort); }));
    ASSERT_EQ(call(json({{"command", "save"}, {"Settings", {{"hostsDisplay", false}}}}).dump()), "Received");
    EXPECT_EQ(json::parse(readFile(dir.file("Brantwell.ini"))), json({{"hostsDisplay", false}}));
    EXPECT_TRUE(waitUntil([&] { return !tcpListening(tcpPort); })) << "the first save's TCP listener is closed";
    EXPECT_EQ(counters()["tcpConnectionsOpen"], 0u);
}

// Writers of different keys at the same moment (the window's editors and
// brantwellctl save --merge) keep each other's keys.
TEST_F(ChannelTest, ConcurrentMergesOfDifferentKeysKeepEveryKey)
{
    constexpr int kPairs = 50;
    std::atomic<int> failures{0};
    const auto writer = [&](const std::string& prefix) {
        for (int i = 0; i < kPairs; ++i)
            if (call(json({{"command", "merge"}, {"Settings", {{prefix + std::to_string(i), i}}}}).dump()) != "Received")
                ++failures;
    };
    std::thread left(writer, "left"), right(writer, "right");
    left.join();
    right.join();
    EXPECT_EQ(failures, 0);
    const json file = json::parse(readFile(dir.file("Brantwell.ini")));
    for (int i = 0; i < kPairs; ++i)
        for (const char* prefix : {"left", "right"})
            EXPECT_EQ(file.value(prefix + std::to_string(i), -1), i) << prefix << i;
    EXPECT_TRUE(file.contains("hostsDisplay")) << "the keys that were there stay";
}
