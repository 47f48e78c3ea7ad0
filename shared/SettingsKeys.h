// Every key of the settings dictionary, with its kind and the default that a
// fresh settings file gets.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace brantwell {

enum class ValueKind { Integer, Boolean, String, StringArray, RecordArray };

struct SettingsKey {
    std::string_view name;
    ValueKind kind;
    bool hasDefault;               // part of the default file
    long long defaultInteger = 0;  // Integer and Boolean keys
    std::string_view defaultString = {};
};

namespace key {
inline constexpr std::string_view hostsDisplay = "hostsDisplay";
inline constexpr std::string_view dateFormat = "dateFormat";
inline constexpr std::string_view popupEvents = "popupEvents";
inline constexpr std::string_view popupSound = "popupSound";
inline constexpr std::string_view popupDisplayArray = "popupDisplayArray";
inline constexpr std::string_view popupPlayArray = "popupPlayArray";
inline constexpr std::string_view includeFiltersArray = "includeFiltersArray";
inline constexpr std::string_view excludeFiltersArray = "excludeFiltersArray";
inline constexpr std::string_view actionsEmailServer = "actionsEmailServer";
inline constexpr std::string_view actionsEmailPort = "actionsEmailPort";
inline constexpr std::string_view actionsEmailSender = "actionsEmailSender";
inline constexpr std::string_view actionsEmailUsername = "actionsEmailUsername";
inline constexpr std::string_view actionsEmailPassword = "actionsEmailPassword";
inline constexpr std::string_view actionsEmailSecurity = "actionsEmailSecurity";
inline constexpr std::string_view actionsEmailTimeout = "actionsEmailTimeout";
inline constexpr std::string_view actionsFormatSubject = "actionsFormatSubject";
inline constexpr std::string_view actionsFormatBody = "actionsFormatBody";
inline constexpr std::string_view actionsArray = "actionsArray";
inline constexpr std::string_view textInterval = "textInterval";
inline constexpr std::string_view databaseInterval = "databaseInterval";
inline constexpr std::string_view textLocation = "textLocation";
inline constexpr std::string_view databaseLocation = "databaseLocation";
// Reception beyond UDP; absent or 0 (or empty): off.
inline constexpr std::string_view receptionTcpPort = "receptionTcpPort";
inline constexpr std::string_view receptionTlsPort = "receptionTlsPort";
inline constexpr std::string_view receptionTlsCertificate = "receptionTlsCertificate";
inline constexpr std::string_view receptionTlsKey = "receptionTlsKey";
inline constexpr std::string_view receptionTlsCaFile = "receptionTlsCaFile";
// Upstream servers the stored events are relayed to; absent: none.
inline constexpr std::string_view forwardingArray = "forwardingArray";
} // namespace key

// The nine severity rows, in order Emergency .. Debug, then Unknown.
inline constexpr std::size_t kSeverityRows = 9;
inline constexpr std::array<std::string_view, kSeverityRows> kSeverityClassKeys = {
    "severityEmergency", "severityAlerting", "severityCritical", "severityError",
    "severityWarning",   "severityNotice",   "severityInformation", "severityDebug",
    "severityUnknown"};
inline constexpr std::array<std::string_view, kSeverityRows> kRemovalAgeKeys = {
    "removalEmergency", "removalAlerting", "removalCritical", "removalError",
    "removalWarning",   "removalNotice",   "removalInformation", "removalDebug",
    "removalUnknown"};
inline constexpr std::array<std::string_view, kSeverityRows> kRemovalUnitKeys = {
    "removalEmergencyUnits", "removalAlertingUnits",    "removalCriticalUnits",
    "removalErrorUnits",     "removalWarningUnits",     "removalNoticeUnits",
    "removalInformationUnits", "removalDebugUnits",     "removalUnknownUnits"};
inline constexpr std::array<long long, kSeverityRows> kDefaultSeverityClasses = {2, 2, 2, 1, 1, 1, 0, 0, 0};
inline constexpr long long kDefaultRemovalAge = 30;
inline constexpr long long kDefaultRemovalUnit = 2;  // days

inline constexpr std::string_view kDefaultSubject = "$message";
inline constexpr std::string_view kDefaultBody =
    "Date: $date\r\nPriority: $priority\r\nHost: $host\r\nMessage: $message\r\n";
inline constexpr long long kDefaultEmailPort = 25;
inline constexpr long long kDefaultEmailTimeout = 1;  // minutes

inline constexpr std::string_view kSettingsFileName = "Brantwell.ini";
inline constexpr std::string_view kDefaultDataDirectory = "/var/lib/brantwell";

// The 33 keys of a fresh settings file with their default values.
nlohmann::json defaultSettingsDictionary();

// Every key this version knows, in table order.
std::span<const SettingsKey> settingsKeyTable();

// Kind of a known key; nothing for keys this version does not know.
const SettingsKey* findSettingsKey(std::string_view name);

} // namespace brantwell
