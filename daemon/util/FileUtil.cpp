#include "FileUtil.h"

#include "AtomicFileWriter.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>


namespace brantwell {

gid_t brantwellGroup()
{
    struct group grp {};
    struct group* found = nullptr;
    char buffer[4096];
    if (getgrnam_r("brantwell", &grp, buffer, sizeof buffer, &found) != 0 || !found)
        return static_cast<gid_t>(-1);
    return found->gr_gid;
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

bool writeFileAtomically(const std::string& path, std::string_view contents, mode_t mode)
{
    AtomicFileWriter writer(path, mode);
    writer.write(contents);
    return writer.commit();
}

bool readWholeFile(const std::string& path, std::string& out)
{
    out.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return true;
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
