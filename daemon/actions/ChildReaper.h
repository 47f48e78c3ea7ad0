// Reaps the programs started by run-command actions. The daemon never uses
// their exit status, but a child that is not waited for stays a zombie for
// the life of the daemon. One thread waits on a pidfd per running child, so
// a long-running program ties up no worker of the command pool.
#pragma once

#include <mutex>
#include <stop_token>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace brantwell {

class ChildReaper {
public:
    ChildReaper();
    ~ChildReaper();  // stops waiting; children still running are left alone
    ChildReaper(const ChildReaper&) = delete;
    ChildReaper& operator=(const ChildReaper&) = delete;

    // Takes over waiting for `pid`, a child of this process.
    void adopt(pid_t pid);

private:
    void run(std::stop_token stop);

    int wakeFd_ = -1;
    std::mutex mutex_;
    std::vector<pid_t> incoming_;  // guarded by mutex_
    std::jthread thread_;
};

} // namespace brantwell
