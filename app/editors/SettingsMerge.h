// Saving without losing another writer's keys: an editor's keys are written
// into the settings file as it is at the moment of saving, not into the copy
// read when the editor was shown, so keys saved in between by another page,
// by brantwellctl or by a second window survive.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace brantwell {

// Writes one editor's own keys into a settings dictionary.
using WriteOwnKeys = std::function<void(nlohmann::json& settings)>;

// The dictionary to send: `current` (the file as read now) with the
// editor's keys written into it; only the editor's keys when the file
// could not be read.
nlohmann::json mergeForSave(const std::optional<nlohmann::json>& current, const WriteOwnKeys& write);

// The same, reading the settings file of `dataDir` now.
nlohmann::json settingsForSave(const std::string& dataDir, const WriteOwnKeys& write);

} // namespace brantwell
