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
    // The removed lines as stored, one after the other: far less memory
    // than records for a pass that empties a day of a million events.
    std::string removed;
    std::size_t removedCount = 0, dropped = 0;
    const bool done = store_.rewrite(name, [&](std::string_view line) {
        const auto event = splitEventLine(line);
        if (!event) {
            ++dropped;
            return false;
        }
        if (!isExpired(*event, settings, now))
            return true;
        removed.append(line);
        if (!line.ends_with('\n'))
            removed += '\n';
        ++removedCount;
        return false;
    });
    if (!done) {
        const int error = errno;
        // Deleted meanwhile by the update command: nothing is lost.
        if (error == ENOENT)
            return;
        ++round.failed;
        report_.report("cannot rewrite event log file " + joinPath(store_.directory(), name) + ": " +
                       std::strerror(error));
        return;
    }
    if (removedCount > 0 || dropped > 0)
        ++round.rewritten;
    round.removed += removedCount;
    round.dropped += dropped;
    announce(removed);
}

void RemovalThread::announce(std::string_view removedLines)
{
    if (!announcer_)
        return;
    // No lock of the store is held here: a subscriber that reads slowly
    // holds this pass up, never the receiver.
    std::vector<EventRecord> chunk;
    chunk.reserve(kAnnounceChunk);
    forEachLine(removedLines, [&](std::string_view line) {
        chunk.push_back(*splitEventLine(line));
        if (chunk.size() == kAnnounceChunk) {
            announcer_->announce(EventType::Remove, chunk);
            chunk.clear();
        }
    });
    if (!chunk.empty())
        announcer_->announce(EventType::Remove, chunk);
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
