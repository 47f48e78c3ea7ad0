// The rows of the report table: every group row, and below each open group
// its events. A row is one integer (a group or an event index), so a report
// of a million events and a group of a hundred thousand open at little cost.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QAbstractTableModel>

#include "DateFormat.h"
#include "Report.h"

namespace brantwell {

class ReportModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class Mark { None, Plus, Minus };
    enum Role { MarkRole = Qt::UserRole + 1 };  // a Mark, as an int

    explicit ReportModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The rows as they are now, readable on another thread: the report is
    // shared (it never changes once built), the rows are copied.
    struct Snapshot {
        std::shared_ptr<const Report> report;
        std::vector<std::uint32_t> rows;
        std::vector<std::uint8_t> open;
        std::array<QString, 4> titles;

        int rowCount() const { return static_cast<int>(rows.size()); }
        bool isGroupRow(int row) const;
        Mark mark(int row) const;
        // Each thread brings its own `formatter` for the dates.
        QString cellText(int row, int column, const DateFormatter& formatter) const;
    };
    Snapshot snapshot() const;

    // Shows a new report with every group closed; nothing empties the table.
    void setReport(std::shared_ptr<const Report> report);
    void clear() { setReport(nullptr); }
    const Report* report() const { return report_.get(); }
    // The column titles stay when the table is emptied.
    void setTitles(const std::array<QString, 4>& titles);

    bool isGroupRow(int row) const;
    Mark mark(int row) const;
    // A group row opens (its events inserted directly below it) or closes
    // (exactly those rows taken out); any other row changes nothing.
    // Returns whether the rows changed.
    bool toggle(int row);
    QString cellText(int row, int column) const;

private:
    static constexpr std::uint32_t kEventBit = 0x80000000u;
    static QString entryText(const Report& report, std::uint32_t entry, int column,
                             const DateFormatter& formatter);

    std::shared_ptr<const Report> report_;
    std::vector<std::uint32_t> rows_;  // a group index, or an event index with kEventBit
    std::vector<std::uint8_t> open_;   // per group
    std::array<QString, 4> titles_;
    DateFormatter formatter_;          // dates shown in the report's format
};

} // namespace brantwell
