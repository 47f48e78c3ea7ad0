#include "CommandPool.h"

#include <chrono>

namespace brantwell {

CommandPool::CommandPool(std::size_t workers, std::size_t queueCapacity, std::function<void()> onIdle)
    : capacity_(queueCapacity), onIdle_(std::move(onIdle))
{
    workers_.reserve(workers);
    for (std::size_t i = 0; i < workers; ++i)
        workers_.emplace_back([this](std::stop_token stop) { work(stop); });
}

CommandPool::~CommandPool()
{
    std::deque<std::unique_ptr<Command>> discarded;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        statistics_.discarded += queue_.size();
        discarded.swap(queue_);
    }
    for (auto& command : discarded)
        command->dropped("the daemon stopped before it ran");
    for (auto& w : workers_)
        w.request_stop();
    wake_.notify_all();
    workers_.clear();  // joins
}

bool CommandPool::submit(std::unique_ptr<Command> command)
{
    if (!command)
        return false;
    const char* refused = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || queue_.size() >= capacity_) {
            ++statistics_.dropped;
            refused = stopping_ ? "the daemon is stopping" : "too many waiting already";
        } else {
            queue_.push_back(std::move(command));
            ++statistics_.accepted;
        }
    }
    if (refused) {
        // Outside the lock: the command may call back into its owner.
        command->dropped(refused);
        return false;
    }
    wake_.notify_one();
    return true;
}

CommandPoolStatistics CommandPool::statistics() const
{
    std::lock_guard lock(mutex_);
    return statistics_;
}

void CommandPool::work(std::stop_token stop)
{
    using namespace std::chrono_literals;
    while (!stop.stop_requested()) {
        std::unique_ptr<Command> command;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_for(lock, stop, 1s, [this] { return !queue_.empty(); })) {
                if (stop.stop_requested())
                    return;
                lock.unlock();
                if (onIdle_)
                    onIdle_();
                continue;
            }
            command = std::move(queue_.front());
            queue_.pop_front();
        }
        // A command must never take its worker down with it.
        try {
            command->run(stop);
        } catch (...) {
        }
        command.reset();
        std::lock_guard lock(mutex_);
        ++statistics_.completed;
    }
}

} // namespace brantwell
