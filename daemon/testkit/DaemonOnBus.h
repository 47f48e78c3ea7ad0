// A BrantwellSrv of its own for an end-to-end test: a private bus, a scratch
// data directory and a free UDP port. Ready once the daemon owns its name,
// which is when brantwellctl's "stats" gets through. Only for tests built
// with the daemon's and brantwellctl's paths (SRV and CTL).
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include <gtest/gtest.h>

#include "BusNames.h"
#include "testkit/CtlProcess.h"
#include "testkit/DaemonProcess.h"
#include "testkit/TestBus.h"
#include "testkit/TestPeers.h"
#include "testkit/UdpTestClient.h"

namespace brantwell::test {

// How the daemon answered one "setCommand": its reply, or the D-Bus error.
struct CommandAnswer {
    std::string reply;
    std::string error;    // the error's name; empty when it replied
    std::string message;  // the error's text
    // The reply, or "name: text" of the error.
    std::string text() const { return error.empty() ? reply : error + ": " + message; }
};

inline CommandAnswer setCommand(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(25))
{
    auto connection = sdbus::createSystemBusConnection();
    auto proxy = sdbus::createProxy(*connection, bus::kService, bus::kObjectPath);
    CommandAnswer answer;
    try {
        proxy->callMethod(bus::kSetCommand)
            .onInterface(bus::kInterface)
            .withTimeout(timeout)
            .withArguments(text)
            .storeResultsTo(answer.reply);
    } catch (const sdbus::Error& e) {
        answer.error = e.getName();
        answer.message = e.getMessage();
    }
    return answer;
}

class DaemonOnBus : public ::testing::Test {
protected:
    explicit DaemonOnBus(TestBus::Policy policy = TestBus::Policy::Stock) : bus(policy) {}

    TestBus bus;
    TempDir dir;
    std::uint16_t port = freeUdpPort();
    DaemonProcess daemon{BRANTWELL_SRV_PATH, {"--data-dir", dir.path(), "--port", std::to_string(port)},
                         dir.file("stderr.txt")};

    void SetUp() override
    {
        ASSERT_TRUE(bus.ready());
        ASSERT_TRUE(daemon.start());
        ASSERT_TRUE(daemon.waitForPort(port));
        ASSERT_TRUE(waitFor([] { return runCtl(BRANTWELLCTL_PATH, "stats").exit == 0; }))
            << "the daemon never answered on the bus";
    }

    void TearDown() override
    {
        if (HasFailure())
            std::fprintf(stderr, "daemon's standard error:\n%s\n", readFile(dir.file("stderr.txt")).c_str());
    }
};

} // namespace brantwell::test
