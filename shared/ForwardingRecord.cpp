#include "ForwardingRecord.h"

#include <cctype>
#include <cstdio>
#include <set>

#include "SettingsValue.h"

namespace brantwell {

namespace {

bool hasControl(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

// An integer field, given as a number or as decimal text (as the editor's
// line edit may store it); nothing when it is neither.
std::optional<std::int64_t> wholeNumber(const nlohmann::json& value)
{
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_unsigned())
        return static_cast<std::int64_t>(std::min<std::uint64_t>(value.get<std::uint64_t>(), INT64_MAX));
    if (!value.is_string())
        return std::nullopt;
    const auto& text = value.get_ref<const std::string&>();
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    std::int64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

// The record test of a destination: the fields it has, the others matching
// everything. "IP" and "Mask" go together.
nlohmann::json testRecord(const nlohmann::json& record)
{
    nlohmann::json t = {{"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"}, {"Severity", "*"}, {"Message", "*"}};
    for (const char* k : {"IP", "Facility", "Severity", "Message"})
        if (const auto v = recordText(record, k))
            t[k] = *v;
    const auto mask = record.find("Mask");
    if (mask != record.end())
        t["Mask"] = mask->is_number_integer() ? std::to_string(mask->get<long long>()) : recordText(record, "Mask").value_or("");
    return t;
}

} // namespace

std::optional<std::string> forwardingNameProblem(std::string_view name)
{
    bool blank = true;
    for (const char c : name)
        blank = blank && std::isspace(static_cast<unsigned char>(c));
    if (blank)
        return std::string("the name is empty");
    if (hasControl(name))
        return std::string("the name holds a control character");
    return std::nullopt;
}

std::optional<std::string> forwardingHostProblem(std::string_view host)
{
    if (host.empty())
        return std::string("no host; give the upstream server's name or address");
    if (host.size() > 253)
        return std::string("the host name is longer than 253 characters");
    for (const char c : host)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F || c == '/' || c == ',')
            return shownQuoted(host) + " is not a host name or address";
    return std::nullopt;
}

std::optional<std::string> forwardingPortProblem(std::int64_t port)
{
    if (port < 1 || port > 65535)
        return "port " + std::to_string(port) + " is not a port from 1 to 65535";
    return std::nullopt;
}

std::optional<std::string> forwardingTransportProblem(std::string_view transport)
{
    if (transport == "udp" || transport == "tcp" || transport == "tls")
        return std::nullopt;
    return "transport " + shownQuoted(transport) + " is not udp, tcp or tls";
}

std::optional<std::string> forwardingFormatProblem(std::string_view format)
{
    if (format == "rfc5424" || format == "rfc3164")
        return std::nullopt;
    return "format " + shownQuoted(format) + " is not rfc5424 or rfc3164";
}

std::optional<std::string> forwardingFileProblem(std::string_view path, std::string_view what)
{
    if (path.empty())
        return std::nullopt;
    if (path.front() != '/')
        return "the " + std::string(what) + " " + shownQuoted(path) + " is not an absolute path";
    if (hasControl(path))
        return "the " + std::string(what) + " path holds a control character";
    return std::nullopt;
}

std::optional<std::string> forwardingQueueProblem(std::int64_t megabytes)
{
    if (megabytes < 1 || megabytes > kMaxQueueMegabytes)
        return "a queue of " + std::to_string(megabytes) + " MB is not from 1 to " + std::to_string(kMaxQueueMegabytes);
    return std::nullopt;
}

std::optional<std::string> forwardingRecordProblem(const nlohmann::json& record)
{
    if (!record.is_object())
        return std::string("the record is not a dictionary");
    const auto text = [&record](const char* k) { return textField(record, k); };
    const auto has = [&record](const char* k) { return record.find(k) != record.end(); };
    const auto missing = [](const char* k) { return "\"" + std::string(k) + "\" is missing or not text"; };
    const auto name = text("Name");
    if (!name)
        return missing("Name");
    if (auto why = forwardingNameProblem(*name))
        return why;
    const auto host = text("Host");
    if (!host)
        return missing("Host");
    if (auto why = forwardingHostProblem(*host))
        return why;
    const auto port = has("Port") ? wholeNumber(record["Port"]) : std::nullopt;
    if (!port)
        return std::string("\"Port\" is missing or not a whole number");
    if (auto why = forwardingPortProblem(*port))
        return why;
    const auto transport = text("Transport");
    if (!transport)
        return missing("Transport");
    if (auto why = forwardingTransportProblem(*transport))
        return why;
    const auto format = text("Format");
    if (!format)
        return missing("Format");
    if (auto why = forwardingFormatProblem(*format))
        return why;
    for (const auto& [k, what] : {std::pair{"CaFile", "CA file"}, {"CertificateFile", "certificate file"},
                                  {"KeyFile", "key file"}}) {
        if (!has(k))
            continue;
        const auto path = text(k);
        if (!path)
            return missing(k);
        if (auto why = forwardingFileProblem(*path, what))
            return why;
    }
    if (!text("CertificateFile").value_or("").empty() != !text("KeyFile").value_or("").empty())
        return std::string("a client certificate needs both \"CertificateFile\" and \"KeyFile\"");
    if (has("QueueMegabytes")) {
        const auto megabytes = wholeNumber(record["QueueMegabytes"]);
        if (!megabytes)
            return std::string("\"QueueMegabytes\" is not a whole number");
        if (auto why = forwardingQueueProblem(*megabytes))
            return why;
    }
    // The record test: each field optional, checked as a filter's is.
    if (has("IP") != has("Mask"))
        return std::string("\"IP\" and \"Mask\" go together: give both, or neither for every sender");
    if (has("IP")) {
        const auto ip = text("IP");
        if (!ip)
            return missing("IP");
        if (auto why = filterAddressProblem(*ip))
            return why;
        const auto mask = maskField(record);
        if (!mask)
            return missing("Mask");
        if (auto why = filterMaskProblem(*mask))
            return why;
    }
    for (const auto& [k, what] : {std::pair{"Facility", "facility"}, {"Severity", "severity"}, {"Message", "message"}}) {
        if (!has(k))
            continue;
        const auto pattern = text(k);
        if (!pattern)
            return missing(k);
        if (auto why = filterPatternProblem(*pattern, what))
            return why;
    }
    return std::nullopt;
}

std::optional<ForwardingDestination> ForwardingDestination::fromRecord(const nlohmann::json& record)
{
    if (forwardingRecordProblem(record))
        return std::nullopt;
    ForwardingDestination d;
    d.name = recordText(record, "Name").value_or("");
    d.host = recordText(record, "Host").value_or("");
    d.port = static_cast<std::uint16_t>(*wholeNumber(record["Port"]));
    const std::string transport = recordText(record, "Transport").value_or("");
    d.transport = transport == "udp" ? ForwardTransport::Udp : transport == "tls" ? ForwardTransport::Tls : ForwardTransport::Tcp;
    d.format = recordText(record, "Format").value_or("") == "rfc3164" ? ForwardFormat::Rfc3164 : ForwardFormat::Rfc5424;
    d.caFile = recordText(record, "CaFile").value_or("");
    d.certificateFile = recordText(record, "CertificateFile").value_or("");
    d.keyFile = recordText(record, "KeyFile").value_or("");
    if (record.contains("QueueMegabytes"))
        d.queueBytes = static_cast<std::uint64_t>(*wholeNumber(record["QueueMegabytes"])) * 1024 * 1024;
    d.test = CompiledRecord(testRecord(record));
    d.key = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return d;
}

std::vector<std::string> unusableForwardingRecords(const nlohmann::json& d)
{
    std::vector<std::string> out;
    if (!d.is_object())
        return out;
    const auto list = d.find("forwardingArray");
    if (list == d.end())
        return out;
    if (!list->is_array()) {
        out.push_back("forwardingArray: not a list of destination records");
        return out;
    }
    std::set<std::string> names;
    for (std::size_t i = 0; i < list->size(); ++i) {
        const auto& r = (*list)[i];
        const auto name = r.is_object() ? recordText(r, "Name") : std::nullopt;
        auto why = forwardingRecordProblem(r);
        if (!why && !names.insert(*name).second)
            why = "the name is used by an earlier destination";
        if (why)
            out.push_back("forwardingArray[" + std::to_string(i) + "]"
                          + (name && !name->empty() ? " " + shownQuoted(*name) : std::string()) + ": " + *why);
    }
    return out;
}

std::string forwardingFolderName(std::string_view name)
{
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '_') {
            out += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", u);
            out += hex;
        }
    }
    if (out.size() > 120) {
        // FNV-1a of the whole name keeps long names that share a start apart.
        std::uint64_t h = 1469598103934665603ULL;
        for (const char c : name)
            h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        char tail[20];
        std::snprintf(tail, sizeof tail, "-%016llx", static_cast<unsigned long long>(h));
        out = out.substr(0, 100) + tail;
    }
    return out;
}

} // namespace brantwell
