#include "SettingsMerge.h"

#include "common/AppSettings.h"

namespace brantwell {

nlohmann::json changedKeys(const std::optional<nlohmann::json>& current, const WriteOwnKeys& write)
{
    const bool known = current && current->is_object();
    // Written over the file's values, so that an editor that writes a key
    // only when the file has it (reception ports) still turns it off.
    nlohmann::json written = known ? *current : nlohmann::json::object();
    write(written);
    nlohmann::json changed = nlohmann::json::object();
    for (const auto& [key, value] : written.items()) {
        if (!known || !current->contains(key) || current->at(key) != value)
            changed[key] = value;
    }
    return changed;
}

nlohmann::json keysForMerge(const std::string& dataDir, const WriteOwnKeys& write)
{
    return changedKeys(readSettings(dataDir), write);
}

} // namespace brantwell
