// Saving without losing another writer's keys: an editor sends only the keys
// it changes, with the "merge" command, and the daemon lays them over its
// settings file as it is then, under its own lock. Keys saved in between by
// another page, by brantwellctl or by a second window survive, even when
// both save at the same moment.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace brantwell {

// Writes one editor's own keys into a settings dictionary.
using WriteOwnKeys = std::function<void(nlohmann::json& settings)>;

// The keys to merge: those the editor writes with a value other than
// `current` (the file as read now) holds; every key it writes when the file
// could not be read.
nlohmann::json changedKeys(const std::optional<nlohmann::json>& current, const WriteOwnKeys& write);

// The same, reading the settings file of `dataDir` now.
nlohmann::json keysForMerge(const std::string& dataDir, const WriteOwnKeys& write);

} // namespace brantwell
