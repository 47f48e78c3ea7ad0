// A BrantwellSrv of its own for an end-to-end test: a private bus, a scratch
// data directory and a free UDP port. Ready once the daemon owns its name,
// which is when brantwellctl's "stats" gets through. Only for tests built
// with the daemon's and brantwellctl's paths (SRV and CTL).
#pragma once

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "testkit/CtlProcess.h"
#include "testkit/DaemonProcess.h"
#include "testkit/TestBus.h"
#include "testkit/TestPeers.h"
#include "testkit/UdpTestClient.h"

namespace brantwell::test {

class DaemonOnBus : public ::testing::Test {
protected:
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
