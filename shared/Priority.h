// Syslog severity and facility names and the priority text built from them.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace brantwell {

inline constexpr std::array<std::string_view, 8> kSeverityNames = {
    "Emergency", "Alert", "Critical", "Error", "Warning", "Notice", "Informational", "Debug"};

inline constexpr std::array<std::string_view, 24> kFacilityNames = {
    "Kernel", "User",     "Mail",   "System", "Security", "Internal", "Printer", "News",
    "UUCP",   "Clock",    "Security", "FTP",  "NTP",      "Audit",    "Alert",   "Clock",
    "Local0", "Local1",   "Local2", "Local3", "Local4",   "Local5",   "Local6",  "Local7"};

inline constexpr std::string_view kUnknownPriority = "Unknown";

// Priority text of a PRI value: "Facility.Severity" for 1..191, "Unknown"
// for 0, for values read as negative and for facilities beyond the table.
std::string_view priorityText(std::uint32_t pri);

struct PriorityParts {
    std::string_view facility;
    std::string_view severity;
};

// The facility and severity parts that the record test compares. A text
// without "." (the priority "Unknown") gives that text for both parts.
PriorityParts splitPriority(std::string_view priority);

} // namespace brantwell
