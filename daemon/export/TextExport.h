// The text export: the whole store as one table in one file, replaced whole
// at every export.
//
// A header line "Date", "Priority", "Host", "Message", then one line per
// event line of the store, in the order of the file listing and, within a
// file, of the lines: the Date shown through the date formatter, then the
// other three fields as stored. Fields are separated by one TAB for a
// ".txt" path, written as they are, and by "," for ".csv", where a field
// holding a comma, a double quote or a line break is quoted (RFC 4180), so
// every row has the header's four columns. Every line ends with LF.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brantwell {

class DateFormatter;
class EventStore;

// TAB for the extension "txt", "," for "csv" (compared exactly), nothing
// for any other path.
std::optional<char> textExportSeparator(std::string_view path);

struct TextExportResult {
    bool ok = false;
    int error = 0;           // errno of the failed step
    std::size_t events = 0;  // lines written below the header
};

// Writes the export to `path` through a temporary file and rename; a failed
// export leaves the old file as it was.
TextExportResult exportText(const EventStore& store, const std::string& path, char separator,
                            const DateFormatter& dates);

} // namespace brantwell
