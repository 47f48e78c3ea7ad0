// One destination record of "forwardingArray": where stored events are
// relayed to (an upstream syslog server), over which transport, in which
// format, and which events (the record test of a filter or action, each
// field optional).
//
// The daemon refuses a save holding a record it cannot use and leaves such a
// record out of a settings file read at start; the editor shows the same
// reasons beside the fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "RecordTest.h"

namespace brantwell {

enum class ForwardTransport { Udp, Tcp, Tls };
enum class ForwardFormat { Rfc5424, Rfc3164 };

inline constexpr std::int64_t kDefaultQueueMegabytes = 256;
inline constexpr std::int64_t kMaxQueueMegabytes = 1024 * 1024;  // one TiB

struct ForwardingDestination {
    std::string name;
    std::string host;
    std::uint16_t port = 0;
    ForwardTransport transport = ForwardTransport::Tcp;
    ForwardFormat format = ForwardFormat::Rfc5424;
    std::string caFile;           // TLS: empty for the system's trust store
    std::string certificateFile;  // TLS: client certificate, empty for none
    std::string keyFile;
    std::uint64_t queueBytes = kDefaultQueueMegabytes * 1024 * 1024;
    CompiledRecord test;          // the absent fields match every event
    std::string key;              // the whole record as text: a changed record is a new destination

    // Nothing when the record has a problem (see forwardingRecordProblem).
    static std::optional<ForwardingDestination> fromRecord(const nlohmann::json& record);
};

// Why one field cannot be used, or nothing when it can; the editor shows
// these beside the field.
std::optional<std::string> forwardingNameProblem(std::string_view name);
std::optional<std::string> forwardingHostProblem(std::string_view host);
std::optional<std::string> forwardingPortProblem(std::int64_t port);
std::optional<std::string> forwardingTransportProblem(std::string_view transport);
std::optional<std::string> forwardingFormatProblem(std::string_view format);
// `what` names the file ("CA file"); empty is no problem (the key may be absent).
std::optional<std::string> forwardingFileProblem(std::string_view path, std::string_view what);
std::optional<std::string> forwardingQueueProblem(std::int64_t megabytes);

// The first problem of a whole record, naming its key.
std::optional<std::string> forwardingRecordProblem(const nlohmann::json& record);

// The unusable records of the dictionary's "forwardingArray", each as
// `forwardingArray[1] "Central": port 0 is not a port from 1 to 65535`;
// a name used twice makes the second record unusable (its queue folder is
// named after it).
std::vector<std::string> unusableForwardingRecords(const nlohmann::json& dictionary);

// The folder name of a destination's queue: its name with every byte but
// letters, digits, '-' and '_' written as %XX, shortened with a hash when long.
std::string forwardingFolderName(std::string_view name);

} // namespace brantwell
