// A mount namespace of the test process's own: a small tmpfs to fill up, or
// a file laid over a system file (such as /etc/group), seen only by this
// process and the programs it starts. Nothing leaks to the machine; what
// was mounted goes when the object does. Needs root (CAP_SYS_ADMIN); a
// test that cannot have it says why and skips.
#pragma once

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace brantwell::test {

class PrivateMounts {
public:
    PrivateMounts()
    {
        if (::unshare(CLONE_NEWNS) != 0) {
            why_ = std::string("no private mount namespace (unshare: ") + std::strerror(errno) + ")";
            return;
        }
        // Without this a mount below would propagate to the machine's namespace.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            why_ = std::string("cannot make the mounts private: ") + std::strerror(errno);
            return;
        }
        ok_ = true;
    }
    ~PrivateMounts()
    {
        for (auto it = mounted_.rbegin(); it != mounted_.rend(); ++it)
            ::umount2(it->c_str(), MNT_DETACH);
    }
    PrivateMounts(const PrivateMounts&) = delete;
    PrivateMounts& operator=(const PrivateMounts&) = delete;

    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }

    // A tmpfs of `bytes` on the directory `dir`.
    bool mountTmpfs(const std::string& dir, std::size_t bytes)
    {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        return remember(dir, ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()));
    }

    // `source` seen at the place of the existing file `target`.
    bool bindFile(const std::string& source, const std::string& target)
    {
        return remember(target, ::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr));
    }

private:
    bool remember(const std::string& target, int rc)
    {
        if (rc != 0) {
            why_ = "cannot mount on " + target + ": " + std::strerror(errno);
            return false;
        }
        mounted_.push_back(target);
        return true;
    }

    bool ok_ = false;
    std::string why_;
    std::vector<std::string> mounted_;
};

} // namespace brantwell::test
