// The "update" command: deletes stored lines named by their exact text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace brantwell {

class EventStore;

struct UpdateResult {
    std::size_t deleted = 0;
    // "path: why" for each file that held lines to delete but could not be
    // read or replaced; its lines stay stored and are not counted.
    std::vector<std::string> failures;
};

// command["Events"] maps a whole stored line (LF included) to the number of
// copies to delete, as decimal text or as a number. Copies are counted
// across files in directory order. Each file is rewritten through
// EventStore::rewrite, so a line appended meanwhile is kept and the receiver
// does not wait for the rewrite; files without a matching line are not
// touched.
UpdateResult updateEvents(EventStore& store, const nlohmann::json& command);

} // namespace brantwell
