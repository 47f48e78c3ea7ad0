// Starts the real BrantwellSrv binary for end-to-end tests and stops it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace brantwell::test {

// True once a UDP socket is bound to `port` (read from /proc/net/udp and,
// for the daemon's dual-stack socket, /proc/net/udp6).
inline bool udpPortBound(std::uint16_t port)
{
    char needle[16];
    std::snprintf(needle, sizeof needle, ":%04X", port);
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // header
        while (std::getline(in, line)) {
            // "  sl  local_address rem_address ..." : the local address is field 2.
            const auto first = line.find(':');
            if (first == std::string::npos)
                continue;
            const auto start = line.find_first_not_of(' ', first + 1);
            const auto end = line.find(' ', start);
            if (start == std::string::npos || end == std::string::npos)
                continue;
            const auto local = line.substr(start, end - start);
            if (local.size() >= 5 && local.compare(local.size() - 5, 5, needle) == 0)
                return true;
        }
    }
    return false;
}

class DaemonProcess {
public:
    DaemonProcess(std::string binary, std::vector<std::string> args, std::string stderrPath = {})
        : binary_(std::move(binary)), args_(std::move(args)), stderrPath_(std::move(stderrPath))
    {
    }
    ~DaemonProcess() { stop(); }

    bool start()
    {
        std::vector<char*> argv;
        argv.push_back(binary_.data());
        for (auto& a : args_)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!stderrPath_.empty())
            posix_spawn_file_actions_addopen(&actions, 2, stderrPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int rc = posix_spawn(&pid_, binary_.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        return rc == 0;
    }

    // Waits until the daemon has bound `port`.
    bool waitForPort(std::uint16_t port, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (udpPortBound(port))
                return true;
            if (!running())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    bool running()
    {
        if (pid_ <= 0)
            return false;
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exitStatus_ = status;
            pid_ = -1;
            return false;
        }
        return true;
    }

    // SIGTERM, then the exit status (-1 when it had to be killed).
    int stop()
    {
        if (pid_ <= 0)
            return exitStatus_;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                exitStatus_ = status;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return -1;
    }

    pid_t pid() const { return pid_; }

private:
    std::string binary_;
    std::vector<std::string> args_;
    std::string stderrPath_;
    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

} // namespace brantwell::test
