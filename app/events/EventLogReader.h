// Reads the event store: every event log file of a data directory, line by
// line, each line split by the shared rule. Lines that are not events are
// skipped; files that cannot be opened are skipped.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "EventRecord.h"

namespace brantwell {

// Names of the event log files in `dataDir`, sorted, so that the days come
// in calendar order ("yyyy-MM-dd.log" sorts as the dates do).
std::vector<std::string> eventLogFiles(const std::string& dataDir);

// Hands every event of every file to `sink`, oldest day first and within a
// file in stored order. Returns the number of events read.
std::size_t readEventStore(const std::string& dataDir,
                           const std::function<void(EventRecord&&)>& sink);

// Hands every event of one file to `sink`, in stored order. After each block
// read, `onBlock` (when given) gets the number of bytes the block held and
// may return false to stop reading. Returns the number of events read; a
// file that cannot be opened gives none.
std::size_t readEventLogFile(const std::string& path,
                             const std::function<void(EventRecord&&)>& sink,
                             const std::function<bool(std::size_t)>& onBlock = {});

// Seconds since 1970 of a Date field made only of decimal digits; NaN
// otherwise, so such a date is shown empty.
double listedDateSeconds(std::string_view date);

} // namespace brantwell
