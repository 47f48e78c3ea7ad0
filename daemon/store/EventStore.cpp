#include "EventStore.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <cmath>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/AtomicFileWriter.h"
#include "util/FileUtil.h"

namespace brantwell {

namespace {

// The file name of the local day and the range of seconds it covers, so
// that the receive path formats a name only when the day changes.
struct DayName {
    long long start = 0, end = 0;  // [start, end)
    std::string name;
};

const std::string& dayFileName(double receptionTime)
{
    static thread_local DayName cache;
    const auto t = static_cast<long long>(std::floor(receptionTime));
    if (cache.name.empty() || t < cache.start || t >= cache.end) {
        const std::time_t tt = static_cast<std::time_t>(t);
        std::tm day{};
        localtime_r(&tt, &day);
        cache.name = eventLogFileName(t);
        day.tm_hour = day.tm_min = day.tm_sec = 0;
        day.tm_isdst = -1;
        cache.start = static_cast<long long>(std::mktime(&day));
        day.tm_mday += 1;
        day.tm_hour = day.tm_min = day.tm_sec = 0;
        day.tm_isdst = -1;
        cache.end = static_cast<long long>(std::mktime(&day));
        // A zone change that moves midnight must not trap the cache.
        if (cache.start > t || cache.end <= t) {
            cache.start = t;
            cache.end = t + 1;
        }
    }
    return cache.name;
}

// Writes all of `data`; `done` says how much went out when it fails.
bool writeAll(int fd, const std::string& data, std::size_t& done)
{
    done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

off_t fileSize(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 ? st.st_size : -1;
}

// A rewrite reads its file in pieces of this size, never whole.
constexpr std::size_t kRewriteChunk = 1 << 20;
// Lines appended during a rewrite are copied without the removal lock until
// less than this is left for the copy under it, which then takes some
// microseconds. The rounds are bounded for a receiver that outruns the
// copy, which the copy in the kernel makes unlikely.
constexpr off_t kSwapTail = 64 * 1024;
constexpr int kCatchUpRounds = 64;

} // namespace

EventStore::EventStore(std::string directory) : directory_(std::move(directory)) {}

EventStore::~EventStore()
{
    std::lock_guard lock(removalLock_);
    closeDayFile();
}

void EventStore::closeDayFile()
{
    if (dayFd_ >= 0)
        close(dayFd_);
    dayFd_ = -1;
    dayFileName_.clear();
}

int EventStore::openDayFile(const std::string& fileName)
{
    const std::string path = joinPath(directory_, fileName);
    if (dayFd_ >= 0 && dayFileName_ == fileName) {
        // Still the file at that path? Somebody may have deleted it (seen at
        // once: its link count drops to 0) or moved another file there
        // (looked for once a second, to keep a second system call off every
        // batch). Our own rewrites close the descriptor themselves.
        struct stat open {};
        if (fstat(dayFd_, &open) == 0 && open.st_nlink > 0) {
            timespec now {};
            clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
            if (now.tv_sec == dayCheckedAt_)
                return dayFd_;
            struct stat named {};
            if (stat(path.c_str(), &named) == 0 && open.st_ino == named.st_ino && open.st_dev == named.st_dev) {
                dayCheckedAt_ = now.tv_sec;
                return dayFd_;
            }
        }
    }
    closeDayFile();
    ensureDataDirectory(directory_);
    // Never through a link, never into a file of another user: see
    // openDataFile.
    int fd = openDataFile(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL, kDataFileMode);
    if (fd >= 0) {
        applyDataPermissions(fd, kDataFileMode);  // a new file of the day
    } else if (errno == EEXIST) {
        fd = openDataFile(path, O_RDWR | O_APPEND);  // keeps its mode
        // A crash in the middle of a write can leave a last line without
        // its LF; end it, so the next event is not glued onto it.
        char last = '\n';
        const off_t size = fd >= 0 ? lseek(fd, 0, SEEK_END) : 0;
        if (size > 0 && pread(fd, &last, 1, size - 1) == 1 && last != '\n')
            (void)!write(fd, "\n", 1);
    }
    if (fd < 0)
        return -1;
    dayFd_ = fd;
    dayFileName_ = fileName;
    return fd;
}

std::size_t EventStore::append(double receptionTime, std::span<const EventRecord> events)
{
    if (events.empty())
        return 0;
    std::unique_lock lock(removalLock_, std::try_to_lock);
    if (!lock.owns_lock()) {
        // Timed only when it has to wait: the counter shows whether anything
        // holds the lock for long while datagrams arrive.
        const auto start = std::chrono::steady_clock::now();
        lock.lock();
        const auto waited = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
        auto longest = longestWait_.load(std::memory_order_relaxed);
        while (waited > longest && !longestWait_.compare_exchange_weak(longest, waited, std::memory_order_relaxed)) {
        }
    }
    buffer_.clear();
    for (const auto& e : events)
        appendEventLine(buffer_, e);
    const std::string& name = dayFileName(receptionTime);
    const int fd = openDayFile(name);
    std::size_t done = 0;
    if (fd >= 0 && writeAll(fd, buffer_, done)) {
        appendFailure_.clear();
        return events.size();
    }
    const int error = errno;
    // A short write (a full disk) leaves part of the batch, likely a line
    // without its end, which the next event would be glued onto: cut the
    // file back to where this batch began, so none of it is stored.
    if (done > 0) {
        const off_t end = lseek(fd, 0, SEEK_END);
        if (end < static_cast<off_t>(done) || ftruncate(fd, end - static_cast<off_t>(done)) != 0)
            closeDayFile();  // the next append ends the partial line on opening
    }
    // Events are being lost: say so, once a minute at most while it lasts.
    appendFailure_.report("cannot append to " + joinPath(directory_, name) + ": " + fileErrorText(error));
    return 0;
}

void EventStore::enforcePermissions()
{
    std::lock_guard lock(removalLock_);
    enforcedGroup_ = brantwellGroup();
    enforceDataPermissions(directory_);
}

void EventStore::recheckPermissions()
{
    const gid_t group = brantwellGroup();
    {
        std::lock_guard lock(removalLock_);
        if (group == enforcedGroup_)
            return;
    }
    enforcePermissions();
}

std::vector<std::string> EventStore::listFiles() const
{
    std::vector<std::string> names;
    DIR* dir = opendir(directory_.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (!isEventLogFileName(name))
            continue;
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
            continue;
        names.emplace_back(name);
    }
    closedir(dir);
    return names;
}

bool EventStore::rewrite(const std::string& fileName, const LineFilter& keep)
{
    const std::string path = joinPath(directory_, fileName);
    std::lock_guard rewriting(rewriteLock_);
    const int fd = openDataFile(path, O_RDONLY);
    if (fd < 0)
        return false;
    // Closed last, after the lock: the last close of a replaced file frees
    // its blocks, which takes a while for a big one.
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat opened {};
    if (fstat(fd, &opened) != 0)
        return false;
    // Appends write whole lines under the lock, so the size seen under it
    // ends a line: the lines up to there are the ones `keep` decides on.
    off_t end = 0;
    {
        std::lock_guard lock(removalLock_);
        end = fileSize(fd);
    }
    if (end < 0)
        return false;

    // Written only from the first line that leaves on; the lines before it
    // are copied then, in the kernel.
    std::optional<AtomicFileWriter> out;
    const auto visit = [&](std::string_view line, off_t at) {
        const bool stays = keep(line);
        if (!stays && !out) {
            out.emplace(path, kDataFileMode, AtomicFileWriter::Target::DataFile);
            out->copyFrom(fd, 0, at);
        } else if (stays && out) {
            out->write(line);
        }
        return stays;
    };
    std::string buffer;
    off_t bufferStart = 0, read = 0;
    while (read < end) {
        const std::size_t had = buffer.size();
        const auto want = static_cast<std::size_t>(std::min<off_t>(kRewriteChunk, end - read));
        buffer.resize(had + want);
        const ssize_t n = pread(fd, buffer.data() + had, want, read);
        if (n < 0 && errno == EINTR) {
            buffer.resize(had);
            continue;
        }
        if (n <= 0) {
            if (n == 0)
                errno = EIO;  // cut short by somebody else
            return false;
        }
        buffer.resize(had + static_cast<std::size_t>(n));
        read += n;
        std::size_t from = 0;
        for (std::size_t lf; (lf = buffer.find('\n', from)) != std::string::npos; from = lf + 1)
            visit(std::string_view(buffer).substr(from, lf + 1 - from), bufferStart + static_cast<off_t>(from));
        buffer.erase(0, from);
        bufferStart += static_cast<off_t>(from);
    }
    // A last line torn by a crash: when it leaves, the LF that an append
    // puts after it (see openDayFile) must leave too.
    bool skipTornEnd = !buffer.empty() && !visit(buffer, bufferStart);
    if (!out)
        return true;  // nothing leaves

    // Lines appended since `end`, copied as they are.
    off_t copied = end;
    const auto copyTail = [&](off_t to) {
        if (skipTornEnd && to > copied) {
            char first = 0;
            if (pread(fd, &first, 1, copied) == 1 && first == '\n')
                ++copied;
            skipTornEnd = false;
        }
        if (to > copied)
            out->copyFrom(fd, copied, to);
        copied = std::max(copied, to);
    };
    // Outside the lock while there is much of it: the receiver goes on
    // appending meanwhile. Bytes below the size are written, so a copy may
    // end inside a line; the rest of it follows with the next copy.
    const auto catchUp = [&] {
        for (int round = 0; round < kCatchUpRounds; ++round) {
            const off_t size = fileSize(fd);
            if (size - copied < kSwapTail)
                break;
            copyTail(size);
        }
    };
    catchUp();
    out->sync();
    catchUp();
    if (out->error()) {
        errno = out->error();
        return false;
    }

    std::unique_lock lock(removalLock_);
    struct stat named {};
    if (lstat(path.c_str(), &named) != 0)
        return false;
    if (named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
        errno = ESTALE;  // replaced behind the store's back: leave it
        return false;
    }
    copyTail(fileSize(fd));
    // The lines appended last are synced no more than any appended line.
    if (out->size() == 0 && !out->error()) {
        if (unlink(path.c_str()) != 0)
            return false;
    } else if (!out->commit(AtomicFileWriter::Sync::No)) {
        errno = out->error();
        return false;
    }
    if (dayFileName_ == fileName)
        closeDayFile();
    lock.unlock();
    // Done only once the directory says so: a power cut could undo the
    // rename or removal. Synced after the lock, the receiver never waits.
    if (const int error = syncDirectoryOf(path); error != 0) {
        errno = error;
        return false;
    }
    return true;
}

} // namespace brantwell
