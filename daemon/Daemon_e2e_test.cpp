// The real BrantwellSrv binary on a temporary data directory and a free port.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include "testkit/DaemonProcess.h"
#include "testkit/RsyslogRelay.h"
#include "testkit/TcpTestClient.h"
#include "EventRecord.h"
#include "SettingsKeys.h"
#include "testkit/TestSupport.h"
#include "testkit/UdpTestClient.h"

using namespace brantwell::test;
using nlohmann::json;

namespace {

struct RunningDaemon {
    std::uint16_t port = freeUdpPort();
    DaemonProcess process;
    explicit RunningDaemon(const std::string& dataDir, const std::string& stderrPath = {})
        : process(BRANTWELL_SRV_PATH, {"--data-dir", dataDir, "--port", std::to_string(port)}, stderrPath)
    {
        // These tests need no bus; they must never reach the machine's own.
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/brantwell-test-no-bus", 1);
        EXPECT_TRUE(process.start());
        EXPECT_TRUE(process.waitForPort(port));
    }
};

std::string todaysFile(const TempDir& dir)
{
    return dir.file(brantwell::eventLogFileName(std::time(nullptr)));
}

// Waits until `path` holds `lines` lines (or gives up after a few seconds).
std::string waitForLines(const std::string& path, std::size_t lines, int ms = 5000)
{
    std::string contents;
    for (int i = 0; i < ms / 10; ++i) {
        contents = readFile(path);
        if (static_cast<std::size_t>(std::count(contents.begin(), contents.end(), '\n')) >= lines)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return contents;
}

// Waits until `path` holds `text` (or gives up after `ms`); the contents.
std::string waitForText(const std::string& path, const std::string& text, int ms = 5000)
{
    std::string contents;
    for (int i = 0; i < ms / 10; ++i) {
        contents = readFile(path);
        if (contents.find(text) != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return contents;
}

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

} // namespace

TEST(DaemonEndToEnd, FirstStartStoresDatagramsByteForByte)
{
    TempDir dir;
    const std::string data = dir.path() + "/data";
    RunningDaemon daemon(data);
    const auto before = std::time(nullptr);
    UdpSender from5("127.0.0.5");
    from5.send(daemon.port, "<34>Oct 11 22:14:15 mymachine su: 'su root' failed");
    from5.send(daemon.port, "<14>a,b,c\nsecond line\r\n");
    from5.send(daemon.port, "<14>Oct 11 22:14:15 ");
    const std::string contents = waitForLines(todaysFile(dir).replace(0, dir.path().size(), data), 3);
    const auto after = std::time(nullptr);

    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < contents.size();) {
        const auto lf = contents.find('\n', pos);
        lines.push_back(contents.substr(pos, lf + 1 - pos));
        pos = lf + 1;
    }
    ASSERT_EQ(lines.size(), 3u) << contents;
    const long long date = std::stoll(lines[0]);
    EXPECT_GE(date, before);
    EXPECT_LE(date, after + 1);
    const std::string d = std::to_string(date);
    EXPECT_EQ(lines[0], d + ",Security.Critical,127.0.0.5,mymachine su: 'su root' failed\n");
    EXPECT_EQ(lines[1].substr(d.size()), ",User.Informational,127.0.0.5,a,b,c second line\n");
    EXPECT_EQ(lines[2].substr(d.size()), ",User.Informational,127.0.0.5,\n");

    EXPECT_EQ(fileMode(data), 0750);
    EXPECT_EQ(fileMode(data + "/" + brantwell::eventLogFileName(date)), 0640);
    EXPECT_EQ(fileMode(data + "/Brantwell.ini"), 0640);
    const json settings = json::parse(readFile(data + "/Brantwell.ini"));
    EXPECT_EQ(settings.size(), 33u);
    EXPECT_EQ(settings, brantwell::defaultSettingsDictionary());
    EXPECT_EQ(daemon.process.stop(), 0) << "SIGTERM ends the daemon cleanly";
}

TEST(DaemonEndToEnd, RestartKeepsEventsAndAppliesStoredFilters)
{
    TempDir dir;
    {
        RunningDaemon first(dir.path());
        UdpSender("127.0.0.1").send(first.port, "<14>before restart");
        ASSERT_FALSE(waitForLines(todaysFile(dir), 1).empty());
    }
    const json settings = {
        {"includeFiltersArray",
         json::array({{{"Name", "lab"}, {"IP", "127.0.0.0"}, {"Mask", "24"}, {"Facility", "*"},
                       {"Severity", "*"}, {"Message", "*"}}})},
        {"excludeFiltersArray",
         json::array({{{"Name", "noise"}, {"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"},
                       {"Severity", "*"}, {"Message", "*noise*"}}})},
        {"customKey", "kept"}};
    const std::string settingsText = settings.dump(1);
    writeFile(dir.file("Brantwell.ini"), settingsText);

    RunningDaemon second(dir.path());
    UdpSender("127.0.1.1").send(second.port, "<14>outside the range");
    UdpSender("127.0.0.7").send(second.port, "<14>some noise here");
    UdpSender("127.0.0.7").send(second.port, "<14>after restart");
    const std::string contents = waitForLines(todaysFile(dir), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NE(contents.find(",User.Informational,127.0.0.1,before restart\n"), std::string::npos);
    EXPECT_NE(contents.find(",User.Informational,127.0.0.7,after restart\n"), std::string::npos);
    EXPECT_EQ(readFile(todaysFile(dir)).find("noise"), std::string::npos);
    EXPECT_EQ(readFile(todaysFile(dir)).find("outside"), std::string::npos);
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), settingsText) << "the file is not rewritten at start";
}

TEST(DaemonEndToEnd, UnusableFilterInTheFileIsNamedAndIgnoredAtStart)
{
    TempDir dir;
    TempDir logs;
    // An include filter with an address that is no address matched no
    // sender, so as the only include filter it dropped every event.
    const json settings = {
        {"includeFiltersArray",
         json::array({{{"Name", "typo"}, {"IP", "999.1.1.1"}, {"Mask", "24"}, {"Facility", "*"},
                       {"Severity", "*"}, {"Message", "*"}}})},
        {"excludeFiltersArray",
         json::array({{{"Name", "wide"}, {"IP", "0.0.0.0"}, {"Mask", "40"}, {"Facility", "*"},
                       {"Severity", "*"}, {"Message", "*"}},
                      {{"Name", "quiet"}, {"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"},
                       {"Severity", "*"}, {"Message", "*quiet*"}}})}};
    const std::string settingsText = settings.dump(1);
    writeFile(dir.file("Brantwell.ini"), settingsText);

    RunningDaemon daemon(dir.path(), logs.file("stderr.txt"));
    UdpSender("127.0.0.7").send(daemon.port, "<14>quiet please");
    UdpSender("127.0.0.7").send(daemon.port, "<14>stored although the filter is broken");
    const std::string contents = waitForLines(todaysFile(dir), 1);
    EXPECT_NE(contents.find(",User.Informational,127.0.0.7,stored although the filter is broken\n"), std::string::npos)
        << contents;
    EXPECT_EQ(readFile(todaysFile(dir)).find("quiet"), std::string::npos) << "the usable exclude filter still applies";
    const std::string said = readFile(logs.file("stderr.txt"));
    EXPECT_NE(said.find("ignoring filter includeFiltersArray[0] \"typo\": \"999.1.1.1\" is not an IPv4 address"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("ignoring filter excludeFiltersArray[0] \"wide\": mask \"40\" is not a prefix length"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find("quiet"), std::string::npos) << said;
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), settingsText) << "the records stay in the file";
}

TEST(DaemonEndToEnd, BurstWithMalformedDatagramsLosesNoValidEvent)
{
    TempDir dir;
    RunningDaemon daemon(dir.path());
    UdpSender sender("127.0.0.3");
    constexpr int kDatagrams = 40000;
    int valid = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kDatagrams; ++i) {
        std::string bytes;
        switch (i % 10) {
        case 3: bytes = std::string("\x00\x01\x02\x1f\x7f", 5); break;        // nothing but controls
        case 6: bytes = "<14>"; break;                                         // only a PRI
        case 8: bytes = "<14>oversized " + std::string(1500, 'y'); ++valid; break;  // cut, kept
        default:
            bytes = "<" + std::to_string(i % 200) + ">Dec  8 06:05:03 host app[1]: event " + std::to_string(i)
                    + std::string(static_cast<std::size_t>(i % 7) * 20, 'x');
            ++valid;
        }
        sender.send(daemon.port, bytes);
        if (i % 1000 == 999)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));  // let loopback drain
    }
    const std::string contents = waitForLines(todaysFile(dir), static_cast<std::size_t>(valid), 20000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(daemon.process.running());
    EXPECT_EQ(std::count(contents.begin(), contents.end(), '\n'), valid);
    for (int i : {0, 1, 9999, 39999})
        EXPECT_NE(contents.find(": event " + std::to_string(i) + (i % 7 ? "x" : "\n")), std::string::npos) << i;
    std::printf("burst: %d datagrams (%d valid) stored in %.2f s, %.0f datagrams/s\n", kDatagrams, valid,
                seconds, kDatagrams / seconds);
}

TEST(DaemonEndToEnd, OptionsAreCheckedAndExplained)
{
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"--help"}, 0}, {{"--port"}, 2}, {{"--port", "0"}, 2}, {{"--port", "70000"}, 2},
        {{"--port", "12ab"}, 2}, {{"--verbose"}, 2}, {{"--data-dir", ""}, 2}};
    for (const auto& [args, expected] : cases) {
        DaemonProcess p(BRANTWELL_SRV_PATH, args);
        ASSERT_TRUE(p.start());
        int status = -1;
        for (int i = 0; i < 300 && p.running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        status = p.stop();
        ASSERT_TRUE(WIFEXITED(status)) << args[0];
        EXPECT_EQ(WEXITSTATUS(status), expected) << args[0];
    }
}

TEST(DaemonHardening, SecondDaemonOnTheSameDirectoryRefusesToStart)
{
    TempDir dir, logs;
    RunningDaemon first(dir.path());
    DaemonProcess second(BRANTWELL_SRV_PATH, {"--data-dir", dir.path(), "--port", std::to_string(freeUdpPort())},
                         logs.file("stderr.txt"));
    ASSERT_TRUE(second.start());
    for (int i = 0; i < 500 && second.running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int status = second.stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(readFile(logs.file("stderr.txt"))
                  .find("another BrantwellSrv (process " + std::to_string(first.process.pid()) +
                        ") already uses the data directory " + dir.path()),
              std::string::npos)
        << readFile(logs.file("stderr.txt"));

    UdpSender("127.0.0.1").send(first.port, "<14>the first one goes on");
    EXPECT_NE(waitForLines(todaysFile(dir), 1).find(",the first one goes on\n"), std::string::npos);
}

TEST(DaemonHardening, LooseModesAreTightenedAtStartAndSaidOnce)
{
    TempDir dir, logs;
    const std::string settings = R"({"actionsEmailPassword": "secret"})";
    writeFile(dir.file("Brantwell.ini"), settings);
    const std::string day = todaysFile(dir);
    writeFile(day, std::to_string(std::time(nullptr)) + ",User.Notice,10.0.0.1,from before\n");
    ::chmod(dir.file("Brantwell.ini").c_str(), 0666);
    ::chmod(day.c_str(), 0666);
    ::chmod(dir.path().c_str(), 0777);
    {
        RunningDaemon daemon(dir.path(), logs.file("stderr.txt"));
        EXPECT_EQ(fileMode(dir.path()), 0750);
        EXPECT_EQ(fileMode(dir.file("Brantwell.ini")), 0640) << "the password is not left readable by others";
        EXPECT_EQ(fileMode(day), 0640);
        EXPECT_EQ(readFile(dir.file("Brantwell.ini")), settings);
    }
    RunningDaemon again(dir.path(), logs.file("stderr.txt"));
    again.process.stop();
    const std::string said = readFile(logs.file("stderr.txt"));
    EXPECT_EQ(occurrences(said, dir.path() + " had mode 0777; tightened to 0750"), 1u) << said;
    EXPECT_EQ(occurrences(said, dir.file("Brantwell.ini") + " had mode 0666; tightened to 0640"), 1u) << said;
    EXPECT_EQ(occurrences(said, day + " had mode 0666"), 1u) << said;
}

TEST(DaemonHardening, PlantedLinkIsNeitherFollowedNorWritten)
{
    TempDir dir, elsewhere, logs;
    const std::string target = elsewhere.file("shadow");
    writeFile(target, "root:x:0:0\n");
    ASSERT_EQ(::symlink(target.c_str(), todaysFile(dir).c_str()), 0);
    RunningDaemon daemon(dir.path(), logs.file("stderr.txt"));
    UdpSender("127.0.0.1").send(daemon.port, "<14>would land outside");
    const std::string said = waitForText(logs.file("stderr.txt"), "cannot append to " + todaysFile(dir));
    EXPECT_NE(said.find("cannot append to " + todaysFile(dir) + ": it is a symbolic link"), std::string::npos) << said;
    EXPECT_EQ(readFile(target), "root:x:0:0\n");
    EXPECT_TRUE(daemon.process.running());
}

TEST(DaemonHardening, SettingsFileNestedTooDeepIsSetAsideAtStart)
{
    TempDir dir, logs;
    const std::string deep = std::string(90000, '[') + std::string(90000, ']');
    writeFile(dir.file("Brantwell.ini"), deep);
    RunningDaemon daemon(dir.path(), logs.file("stderr.txt"));
    ASSERT_TRUE(daemon.process.running()) << "no crash at start";
    EXPECT_EQ(readFile(dir.file("Brantwell.ini.bad")), deep);
    EXPECT_EQ(json::parse(readFile(dir.file("Brantwell.ini"))), brantwell::defaultSettingsDictionary());
    UdpSender("127.0.0.1").send(daemon.port, "<14>stored after the reset");
    EXPECT_NE(waitForLines(todaysFile(dir), 1).find(",stored after the reset\n"), std::string::npos);
}

// Address reuse lets a second receiver bind a port that another syslog
// server holds, and the two would split the traffic without a word.
TEST(DaemonHardening, PortHeldByAnotherSocketIsSaidAndWaitedFor)
{
    TempDir dir, logs;
    const std::uint16_t port = freeUdpPort();
    const int holder = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);

    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/brantwell-test-no-bus", 1);
    DaemonProcess daemon(BRANTWELL_SRV_PATH, {"--data-dir", dir.path(), "--port", std::to_string(port)},
                         logs.file("stderr.txt"));
    ASSERT_TRUE(daemon.start());
    const std::string said = waitForText(logs.file("stderr.txt"), "cannot bind UDP port");
    EXPECT_NE(said.find("cannot bind UDP port " + std::to_string(port) + ": Address already in use"),
              std::string::npos) << said;
    UdpSender("127.0.0.1").send(port, "<14>for the holder");
    timeval wait{2, 0};
    ::setsockopt(holder, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char buffer[64] = {};
    EXPECT_GT(::recv(holder, buffer, sizeof buffer - 1, 0), 0) << "the holder keeps its traffic";
    EXPECT_STREQ(buffer, "<14>for the holder");

    ::close(holder);
    EXPECT_NE(waitForText(logs.file("stderr.txt"), "UDP port " + std::to_string(port) + " bound", 8000)
                  .find("UDP port " + std::to_string(port) + " bound"),
              std::string::npos);
    UdpSender("127.0.0.1").send(port, "<14>for the daemon now");
    EXPECT_NE(waitForLines(todaysFile(dir), 1).find(",for the daemon now\n"), std::string::npos);
    EXPECT_EQ(readFile(todaysFile(dir)).find("for the holder"), std::string::npos);
}

TEST(DaemonEndToEnd, ReceivesOverTcpOnceTheSettingsNameAPortAndOverUdpFromIpv6)
{
    TempDir dir;
    const std::uint16_t tcpPort = freeTcpPort();
    json settings = brantwell::defaultSettingsDictionary();
    settings["receptionTcpPort"] = tcpPort;
    writeFile(dir.file("Brantwell.ini"), settings.dump());
    RunningDaemon daemon(dir.path());
    ASSERT_TRUE(waitUntil([&] { return TcpClient(tcpPort).connected(); }));
    const std::string port = std::to_string(daemon.port);
    ASSERT_EQ(std::system(("logger --rfc3164 -T -n 127.0.0.1 -P " + std::to_string(tcpPort)
                           + " -t probe 'over TCP, framed by LF'").c_str()),
              0);
    ASSERT_EQ(std::system(("logger --rfc3164 -d -n ::1 -P " + port + " -t probe 'over UDP from ::1'").c_str()), 0);
    const std::string lines = waitForLines(todaysFile(dir), 2);
    EXPECT_NE(lines.find(",User.Notice,127.0.0.1,"), std::string::npos) << lines;
    EXPECT_NE(lines.find(" probe: over TCP, framed by LF\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find(",User.Notice,::1,"), std::string::npos) << lines;
    EXPECT_NE(lines.find(" probe: over UDP from ::1\n"), std::string::npos) << lines;
    EXPECT_EQ(daemon.process.stop(), 0);
}

namespace {

// The lines of a day file without their dates ("Priority,Host,Message"),
// sorted: senders over different transports arrive in any order.
std::vector<std::string> undatedLines(const std::string& contents)
{
    std::vector<std::string> out;
    for (std::size_t pos = 0; pos < contents.size();) {
        const auto lf = contents.find('\n', pos);
        const std::string line = contents.substr(pos, lf - pos);
        out.push_back(line.substr(line.find(',') + 1));
        pos = lf + 1;
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::size_t lineCount(const std::string& text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

int run(const std::string& command)
{
    return std::system(command.c_str());
}

} // namespace

// Real senders in their default formats, over UDP and TCP: what is stored is
// the text a reader expects, to the byte: RFC 5424 headers in the shape of
// RFC 3164, UTF-8 kept, no line end or NUL left over, every message of a
// NUL-framed stream, and an exclude filter that ends in a word works on text
// that came with a line end.
TEST(DaemonEndToEnd, StoresWhatRealSendersSendExactly)
{
    TempDir dir;
    const std::uint16_t tcpPort = freeTcpPort();
    json settings = brantwell::defaultSettingsDictionary();
    settings["receptionTcpPort"] = tcpPort;
    settings["excludeFiltersArray"] = json::array({{{"Name", "full"}, {"IP", "0.0.0.0"}, {"Mask", "0"},
                                                    {"Facility", "*"}, {"Severity", "*"}, {"Message", "*disk full"}}});
    writeFile(dir.file("Brantwell.ini"), settings.dump());
    RunningDaemon daemon(dir.path());
    ASSERT_TRUE(waitUntil([&] { return TcpClient(tcpPort).connected(); }));
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    const std::string host(name), udp = " -n 127.0.0.1 -P " + std::to_string(daemon.port),
                                  tcp = " -n 127.0.0.1 -P " + std::to_string(tcpPort);

    // Excluded, and sent first: had it been stored, it would be in the file
    // before the others are.
    ASSERT_EQ(run("logger -d" + udp + " -t iop 'sda: disk full'"), 0);
    ASSERT_EQ(run("logger -d" + udp + " -t iop 'UDP 5424: Grüße — 日本語 ✓ end'"), 0);
    ASSERT_EQ(run("logger -T" + tcp + " -t iop 'TCP 5424, one, line'"), 0);
    ASSERT_EQ(run("logger -T --octet-count" + tcp + " -t iop --msgid ID7 'TCP 5424 counted'"), 0);
    ASSERT_EQ(run("logger --rfc3164 -d" + udp + " -t iop 'UDP 3164'"), 0);
    ASSERT_EQ(run("logger -d" + udp + " --sd-id zoo@123 --sd-param 'tiger=\"hungry\"' -t iop 'with SD'"), 0);
    // Python's handler over TCP ends each message with NUL and nothing else.
    ASSERT_EQ(run("/usr/bin/python3 -c \"import logging, logging.handlers, socket\n"
                  "h = logging.handlers.SysLogHandler(address=('127.0.0.1', " + std::to_string(tcpPort)
                  + "), socktype=socket.SOCK_STREAM)\n"
                    "l = logging.getLogger('brantwell'); l.addHandler(h)\n"
                    "for i in range(5): l.error('python %d, Grüße', i)\n"
                    "h.close()\""),
              0);
    std::size_t expected = 5 + 5;
    const bool rsyslog = RsyslogRelay::installed();
    if (rsyslog) {
        // rsyslog forwarding in the RFC 5424 format: over UDP and counted TCP,
        // each with a trailing LF.
        for (const RsyslogForward forward : {RsyslogForward{"udp", "", "RSYSLOG_SyslogProtocol23Format"},
                                             RsyslogForward{"tcp", "octet-counted", "RSYSLOG_SyslogProtocol23Format"}}) {
            RsyslogRelay relay(forward.protocol == std::string("udp") ? daemon.port : tcpPort, forward);
            ASSERT_TRUE(relay.started()) << relay.output();
            UdpSender("127.0.0.1").send(relay.udpPort(),
                                        std::string("<29>Dec  8 12:00:00 router link: down, Ошибка via ") + forward.protocol);
            ++expected;
            // The relay stops at the end of this round: wait for its line.
            ASSERT_TRUE(waitUntil([&] { return lineCount(readFile(todaysFile(dir))) >= expected; }))
                << relay.output();
        }
    }
    std::vector<std::string> want = {
        "User.Notice,127.0.0.1," + host + " iop: UDP 5424: Grüße — 日本語 ✓ end",
        "User.Notice,127.0.0.1," + host + " iop: TCP 5424, one, line",
        "User.Notice,127.0.0.1," + host + " iop: ID7 TCP 5424 counted",
        "User.Notice,127.0.0.1," + host.substr(0, host.find('.')) + " iop: UDP 3164",
        "User.Notice,127.0.0.1," + host + " iop: [zoo@123 tiger=\"hungry\"] with SD",
    };
    for (int i = 0; i < 5; ++i)
        want.push_back("User.Error,127.0.0.1,python " + std::to_string(i) + ", Grüße");
    if (rsyslog) {
        want.push_back("System.Notice,127.0.0.1,router link:  down, Ошибка via udp");
        want.push_back("System.Notice,127.0.0.1,router link:  down, Ошибка via tcp");
    }
    std::sort(want.begin(), want.end());
    const std::string contents = waitForLines(todaysFile(dir), want.size());
    EXPECT_EQ(undatedLines(contents), want) << contents;
    EXPECT_EQ(daemon.process.stop(), 0);
}
