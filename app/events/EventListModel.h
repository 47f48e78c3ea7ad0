// The event list: every event the application knows of, newest first.
//
// Each row keeps the Date field exactly as stored beside the other three
// fields, so a deletion sends the stored line byte for byte and a removal by
// age finds its row whatever the display format is; the display format is
// applied only when a date is shown. Rows are held oldest first internally
// (display row 0 is the last element), so new events are appended cheaply.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <string>
#include <vector>

#include <QAbstractTableModel>

#include "DateFormat.h"
#include "EventRecord.h"
#include "SettingsKeys.h"
#include "TextPool.h"

namespace brantwell {

using DeletionCounts = std::map<std::string, long long>;

class EventListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ImageColumn, DateColumn, PriorityColumn, HostColumn, MessageColumn, ColumnCount };
    enum Role { SeverityRowRole = Qt::UserRole + 1 };

    explicit EventListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Display settings: the date format setting and the display class of
    // each severity row. Both take effect on the rows at once.
    void setDateFormat(const std::string& dateFormat);
    const std::string& dateFormat() const { return formatter_.setting(); }
    void setDisplayClasses(const std::array<std::int64_t, kSeverityRows>& classes);
    std::int64_t displayClassOf(int row) const;  // of a list row
    std::int64_t displayClass(std::size_t severityRow) const { return classes_[severityRow]; }

    // Replaces the list with what the event log files of `dataDir` hold.
    std::size_t loadStore(const std::string& dataDir);

    // Puts events at the top of the list; the last one given ends on top.
    void addEvents(std::span<const EventRecord> events);
    // Takes out one row per event whose four stored fields equal it; events
    // without a row change nothing. Returns the number of rows removed.
    std::size_t removeEvents(std::span<const EventRecord> events);
    // Takes out the given display rows (or all rows) and returns the
    // deletion counts of their stored lines: identical lines are counted.
    DeletionCounts deleteRows(std::vector<int> rows);

    EventRecord record(int row) const;  // REQUIRES: 0 <= row < rowCount()
    std::string storedLine(int row) const;
    std::size_t severityRow(int row) const;
    QString displayDate(int row) const;
    // The Date field as seconds since 1970 (NaN when it is no number) and
    // the host as an id shared by every row of that host, for the counts
    // over time that read every row.
    double seconds(int row) const { return at(row).seconds; }
    std::uint32_t hostId(int row) const { return at(row).host; }
    const std::string& hostText(std::uint32_t id) const { return hosts_.text(id); }
    QString cellText(int row, int column) const;

    // Events listed per severity row.
    std::int64_t count(std::size_t severityRow) const { return counts_[severityRow]; }
    const std::array<std::int64_t, kSeverityRows>& counts() const { return counts_; }

    // For the filter proxy, by storage index (0 the oldest row; display row
    // r is storage index rowCount() - 1 - r). Appending rows keeps every
    // storage index; removing rows moves the ones above them down.
    bool storedRowContains(std::size_t storage, std::string_view lowerNeedle) const;
    double storedSeconds(std::size_t storage) const { return rows_[storage].seconds; }
    std::uint32_t storedHostId(std::size_t storage) const { return rows_[storage].host; }
    // Orders two stored rows by one column: negative, zero or positive.
    // Dates that are not numbers come before all others, by their text.
    // compareStored reads the rows; compareSorting reads sort keys kept for
    // the whole list and is faster when a whole list is sorted. Both agree.
    int compareStored(int column, std::size_t a, std::size_t b) const;
    // The sort key of every stored row for one column (not the message), by
    // storage index; a date that is not a number is NaN. Sorting a million
    // rows then reads an array of 8 MB instead of the rows themselves,
    // which miss the cache once an earlier sort has shuffled the order.
    // Rebuilt at the first use after the rows or the display classes
    // changed. Agrees with compareStored.
    const std::vector<double>& sortKeys(int column) const;

private:
    struct Row {
        std::string date;     // the Date field as stored
        std::string message;
        double seconds;       // the Date field as a number; NaN when it is not one
        std::uint32_t priority;
        std::uint32_t host;
    };

    Row makeRow(const EventRecord& record);
    const Row& at(int row) const { return rows_[rows_.size() - 1 - static_cast<std::size_t>(row)]; }
    std::size_t rowOfPriority(std::uint32_t id) const { return priorityRows_[id]; }
    void appendLine(std::string& out, const Row& row) const;
    // REQUIRES: `indexes` ascending and unique storage indexes.
    void eraseStorage(const std::vector<std::size_t>& indexes);

    // Sort rank of each interned text, rebuilt when the pool has grown, so
    // sorting compares two integers instead of two texts.
    const std::vector<std::uint32_t>& ranks(const TextPool& pool, std::vector<std::uint32_t>& cache) const;

    std::uint64_t generation_ = 0;  // bumped by every change that may move a key
    mutable std::vector<double> sortKeys_;
    mutable int sortKeysColumn_ = -1;
    mutable std::uint64_t sortKeysGeneration_ = 0;

    std::deque<Row> rows_;
    mutable std::vector<std::uint32_t> priorityRanks_;
    mutable std::vector<std::uint32_t> hostRanks_;
    TextPool priorities_;
    std::vector<std::uint8_t> priorityRows_;  // severity row per interned priority
    TextPool hosts_;
    std::array<std::int64_t, kSeverityRows> counts_{};
    std::array<std::int64_t, kSeverityRows> classes_{};
    DateFormatter formatter_;
};

} // namespace brantwell
