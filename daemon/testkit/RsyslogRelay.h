// rsyslogd as a relay, the way a site forwards to a central server: its
// own configuration, work directory and pid file, in the foreground, on a
// private UDP port, forwarding to a port on 127.0.0.1. Never the machine's
// logger.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "testkit/DaemonProcess.h"
#include "testkit/WaitUntil.h"
#include "testkit/TestSupport.h"
#include "testkit/UdpTestClient.h"

extern char** environ;

namespace brantwell::test {

struct RsyslogForward {
    const char* protocol = "tcp";           // "tcp" or "udp"
    const char* framing = "traditional";    // over TCP: "traditional" (LF) or "octet-counted"
    const char* format = "RSYSLOG_TraditionalForwardFormat";
};

class RsyslogRelay {
public:
    RsyslogRelay(std::uint16_t target, RsyslogForward forward) : udpPort_(freeUdpPort())
    {
        const std::string conf = dir_.file("rsyslog.conf");
        std::string action = "action(type=\"omfwd\" target=\"127.0.0.1\" port=\"" + std::to_string(target)
                             + "\" protocol=\"" + forward.protocol + "\" template=\"" + forward.format + "\"";
        if (std::string(forward.protocol) == "tcp")
            action += std::string(" TCP_Framing=\"") + forward.framing + "\"";
        writeFile(conf, "global(workDirectory=\"" + dir_.path() + "\")\n"
                        "module(load=\"imudp\")\n"
                        "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" + std::to_string(udpPort_) + "\")\n"
                        + action + ")\n");
        const std::string pidFile = dir_.file("rsyslogd.pid");
        const char* argv[] = {"rsyslogd", "-n", "-f", conf.c_str(), "-i", pidFile.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, dir_.file("out").c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        started_ = posix_spawnp(&pid_, "rsyslogd", &actions, nullptr, const_cast<char**>(argv), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        started_ = started_ && waitUntil([&] { return udpPortBound(udpPort_); });
    }
    ~RsyslogRelay()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    RsyslogRelay(const RsyslogRelay&) = delete;
    RsyslogRelay& operator=(const RsyslogRelay&) = delete;

    bool started() const { return started_; }
    std::uint16_t udpPort() const { return udpPort_; }
    std::string output() const { return readFile(dir_.file("out")); }

    static bool installed() { return std::system("command -v rsyslogd >/dev/null 2>&1") == 0; }

private:
    TempDir dir_;
    std::uint16_t udpPort_;
    pid_t pid_ = -1;
    bool started_ = false;
};

} // namespace brantwell::test
