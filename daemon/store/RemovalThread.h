// Removal of events by age: once a minute every stored line that is older
// than the maximum age of its severity class leaves its file and is
// announced with "Remove".
//
// Ages and units come from one settings snapshot per round. A line belongs
// to every class whose severity name occurs in its priority text (so
// "Alert.Debug" is both an Alert and a Debug line), or to Unknown when none
// does; it is removed when any of its classes has an age above 0, a unit of
// minutes (0), hours (1) or days (2), and the line is at least that old.
// Age is the distance from now to its Date, so a date in the future ages too.
//
// Files are rewritten through EventStore::rewrite, which keeps the lines the
// receiver appends during a pass and does not make the receiver wait while
// it reads, filters and writes a file. A file from which nothing leaves is
// not rewritten; lines that do not split into four fields leave without an
// announcement. Removed lines are announced only after their file was
// replaced: a failed rewrite leaves them stored and unannounced. Announcing
// may wait for room on the bus (no removal goes unannounced); no lock of the
// store is held meanwhile.
#pragma once

#include <cstddef>
#include <stop_token>
#include <string>
#include <string_view>

#include "EventHooks.h"
#include "util/FailureReport.h"

namespace brantwell {

class EventStore;
class SettingsPipe;
struct Settings;

class RemovalThread {
public:
    // `announcer` may be null: then removals are not announced.
    RemovalThread(SettingsPipe& settings, EventStore& store, EventAnnouncer* announcer);

    struct Round {
        std::size_t files = 0;      // event log files looked at
        std::size_t rewritten = 0;  // replaced or deleted
        std::size_t removed = 0;    // lines aged out and announced
        std::size_t dropped = 0;    // lines that were no event record
        std::size_t failed = 0;     // files that could not be read or replaced
    };

    // One pass over the store with the settings in force; `now` in seconds
    // since 1970. Does not open any file when no class has an age above 0.
    Round runRound(double now);
    Round clearLog(const Settings& settings, double now);

    // A round at once, then one a minute until `stop` is requested.
    void run(std::stop_token stop);

private:
    void passFile(const std::string& name, const Settings& settings, double now, Round& round);
    void announce(std::string_view removedLines);

    SettingsPipe& settings_;
    EventStore& store_;
    EventAnnouncer* announcer_;
    FailureReport report_;
};

} // namespace brantwell
