// Reaps the programs started by run-command actions. The daemon never uses
// their exit status, but a child that is not waited for stays a zombie for
// the life of the daemon. One thread waits on a pidfd per running child, so
// a long-running program ties up no worker of the command pool.
//
// The reaper also bounds how many programs run at once: a start first takes
// one of a fixed number of places and the place comes back when the program
// has been reaped. Each place holds at most one descriptor (the pidfd), so
// programs that never end cannot use up the daemon's descriptors; further
// starts wait in the run-command queue.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <stop_token>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace brantwell {

class ChildReaper {
public:
    static constexpr std::size_t kDefaultRunningLimit = 256;

    explicit ChildReaper(std::size_t runningLimit = kDefaultRunningLimit);
    ~ChildReaper();  // stops waiting; children still running are left alone
    ChildReaper(const ChildReaper&) = delete;
    ChildReaper& operator=(const ChildReaper&) = delete;

    // Waits until a place is free and takes it; false when `stop` was
    // requested first.
    bool reserve(std::stop_token stop);
    // Gives back a place that no program took (the start failed).
    void release();
    // Takes over waiting for `pid`, a child of this process started in a
    // reserved place; the place is free again once the child is reaped.
    void adopt(pid_t pid);

    std::size_t runningLimit() const { return limit_; }
    std::size_t placesTaken() const;

private:
    void run(std::stop_token stop);

    void freePlaces(std::size_t count);

    const std::size_t limit_;
    int wakeFd_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable_any placeFreed_;
    std::size_t taken_ = 0;        // guarded by mutex_: reserved or running
    std::vector<pid_t> incoming_;  // guarded by mutex_
    std::jthread thread_;
};

} // namespace brantwell
