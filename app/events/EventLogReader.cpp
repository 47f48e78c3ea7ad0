#include "EventLogReader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace brantwell {

std::vector<std::string> eventLogFiles(const std::string& dataDir)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(dataDir.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        if (isEventLogFileName(entry->d_name))
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Reads one file in large blocks and splits it at LF; a line may be of any
// length and the last one may lack its LF.
std::size_t readEventLogFile(const std::string& path,
                             const std::function<void(EventRecord&&)>& sink,
                             const std::function<bool(std::size_t)>& onBlock)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::size_t events = 0;
    std::string pending;
    std::string block(1 << 20, '\0');
    auto takeLine = [&](std::string_view line) {
        if (auto record = splitEventLine(line)) {
            sink(std::move(*record));
            ++events;
        }
    };
    for (;;) {
        const ssize_t got = ::read(fd, block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        std::string_view data(block.data(), static_cast<std::size_t>(got));
        std::size_t start = 0;
        for (std::size_t lf; (lf = data.find('\n', start)) != std::string_view::npos; start = lf + 1) {
            if (pending.empty()) {
                takeLine(data.substr(start, lf - start));
            } else {
                pending.append(data.substr(start, lf - start));
                takeLine(pending);
                pending.clear();
            }
        }
        pending.append(data.substr(start));
        if (onBlock && !onBlock(data.size())) {
            pending.clear();
            break;
        }
    }
    if (!pending.empty())
        takeLine(pending);
    ::close(fd);
    return events;
}

double listedDateSeconds(std::string_view date)
{
    if (date.empty() || date.size() > 18
        || !std::all_of(date.begin(), date.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nan("");
    long long value = 0;
    std::from_chars(date.data(), date.data() + date.size(), value);
    return static_cast<double>(value);
}

std::size_t readEventStore(const std::string& dataDir,
                           const std::function<void(EventRecord&&)>& sink)
{
    std::size_t events = 0;
    for (const auto& name : eventLogFiles(dataDir))
        events += readEventLogFile(dataDir + "/" + name, sink);
    return events;
}

} // namespace brantwell
