#include "ReportModel.h"

#include <QThreadPool>

#include <utility>

#include "ReportMarks.h"

namespace brantwell {

ReportModel::ReportModel(QObject* parent) : QAbstractTableModel(parent) {}

int ReportModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ReportModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 4;
}

void ReportModel::setTitles(const std::array<QString, 4>& titles)
{
    titles_ = titles;
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, 3);
}

QVariant ReportModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 4)
        return {};
    return titles_[static_cast<std::size_t>(section)];
}

void ReportModel::setReport(std::shared_ptr<const Report> report)
{
    beginResetModel();
    std::shared_ptr<const Report> previous = std::exchange(report_, std::move(report));
    rows_.clear();
    rows_.shrink_to_fit();
    open_.clear();
    if (report_) {
        formatter_ = DateFormatter(report_->dateFormat());
        rows_.resize(report_->groupCount());
        for (std::uint32_t g = 0; g < rows_.size(); ++g)
            rows_[g] = g;
        open_.assign(report_->groupCount(), 0);
    }
    endResetModel();
    // A report of a million events takes about half a second to free: not
    // on the GUI thread. A print still reading it frees it on its own thread.
    if (previous)
        QThreadPool::globalInstance()->start([old = std::move(previous)]() mutable { old.reset(); });
}

ReportModel::Snapshot ReportModel::snapshot() const
{
    return Snapshot{report_, rows_, open_, titles_};
}

bool ReportModel::Snapshot::isGroupRow(int row) const
{
    return row >= 0 && static_cast<std::size_t>(row) < rows.size() && !(rows[static_cast<std::size_t>(row)] & kEventBit);
}

ReportModel::Mark ReportModel::Snapshot::mark(int row) const
{
    if (!isGroupRow(row))
        return Mark::None;
    return open[rows[static_cast<std::size_t>(row)]] ? Mark::Minus : Mark::Plus;
}

QString ReportModel::Snapshot::cellText(int row, int column, const DateFormatter& formatter) const
{
    if (!report || row < 0 || static_cast<std::size_t>(row) >= rows.size() || column < 0 || column >= 4)
        return {};
    return entryText(*report, rows[static_cast<std::size_t>(row)], column, formatter);
}

bool ReportModel::isGroupRow(int row) const
{
    return row >= 0 && static_cast<std::size_t>(row) < rows_.size() && !(rows_[static_cast<std::size_t>(row)] & kEventBit);
}

ReportModel::Mark ReportModel::mark(int row) const
{
    if (!isGroupRow(row))
        return Mark::None;
    return open_[rows_[static_cast<std::size_t>(row)]] ? Mark::Minus : Mark::Plus;
}

bool ReportModel::toggle(int row)
{
    if (!isGroupRow(row))
        return false;
    const auto at = static_cast<std::size_t>(row);
    const std::uint32_t group = rows_[at];
    if (!open_[group]) {
        const auto events = report_->groupEvents(group);
        open_[group] = 1;
        Q_EMIT dataChanged(index(row, 0), index(row, 0), {Qt::DecorationRole, MarkRole});
        if (events.empty())
            return true;
        beginInsertRows({}, row + 1, row + static_cast<int>(events.size()));
        rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at + 1), events.begin(), events.end());
        for (std::size_t i = at + 1; i <= at + events.size(); ++i)
            rows_[i] |= kEventBit;
        endInsertRows();
        return true;
    }
    open_[group] = 0;
    Q_EMIT dataChanged(index(row, 0), index(row, 0), {Qt::DecorationRole, MarkRole});
    // The rows after it for as long as they are events of this group; the
    // end of the table ends the run too.
    std::size_t end = at + 1;
    while (end < rows_.size() && (rows_[end] & kEventBit) && report_->groupOf(rows_[end] & ~kEventBit) == group)
        ++end;
    if (end > at + 1) {
        beginRemoveRows({}, row + 1, static_cast<int>(end - 1));
        rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(at + 1), rows_.begin() + static_cast<std::ptrdiff_t>(end));
        endRemoveRows();
    }
    return true;
}

QString ReportModel::cellText(int row, int column) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size() || column < 0 || column >= 4)
        return {};
    return entryText(*report_, rows_[static_cast<std::size_t>(row)], column, formatter_);
}

QString ReportModel::entryText(const Report& report, std::uint32_t entry, int column,
                               const DateFormatter& formatter)
{
    if (!(entry & kEventBit))
        return column == 0 ? QString::fromStdString(report.groupValue(entry)) : QString();
    if (column == 0)
        return {};
    const auto field = reportLayout(report.kind()).details[static_cast<std::size_t>(column - 1)];
    return QString::fromStdString(report.field(entry & ~kEventBit, field, formatter));
}

QVariant ReportModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return cellText(index.row(), index.column());
    case Qt::DecorationRole:
        if (index.column() == 0 && isGroupRow(index.row()))
            return groupMark(mark(index.row()) == Mark::Minus);
        return {};
    case MarkRole:
        return static_cast<int>(mark(index.row()));
    default:
        return {};
    }
}

} // namespace brantwell
