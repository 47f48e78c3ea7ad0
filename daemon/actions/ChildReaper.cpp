#include "ChildReaper.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brantwell {

namespace {

struct Child {
    pid_t pid;
    int pidfd;  // -1 when the kernel gave none: polled with WNOHANG instead
};

int openPidfd(pid_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

// True when the child has been reaped (or is not ours to reap any more).
bool reap(pid_t pid)
{
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
}

} // namespace

ChildReaper::ChildReaper(std::size_t runningLimit)
    : limit_(runningLimit == 0 ? 1 : runningLimit), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

ChildReaper::~ChildReaper()
{
    thread_.request_stop();
    const std::uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
    if (thread_.joinable())
        thread_.join();
    close(wakeFd_);
}

bool ChildReaper::reserve(std::stop_token stop)
{
    std::unique_lock lock(mutex_);
    if (!placeFreed_.wait(lock, stop, [this] { return taken_ < limit_; }))
        return false;
    ++taken_;
    return true;
}

void ChildReaper::release()
{
    freePlaces(1);
}

void ChildReaper::freePlaces(std::size_t count)
{
    if (count == 0)
        return;
    {
        std::lock_guard lock(mutex_);
        taken_ = count > taken_ ? 0 : taken_ - count;
    }
    placeFreed_.notify_all();
}

std::size_t ChildReaper::placesTaken() const
{
    std::lock_guard lock(mutex_);
    return taken_;
}

void ChildReaper::adopt(pid_t pid)
{
    {
        std::lock_guard lock(mutex_);
        incoming_.push_back(pid);
    }
    const std::uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
}

void ChildReaper::run(std::stop_token stop)
{
    std::vector<Child> children;
    std::vector<pollfd> fds;
    while (!stop.stop_requested()) {
        {
            std::lock_guard lock(mutex_);
            for (pid_t pid : incoming_)
                children.push_back({pid, openPidfd(pid)});
            incoming_.clear();
        }
        bool polling = false;
        std::size_t reaped = 0;
        for (std::size_t i = 0; i < children.size();) {
            if (reap(children[i].pid)) {
                if (children[i].pidfd >= 0)
                    close(children[i].pidfd);
                children[i] = children.back();
                children.pop_back();
                ++reaped;
                continue;
            }
            polling = polling || children[i].pidfd < 0;
            ++i;
        }
        freePlaces(reaped);
        fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
        for (const auto& c : children)
            if (c.pidfd >= 0)
                fds.push_back({c.pidfd, POLLIN, 0});
        poll(fds.data(), fds.size(), polling ? 500 : -1);
        if (fds[0].revents & POLLIN) {
            std::uint64_t n = 0;
            (void)!read(wakeFd_, &n, sizeof n);
        }
    }
    for (const auto& c : children)
        if (c.pidfd >= 0)
            close(c.pidfd);
}

} // namespace brantwell
