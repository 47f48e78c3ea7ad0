// A private dbus-daemon for tests, reachable as the "system bus" of every
// process the test starts (DBUS_SYSTEM_BUS_ADDRESS).
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "DaemonProcess.h"
#include "TestSupport.h"

namespace brantwell::test {

class TestBus {
public:
    // `policyFile`: a bus policy to add to the open default one.
    explicit TestBus(const std::string& policyFile = {})
    {
        ::chmod(dir_.path().c_str(), 0755);  // callers under other uids reach the socket
        socket_ = dir_.file("bus");
        std::string config = readFile(BRANTWELL_TEST_BUS_CONFIG);
        replace(config, "@SOCKET@", socket_);
        replace(config, "@INCLUDE@", policyFile.empty() ? "" : "<include>" + policyFile + "</include>");
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

private:
    static void replace(std::string& text, const std::string& what, const std::string& with)
    {
        const auto pos = text.find(what);
        if (pos != std::string::npos)
            text.replace(pos, what.size(), with);
    }

    TempDir dir_;
    std::string socket_;
    std::string address_;
    std::unique_ptr<DaemonProcess> daemon_;
};

} // namespace brantwell::test
