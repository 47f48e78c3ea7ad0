#include "TcpReceiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "SyslogThread.h"
#include "settings/SettingsPipe.h"
#include "store/EventStore.h"
#include "testkit/DaemonProcess.h"
#include "testkit/RsyslogRelay.h"
#include "testkit/TcpTestClient.h"
#include "testkit/TestSupport.h"
#include "testkit/UdpTestClient.h"

using namespace brantwell;
using namespace brantwell::test;
using nlohmann::json;

namespace {

constexpr double kTestNow = 1796770799.4;  // 2026-12-08 23:59:59 in Berlin
constexpr const char* kTestDayFile = "2026-12-08.log";

std::string hostName()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

// A TCP receiver on a fresh data directory, listening on a free port.
struct TcpReception {
    TempDir dir;
    SettingsPipe settings{dir.path()};
    EventStore store{dir.path()};
    TcpReceiver receiver;
    std::uint16_t port = freeTcpPort();
    std::jthread runner;

    explicit TcpReception(TcpReceiverLimits limits = {})
        : receiver(TcpReceiver::Transport::Tcp, settings, store, nullptr, nullptr, [] { return kTestNow; }, limits)
    {
        settings.readSettings();
        settings.saveSettings({{"Settings", {{"receptionTcpPort", port}}}});
        runner = std::jthread([this](std::stop_token stop) { receiver.run(stop); });
        EXPECT_TRUE(waitUntil([&] { return receiver.boundPort() == port; }));
    }
    std::string lines() const { return readFile(dir.file(kTestDayFile)); }
    bool waitForStored(std::uint64_t n) const
    {
        return waitUntil([&] { return receiver.statistics().stored.load() >= n; }, std::chrono::seconds(10));
    }
};

std::string lineOf(const std::string& host, const std::string& priority, const std::string& message)
{
    return std::to_string(static_cast<long long>(kTestNow)) + "," + priority + "," + host + "," + message + "\n";
}

int logger(const std::string& arguments, const std::string& message)
{
    const std::string command = "timeout 20 logger --rfc3164 -p user.notice -t probe " + arguments + " '" + message + "'";
    return std::system(command.c_str());
}

} // namespace

TEST(TcpReceiver, StoresWhatLoggerSendsOverTcpWithEitherFraming)
{
    TcpReception r;
    const std::string port = std::to_string(r.port);
    ASSERT_EQ(logger("-T -n 127.0.0.1 -P " + port, "line framed"), 0);
    ASSERT_TRUE(r.waitForStored(1));
    ASSERT_EQ(logger("-T --octet-count -n 127.0.0.1 -P " + port, "octet counted"), 0);
    ASSERT_TRUE(r.waitForStored(2));
    ASSERT_EQ(logger("-T --octet-count -n ::1 -P " + port, "over IPv6"), 0);
    ASSERT_TRUE(r.waitForStored(3));
    const std::string host = hostName();
    EXPECT_EQ(r.lines(), lineOf("127.0.0.1", "User.Notice", host + " probe: line framed")
                             + lineOf("127.0.0.1", "User.Notice", host + " probe: octet counted")
                             + lineOf("::1", "User.Notice", host + " probe: over IPv6"));
    const auto& t = r.receiver.transport();
    EXPECT_EQ(t.connectionsAccepted.load(), 3u);
    EXPECT_EQ(t.framesReceived.load(), 3u);
    EXPECT_TRUE(waitUntil([&] { return t.connectionsOpen.load() == 0; }));
}

TEST(TcpReceiver, ReassemblesFramesWhateverTheSegmentsAndKeepsTheLastOneAtTheClose)
{
    TcpReception r;
    {
        TcpClient c(r.port);
        // One frame over many segments: a byte at a time.
        for (char ch : std::string("20 <13>split into bytes"))
            ASSERT_TRUE(c.sendSegment(std::string(1, ch)));
        // Two frames in one segment, then one without its LF at the close.
        ASSERT_TRUE(c.sendSegment("<14>first of two\n10 <11>second"));
        ASSERT_TRUE(c.sendSegment("<12>closed mid-frame"));
    }
    {
        TcpClient c(r.port);
        ASSERT_TRUE(c.sendSegment("40 <10>counted, but closed early"));
    }
    ASSERT_TRUE(r.waitForStored(5));
    EXPECT_EQ(r.lines(), lineOf("127.0.0.1", "User.Notice", "split into bytes")
                             + lineOf("127.0.0.1", "User.Informational", "first of two")
                             + lineOf("127.0.0.1", "User.Error", "second")
                             + lineOf("127.0.0.1", "User.Warning", "closed mid-frame")
                             + lineOf("127.0.0.1", "User.Critical", "counted, but closed early"));
    EXPECT_EQ(r.receiver.statistics().cut.load(), 1u);  // the one short of its count
}

TEST(TcpReceiver, CutsA100KilobyteFrameLikeADatagramAndGoesOn)
{
    TcpReception r;
    const std::string big = "<13>" + std::string(100 * 1024, 'b');
    TcpClient c(r.port);
    ASSERT_TRUE(c.sendAll(big + "\n" + std::to_string(big.size()) + " " + big + "<13>after\n"));
    ASSERT_TRUE(r.waitForStored(3));
    const std::string cut = lineOf("127.0.0.1", "User.Notice", std::string(kMaxMessage, 'b'));
    EXPECT_EQ(r.lines(), cut + cut + lineOf("127.0.0.1", "User.Notice", "after"));
    EXPECT_EQ(r.receiver.statistics().cut.load(), 2u);
}

TEST(TcpReceiver, ClosesAStreamItCannotFollowAndKeepsWhatCameBefore)
{
    TcpReceiverLimits limits;
    limits.maxFrame = 2000;
    TcpReception r(limits);
    TcpClient c(r.port);
    ASSERT_TRUE(c.sendAll("<13>before\n2001 <13>too long a count"));
    ASSERT_TRUE(r.waitForStored(1));
    EXPECT_TRUE(waitUntil([&] { return r.receiver.transport().framingErrors.load() == 1; }));
    EXPECT_TRUE(c.closedByPeer());
    EXPECT_EQ(r.lines(), lineOf("127.0.0.1", "User.Notice", "before"));
}

TEST(TcpReceiver, ClosesIdleConnectionsAndKeepsTheirLastFrame)
{
    TcpReceiverLimits limits;
    limits.idleSeconds = 1;
    TcpReception r(limits);
    TcpClient c(r.port);
    ASSERT_TRUE(c.sendAll("<13>then silence"));
    EXPECT_TRUE(c.closedByPeer(std::chrono::seconds(5)));
    ASSERT_TRUE(r.waitForStored(1));
    EXPECT_EQ(r.lines(), lineOf("127.0.0.1", "User.Notice", "then silence"));
    EXPECT_EQ(r.receiver.transport().connectionsOpen.load(), 0u);
}

TEST(TcpReceiver, AThousandIdleConnectionsHoldTheLimitAndStopNeitherTcpNorUdp)
{
    // A client must have room for its thousand sockets.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < 1400)
        GTEST_SKIP() << "too few file descriptors for a thousand connections";

    TcpReceiverLimits limits;
    limits.maxConnections = 200;
    limits.maxPerSource = 1000;  // all from one address here: the limit of all is tested
    TcpReception r(limits);
    SyslogThread udp(r.settings, r.store, nullptr, nullptr, [] { return kTestNow; });
    ASSERT_TRUE(udp.open(0, "127.0.0.1"));
    std::jthread udpRunner([&](std::stop_token stop) { udp.run(stop); });

    std::vector<std::unique_ptr<TcpClient>> idle;
    for (int i = 0; i < 1000; ++i) {
        idle.push_back(std::make_unique<TcpClient>(r.port));
        if (i % 2 == 0)
            idle.back()->sendAll("<13>half a fr");  // and never the rest
    }
    const auto& t = r.receiver.transport();
    ASSERT_TRUE(waitUntil([&] { return t.connectionsAccepted.load() + t.connectionsRefused.load() == 1000; },
                          std::chrono::seconds(10)));
    EXPECT_EQ(t.connectionsOpen.load(), 200u);
    EXPECT_EQ(t.connectionsAccepted.load(), 200u);
    EXPECT_EQ(t.connectionsRefused.load(), 800u);

    UdpSender from("127.0.0.1");
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(from.send(udp.boundPort(), "<13>udp " + std::to_string(i)));
    EXPECT_TRUE(waitUntil([&] { return udp.statistics().stored.load() == 50; }));

    // A slot freed is a slot for a new sender, which is served at once.
    idle.resize(100);
    ASSERT_TRUE(waitUntil([&] { return t.connectionsOpen.load() <= 100; }));
    TcpClient late(r.port);
    ASSERT_TRUE(late.sendAll("<13>served beside the idle ones\n"));
    EXPECT_TRUE(waitUntil([&] { return r.lines().find("served beside the idle ones") != std::string::npos; }));
}

TEST(TcpReceiver, FollowsThePortOfTheSettings)
{
    TcpReception r;
    r.settings.saveSettings({{"Settings", {{"receptionTcpPort", 0}}}});
    ASSERT_TRUE(waitUntil([&] { return r.receiver.boundPort() == 0; }));
    EXPECT_FALSE(TcpClient(r.port).connected());
    const std::uint16_t other = freeTcpPort();
    r.settings.saveSettings({{"Settings", {{"receptionTcpPort", other}}}});
    ASSERT_TRUE(waitUntil([&] { return r.receiver.boundPort() == other; }));
    TcpClient c(other);
    ASSERT_TRUE(c.sendAll("<13>on the new port\n"));
    EXPECT_TRUE(r.waitForStored(1));
}

// Turning TCP off, or moving it to another port, ends what the old
// listener let in: a sender that keeps its connection open is not heard.
TEST(TcpReceiver, ClosesOpenConnectionsWhenThePortIsSetToZeroOrMoved)
{
    TcpReception r;
    const auto& t = r.receiver.transport();
    for (const std::int64_t next : {std::int64_t{0}, std::int64_t{freeTcpPort()}}) {
        r.settings.saveSettings({{"Settings", {{"receptionTcpPort", r.port}}}});
        ASSERT_TRUE(waitUntil([&] { return r.receiver.boundPort() == r.port; }));
        const std::uint64_t stored = r.receiver.statistics().stored.load();
        TcpClient open(r.port);
        ASSERT_TRUE(open.sendAll("<13>before the save to " + std::to_string(next) + "\n"));
        ASSERT_TRUE(r.waitForStored(stored + 1));

        r.settings.saveSettings({{"Settings", {{"receptionTcpPort", next}}}});
        EXPECT_TRUE(open.closedByPeer()) << "port " << next;
        EXPECT_TRUE(waitUntil([&] { return t.connectionsOpen.load() == 0; }));
        open.sendAll("<13>after the save to " + std::to_string(next) + "\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(600));  // more than a tick of the receiver
        EXPECT_EQ(r.receiver.statistics().stored.load(), stored + 1);
        EXPECT_EQ(r.lines().find("after the save"), std::string::npos) << r.lines();
    }
}

// One host must not take every slot: the 33rd connection from one address
// is refused while another address still gets in, and a slot given back is
// a slot for that host again.
TEST(TcpReceiver, RefusesThe33rdConnectionFromOneAddressAndLetsOthersIn)
{
    TcpReception r;
    const auto& t = r.receiver.transport();
    std::vector<std::unique_ptr<TcpClient>> held;
    for (int i = 0; i < 32; ++i) {
        held.push_back(std::make_unique<TcpClient>(r.port, "127.0.0.1", "127.0.0.5"));
        ASSERT_TRUE(held.back()->connected());
    }
    ASSERT_TRUE(waitUntil([&] { return t.connectionsOpen.load() == 32; }));
    TcpClient extra(r.port, "127.0.0.1", "127.0.0.5");
    EXPECT_TRUE(extra.closedByPeer());
    EXPECT_TRUE(waitUntil([&] { return t.connectionsRefused.load() == 1; }));

    TcpClient other(r.port, "127.0.0.1", "127.0.0.6");
    ASSERT_TRUE(other.sendAll("<13>from another address\n"));
    ASSERT_TRUE(r.waitForStored(1));
    EXPECT_EQ(r.lines(), lineOf("127.0.0.6", "User.Notice", "from another address"));
    EXPECT_EQ(t.connectionsOpen.load(), 33u);

    held.pop_back();
    ASSERT_TRUE(waitUntil([&] { return t.connectionsOpen.load() == 32; }));
    TcpClient again(r.port, "127.0.0.1", "127.0.0.5");
    ASSERT_TRUE(again.sendAll("<13>a freed slot\n"));
    ASSERT_TRUE(r.waitForStored(2));
    EXPECT_EQ(t.connectionsRefused.load(), 1u);
}

TEST(TcpReceiver, StoresWhatRsyslogForwardsWithOctetCountingAndWithLineFraming)
{
    if (!RsyslogRelay::installed())
        GTEST_SKIP() << "rsyslogd is not installed (scripts/deps.sh installs it)";
    TcpReception r;
    std::uint64_t expected = 0;
    for (const char* framing : {"octet-counted", "traditional"}) {
        RsyslogRelay relay(r.port, {"tcp", framing});
        ASSERT_TRUE(relay.started()) << relay.output();
        UdpSender from("127.0.0.1");
        for (int i = 0; i < 20; ++i)
            ASSERT_TRUE(from.send(relay.udpPort(), "<29>Dec  8 12:00:00 router link: " + std::string(framing) + " "
                                                       + std::to_string(i) + ", with a comma"));
        expected += 20;
        ASSERT_TRUE(r.waitForStored(expected)) << relay.output();
    }
    const std::string lines = r.lines();
    for (const char* framing : {"octet-counted", "traditional"})
        for (int i = 0; i < 20; ++i)
            EXPECT_NE(lines.find(",System.Notice,127.0.0.1,router link: " + std::string(framing) + " "
                                 + std::to_string(i) + ", with a comma\n"),
                      std::string::npos)
                << framing << " " << i << "\n" << lines;
    EXPECT_EQ(r.receiver.statistics().cut.load(), 0u);
}

namespace {

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(TcpReceiver, OutOfDescriptorsItRestsInsteadOfSpinningAndTakesTheWaitingConnectionsLater)
{
    TcpReception r;
    // The clients are another process, started before this one runs out:
    // they connect a second later.
    const std::string clients = "timeout 20 python3 -c 'import socket,time\n"
                                "time.sleep(1)\n"
                                "s=[socket.create_connection((\"127.0.0.1\"," + std::to_string(r.port) + ")) for i in range(5)]\n"
                                "[c.sendall(b\"<13>waited \" + str(i).encode() + b\"\\n\") for i, c in enumerate(s)]\n"
                                "time.sleep(4)' &";
    ASSERT_EQ(std::system(clients.c_str()), 0);
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    // No room for one more descriptor: a new one takes the lowest free
    // number, which must be below the limit.
    const int lowestFree = dup(0);
    ::close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const double cpu = processCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double spent = processCpuSeconds() - cpu;
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_LT(spent, 0.5) << "the receiver spun on a listener it could not accept from";
    ASSERT_TRUE(r.waitForStored(5));
    EXPECT_EQ(r.receiver.transport().connectionsAccepted.load(), 5u);
}
