// Destination records through the command channel and brantwellctl: the
// real binaries on a private bus with the stock policy.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

#include "testkit/DaemonOnBus.h"
#include "testkit/RsyslogUpstream.h"
#include "testkit/TcpTestClient.h"
#include "testkit/TestSupport.h"
#include "testkit/UdpTestClient.h"

using namespace brantwell::test;
using nlohmann::json;

namespace {

json destination(std::uint16_t port)
{
    return {{"Name", "central"}, {"Host", "127.0.0.1"}, {"Port", port}, {"Transport", "tcp"}, {"Format", "rfc5424"}};
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

class ForwardingOnBus : public DaemonOnBus {};

TEST_F(ForwardingOnBus, ASaveOrMergeOfAnUnusableDestinationIsRefusedByName)
{
    const std::uint16_t upstream = freeTcpPort();
    const std::string before = readFile(dir.file("Brantwell.ini"));
    json bad = destination(upstream);
    bad["Transport"] = "relp";
    for (const char* command : {"save", "merge"}) {
        const auto answer = setCommand(
            json{{"command", command}, {"Settings", {{"forwardingArray", json::array({destination(upstream), bad})}}}}.dump());
        EXPECT_EQ(answer.error, "org.freedesktop.DBus.Error.InvalidArgs") << answer.text();
        EXPECT_EQ(answer.message, "settings not saved: destination forwardingArray[1] \"central\": "
                                  "transport \"relp\" is not udp, tcp or tls");
    }
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), before);
}

TEST_F(ForwardingOnBus, StatsTellPerDestinationWhatWasSentQueuedAndDroppedAndWhetherItIsConnected)
{
    if (!RsyslogUpstream::installed())
        GTEST_SKIP() << "rsyslogd is not installed";
    const std::uint16_t upstreamPort = freeTcpPort();
    ASSERT_EQ(setCommand(json{{"command", "merge"},
                              {"Settings", {{"forwardingArray", json::array({destination(upstreamPort)})}}}}.dump())
                  .text(),
              "Received");
    // Nothing listens yet: the event waits, and stats say why.
    UdpSender().send(port, "<11>first");
    ASSERT_TRUE(waitFor([&] { return contains(runCtl(BRANTWELLCTL_PATH, "stats").out, "forward.central.queued 1\n"); }));
    ASSERT_TRUE(waitFor([&] {
        return contains(runCtl(BRANTWELLCTL_PATH, "stats").out,
                        "forward.central.state not connected to 127.0.0.1:" + std::to_string(upstreamPort)
                            + " (tcp): cannot connect to 127.0.0.1:" + std::to_string(upstreamPort)
                            + ": Connection refused\n");
    }));
    const auto waiting = runCtl(BRANTWELLCTL_PATH, "stats").out;
    EXPECT_TRUE(contains(waiting, "forward.central.connected 0\n")) << waiting;
    EXPECT_TRUE(contains(waiting, "forward.central.sent 0\n")) << waiting;

    RsyslogUpstream upstream(upstreamPort);
    ASSERT_TRUE(upstream.start()) << upstream.log();
    ASSERT_TRUE(waitFor([&] { return upstream.received().size() == 1; }, std::chrono::seconds(15)));
    ASSERT_TRUE(waitFor([&] { return contains(runCtl(BRANTWELLCTL_PATH, "stats").out, "forward.central.sent 1\n"); }));
    const auto sent = runCtl(BRANTWELLCTL_PATH, "stats").out;
    EXPECT_TRUE(contains(sent, "forward.central.queued 0\n")) << sent;
    EXPECT_TRUE(contains(sent, "forward.central.dropped 0\n")) << sent;
    EXPECT_TRUE(contains(sent, "forward.central.connected 1\n")) << sent;
    EXPECT_TRUE(contains(sent, "forward.central.state connected to 127.0.0.1:" + std::to_string(upstreamPort) + " (tcp)\n"))
        << sent;
}
