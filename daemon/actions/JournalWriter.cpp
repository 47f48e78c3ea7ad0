#include "JournalWriter.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <mutex>

#include <systemd/sd-journal.h>

namespace brantwell {

namespace {

void appendField(std::string& out, std::string_view name, std::string_view value)
{
    out.append(name);
    if (value.find('\n') == std::string_view::npos) {
        out += '=';
        out.append(value);
    } else {
        out += '\n';
        std::uint64_t n = value.size();
        for (int i = 0; i < 8; ++i)
            out += static_cast<char>((n >> (8 * i)) & 0xff);
        out.append(value);
    }
    out += '\n';
}

bool isSocket(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

void writeSyslog(int priority, std::string_view message)
{
    static std::once_flag opened;
    std::call_once(opened, [] { openlog(kJournalIdentifier.data(), LOG_PID, LOG_DAEMON); });
    syslog(LOG_MAKEPRI(LOG_DAEMON, priority), "%.*s", static_cast<int>(message.size()), message.data());
}

} // namespace

std::optional<int> journalPriorityOf(std::string_view type)
{
    if (type == "Default")
        return LOG_NOTICE;
    if (type == "Information")
        return LOG_INFO;
    if (type == "Debug")
        return LOG_DEBUG;
    if (type == "Error")
        return LOG_ERR;
    if (type == "Fault")
        return LOG_CRIT;
    return std::nullopt;
}

std::string journalDatagram(int priority, std::string_view message)
{
    std::string out;
    appendField(out, "MESSAGE", message);
    appendField(out, "PRIORITY", std::to_string(priority));
    appendField(out, "SYSLOG_IDENTIFIER", kJournalIdentifier);
    return out;
}

JournalWriter::JournalWriter(std::string socketPath) : socketPath_(std::move(socketPath)) {}

bool JournalWriter::write(int priority, std::string_view message, std::string& error) const
{
    if (!isSocket(socketPath_)) {
        writeSyslog(priority, message);
        return true;
    }
    if (socketPath_ == kSystemJournalSocket) {
        const int rc = sd_journal_send("MESSAGE=%.*s", static_cast<int>(message.size()), message.data(),
                                       "PRIORITY=%i", priority, "SYSLOG_IDENTIFIER=%s",
                                       kJournalIdentifier.data(), nullptr);
        if (rc < 0) {
            error = std::strerror(-rc);
            return false;
        }
        return true;
    }
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    if (socketPath_.size() >= sizeof sa.sun_path) {
        error = "socket path too long";
        return false;
    }
    std::memcpy(sa.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    const std::string datagram = journalDatagram(priority, message);
    const ssize_t sent = sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    const int saved = errno;
    close(fd);
    if (sent != static_cast<ssize_t>(datagram.size())) {
        error = std::strerror(saved);
        return false;
    }
    return true;
}

} // namespace brantwell
