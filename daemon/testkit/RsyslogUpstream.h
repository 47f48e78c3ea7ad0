// rsyslogd as the central server events are relayed to: its own
// configuration, work directory and pid file, in the foreground, receiving
// with imtcp (plain, or TLS with the ossl driver) or imudp on a port of 127.0.0.1,
// and writing each received message's parsed properties, one line each, as
//   PRI|HOSTNAME|APP-NAME|PROCID|MSGID|TIMESTAMP|MSG
// to a file. Never the machine's logger.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "testkit/DaemonProcess.h"
#include "testkit/TcpTestClient.h"
#include "testkit/TestPeers.h"
#include "testkit/WaitUntil.h"

extern char** environ;

namespace brantwell::test {

// A CA and a server certificate for 127.0.0.1 and "localhost" signed by it,
// made with the openssl program; `names` is the subjectAltName list.
struct TestCertificates {
    std::string ca, serverCertificate, serverKey, clientCertificate, clientKey;

    static std::optional<TestCertificates> make(const TempDir& dir,
                                                const std::string& names = "IP:127.0.0.1,DNS:localhost")
    {
        const std::string d = dir.path() + "/";
        writeFile(d + "san.ext", "subjectAltName=" + names + "\n");
        writeFile(d + "client.ext", "extendedKeyUsage=clientAuth\n");
        const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        const std::string script =
            "set -e; cd '" + d + "';"
            "openssl req -x509" + ec + "-keyout ca.key -out ca.pem -days 2 -subj '/CN=Brantwell test CA' 2>/dev/null;"
            "openssl req" + ec + "-keyout server.key -out server.csr -subj '/CN=upstream' 2>/dev/null;"
            "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
            "-extfile san.ext 2>/dev/null;"
            "openssl req" + ec + "-keyout client.key -out client.csr -subj '/CN=brantwell' 2>/dev/null;"
            "openssl x509 -req -in client.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out client.pem -days 2 "
            "-extfile client.ext 2>/dev/null;"
            "chmod 600 server.key client.key client.pem";
        if (std::system(script.c_str()) != 0)
            return std::nullopt;
        return TestCertificates{d + "ca.pem", d + "server.pem", d + "server.key", d + "client.pem", d + "client.key"};
    }
};

class RsyslogUpstream {
public:
    // `tls`: serve TLS with these (the CA also asks for and checks client
    // certificates when `clientCertificates`).
    enum class Transport { Tcp, Udp };

    explicit RsyslogUpstream(std::uint16_t port, const TestCertificates* tls = nullptr, bool clientCertificates = false,
                             Transport transport = Transport::Tcp)
        : port_(port), udp_(transport == Transport::Udp)
    {
        const std::string input = udp_ ? "imudp" : "imtcp";
        std::string global = "global(workDirectory=\"" + dir_.path() + "\"";
        std::string module = "module(load=\"" + input + "\"";
        if (tls) {
            global += " DefaultNetstreamDriverCAFile=\"" + tls->ca + "\" DefaultNetstreamDriverCertFile=\""
                      + tls->serverCertificate + "\" DefaultNetstreamDriverKeyFile=\"" + tls->serverKey + "\"";
            module += std::string(" StreamDriver.Name=\"ossl\" StreamDriver.Mode=\"1\" StreamDriver.AuthMode=\"")
                      + (clientCertificates ? "x509/certvalid" : "anon") + "\"";
        }
        writeFile(dir_.file("rsyslog.conf"),
                  global + ")\n" + module + ")\n"
                  "input(type=\"" + input + "\" address=\"127.0.0.1\" port=\"" + std::to_string(port) + "\")\n"
                  "template(name=\"fields\" type=\"string\" string=\"%pri%|%hostname%|%app-name%|%procid%|"
                  "%msgid%|%timereported:::date-rfc3339%|%msg%\\n\")\n"
                  "if $inputname == \"" + input + "\" then action(type=\"omfile\" file=\"" + dir_.file("received")
                  + "\" template=\"fields\")\n");
    }
    ~RsyslogUpstream() { stop(); }
    RsyslogUpstream(const RsyslogUpstream&) = delete;
    RsyslogUpstream& operator=(const RsyslogUpstream&) = delete;

    // Starts rsyslogd and waits until it listens.
    bool start()
    {
        const std::string conf = dir_.file("rsyslog.conf"), pidFile = dir_.file("rsyslogd.pid");
        const char* argv[] = {"rsyslogd", "-n", "-f", conf.c_str(), "-i", pidFile.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, dir_.file("out").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const bool spawned = posix_spawnp(&pid_, "rsyslogd", &actions, nullptr, const_cast<char**>(argv), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        return spawned && waitUntil([&] { return udp_ ? udpPortBound(port_) : tcpListening(port_); },
                                    std::chrono::seconds(10));
    }

    void stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    // The received messages' lines, in the order rsyslog wrote them.
    std::vector<std::string> received() const
    {
        std::vector<std::string> lines;
        std::istringstream in(readFile(dir_.file("received")));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::string log() const { return readFile(dir_.file("out")); }
    std::uint16_t port() const { return port_; }

    static bool installed() { return std::system("command -v rsyslogd >/dev/null 2>&1") == 0; }

private:
    TempDir dir_;
    std::uint16_t port_;
    bool udp_ = false;
    pid_t pid_ = -1;
};

} // namespace brantwell::test
