#include "Settings.h"

#include <atomic>

#include "SettingsValue.h"

namespace brantwell {

namespace {

void setInteger(std::int64_t& field, const nlohmann::json& d, std::string_view k)
{
    if (auto v = readInteger(d, k))
        field = *v;
}

void setString(std::string& field, const nlohmann::json& d, std::string_view k)
{
    if (auto v = readString(d, k))
        field = std::move(*v);
}

void setString(std::optional<std::string>& field, const nlohmann::json& d, std::string_view k)
{
    if (auto v = readString(d, k))
        field = std::move(*v);
}

// A list of records: only an array replaces the field; entries that are
// not objects stay in the list (the file keeps them) but match nothing.
void setRecords(nlohmann::json& field, const nlohmann::json& d, std::string_view k)
{
    const auto it = d.find(k);
    if (it != d.end() && it->is_array())
        field = *it;
}

nlohmann::json objectOrEmpty(const nlohmann::json& record, const char* k)
{
    if (record.is_object()) {
        const auto it = record.find(k);
        if (it != record.end() && it->is_object())
            return *it;
    }
    return nlohmann::json::object();
}

} // namespace

bool Settings::accepts(const EventCriteria& event) const
{
    if (!includeFilters.empty()) {
        bool included = false;
        for (const auto& f : includeFilters) {
            if (f.matches(event)) {
                included = true;
                break;
            }
        }
        if (!included)
            return false;
    }
    for (const auto& f : excludeFilters)
        if (f.matches(event))
            return false;
    return true;
}

std::vector<std::string> unusableFilterRecords(const nlohmann::json& d)
{
    std::vector<std::string> out;
    if (!d.is_object())
        return out;
    for (const std::string_view k : {key::includeFiltersArray, key::excludeFiltersArray}) {
        const auto list = d.find(k);
        if (list == d.end() || !list->is_array())
            continue;
        for (std::size_t i = 0; i < list->size(); ++i) {
            const auto& r = (*list)[i];
            if (const auto why = filterRecordProblem(r)) {
                const auto name = r.is_object() ? recordText(r, "Name") : std::nullopt;
                out.push_back(std::string(k) + "[" + std::to_string(i) + "]"
                              + (name && !name->empty() ? " \"" + *name + "\"" : std::string()) + ": " + *why);
            }
        }
    }
    return out;
}

Settings applySettingsDictionary(const Settings& base, const nlohmann::json& d)
{
    Settings s = base;
    if (!d.is_object())
        return s;
    s.dictionary = d;
    if (auto v = readBoolean(d, key::hostsDisplay))
        s.bHostsDisplay = *v;
    setString(s.dateFormat, d, key::dateFormat);
    for (std::size_t i = 0; i < kSeverityRows; ++i) {
        setInteger(s.iSeverity[i], d, kSeverityClassKeys[i]);
        setInteger(s.iRemoval[i], d, kRemovalAgeKeys[i]);
        setInteger(s.iRemovalUnits[i], d, kRemovalUnitKeys[i]);
    }
    setRecords(s.includeFiltersArray, d, key::includeFiltersArray);
    setRecords(s.excludeFiltersArray, d, key::excludeFiltersArray);
    setInteger(s.iEmailPort, d, key::actionsEmailPort);
    setInteger(s.iEmailTimeout, d, key::actionsEmailTimeout);
    setString(s.emailServer, d, key::actionsEmailServer);
    setString(s.emailSender, d, key::actionsEmailSender);
    setString(s.emailUsername, d, key::actionsEmailUsername);
    setString(s.emailPassword, d, key::actionsEmailPassword);
    setString(s.emailSecurity, d, key::actionsEmailSecurity);
    setString(s.formatSubject, d, key::actionsFormatSubject);
    setString(s.formatBody, d, key::actionsFormatBody);
    setRecords(s.actionsArray, d, key::actionsArray);
    setRecords(s.forwardingArray, d, key::forwardingArray);
    setInteger(s.iTextInterval, d, key::textInterval);
    setInteger(s.iDatabaseInterval, d, key::databaseInterval);
    setString(s.textLocationString, d, key::textLocation);
    setString(s.databaseLocationString, d, key::databaseLocation);
    setInteger(s.iTcpPort, d, key::receptionTcpPort);
    setInteger(s.iTlsPort, d, key::receptionTlsPort);
    setString(s.tlsCertificate, d, key::receptionTlsCertificate);
    setString(s.tlsKey, d, key::receptionTlsKey);
    setString(s.tlsCaFile, d, key::receptionTlsCaFile);

    s.includeFilters.clear();
    for (const auto& r : s.includeFiltersArray)
        if (!filterRecordProblem(r))
            s.includeFilters.emplace_back(r);
    s.excludeFilters.clear();
    for (const auto& r : s.excludeFiltersArray)
        if (!filterRecordProblem(r))
            s.excludeFilters.emplace_back(r);
    s.actions.clear();
    for (const auto& r : s.actionsArray) {
        CompiledAction a{CompiledRecord(r), objectOrEmpty(r, "runCommand"), objectOrEmpty(r, "sendEmail"),
                         objectOrEmpty(r, "setEvent"), 0, 0, {}, {}};
        if (r.is_object()) {
            a.iThrottleCount = readInteger(r, "ThrottleCount").value_or(0);
            a.iThrottleSeconds = readInteger(r, "ThrottleSeconds").value_or(0);
            a.name = readString(r, "Name").value_or("");
        }
        if (a.name.empty())
            a.name = std::to_string(s.actions.size() + 1);
        a.key = r.dump();
        s.actions.push_back(std::move(a));
    }
    // A record the daemon cannot use, or a name used twice, is left out.
    s.destinations.clear();
    for (const auto& r : s.forwardingArray) {
        auto destination = ForwardingDestination::fromRecord(r);
        if (!destination)
            continue;
        bool taken = false;
        for (const auto& other : s.destinations)
            taken = taken || other.name == destination->name;
        if (!taken)
            s.destinations.push_back(std::move(*destination));
    }
    static std::atomic<std::uint64_t> generations{0};
    s.generation = ++generations;
    return s;
}

} // namespace brantwell
