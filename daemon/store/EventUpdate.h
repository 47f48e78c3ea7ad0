// The "update" command: deletes stored lines named by their exact text.
#pragma once

#include <cstddef>

#include <nlohmann/json_fwd.hpp>

namespace brantwell {

class EventStore;

// command["Events"] maps a whole stored line (LF included) to the number of
// copies to delete, as decimal text or as a number. Copies are counted
// across files in directory order. Each file is read and rewritten under
// the removal lock, so a line appended meanwhile is kept; files without a
// matching line are not touched. Returns the number of lines deleted.
std::size_t updateEvents(EventStore& store, const nlohmann::json& command);

} // namespace brantwell
