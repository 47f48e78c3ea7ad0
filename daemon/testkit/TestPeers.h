// Real peers for the action tests: temporary directories, recorder
// programs, a datagram socket standing in for the journal.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace brantwell::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

void writeFile(const std::string& path, std::string_view contents, mode_t mode = 0644);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

// The lines of a text split at CR LF, without them (a mail as sent).
std::vector<std::string> crlfLines(const std::string& text);

// Polls `condition` every 10 ms until it holds or `limit` passes.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(10));

// A shell script that writes, atomically, to `out`: "argc=N", one
// "arg=[...]" line per argument, one "env=..." line per variable of its
// initial environment, and its SigBlk and SigIgn lines.
std::string recorderScript(const std::string& out);

struct Recording {
    std::vector<std::string> arguments;
    std::map<std::string, std::string> environment;
    std::string sigBlk, sigIgn;
};
std::optional<Recording> readRecording(const std::string& out);

// A datagram socket bound where the journal would be.
class JournalSocket {
public:
    explicit JournalSocket(std::string path);
    ~JournalSocket();
    const std::string& path() const { return path_; }
    // The fields of the next entry, decoded from the native format.
    std::optional<std::map<std::string, std::string>> receive(std::chrono::milliseconds limit = std::chrono::seconds(10));

private:
    std::string path_;
    int fd_ = -1;
};

// Decodes a native journal datagram; nothing when it is malformed.
std::optional<std::map<std::string, std::string>> decodeJournalDatagram(std::string_view datagram);

// A free TCP or UDP port on 127.0.0.1 (bound, read, released).
unsigned freePort(bool udp);

} // namespace brantwell::test
