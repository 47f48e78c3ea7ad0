// Relaying to upstream servers end to end: the daemon in this process
// (its counters read directly) on a scratch data directory, events sent to
// its TCP reception, and a real rsyslogd as the upstream, plain or TLS with
// certificates the test makes.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Daemon.h"
#include "testkit/RsyslogUpstream.h"
#include "testkit/TcpTestClient.h"
#include "testkit/TestPeers.h"
#include "testkit/UdpTestClient.h"

namespace brantwell {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// The daemon must never reach the machine's own system bus.
struct NoSystemBus {
    explicit NoSystemBus(const test::TempDir& dir)
    {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str(), 1);
    }
    ~NoSystemBus() { unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }
};

std::vector<std::string> fields(const std::string& line)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (int i = 0; i < 6; ++i) {
        const auto bar = line.find('|', start);
        if (bar == std::string::npos)
            break;
        out.push_back(line.substr(start, bar - start));
        start = bar + 1;
    }
    out.push_back(line.substr(start));
    return out;
}

// The PRI an upstream gets for a PRI received: the stored priority names
// facilities 4 and 10 both "Security" and 9 and 15 both "Clock"; the first
// is sent.
int relayedPri(int pri)
{
    const int facility = pri / 8, severity = pri % 8;
    return (facility == 10 ? 4 : facility == 15 ? 9 : facility) * 8 + severity;
}

struct Forwarding : ::testing::Test {
    test::TempDir dir;
    NoSystemBus noBus{dir};
    std::string data = dir.file("data");
    std::uint16_t udpPort = test::freeUdpPort();
    std::uint16_t tcpIn = test::freeTcpPort();
    std::uint16_t upstreamPort = test::freeTcpPort();
    std::unique_ptr<Daemon> daemon;

    void SetUp() override
    {
        if (!test::RsyslogUpstream::installed())
            GTEST_SKIP() << "rsyslogd is not installed (scripts/deps.sh installs it)";
    }

    json destination(json change = json::object())
    {
        json d = {{"Name", "central"}, {"Host", "127.0.0.1"}, {"Port", upstreamPort}, {"Transport", "tcp"},
                  {"Format", "rfc5424"}};
        d.update(change);
        return d;
    }

    void writeSettings(const json& destinations)
    {
        mkdir(data.c_str(), 0750);
        test::writeFile(data + "/Brantwell.ini",
                        json{{"receptionTcpPort", tcpIn}, {"forwardingArray", destinations}}.dump(), 0640);
    }

    void startDaemon()
    {
        daemon = std::make_unique<Daemon>(DaemonOptions{data, udpPort, dir.file("no-journal")});
        ASSERT_TRUE(daemon->start());
        ASSERT_TRUE(test::waitUntil([&] { return test::tcpListening(tcpIn); }, 10s));
    }

    // LF-terminated lines over one TCP connection to the daemon's reception.
    void send(const std::vector<std::string>& messages)
    {
        test::TcpClient client(tcpIn);
        ASSERT_TRUE(client.connected());
        std::string bytes;
        for (const auto& m : messages)
            bytes += m + "\n";
        ASSERT_TRUE(client.sendAll(bytes));
    }

    std::uint64_t counter(const std::string& name)
    {
        const auto all = daemon->statistics();
        const auto it = all.find(name);
        return it == all.end() ? ~0ull : it->second;
    }

    std::uint64_t stored() { return counter("eventsStored"); }
};

// `count` messages "<PRI>relay NNNNN of COUNT" with PRI cycling through 0..191.
std::vector<std::string> numberedMessages(int count, int pad = 0)
{
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "<%d>relay %05d of %d", (i * 7) % 192, i, count);
        out.push_back(text + std::string(static_cast<std::size_t>(pad), 'x'));
    }
    return out;
}

// Every received line is the message numbered as its position, from
// `first` on, with the PRI and host it was stored with.
void expectInOrder(const std::vector<std::string>& received, int first, int count, int pad = 0)
{
    for (std::size_t i = 0; i < received.size(); ++i) {
        const int n = first + static_cast<int>(i);
        const auto f = fields(received[i]);
        ASSERT_EQ(f.size(), 7u) << received[i];
        char text[64];
        std::snprintf(text, sizeof text, "relay %05d of %d", n, count);
        ASSERT_EQ(f[6], text + std::string(static_cast<std::size_t>(pad), 'x')) << "line " << i;
        ASSERT_EQ(f[0], std::to_string(relayedPri((n * 7) % 192))) << received[i];
        ASSERT_EQ(f[1], "127.0.0.1") << received[i];
    }
}

void relayTenThousand(Forwarding& t, const test::TestCertificates* tls)
{
    test::RsyslogUpstream upstream(t.upstreamPort, tls);
    ASSERT_TRUE(upstream.start()) << upstream.log();
    json d = tls ? t.destination({{"Transport", "tls"}, {"CaFile", tls->ca}}) : t.destination();
    t.writeSettings(json::array({d}));
    t.startDaemon();
    constexpr int kCount = 10000;
    t.send(numberedMessages(kCount));
    ASSERT_TRUE(test::waitUntil([&] { return upstream.received().size() >= kCount; }, 60s))
        << upstream.received().size() << " received; " << upstream.log() << t.daemon->status()["forward.central"];
    std::this_thread::sleep_for(300ms);  // a repeat would show up by now
    const auto received = upstream.received();
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kCount));
    expectInOrder(received, 0, kCount);
    EXPECT_TRUE(test::waitUntil([&] { return t.counter("forward.central.sent") == kCount; }));
    EXPECT_EQ(t.counter("forward.central.queued"), 0u);
    EXPECT_EQ(t.counter("forward.central.dropped"), 0u);
    EXPECT_EQ(t.counter("forward.central.connected"), 1u);
}

TEST_F(Forwarding, RelaysTenThousandEventsOnceEachInOrderOverTcp)
{
    relayTenThousand(*this, nullptr);
}

TEST_F(Forwarding, RelaysTenThousandEventsOnceEachInOrderOverTlsCheckingTheServer)
{
    const auto certificates = test::TestCertificates::make(dir);
    ASSERT_TRUE(certificates);
    relayTenThousand(*this, &*certificates);
}

TEST_F(Forwarding, KeepsEverythingWhileTheUpstreamIsAwayAndAcrossARestart)
{
    writeSettings(json::array({destination()}));
    startDaemon();
    constexpr int kCount = 5000;
    send(numberedMessages(kCount));
    ASSERT_TRUE(test::waitUntil([&] { return counter("forward.central.queued") == kCount; }, 20s))
        << counter("forward.central.queued");
    EXPECT_EQ(counter("forward.central.connected"), 0u);
    EXPECT_NE(daemon->status()["forward.central"].find("not connected to 127.0.0.1:"), std::string::npos)
        << daemon->status()["forward.central"];
    EXPECT_NE(daemon->status()["forwardingProblem"].find("5000 events queued"), std::string::npos);
    daemon.reset();

    startDaemon();
    EXPECT_EQ(counter("forward.central.queued"), static_cast<std::uint64_t>(kCount));
    test::RsyslogUpstream upstream(upstreamPort);
    ASSERT_TRUE(upstream.start()) << upstream.log();
    ASSERT_TRUE(test::waitUntil([&] { return upstream.received().size() >= kCount; }, 30s))
        << upstream.received().size();
    std::this_thread::sleep_for(300ms);
    const auto received = upstream.received();
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kCount));
    expectInOrder(received, 0, kCount);
    EXPECT_TRUE(test::waitUntil([&] { return counter("forward.central.queued") == 0; }));
    EXPECT_TRUE(daemon->status().count("forwardingProblem") == 0);
}

TEST_F(Forwarding, AFullQueueDropsTheOldestAndCountsThem)
{
    writeSettings(json::array({destination({{"QueueMegabytes", 1}})}));
    startDaemon();
    constexpr int kCount = 20000, kPad = 150;  // about 3.6 MB of stored lines
    send(numberedMessages(kCount, kPad));
    ASSERT_TRUE(test::waitUntil([&] { return stored() == kCount; }, 20s)) << stored();
    // Once the spooling thread has taken everything out of memory.
    ASSERT_TRUE(test::waitUntil(
        [&] {
            const auto queued = counter("forward.central.queued");
            return queued + counter("forward.central.dropped") == kCount && queued * 200 <= 1024u * 1024u;
        },
        20s));
    const std::uint64_t queued = counter("forward.central.queued");
    EXPECT_GT(counter("forward.central.dropped"), 10000u);
    // Lines of about 205 bytes; the queue keeps between seven eighths of
    // its bound and all of it.
    EXPECT_LE(queued * 200, 1024u * 1024u);
    EXPECT_GE(queued * 210, 1024u * 1024u * 7 / 8);

    test::RsyslogUpstream upstream(upstreamPort);
    ASSERT_TRUE(upstream.start()) << upstream.log();
    ASSERT_TRUE(test::waitUntil([&] { return upstream.received().size() >= queued; }, 30s));
    std::this_thread::sleep_for(300ms);
    const auto received = upstream.received();
    ASSERT_EQ(received.size(), queued);
    expectInOrder(received, kCount - static_cast<int>(queued), kCount, kPad);  // the newest, in order

    // Nothing else broke: new events still go through.
    send({"<11>after the drop"});
    ASSERT_TRUE(test::waitUntil([&] { return upstream.received().size() == queued + 1; }, 10s));
    EXPECT_EQ(fields(upstream.received().back())[6], "after the drop");
}

TEST_F(Forwarding, ADestinationsRecordTestSendsOnlyTheEventsItSelects)
{
    test::RsyslogUpstream upstream(upstreamPort);
    ASSERT_TRUE(upstream.start()) << upstream.log();
    writeSettings(json::array({destination({{"Severity", "Error"}, {"Message", "*keep*"}})}));
    startDaemon();
    std::vector<std::string> messages, expected;
    for (int i = 0; i < 200; ++i) {
        const bool error = i % 2 == 0, keep = i % 3 != 0;
        const std::string text = "event " + std::to_string(i) + (keep ? " keep" : " skip");
        messages.push_back(std::string(error ? "<11>" : "<13>") + text);
        if (error && keep)
            expected.push_back(text);
    }
    send(messages);
    ASSERT_TRUE(test::waitUntil([&] { return stored() == 200; }, 10s));
    ASSERT_TRUE(test::waitUntil([&] { return upstream.received().size() >= expected.size(); }, 10s));
    std::this_thread::sleep_for(500ms);
    const auto received = upstream.received();
    ASSERT_EQ(received.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(fields(received[i])[6], expected[i]);
        EXPECT_EQ(fields(received[i])[0], "11");
    }
}

// The stored Date of the only line of the data directory's day file.
long long storedDate(const std::string& data, const std::string& message)
{
    for (const auto& line : [&] {
             std::vector<std::string> lines;
             const auto now = static_cast<long long>(std::time(nullptr));
             std::istringstream in(test::readFile(data + "/" + eventLogFileName(now)));
             for (std::string l; std::getline(in, l);)
                 lines.push_back(l);
             return lines;
         }()) {
        if (line.find(message) != std::string::npos)
            return std::stoll(line.substr(0, line.find(',')));
    }
    return -1;
}

std::string localTime(long long seconds, const char* format)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    char text[64];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

TEST_F(Forwarding, Rfc5424AndRfc3164OutputIsParsedByRsyslogIntoTheStoredFields)
{
    test::RsyslogUpstream upstream(upstreamPort);
    ASSERT_TRUE(upstream.start()) << upstream.log();
    writeSettings(json::array({destination({{"Name", "new"}, {"Message", "five*"}}),
                               destination({{"Name", "old"}, {"Format", "rfc3164"}, {"Message", "three*"}})}));
    startDaemon();
    send({"<165>five: disk is full, says sda", "<165>three: disk is full, says sdb", "no priority: five"});
    ASSERT_TRUE(test::waitUntil([&] { return upstream.received().size() >= 2; }, 10s)) << upstream.log();
    std::this_thread::sleep_for(300ms);
    const auto received = upstream.received();
    ASSERT_EQ(received.size(), 2u);
    std::vector<std::string> five, three;
    for (const auto& line : received)
        (line.find("five") != std::string::npos ? five : three) = fields(line);
    ASSERT_EQ(five.size(), 7u);
    ASSERT_EQ(three.size(), 7u);

    // RFC 5424: every header field where it belongs, nil ones as nil, the
    // time with the UTC offset of the reception.
    const long long fiveDate = storedDate(data, "five: disk");
    std::string offset = localTime(fiveDate, "%z");
    offset.insert(3, ":");
    EXPECT_EQ(five, (std::vector<std::string>{"165", "127.0.0.1", "-", "-", "-",
                                              localTime(fiveDate, "%Y-%m-%dT%H:%M:%S") + offset,
                                              "five: disk is full, says sda"}));

    // RFC 3164: the host, then the stored message, whose first word rsyslog
    // takes as the tag.
    const long long threeDate = storedDate(data, "three: disk");
    EXPECT_EQ(three[0], "165");
    EXPECT_EQ(three[1], "127.0.0.1");
    EXPECT_EQ(three[2], "three");
    EXPECT_EQ(three[5].substr(5, 14), localTime(threeDate, "%m-%dT%H:%M:%S"));
    EXPECT_EQ(three[6], " disk is full, says sdb");
}

TEST_F(Forwarding, UdpSendsOneDatagramPerEventInTheChosenFormat)
{
    const std::uint16_t udpUpstream = test::freeUdpPort();
    test::RsyslogUpstream upstream(udpUpstream, nullptr, false, test::RsyslogUpstream::Transport::Udp);
    ASSERT_TRUE(upstream.start()) << upstream.log();
    writeSettings(json::array({destination({{"Transport", "udp"}, {"Port", udpUpstream}, {"Format", "rfc3164"}})}));
    startDaemon();
    std::vector<std::string> messages;
    for (int i = 0; i < 50; ++i)
        messages.push_back("<13>tag" + std::to_string(i) + ": over udp");
    send(messages);
    ASSERT_TRUE(test::waitUntil([&] { return upstream.received().size() >= 50; }, 10s))
        << upstream.received().size() << " " << daemon->status()["forward.central"];
    const auto received = upstream.received();
    ASSERT_EQ(received.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        const auto f = fields(received[static_cast<std::size_t>(i)]);
        EXPECT_EQ(f[0], "13");
        EXPECT_EQ(f[2], "tag" + std::to_string(i));
        EXPECT_EQ(f[6], " over udp");
    }
    EXPECT_TRUE(test::waitUntil([&] { return counter("forward.central.sent") == 50; }));
    EXPECT_EQ(counter("forward.central.queued"), 0u);
}

TEST_F(Forwarding, TlsRefusesAServerWhoseCertificateNamesAnotherHost)
{
    const auto certificates = test::TestCertificates::make(dir, "DNS:elsewhere.example");
    ASSERT_TRUE(certificates);
    test::RsyslogUpstream upstream(upstreamPort, &*certificates);
    ASSERT_TRUE(upstream.start()) << upstream.log();
    writeSettings(json::array({destination({{"Transport", "tls"}, {"CaFile", certificates->ca}})}));
    startDaemon();
    send({"<11>a secret"});
    ASSERT_TRUE(test::waitUntil([&] { return daemon->status().count("forwardingProblem") == 1; }, 10s));
    EXPECT_NE(daemon->status()["forward.central"].find("not trusted"), std::string::npos)
        << daemon->status()["forward.central"];
    EXPECT_TRUE(test::waitUntil([&] { return counter("forward.central.queued") == 1; }));
    EXPECT_EQ(counter("forward.central.sent"), 0u);
    EXPECT_TRUE(upstream.received().empty());
}

TEST_F(Forwarding, TlsShowsTheClientCertificateToAServerThatAsksForOne)
{
    const auto certificates = test::TestCertificates::make(dir);
    ASSERT_TRUE(certificates);
    test::RsyslogUpstream upstream(upstreamPort, &*certificates, true);
    ASSERT_TRUE(upstream.start()) << upstream.log();
    writeSettings(json::array({destination({{"Transport", "tls"}, {"CaFile", certificates->ca},
                                            {"CertificateFile", certificates->clientCertificate},
                                            {"KeyFile", certificates->clientKey}})}));
    startDaemon();
    send({"<11>with a certificate"});
    ASSERT_TRUE(test::waitUntil([&] { return upstream.received().size() == 1; }, 10s))
        << upstream.log() << daemon->status()["forward.central"];
    EXPECT_EQ(fields(upstream.received()[0])[6], "with a certificate");
}

} // namespace
} // namespace brantwell
