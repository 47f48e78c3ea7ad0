#include "EventStore.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    std::lock_guard lock(removalLock_);
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

bool EventStore::rewrite(const std::string& fileName, const LineEditor& edit)
{
    const std::string path = joinPath(directory_, fileName);
    std::lock_guard lock(removalLock_);
    std::string contents;
    if (!readWholeFile(path, contents))
        return false;
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < contents.size();) {
        const auto lf = contents.find('\n', pos);
        const auto end = lf == std::string::npos ? contents.size() : lf + 1;
        lines.emplace_back(contents, pos, end - pos);
        pos = end;
    }
    if (!edit(lines))
        return true;
    if (dayFileName_ == fileName)
        closeDayFile();
    if (lines.empty())
        return unlink(path.c_str()) == 0 || errno == ENOENT;
    struct stat st {};
    const mode_t mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : kDataFileMode;
    contents.clear();
    for (const auto& l : lines)
        contents += l;
    return writeFileAtomically(path, contents, mode);
}

} // namespace brantwell
