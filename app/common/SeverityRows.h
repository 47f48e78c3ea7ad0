// The nine severity rows every view of the application classifies by: the
// eight severities, then "unknown". An event belongs to the first row whose
// match word occurs in its priority text, so a facility named like a
// severity ("Alert.Error") wins over the severity that follows it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "SettingsKeys.h"

namespace brantwell {

inline constexpr std::size_t kUnknownRow = 8;

// Match words of rows 0..7 (row 8 matches whatever is left).
inline constexpr std::array<std::string_view, 8> kSeverityMatchWords = {
    "Emergency", "Alert", "Critical", "Error", "Warning", "Notice", "Informational", "Debug"};

// Names of the rows in the popup arrays.
inline constexpr std::array<std::string_view, kSeverityRows> kSeverityPopupNames = {
    "Emergency", "Alert", "Critical", "Error", "Warning", "Notice", "Information", "Debug",
    "Unknown"};

// Row index 0..8 of a priority text (case-sensitive substring test).
std::size_t severityRowOf(std::string_view priority);

// Display classes: 0 normal, 1 moderate, 2 severe; anything else sets no image.
enum class DisplayClass { Normal = 0, Moderate = 1, Severe = 2 };
bool isDisplayClass(long long value);

} // namespace brantwell
