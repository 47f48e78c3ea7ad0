#include "AppSettings.h"

#include <fstream>
#include <sstream>

#include "BoundedJson.h"
#include "SettingsValue.h"

namespace brantwell {

AppSettings AppSettings::defaults()
{
    AppSettings s;
    for (std::size_t row = 0; row < kSeverityRows; ++row)
        s.iSeverity[row] = kDefaultSeverityClasses[row];
    return s;
}

namespace {

std::vector<std::string> readStringArray(const nlohmann::json& settings, std::string_view key)
{
    std::vector<std::string> out;
    if (!settings.is_object())
        return out;
    const auto it = settings.find(std::string(key));
    if (it == settings.end() || !it->is_array())
        return out;
    for (const auto& item : *it) {
        if (auto text = stringValue(item))
            out.push_back(std::move(*text));
    }
    return out;
}

} // namespace

AppSettings AppSettings::fromDictionary(const nlohmann::json& settings)
{
    AppSettings s;
    for (std::size_t row = 0; row < kSeverityRows; ++row)
        s.iSeverity[row] = readInteger(settings, kSeverityClassKeys[row]).value_or(0);
    s.iPopupEvents = readInteger(settings, key::popupEvents).value_or(0);
    s.newDateFormat = readString(settings, key::dateFormat).value_or("");
    s.popupSound = readString(settings, key::popupSound).value_or("");
    s.popupDisplayArray = readStringArray(settings, key::popupDisplayArray);
    s.popupPlayArray = readStringArray(settings, key::popupPlayArray);
    return s;
}

std::string settingsFilePath(const std::string& dataDir)
{
    std::string path = dataDir;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + std::string(kSettingsFileName);
}

std::optional<nlohmann::json> readSettings(const std::string& dataDir)
{
    std::ifstream in(settingsFilePath(dataDir), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    // Nested too deep to handle safely: read as if there were no file.
    if (!jsonDepthWithin(bytes.str()))
        return std::nullopt;
    auto parsed = nlohmann::json::parse(bytes.str(), nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_object())
        return nlohmann::json::object();
    return parsed;
}

} // namespace brantwell
