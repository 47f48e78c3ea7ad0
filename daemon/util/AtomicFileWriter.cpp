#include "AtomicFileWriter.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "FileUtil.h"

namespace brantwell {

namespace {
constexpr std::size_t kFlushSize = 1 << 20;
}

AtomicFileWriter::AtomicFileWriter(std::string target, mode_t newFileMode, Target kind) : target_(std::move(target))
{
    struct stat st {};
    const bool exists = (kind == Target::DataFile ? lstat(target_.c_str(), &st) : stat(target_.c_str(), &st)) == 0;
    if (exists && kind == Target::DataFile) {
        if (S_ISLNK(st.st_mode))
            error_ = ELOOP;
        else if (!S_ISREG(st.st_mode))
            error_ = EMEDIUMTYPE;
        else if (st.st_uid != geteuid())
            error_ = EPERM;
        if (error_)
            return;
    }
    static thread_local std::mt19937_64 random{std::random_device{}()};
    temp_ = target_ + ".tmp" + std::to_string(random() % 1000000000);
    fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    applyDataPermissions(fd_, exists ? (st.st_mode & 07777) : newFileMode);
    buffer_.reserve(kFlushSize + 4096);
}

AtomicFileWriter::~AtomicFileWriter()
{
    if (fd_ >= 0) {
        close(fd_);
        unlink(temp_.c_str());
    }
}

void AtomicFileWriter::write(std::string_view data)
{
    if (error_)
        return;
    buffer_ += data;
    if (buffer_.size() >= kFlushSize)
        flush();
}

void AtomicFileWriter::flush()
{
    std::string_view rest = buffer_;
    while (!rest.empty() && !error_) {
        const ssize_t n = ::write(fd_, rest.data(), rest.size());
        if (n < 0) {
            if (errno != EINTR)
                error_ = errno;
            continue;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    buffer_.clear();
}

bool AtomicFileWriter::commit()
{
    if (fd_ < 0)
        return false;
    flush();
    if (!error_ && fsync(fd_) != 0)
        error_ = errno;
    if (close(fd_) != 0 && !error_)
        error_ = errno;
    fd_ = -1;
    if (!error_ && rename(temp_.c_str(), target_.c_str()) != 0)
        error_ = errno;
    if (error_) {
        unlink(temp_.c_str());
        return false;
    }
    return true;
}

} // namespace brantwell
