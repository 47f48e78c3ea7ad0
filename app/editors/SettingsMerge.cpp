#include "SettingsMerge.h"

#include "common/AppSettings.h"

namespace brantwell {

nlohmann::json mergeForSave(const std::optional<nlohmann::json>& current, const WriteOwnKeys& write)
{
    nlohmann::json out = current && current->is_object() ? *current : nlohmann::json::object();
    write(out);
    return out;
}

nlohmann::json settingsForSave(const std::string& dataDir, const WriteOwnKeys& write)
{
    return mergeForSave(readSettings(dataDir), write);
}

} // namespace brantwell
