// A private dbus-daemon for tests, reachable as the "system bus" of every
// process the test starts (DBUS_SYSTEM_BUS_ADDRESS). By default it runs
// Debian's stock system bus policy with the project's policy file, as a
// machine with the package installed does.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "DaemonProcess.h"
#include "StockBusConfig.h"
#include "TestSupport.h"

namespace brantwell::test {

class TestBus {
public:
    enum class Policy {
        Stock,  // deny by default, the project's policy file included
        // As Stock, plus a mistaken local policy that lets the user nobody
        // call the daemon: for the test of the daemon's own check of its
        // callers, which the stock policy alone hides.
        StockWithLocalOpening,
    };

    explicit TestBus(Policy policy = Policy::Stock)
    {
        ::chmod(dir_.path().c_str(), 0755);  // callers under other uids reach the socket
        socket_ = dir_.file("bus");
        std::string config;
        config = stockSystemBusConfig("unix:path=" + socket_);
        if (policy == Policy::StockWithLocalOpening)
            config.insert(config.rfind("</busconfig>"), "  <include>" BRANTWELL_TEST_LOCAL_OPENING "</include>\n");
        writeFile(dir_.file("bus.conf"), config);
        daemon_ = std::make_unique<DaemonProcess>("/usr/bin/dbus-daemon",
                                                  std::vector<std::string>{"--config-file=" + dir_.file("bus.conf"), "--nofork"});
        daemon_->start();
        for (int i = 0; i < 500 && !exists(socket_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::chmod(socket_.c_str(), 0777);
        address_ = "unix:path=" + socket_;
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
    }
    ~TestBus()
    {
        daemon_->stop();
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    const std::string& address() const { return address_; }
    bool ready() const { return exists(socket_); }
    pid_t pid() const { return daemon_->pid(); }

private:
    TempDir dir_;
    std::string socket_;
    std::string address_;
    std::unique_ptr<DaemonProcess> daemon_;
};

} // namespace brantwell::test
