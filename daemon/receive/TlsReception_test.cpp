#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "TcpReceiver.h"
#include "TlsContext.h"
#include "settings/SettingsPipe.h"
#include "store/EventStore.h"
#include "testkit/TcpTestClient.h"
#include "testkit/TestSupport.h"

using namespace brantwell;
using namespace brantwell::test;
using nlohmann::json;

namespace {

constexpr double kTestNow = 1796770799.4;  // 2026-12-08 23:59:59 in Berlin

int run(const std::string& command)
{
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str());
}

// A CA, a server certificate and two client certificates, one signed by the
// CA and one by nobody the server trusts, all made by openssl for the test.
struct Certificates {
    TempDir dir;
    bool made = false;

    Certificates()
    {
        const std::string d = dir.path();
        const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        made = run("cd " + d + " && openssl req -x509 " + ec + " -keyout ca.key -out ca.pem -days 2 -subj /CN=TestCA")
                   == 0
               && sign("server", "localhost") && sign("client", "trusted-client")
               && run("cd " + d + " && openssl req -x509 " + ec
                      + " -keyout stranger.key -out stranger.pem -days 2 -subj /CN=stranger")
                      == 0
               && run("chmod 600 " + d + "/*") == 0;
    }
    bool sign(const std::string& name, const std::string& cn)
    {
        const std::string d = dir.path();
        return run("cd " + d + " && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "
                   + name + ".key -out " + name + ".csr -subj /CN=" + cn + " && openssl x509 -req -in " + name
                   + ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -out " + name + ".pem -days 2")
               == 0;
    }
    std::string file(const std::string& name) const { return dir.file(name); }
};

struct TlsReception {
    Certificates& certs;
    TempDir dir;
    SettingsPipe settings{dir.path()};
    EventStore store{dir.path()};
    TcpReceiver receiver;
    std::uint16_t port = freeTcpPort();
    std::jthread runner;

    TlsReception(Certificates& c, bool mutual, TcpReceiverLimits limits = {})
        : certs(c), receiver(TcpReceiver::Transport::Tls, settings, store, nullptr, nullptr,
                             [] { return kTestNow; }, limits)
    {
        settings.readSettings();
        settings.saveSettings({{"Settings",
                                {{"receptionTlsPort", port},
                                 {"receptionTlsCertificate", c.file("server.pem")},
                                 {"receptionTlsKey", c.file("server.key")},
                                 {"receptionTlsCaFile", mutual ? c.file("ca.pem") : ""}}}});
        runner = std::jthread([this](std::stop_token stop) { receiver.run(stop); });
        EXPECT_TRUE(waitUntil([&] { return receiver.boundPort() == port; }));
    }
    std::string lines() const { return readFile(dir.file("2026-12-08.log")); }
    // openssl s_client sends `bytes` and ends the session; `who` names the
    // client certificate, if any.
    int send(const std::string& bytes, const std::string& who = "") const
    {
        std::string command = "printf '%s' '" + bytes + "' | timeout 20 openssl s_client -quiet -no_ign_eof -connect 127.0.0.1:"
                              + std::to_string(port);
        if (!who.empty())
            command += " -cert " + certs.file(who + ".pem") + " -key " + certs.file(who + ".key");
        return run(command);
    }
};

std::string lineOf(const std::string& message)
{
    return "1796770799,User.Notice,127.0.0.1," + message + "\n";
}

} // namespace

TEST(TlsReception, StoresOctetCountedFramesSentOverTls)
{
    Certificates certs;
    ASSERT_TRUE(certs.made);
    TlsReception r(certs, false);
    r.send("16 <13>over TLS one16 <13>over TLS two");
    ASSERT_TRUE(waitUntil([&] { return r.receiver.statistics().stored.load() == 2; }));
    EXPECT_EQ(r.lines(), lineOf("over TLS one") + lineOf("over TLS two"));
    EXPECT_EQ(r.receiver.transport().connectionsAccepted.load(), 1u);
    EXPECT_EQ(r.receiver.transport().connectionsRefused.load(), 0u);
}

TEST(TlsReception, UnderMutualTlsRefusesStrangersAndPlainTextWithoutDisturbingOthers)
{
    Certificates certs;
    ASSERT_TRUE(certs.made);
    TlsReception r(certs, true);
    // A trusted client whose session stays open through the refusals.
    const std::string command = "timeout 30 openssl s_client -quiet -no_ign_eof -connect 127.0.0.1:"
                                + std::to_string(r.port) + " -cert " + certs.file("client.pem") + " -key "
                                + certs.file("client.key") + " >/dev/null 2>&1";
    FILE* trusted = popen(command.c_str(), "w");
    ASSERT_NE(trusted, nullptr);
    std::fputs("<13>trusted before\n", trusted);
    std::fflush(trusted);
    ASSERT_TRUE(waitUntil([&] { return r.receiver.statistics().stored.load() == 1; }));

    // A handshake begun and never finished holds nobody up.
    TcpClient stalled(r.port);
    ASSERT_TRUE(stalled.sendAll(std::string("\x16\x03\x01", 3)));

    r.send("11 <13>stranger", "stranger");
    r.send("13 <13>no certificate");
    TcpClient plain(r.port);
    ASSERT_TRUE(plain.sendAll("<13>plain text\n"));
    EXPECT_TRUE(plain.closedByPeer());
    ASSERT_TRUE(waitUntil([&] { return r.receiver.transport().connectionsRefused.load() == 3; }));

    std::fputs("<13>trusted after\n", trusted);
    std::fflush(trusted);
    ASSERT_TRUE(waitUntil([&] { return r.receiver.statistics().stored.load() == 2; }));
    pclose(trusted);
    EXPECT_EQ(r.lines(), lineOf("trusted before") + lineOf("trusted after"));
}

TEST(TlsReception, ClosesAHandshakeThatTakesTooLong)
{
    Certificates certs;
    ASSERT_TRUE(certs.made);
    TcpReceiverLimits limits;
    limits.handshakeSeconds = 1;
    TlsReception r(certs, false, limits);
    TcpClient stalled(r.port);
    ASSERT_TRUE(stalled.sendAll(std::string("\x16\x03\x01", 3)));
    EXPECT_TRUE(stalled.closedByPeer(std::chrono::seconds(5)));
    EXPECT_EQ(r.receiver.transport().connectionsRefused.load(), 1u);
}

TEST(TlsContext, RefusesKeyAndCertificateFilesOthersMayRead)
{
    Certificates certs;
    ASSERT_TRUE(certs.made);
    std::string error;
    EXPECT_TRUE(TlsContext::load(certs.file("server.pem"), certs.file("server.key"), certs.file("ca.pem"), error))
        << error;
    const std::pair<mode_t, bool> modes[] = {{0600, true}, {0400, true}, {0640, false}, {0604, false}, {0620, false}};
    for (auto [mode, usable] : modes) {
        for (const char* name : {"server.key", "server.pem", "ca.pem"}) {
            chmod(certs.file(name).c_str(), mode);
            error.clear();
            const bool loaded = TlsContext::load(certs.file("server.pem"), certs.file("server.key"),
                                                 certs.file("ca.pem"), error) != nullptr;
            EXPECT_EQ(loaded, usable) << name << " " << std::oct << mode;
            if (!usable) {
                EXPECT_NE(error.find(name), std::string::npos) << error;
            }
            chmod(certs.file(name).c_str(), 0600);
        }
    }
    EXPECT_FALSE(TlsContext::load(certs.file("server.pem"), certs.file("client.key"), "", error));
    EXPECT_NE(error.find("client.key"), std::string::npos) << error;
    EXPECT_FALSE(TlsContext::load(certs.file("missing.pem"), certs.file("server.key"), "", error));
    EXPECT_FALSE(TlsContext::load(certs.dir.path(), certs.file("server.key"), "", error));
    EXPECT_FALSE(TlsContext::load("", "", "", error));
}
