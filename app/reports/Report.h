// A report: the events of the store grouped by one field, read once from the
// event log files and kept as they were then (later changes of the files do
// not reach it).
//
// Built for a million events: priorities and hosts are interned, messages
// sit in one text block, and a group is found by its value through a hash
// table, so building is linear in the number of events whatever the number
// of groups. The events of each group are kept as one contiguous run of
// indexes, so a group of any size opens without a search.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <QString>

#include "DateFormat.h"
#include "events/TextPool.h"

namespace brantwell {

// The four reports, in the order the report list shows them.
enum class ReportKind { ByHost, ByMessage, ByPriority, ByDate };
inline constexpr int kReportKinds = 4;

// The four fields a report column can show; D is the rendered date.
enum class ReportField { Date, Priority, Host, Message };

struct ReportLayout {
    std::array<QString, 4> titles;
    ReportField group;                  // the first column, the group value
    std::array<ReportField, 3> details; // the second to fourth columns
};

const ReportLayout& reportLayout(ReportKind kind);
// The name shown in the report list.
QString reportName(ReportKind kind);

// The source list's entry for every event log file.
inline const QString kAllLogs = QStringLiteral("All Logs");

class Report {
public:
    // An empty report of `kind`, rendering dates with `dateFormat`.
    Report(ReportKind kind, std::string dateFormat);

    ReportKind kind() const { return kind_; }
    const std::string& dateFormat() const { return dateFormat_; }

    // Adds one event: to the group of its value, made when first met.
    void add(std::string_view date, std::string_view priority, std::string_view host,
             std::string_view message);
    // Makes the events of each group contiguous; call once after the last add.
    void finish();

    std::size_t groupCount() const { return groups_.size(); }
    std::size_t eventCount() const { return events_.size(); }
    const std::string& groupValue(std::size_t group) const { return groups_.text(static_cast<std::uint32_t>(group)); }
    // The events of a group, in file and line order. REQUIRES: finish().
    std::span<const std::uint32_t> groupEvents(std::size_t group) const;
    std::uint32_t groupOf(std::uint32_t event) const { return events_[event].group; }
    // The text of one of an event's fields; dates go through `formatter`.
    std::string field(std::uint32_t event, ReportField field, const DateFormatter& formatter) const;

private:
    struct Event {
        double seconds;              // NaN when the Date field is not a number
        std::uint64_t messageOffset; // in messages_
        std::uint32_t messageLength;
        std::uint32_t group;
        std::uint32_t priority;
        std::uint32_t host;
    };

    std::string_view renderedDate(double seconds);

    ReportKind kind_;
    std::string dateFormat_;
    DateFormatter formatter_;  // the builder's own, for the by-date groups
    double lastSeconds_ = -1;
    std::string lastRendered_;
    TextPool groups_;
    TextPool priorities_;
    TextPool hosts_;
    std::string messages_;  // unused by the by-message report: its groups hold them
    std::vector<Event> events_;
    std::vector<std::uint32_t> groupStart_;  // groupCount() + 1 offsets into byGroup_
    std::vector<std::uint32_t> byGroup_;
};

// What a build reads and how far it has come; shared between the thread
// that builds and the window that shows progress or cancels.
struct ReportProgress {
    std::atomic<std::uint64_t> bytesTotal{0};
    std::atomic<std::uint64_t> bytesRead{0};
    std::atomic<std::uint64_t> events{0};
    std::atomic<bool> cancel{false};
};

// Reads the event log files of `dataDir` (every one for "All Logs", else the
// one whose name without extension is `source`) into a report. Files that
// cannot be opened and lines without four fields contribute nothing.
// Returns nothing when cancelled.
std::unique_ptr<Report> buildReport(const std::string& dataDir, ReportKind kind,
                                    const QString& source, const std::string& dateFormat,
                                    ReportProgress& progress);

} // namespace brantwell
