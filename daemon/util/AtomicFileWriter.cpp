#include "AtomicFileWriter.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
        written_ += n;
    }
    buffer_.clear();
}

void AtomicFileWriter::copyFrom(int fd, off_t from, off_t to)
{
    flush();
    while (from < to && !error_) {
        const ssize_t n = copy_file_range(fd, &from, fd_, nullptr, static_cast<std::size_t>(to - from), 0);
        if (n > 0) {
            written_ += n;
            continue;
        }
        if (n == 0) {
            error_ = EIO;  // the source ended before `to`
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
            error_ = errno;
            break;
        }
        // No kernel copy between these files: through a buffer.
        char chunk[65536];
        while (from < to && !error_) {
            const ssize_t r = pread(fd, chunk, std::min<off_t>(sizeof chunk, to - from), from);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                error_ = r < 0 ? errno : EIO;
                break;
            }
            buffer_.assign(chunk, static_cast<std::size_t>(r));
            flush();
            from += r;
        }
    }
}

void AtomicFileWriter::sync()
{
    if (fd_ < 0)
        return;
    flush();
    if (!error_ && fsync(fd_) != 0)
        error_ = errno;
}

bool AtomicFileWriter::commit(Sync sync)
{
    if (fd_ < 0)
        return false;
    flush();
    if (!error_ && sync == Sync::Yes && fsync(fd_) != 0)
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
    if (sync == Sync::Yes)
        error_ = syncDirectoryOf(target_);
    return error_ == 0;
}

int syncDirectoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int result = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return result;
}

} // namespace brantwell
