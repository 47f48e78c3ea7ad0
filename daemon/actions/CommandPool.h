// A fixed set of worker threads with a bounded queue for the commands of
// fired actions. A burst of matching events must not start thousands of
// threads, programs or connections: when the queue is full a command is
// dropped and counted instead.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string_view>
#include <thread>
#include <vector>

namespace brantwell {

// One single-use command (run a program, log a line, send a mail).
class Command {
public:
    virtual ~Command() = default;
    // Runs once on a worker. A long wait (a mail server's reply) ends early
    // when `stop` is requested.
    virtual void run(std::stop_token stop) = 0;
    // Called instead of run() when the command will never run: the queue
    // was full, or the pool stopped with the command still queued. A
    // command with someone waiting for its outcome tells them here.
    virtual void dropped(std::string_view why) { (void)why; }
};

struct CommandPoolStatistics {
    std::uint64_t accepted = 0;   // queued
    std::uint64_t dropped = 0;    // refused because the queue was full
    std::uint64_t completed = 0;  // run to their end
    std::uint64_t discarded = 0;  // still queued when the pool stopped
};

class CommandPool {
public:
    static constexpr std::size_t kDefaultWorkers = 8;
    static constexpr std::size_t kDefaultQueueCapacity = 4096;

    struct Size {
        std::size_t workers = kDefaultWorkers;
        std::size_t queueCapacity = kDefaultQueueCapacity;
    };

    // `onIdle` runs on a worker now and then while the queue is empty.
    explicit CommandPool(std::size_t workers = kDefaultWorkers,
                         std::size_t queueCapacity = kDefaultQueueCapacity,
                         std::function<void()> onIdle = {});
    // Stops taking commands, asks running ones to end, discards the queue
    // and joins every worker.
    ~CommandPool();
    CommandPool(const CommandPool&) = delete;
    CommandPool& operator=(const CommandPool&) = delete;

    // Queues `command`; false (and counted as dropped) when the queue is
    // full or the pool is stopping. Never blocks on a running command.
    bool submit(std::unique_ptr<Command> command);

    CommandPoolStatistics statistics() const;
    std::size_t workers() const { return workers_.size(); }

private:
    void work(std::stop_token stop);

    const std::size_t capacity_;
    std::function<void()> onIdle_;
    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<std::unique_ptr<Command>> queue_;  // guarded by mutex_
    bool stopping_ = false;                       // guarded by mutex_
    CommandPoolStatistics statistics_;            // guarded by mutex_
    std::vector<std::jthread> workers_;
};

} // namespace brantwell
