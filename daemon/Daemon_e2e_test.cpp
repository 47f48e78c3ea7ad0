// The real BrantwellSrv binary on a temporary data directory and a free port.
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <thread>

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include "testkit/DaemonProcess.h"
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
    explicit RunningDaemon(const std::string& dataDir)
        : process(BRANTWELL_SRV_PATH, {"--data-dir", dataDir, "--port", std::to_string(port)})
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
    EXPECT_EQ(lines[1].substr(d.size()), ",User.Informational,127.0.0.5,a,b,c second line \n");
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
        case 3: bytes = std::string("\x00\x01\x02\xff\xfe", 5); break;        // nothing printable
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
