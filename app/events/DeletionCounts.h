// The command dictionaries the application sends to the daemon, as JSON
// object text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "EventListModel.h"

namespace brantwell {

// A D-Bus message is limited in size (the bus refuses larger ones), so a
// long deletion travels as several "update" commands. Each key goes whole
// into one command, so the daemon deletes exactly what one command would.
inline constexpr std::size_t kMaxUpdateCommandBytes = 1 << 20;

// One or more {"command": "update", "Events": {line: count}} texts, each at
// most `maxBytes` long unless a single line is longer. Empty counts give
// none: the daemon rejects an update that names no line.
std::vector<std::string> updateCommands(const DeletionCounts& counts,
                                        std::size_t maxBytes = kMaxUpdateCommandBytes);

// {"command": name, "Settings": settings}: "save" for a whole dictionary,
// "merge" for keys laid over the daemon's file.
std::string saveCommand(const nlohmann::json& settings, const char* name = "save");

} // namespace brantwell
