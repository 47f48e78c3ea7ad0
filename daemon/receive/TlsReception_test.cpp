#include <sys/stat.h>

#include <csignal>
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

namespace {

// An openssl s_client session that stays open: lines written to it go out
// as frames until the server ends the session.
class OpenSession {
public:
    OpenSession(const TlsReception& r, const std::string& who = "")
    {
        std::signal(SIGPIPE, SIG_IGN);  // writing to a session the server ended
        std::string command = "timeout 30 openssl s_client -quiet -no_ign_eof -connect 127.0.0.1:" + std::to_string(r.port);
        if (!who.empty())
            command += " -cert " + r.certs.file(who + ".pem") + " -key " + r.certs.file(who + ".key");
        pipe_ = popen((command + " >/dev/null 2>&1").c_str(), "w");
    }
    ~OpenSession()
    {
        if (pipe_)
            pclose(pipe_);
    }
    bool send(const std::string& line)
    {
        return pipe_ && std::fputs(line.c_str(), pipe_) >= 0 && std::fflush(pipe_) == 0;
    }

private:
    FILE* pipe_ = nullptr;
};

} // namespace

// New TLS files reach the sessions already open: turning client
// certificates on ends every session whose client was never checked, and a
// new server certificate keeps the sessions the CA still trusts.
TEST(TlsReception, NewFilesCloseTheSessionsTheyWouldNotHaveAccepted)
{
    Certificates certs;
    ASSERT_TRUE(certs.made);
    TlsReception r(certs, false);
    const auto& t = r.receiver.transport();
    OpenSession unchecked(r), shown(r, "client");
    ASSERT_TRUE(unchecked.send("<13>unchecked before\n"));
    ASSERT_TRUE(waitUntil([&] { return r.receiver.statistics().stored.load() == 1; }));
    ASSERT_TRUE(shown.send("<13>shown before\n"));
    ASSERT_TRUE(waitUntil([&] { return r.receiver.statistics().stored.load() == 2; }));

    // Without a CA the server asked for no certificate: neither was checked.
    r.settings.mergeSettings({{"Settings", {{"receptionTlsCaFile", certs.file("ca.pem")}}}});
    ASSERT_TRUE(waitUntil([&] { return t.connectionsOpen.load() == 0; }));
    unchecked.send("<13>unchecked after the CA\n");
    shown.send("<13>shown after the CA\n");

    OpenSession trusted(r, "client");
    ASSERT_TRUE(trusted.send("<13>trusted under the CA\n"));
    ASSERT_TRUE(waitUntil([&] { return r.receiver.statistics().stored.load() == 3; }));
    // Another server certificate and key, the same CA: the trusted client
    // would have been accepted, so its session stays.
    ASSERT_EQ(run("cp -p " + certs.file("server.pem") + " " + certs.file("server2.pem") + " && cp -p "
                  + certs.file("server.key") + " " + certs.file("server2.key")), 0);
    r.settings.mergeSettings({{"Settings", {{"receptionTlsCertificate", certs.file("server2.pem")},
                                           {"receptionTlsKey", certs.file("server2.key")}}}});
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // two ticks of the receiver
    ASSERT_TRUE(trusted.send("<13>trusted after the new certificate\n"));
    ASSERT_TRUE(waitUntil([&] { return r.receiver.statistics().stored.load() == 4; }));
    // A CA that did not sign it: its session ends too.
    r.settings.mergeSettings({{"Settings", {{"receptionTlsCaFile", certs.file("stranger.pem")}}}});
    ASSERT_TRUE(waitUntil([&] { return t.connectionsOpen.load() == 0; }));
    trusted.send("<13>trusted after another CA\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(r.lines(), lineOf("unchecked before") + lineOf("shown before") + lineOf("trusted under the CA")
                             + lineOf("trusted after the new certificate"));
}

// The port set to 0 ends the sessions of the listener it closes.
TEST(TlsReception, TurningTlsOffClosesItsSessions)
{
    Certificates certs;
    ASSERT_TRUE(certs.made);
    TlsReception r(certs, false);
    OpenSession session(r);
    ASSERT_TRUE(session.send("<13>before\n"));
    ASSERT_TRUE(waitUntil([&] { return r.receiver.statistics().stored.load() == 1; }));
    r.settings.mergeSettings({{"Settings", {{"receptionTlsPort", 0}}}});
    ASSERT_TRUE(waitUntil([&] { return r.receiver.transport().connectionsOpen.load() == 0; }));
    session.send("<13>after\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(r.lines(), lineOf("before"));
}

// Each file is opened once, without following a link, and checked on what
// was opened: a link to a good key is refused, whoever made it.
TEST(TlsContext, RefusesAFileReachedThroughASymbolicLink)
{
    Certificates certs;
    ASSERT_TRUE(certs.made);
    std::string error;
    for (const char* name : {"server.key", "server.pem", "ca.pem"}) {
        const std::string link = certs.file(std::string("link-to-") + name);
        ASSERT_EQ(symlink(certs.file(name).c_str(), link.c_str()), 0);
        const auto pick = [&](const char* n) { return std::string(name) == n ? link : certs.file(n); };
        error.clear();
        EXPECT_FALSE(TlsContext::load(pick("server.pem"), pick("server.key"), pick("ca.pem"), error)) << name;
        EXPECT_EQ(error, link + " is a symbolic link; name the file itself");
    }
    EXPECT_TRUE(TlsContext::load(certs.file("server.pem"), certs.file("server.key"), certs.file("ca.pem"), error))
        << error;
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
