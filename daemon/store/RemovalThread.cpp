#include "RemovalThread.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "EventStore.h"
#include "util/FileUtil.h"
#include "Priority.h"
#include "util/RoundWait.h"
#include "settings/SettingsPipe.h"
#include "StoredEvents.h"

namespace brantwell {

namespace {

constexpr std::size_t kUnknownRow = kSeverityNames.size();

// A signal per this many events keeps each bus message small even when a
// pass removes a whole day.
constexpr std::size_t kAnnounceChunk = 256;

bool expiredInRow(const Settings& settings, std::size_t row, double ageSeconds)
{
    const auto age = settings.iRemoval[row];
    const auto unit = settings.iRemovalUnits[row];
    if (age <= 0 || unit < 0 || unit > 2)
        return false;
    const double minutes = ageSeconds / 60.0;
    const double hours = minutes / 60.0;
    const double days = hours / 24.0;
    const double inUnit = unit == 0 ? minutes : unit == 1 ? hours : days;
    return inUnit >= static_cast<double>(age);
}

bool isExpired(const EventRecord& event, const Settings& settings, double now)
{
    const double ageSeconds = std::fabs(now - eventDateSeconds(event.date));
    bool classed = false;
    for (std::size_t row = 0; row < kSeverityNames.size(); ++row) {
        if (event.priority.find(kSeverityNames[row]) == std::string::npos)
            continue;
        classed = true;
        if (expiredInRow(settings, row, ageSeconds))
            return true;
    }
    return !classed && expiredInRow(settings, kUnknownRow, ageSeconds);
}

// True when at least one line of `contents` would leave the file.
bool anyLineLeaves(std::string_view contents, const Settings& settings, double now)
{
    bool leaves = false;
    forEachLine(contents, [&](std::string_view line) {
        if (leaves)
            return;
        const auto event = splitEventLine(line);
        leaves = !event || isExpired(*event, settings, now);
    });
    return leaves;
}

bool fileExists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 || errno != ENOENT;
}

} // namespace

RemovalThread::RemovalThread(SettingsPipe& settings, EventStore& store, EventAnnouncer* announcer)
    : settings_(settings), store_(store), announcer_(announcer)
{
}

RemovalThread::Round RemovalThread::runRound(double now)
{
    const auto settings = settings_.snapshot();
    return clearLog(*settings, now);
}

RemovalThread::Round RemovalThread::clearLog(const Settings& settings, double now)
{
    Round round;
    if (std::none_of(settings.iRemoval.begin(), settings.iRemoval.end(), [](auto age) { return age > 0; }))
        return round;
    for (const auto& name : store_.listFiles()) {
        ++round.files;
        passFile(name, settings, now, round);
    }
    if (round.failed == 0)
        report_.clear();
    return round;
}

void RemovalThread::passFile(const std::string& name, const Settings& settings, double now, Round& round)
{
    const std::string path = joinPath(store_.directory(), name);
    // A first look without the lock: in most rounds most files lose nothing,
    // and those are neither locked against the receiver nor rewritten.
    std::string contents;
    if (!readWholeFile(path, contents)) {
        if (errno != ENOENT) {
            ++round.failed;
            report_.report("cannot read event log file " + path + ": " + std::strerror(errno));
        }
        return;
    }
    if (!anyLineLeaves(contents, settings, now))
        return;
    contents = {};

    // The decision again under the lock, on the file as it is now.
    std::vector<EventRecord> removed;
    std::size_t dropped = 0;
    const bool done = store_.rewrite(name, [&](std::vector<std::string>& lines) {
        removed.clear();
        dropped = 0;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            auto event = splitEventLine(lines[i]);
            if (!event) {
                ++dropped;
                continue;
            }
            if (isExpired(*event, settings, now)) {
                removed.push_back(std::move(*event));
                continue;
            }
            if (kept != i)
                lines[kept] = std::move(lines[i]);
            ++kept;
        }
        lines.resize(kept);
        return !removed.empty() || dropped > 0;
    });
    if (!done) {
        const int error = errno;
        // Deleted meanwhile by the update command: nothing is lost.
        if (!fileExists(path))
            return;
        ++round.failed;
        report_.report("cannot rewrite event log file " + path + ": " + std::strerror(error));
        return;
    }
    if (!removed.empty() || dropped > 0)
        ++round.rewritten;
    round.removed += removed.size();
    round.dropped += dropped;
    announce(removed);
}

void RemovalThread::announce(std::span<const EventRecord> removed)
{
    if (!announcer_)
        return;
    for (std::size_t i = 0; i < removed.size(); i += kAnnounceChunk)
        announcer_->announce(EventType::Remove, removed.subspan(i, std::min(kAnnounceChunk, removed.size() - i)));
}

void RemovalThread::run(std::stop_token stop)
{
    do {
        const auto now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch());
        runRound(now.count());
        store_.recheckPermissions();  // group "brantwell" may have been created meanwhile
    } while (waitForNextRound(stop));
}

} // namespace brantwell
