#include "CommandPool.h"

#include <atomic>
#include <gtest/gtest.h>
#include <latch>
#include <semaphore>

#include "testkit/TestPeers.h"

namespace brantwell {
namespace {

// Holds its worker until released (or asked to stop).
struct Gate final : Command {
    std::binary_semaphore& started;
    std::atomic<bool>& open;
    std::atomic<int>& ran;
    Gate(std::binary_semaphore& s, std::atomic<bool>& o, std::atomic<int>& r) : started(s), open(o), ran(r) {}
    void run(std::stop_token stop) override
    {
        started.release();
        while (!open && !stop.stop_requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++ran;
    }
};

struct Count final : Command {
    std::atomic<int>& ran;
    explicit Count(std::atomic<int>& r) : ran(r) {}
    void run(std::stop_token) override { ++ran; }
};

TEST(CommandPool, DropsAndCountsCommandsBeyondAFullQueue)
{
    std::binary_semaphore started(0);
    std::atomic<bool> open{false};
    std::atomic<int> ran{0};
    {
        CommandPool pool(1, 3);
        ASSERT_TRUE(pool.submit(std::make_unique<Gate>(started, open, ran)));
        started.acquire();  // the worker is busy, the queue is empty
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(pool.submit(std::make_unique<Count>(ran)));
        for (int i = 0; i < 5; ++i)
            EXPECT_FALSE(pool.submit(std::make_unique<Count>(ran)));
        auto s = pool.statistics();
        EXPECT_EQ(s.accepted, 4u);
        EXPECT_EQ(s.dropped, 5u);
        open = true;
        ASSERT_TRUE(test::waitFor([&] { return pool.statistics().completed == 4; }));
        EXPECT_EQ(ran, 4);
        // Room again once the queue has drained.
        EXPECT_TRUE(pool.submit(std::make_unique<Count>(ran)));
        ASSERT_TRUE(test::waitFor([&] { return ran == 5; }));
    }
}

TEST(CommandPool, StopsRunningCommandsAndDiscardsTheQueueWhenDestroyed)
{
    std::binary_semaphore started(0);
    std::atomic<bool> never{false};
    std::atomic<int> ran{0};
    auto pool = std::make_unique<CommandPool>(2, 10);
    for (int i = 0; i < 2; ++i)
        pool->submit(std::make_unique<Gate>(started, never, ran));
    started.acquire();
    started.acquire();
    for (int i = 0; i < 4; ++i)
        pool->submit(std::make_unique<Count>(ran));
    pool.reset();  // must return although both gates stay shut
    EXPECT_EQ(ran, 2);
}

TEST(CommandPool, RunsEveryQueuedCommandOnTheFixedWorkers)
{
    std::atomic<int> ran{0};
    CommandPool pool(3, 1000);
    EXPECT_EQ(pool.workers(), 3u);
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(pool.submit(std::make_unique<Count>(ran)));
    ASSERT_TRUE(test::waitFor([&] { return ran == 1000; }));
    EXPECT_EQ(pool.statistics().dropped, 0u);
}

} // namespace
} // namespace brantwell
