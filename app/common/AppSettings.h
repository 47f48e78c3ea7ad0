// The application's in-memory settings: what the running program uses for
// display and popups. Loaded once at start from the settings file and
// replaced as a whole by the options editor when it saves.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "SettingsKeys.h"

namespace brantwell {

struct AppSettings {
    // Display class per severity row (iSeverityEmergency .. iSeverityUnknown).
    std::array<std::int64_t, kSeverityRows> iSeverity{};
    std::string newDateFormat;
    std::int64_t iPopupEvents = 0;
    std::string popupSound;
    std::vector<std::string> popupDisplayArray;
    std::vector<std::string> popupPlayArray;

    // The values used when there is no settings file to read.
    static AppSettings defaults();
    // Values read out of a decoded settings dictionary; a missing or
    // unusable key reads as 0, an empty text or an empty list.
    static AppSettings fromDictionary(const nlohmann::json& settings);
};

// "<dataDir>/Brantwell.ini".
std::string settingsFilePath(const std::string& dataDir);

// The settings file decoded: nothing when it cannot be read; an empty
// object when it does not hold a JSON object, so every key reads as missing.
std::optional<nlohmann::json> readSettings(const std::string& dataDir);

} // namespace brantwell
