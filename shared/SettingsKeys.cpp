#include "SettingsKeys.h"

#include <vector>

#include <nlohmann/json.hpp>

namespace brantwell {

namespace {

std::vector<SettingsKey> buildTable()
{
    std::vector<SettingsKey> t;
    t.push_back({key::hostsDisplay, ValueKind::Boolean, true, 0});
    t.push_back({key::dateFormat, ValueKind::String, false});
    for (std::size_t i = 0; i < kSeverityRows; ++i)
        t.push_back({kSeverityClassKeys[i], ValueKind::Integer, true, kDefaultSeverityClasses[i]});
    for (auto k : kRemovalAgeKeys)
        t.push_back({k, ValueKind::Integer, true, kDefaultRemovalAge});
    for (auto k : kRemovalUnitKeys)
        t.push_back({k, ValueKind::Integer, true, kDefaultRemovalUnit});
    t.push_back({key::popupEvents, ValueKind::Integer, true, 0});
    t.push_back({key::popupSound, ValueKind::String, false});
    t.push_back({key::popupDisplayArray, ValueKind::StringArray, false});
    t.push_back({key::popupPlayArray, ValueKind::StringArray, false});
    t.push_back({key::includeFiltersArray, ValueKind::RecordArray, false});
    t.push_back({key::excludeFiltersArray, ValueKind::RecordArray, false});
    t.push_back({key::actionsEmailServer, ValueKind::String, false});
    t.push_back({key::actionsEmailPort, ValueKind::Integer, true, kDefaultEmailPort});
    t.push_back({key::actionsEmailSender, ValueKind::String, false});
    t.push_back({key::actionsEmailUsername, ValueKind::String, false});
    t.push_back({key::actionsEmailPassword, ValueKind::String, false});
    t.push_back({key::actionsEmailSecurity, ValueKind::String, false});
    t.push_back({key::actionsEmailTimeout, ValueKind::Integer, true, kDefaultEmailTimeout});
    t.push_back({key::actionsFormatSubject, ValueKind::String, true, 0, kDefaultSubject});
    t.push_back({key::actionsFormatBody, ValueKind::String, true, 0, kDefaultBody});
    t.push_back({key::actionsArray, ValueKind::RecordArray, false});
    t.push_back({key::textInterval, ValueKind::Integer, false});
    t.push_back({key::databaseInterval, ValueKind::Integer, false});
    t.push_back({key::textLocation, ValueKind::String, false});
    t.push_back({key::databaseLocation, ValueKind::String, false});
    t.push_back({key::receptionTcpPort, ValueKind::Integer, false});
    t.push_back({key::receptionTlsPort, ValueKind::Integer, false});
    t.push_back({key::receptionTlsCertificate, ValueKind::String, false});
    t.push_back({key::receptionTlsKey, ValueKind::String, false});
    t.push_back({key::receptionTlsCaFile, ValueKind::String, false});
    t.push_back({key::forwardingArray, ValueKind::RecordArray, false});
    return t;
}

const std::vector<SettingsKey>& table()
{
    static const std::vector<SettingsKey> t = buildTable();
    return t;
}

} // namespace

nlohmann::json defaultSettingsDictionary()
{
    nlohmann::json d = nlohmann::json::object();
    for (const auto& k : table()) {
        if (!k.hasDefault)
            continue;
        switch (k.kind) {
        case ValueKind::Boolean: d[std::string(k.name)] = k.defaultInteger != 0; break;
        case ValueKind::Integer: d[std::string(k.name)] = k.defaultInteger; break;
        case ValueKind::String: d[std::string(k.name)] = std::string(k.defaultString); break;
        default: break;
        }
    }
    return d;
}

std::span<const SettingsKey> settingsKeyTable()
{
    return table();
}

const SettingsKey* findSettingsKey(std::string_view name)
{
    for (const auto& k : table())
        if (k.name == name)
            return &k;
    return nullptr;
}

} // namespace brantwell
