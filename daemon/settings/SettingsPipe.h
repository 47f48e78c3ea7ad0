// The settings owner: holds the current settings snapshot and the settings
// file "Brantwell.ini" (a JSON object) in the data directory.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "Settings.h"

namespace brantwell {

class SettingsPipe {
public:
    explicit SettingsPipe(std::string dataDirectory);

    // At start: reads the settings file and applies it as a save would.
    // When there is no file, or it does not decode to a JSON object nested
    // at most 64 deep, writes the default dictionary; an undecodable file is
    // kept as "Brantwell.ini.bad" first, and stays as it is when that copy
    // fails. A file that is there but cannot be read is never replaced.
    // Returns false when the defaults apply without being written.
    bool readSettings();

    // The "save" command: command["Settings"] becomes the file and the
    // settings in force, applied over the defaults exactly as a start with
    // that file would apply it. Nothing changes when "Settings" is not an
    // object, when the file would pass kMaxSettingsBytes, or when it cannot
    // be written (`failure` then says what failed).
    enum class SaveResult { Saved, NoDictionary, TooLarge, Unreadable, WriteFailed };
    SaveResult saveSettings(const nlohmann::json& command, std::string* failure = nullptr);

    // The "merge" command: the keys of command["Settings"] laid over the
    // file as it is now (the settings in force when there is none), under
    // the same lock as a save, so that writers of different keys keep each
    // other's. A file that is there but cannot be read or decoded is left
    // alone (Unreadable).
    SaveResult mergeSettings(const nlohmann::json& command, std::string* failure = nullptr);

    // The largest settings file a save or merge writes.
    static constexpr std::size_t kMaxSettingsBytes = 1024 * 1024;

    // The snapshot in force; cheap, safe from any thread.
    std::shared_ptr<const Settings> snapshot() const { return current_.load(std::memory_order_acquire); }

    const std::string& dataDirectory() const { return dataDirectory_; }
    std::string settingsPath() const;

private:
    void publish(Settings next);
    // Writes and applies a whole dictionary; saveMutex_ held.
    SaveResult replaceSettings(const nlohmann::json& dictionary, std::string* failure);

    const std::string dataDirectory_;
    std::mutex saveMutex_;  // one save at a time, so none is lost
    std::atomic<std::shared_ptr<const Settings>> current_;
};

} // namespace brantwell
