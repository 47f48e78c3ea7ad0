#include "PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace brantwell {

namespace {

constexpr off_t kMaxFileSize = 1024 * 1024;  // far beyond any certificate chain or key

} // namespace

std::string readPrivateFile(const std::string& path, std::string& contents, FileAccess access)
{
    // Opened once and checked on the descriptor: a check of the path and a
    // second open by OpenSSL could meet two different files, and a link
    // could lead anywhere.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP)
            return path + " is a symbolic link; name the file itself";
        return path + ": " + std::strerror(errno);
    }
    struct stat st {};
    std::string problem;
    if (fstat(fd, &st) != 0)
        problem = path + ": " + std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        problem = path + " is not a regular file";
    else if (st.st_uid != 0 && st.st_uid != geteuid())
        problem = path + " does not belong to root";
    // A key others may read is no longer a secret; a certificate or CA file
    // others may write could be swapped for theirs.
    else if (access == FileAccess::OwnerOnly && (st.st_mode & 077) != 0)
        problem = path + " may be read or written by others than root (chmod 600 it)";
    else if (access == FileAccess::OthersMayRead && (st.st_mode & 022) != 0)
        problem = path + " may be written by others than root (chmod 644 it)";
    else if (st.st_size > kMaxFileSize)
        problem = path + " is too large for a certificate or key file";
    contents.clear();
    while (problem.empty()) {
        char buffer[16384];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            problem = path + ": " + std::strerror(errno);
        else if (n == 0)
            break;
        else if (contents.size() + static_cast<std::size_t>(n) > static_cast<std::size_t>(kMaxFileSize))
            problem = path + " is too large for a certificate or key file";
        else
            contents.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return problem;
}

} // namespace brantwell
