#include "FileUtil.h"

#include "AtomicFileWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "EventRecord.h"
#include "SettingsKeys.h"

namespace brantwell {

gid_t brantwellGroup()
{
    struct group grp {};
    struct group* found = nullptr;
    const long suggested = sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
    for (;;) {
        const int rc = getgrnam_r("brantwell", &grp, buffer.data(), buffer.size(), &found);
        if (rc == EINTR)
            continue;
        // A group with thousands of members needs more than any fixed size.
        if (rc == ERANGE && buffer.size() < (std::size_t{1} << 30)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || !found)
            return static_cast<gid_t>(-1);
        return found->gr_gid;
    }
}

void applyDataPermissions(int fd, mode_t mode)
{
    const gid_t group = brantwellGroup();
    // Only root may hand a file to another group; a non-root daemon (tests)
    // keeps its own group.
    if (group != static_cast<gid_t>(-1))
        (void)fchown(fd, static_cast<uid_t>(-1), group);
    (void)fchmod(fd, mode);
}

bool ensureDataDirectory(const std::string& dir)
{
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    for (std::size_t pos = 1; pos < dir.size(); ++pos) {
        pos = dir.find('/', pos);
        if (pos == std::string::npos)
            break;
        const std::string parent = dir.substr(0, pos);
        if (mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    if (mkdir(dir.c_str(), kDataDirectoryMode) != 0 && errno != EEXIST)
        return false;
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    applyDataPermissions(fd, kDataDirectoryMode);
    close(fd);
    return true;
}

namespace {

// 0 when `st` is what the daemon may use as one of its files, else the
// errno that openDataFile reports.
int refusal(const struct stat& st)
{
    if (S_ISLNK(st.st_mode))
        return ELOOP;
    if (!S_ISREG(st.st_mode))
        return EMEDIUMTYPE;
    if (st.st_uid != geteuid())
        return EPERM;
    return 0;
}

// Owner, group and mode of the directory or one of the daemon's files.
void enforceOn(int fd, const std::string& path, mode_t wanted, gid_t group)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return;
    // Without the group nobody but the daemon's own user reads the files.
    const gid_t wantedGroup = group != static_cast<gid_t>(-1) ? group : getegid();
    if (st.st_uid != geteuid() || st.st_gid != wantedGroup)
        (void)fchown(fd, geteuid(), wantedGroup);
    const mode_t mode = st.st_mode & 07777;
    if (mode != wanted && fchmod(fd, wanted) == 0 && (mode & ~wanted) != 0)
        std::fprintf(stderr, "BrantwellSrv: %s had mode %04o; tightened to %04o\n", path.c_str(),
                     static_cast<unsigned>(mode), static_cast<unsigned>(wanted));
}

bool isDaemonFile(std::string_view name)
{
    return isEventLogFileName(name) || name == kSettingsFileName || name == kLockFileName
           || (name.size() == kSettingsFileName.size() + 4 && name.starts_with(kSettingsFileName)
               && name.ends_with(".bad"));
}

} // namespace

int openDataFile(const std::string& path, int flags, mode_t mode)
{
    // Non-blocking, so that opening a planted FIFO cannot hang the daemon.
    const int fd = open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, mode);
    if (fd < 0)
        return -1;
    struct stat st {};
    const int refused = fstat(fd, &st) != 0 ? errno : refusal(st);
    if (refused) {
        close(fd);
        errno = refused;
        return -1;
    }
    (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::string fileErrorText(int error)
{
    switch (error) {
    case ELOOP:
        return "it is a symbolic link, which the daemon does not follow";
    case EMEDIUMTYPE:
        return "it is not a regular file";
    case EPERM:
        return "it belongs to another user";
    default:
        return std::strerror(error);
    }
}

void enforceDataPermissions(const std::string& dir)
{
    const gid_t group = brantwellGroup();
    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    enforceOn(dirFd, dir, kDataDirectoryMode, group);
    DIR* listing = fdopendir(dirFd);
    if (!listing) {
        close(dirFd);
        return;
    }
    while (const dirent* entry = readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (!isDaemonFile(name))
            continue;
        const std::string path = joinPath(dir, name);
        struct stat st {};
        if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (const int refused = refusal(st)) {
            std::fprintf(stderr, "BrantwellSrv: %s is left alone and never written: %s\n", path.c_str(),
                         fileErrorText(refused).c_str());
            continue;
        }
        const int fd = openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat opened {};
        if (fstat(fd, &opened) == 0 && refusal(opened) == 0)
            enforceOn(fd, path, kDataFileMode, group);
        close(fd);
    }
    closedir(listing);
}

bool writeFileAtomically(const std::string& path, std::string_view contents, mode_t mode)
{
    AtomicFileWriter writer(path, mode, AtomicFileWriter::Target::DataFile);
    writer.write(contents);
    const bool done = writer.commit();
    errno = writer.error();
    return done;
}

bool readWholeFile(const std::string& path, std::string& out)
{
    out.clear();
    const int fd = openDataFile(path, O_RDONLY);
    if (fd < 0)
        return false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int saved = errno;
            close(fd);
            errno = saved;
            return false;
        }
        if (n == 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return true;
}

int lockDataDirectory(const std::string& dir, long& holder)
{
    holder = 0;
    const int fd = openDataFile(joinPath(dir, kLockFileName), O_RDWR | O_CREAT, kDataFileMode);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int saved = errno;
        char text[32] = {};
        if (pread(fd, text, sizeof text - 1, 0) > 0)
            holder = std::strtol(text, nullptr, 10);
        close(fd);
        errno = saved;
        return -1;
    }
    applyDataPermissions(fd, kDataFileMode);
    // The holder's process id, for the message of a second daemon.
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // The lock holds without it.
    }
    return fd;
}

std::string joinPath(std::string_view dir, std::string_view name)
{
    std::string path(dir);
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

} // namespace brantwell
