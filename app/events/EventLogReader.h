// Reads the event store: every event log file of a data directory, line by
// line, each line split by the shared rule. Lines that are not events are
// skipped; files that cannot be opened are skipped.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
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

} // namespace brantwell
