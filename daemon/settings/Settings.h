// The daemon's settings: one immutable snapshot per save.
//
// A save builds a new Settings from the old one and the received dictionary
// and publishes it atomically (SettingsPipe). Readers hold a shared_ptr to
// the snapshot they started with, so a value can never be freed underneath
// them, and every value a reader sees within one datagram or round belongs
// to the same save. Filter and action records are compiled here, once per
// save, never per datagram.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ForwardingRecord.h"
#include "RecordTest.h"
#include "SettingsKeys.h"

namespace brantwell {

// One action record with its selection criteria compiled.
struct CompiledAction {
    CompiledRecord criteria;
    nlohmann::json runCommand;  // object, empty when the action runs nothing
    nlohmann::json sendEmail;   // object, empty when the action mails nothing
    nlohmann::json setEvent;    // object, empty when the action logs nothing
    // At most iThrottleCount runs per iThrottleSeconds; 0 or less: no limit.
    std::int64_t iThrottleCount = 0;
    std::int64_t iThrottleSeconds = 0;
    std::string name;  // "Name", or its position from 1 when it has none
    std::string key;   // the whole record as text: the same record keeps its limit's state across saves
};

struct Settings {
    // Different for every snapshot built, so that a reader can tell a new
    // one from the old one even at the same address.
    std::uint64_t generation = 0;

    // The dictionary as last saved (or read at start), exactly as received.
    nlohmann::json dictionary = nlohmann::json::object();

    bool bHostsDisplay = false;
    std::string dateFormat;
    // Indexed by severity row: Emergency .. Debug, then Unknown.
    std::array<std::int64_t, kSeverityRows> iSeverity{2, 2, 2, 1, 1, 1, 0, 0, 0};
    std::array<std::int64_t, kSeverityRows> iRemoval{30, 30, 30, 30, 30, 30, 30, 30, 30};
    std::array<std::int64_t, kSeverityRows> iRemovalUnits{2, 2, 2, 2, 2, 2, 2, 2, 2};
    std::int64_t iPopupEvents = 0;  // kept, read by nothing in the daemon
    std::int64_t iEmailPort = 25;
    std::int64_t iEmailTimeout = 1;  // minutes per server reply
    std::int64_t iTextInterval = 0;
    std::int64_t iDatabaseInterval = 0;
    std::optional<std::string> emailServer;
    std::optional<std::string> emailSender;
    std::optional<std::string> emailUsername;
    std::optional<std::string> emailPassword;
    std::optional<std::string> emailSecurity;
    std::string formatSubject{kDefaultSubject};
    std::string formatBody{kDefaultBody};
    std::int64_t iTcpPort = 0;  // 0: no TCP reception
    std::int64_t iTlsPort = 0;  // 0: no TLS reception
    std::string tlsCertificate;
    std::string tlsKey;
    std::string tlsCaFile;  // empty: clients are not asked for a certificate
    std::string textLocationString;
    std::string databaseLocationString;
    nlohmann::json includeFiltersArray = nlohmann::json::array();
    nlohmann::json excludeFiltersArray = nlohmann::json::array();
    nlohmann::json actionsArray = nlohmann::json::array();
    nlohmann::json forwardingArray = nlohmann::json::array();

    // Only the usable records: one the receiver cannot use would match
    // nothing, and as the only include filter drop every event.
    std::vector<CompiledRecord> includeFilters;
    std::vector<CompiledRecord> excludeFilters;
    std::vector<CompiledAction> actions;
    // The usable destinations, in order, each name once.
    std::vector<ForwardingDestination> destinations;

    // Passes the include list (empty passes all) and no exclude filter.
    bool accepts(const EventCriteria& event) const;
};

// The filter records of the dictionary's two lists that cannot be used,
// each named by list, position and name with the reason, as in
// `includeFiltersArray[2] "Web": mask "40" is not a prefix length from 0 to 32`.
// A save or merge holding one is refused; a file read at start is applied
// without them (they stay in the file).
std::vector<std::string> unusableFilterRecords(const nlohmann::json& dictionary);

// A new snapshot: `base` with every known key present in `dictionary` set
// from it (a value of an unusable kind leaves the field as it was), and the
// dictionary kept as it is. A non-object dictionary changes no field.
Settings applySettingsDictionary(const Settings& base, const nlohmann::json& dictionary);

} // namespace brantwell
