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

    // The "save" command: applies command["Settings"] and replaces the file
    // with exactly that dictionary. Changes nothing when "Settings" is not an
    // object; the fields are updated even when the file cannot be written,
    // and `failure` then says what failed.
    enum class SaveResult { Saved, NoDictionary, WriteFailed };
    SaveResult saveSettings(const nlohmann::json& command, std::string* failure = nullptr);

    // The snapshot in force; cheap, safe from any thread.
    std::shared_ptr<const Settings> snapshot() const { return current_.load(std::memory_order_acquire); }

    const std::string& dataDirectory() const { return dataDirectory_; }
    std::string settingsPath() const;

private:
    void publish(Settings next);

    const std::string dataDirectory_;
    std::mutex saveMutex_;  // one save at a time, so none is lost
    std::atomic<std::shared_ptr<const Settings>> current_;
};

} // namespace brantwell
