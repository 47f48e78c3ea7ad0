#include "TestPeers.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace brantwell::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "brantwell-actions-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::string& path, std::string_view contents, mode_t mode)
{
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    }
    chmod(path.c_str(), mode);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool fileExists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> crlfLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string recorderScript(const std::string& out)
{
    // The signal masks are read first and by the shell itself: a shell
    // blocks every signal for a moment around each fork, so a child such
    // as grep could see that passing state instead of the inherited one.
    return "#!/bin/sh\n"
           "{\n"
           "  while read -r line; do case \"$line\" in Sig[BI][lg][kn]:*) echo \"$line\";; esac; done < /proc/$$/status\n"
           "  echo \"argc=$#\"\n"
           "  for a in \"$@\"; do printf 'arg=[%s]\\n' \"$a\"; done\n"
           "  /usr/bin/tr '\\0' '\\n' < /proc/$$/environ | /usr/bin/sed 's/^/env=/'\n"
           "} > '" + out + ".tmp' && /usr/bin/mv '" + out + ".tmp' '" + out + "'\n";
}

std::optional<Recording> readRecording(const std::string& out)
{
    if (!fileExists(out))
        return std::nullopt;
    Recording r;
    std::istringstream in(readFile(out));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("arg=[", 0) == 0 && line.back() == ']') {
            r.arguments.push_back(line.substr(5, line.size() - 6));
        } else if (line.rfind("env=", 0) == 0) {
            const auto eq = line.find('=', 4);
            r.environment[line.substr(4, eq - 4)] = eq == std::string::npos ? "" : line.substr(eq + 1);
        } else if (line.rfind("SigBlk:", 0) == 0) {
            r.sigBlk = line.substr(line.find_first_not_of(" \t", 7));
        } else if (line.rfind("SigIgn:", 0) == 0) {
            r.sigIgn = line.substr(line.find_first_not_of(" \t", 7));
        }
    }
    return r;
}

JournalSocket::JournalSocket(std::string path) : path_(std::move(path))
{
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::strncpy(sa.sun_path, path_.c_str(), sizeof sa.sun_path - 1);
    unlink(path_.c_str());
    if (bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        std::abort();
}

JournalSocket::~JournalSocket()
{
    close(fd_);
    unlink(path_.c_str());
}

std::optional<std::map<std::string, std::string>> JournalSocket::receive(std::chrono::milliseconds limit)
{
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(limit.count())) != 1)
        return std::nullopt;
    std::vector<char> buf(256 * 1024);
    const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
    if (n < 0)
        return std::nullopt;
    return decodeJournalDatagram(std::string_view(buf.data(), static_cast<std::size_t>(n)));
}

std::optional<std::map<std::string, std::string>> decodeJournalDatagram(std::string_view d)
{
    std::map<std::string, std::string> fields;
    std::size_t at = 0;
    while (at < d.size()) {
        const auto nl = d.find('\n', at);
        if (nl == std::string_view::npos)
            return std::nullopt;
        const auto line = d.substr(at, nl - at);
        const auto eq = line.find('=');
        if (eq != std::string_view::npos) {
            fields[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
            at = nl + 1;
            continue;
        }
        // NAME LF, 64-bit little-endian length, value, LF.
        if (nl + 9 > d.size())
            return std::nullopt;
        std::uint64_t n = 0;
        for (int i = 0; i < 8; ++i)
            n |= std::uint64_t(static_cast<unsigned char>(d[nl + 1 + i])) << (8 * i);
        const std::size_t start = nl + 9;
        if (start + n + 1 > d.size() || d[start + n] != '\n')
            return std::nullopt;
        fields[std::string(line)] = std::string(d.substr(start, n));
        at = start + n + 1;
    }
    return fields;
}

unsigned freePort(bool udp)
{
    const int fd = socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    close(fd);
    return ntohs(sa.sin_port);
}

} // namespace brantwell::test
