#include "EventListModel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_map>

#include "EventLogReader.h"
#include "common/SeverityImages.h"
#include "common/SeverityRows.h"

namespace brantwell {

namespace {

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool containsFolded(std::string_view haystack, std::string_view lowerNeedle)
{
    if (lowerNeedle.size() > haystack.size())
        return false;
    return std::search(haystack.begin(), haystack.end(), lowerNeedle.begin(), lowerNeedle.end(),
                       [](char h, char n) { return lowerAscii(h) == n; })
           != haystack.end();
}

QString qtText(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

EventListModel::EventListModel(QObject* parent) : QAbstractTableModel(parent)
{
    for (std::size_t row = 0; row < kSeverityRows; ++row)
        classes_[row] = kDefaultSeverityClasses[row];
}

int EventListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int EventListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant EventListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount())
        return {};
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (index.column() == ImageColumn)
            return {};
        return cellText(row, index.column());
    case Qt::DecorationRole:
        if (index.column() == ImageColumn) {
            const auto cls = displayClassOf(row);
            if (isDisplayClass(cls))
                return severityIcon(static_cast<DisplayClass>(cls));
        }
        return {};
    case SeverityRowRole:
        return static_cast<int>(severityRow(row));
    default:
        return {};
    }
}

QVariant EventListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ImageColumn: return QString();
    case DateColumn: return QStringLiteral("Date");
    case PriorityColumn: return QStringLiteral("Priority");
    case HostColumn: return QStringLiteral("Host");
    case MessageColumn: return QStringLiteral("Message");
    default: return {};
    }
}

void EventListModel::setDateFormat(const std::string& dateFormat)
{
    if (dateFormat == formatter_.setting())
        return;
    formatter_ = DateFormatter(dateFormat);
    if (!rows_.empty())
        Q_EMIT dataChanged(index(0, DateColumn), index(rowCount() - 1, DateColumn), {Qt::DisplayRole});
}

void EventListModel::setDisplayClasses(const std::array<std::int64_t, kSeverityRows>& classes)
{
    classes_ = classes;
    ++generation_;
    if (!rows_.empty())
        Q_EMIT dataChanged(index(0, ImageColumn), index(rowCount() - 1, ImageColumn),
                           {Qt::DecorationRole});
}

std::int64_t EventListModel::displayClassOf(int row) const
{
    return classes_[severityRow(row)];
}

EventListModel::Row EventListModel::makeRow(const EventRecord& record)
{
    const auto priority = priorities_.intern(record.priority);
    if (priority == priorityRows_.size())
        priorityRows_.push_back(static_cast<std::uint8_t>(severityRowOf(record.priority)));
    return Row{record.date, record.message, listedDateSeconds(record.date), priority,
               hosts_.intern(record.host)};
}

std::size_t EventListModel::loadStore(const std::string& dataDir)
{
    beginResetModel();
    rows_.clear();
    counts_ = {};
    const auto events = readEventStore(dataDir, [this](EventRecord&& record) {
        rows_.push_back(makeRow(record));
        ++counts_[rowOfPriority(rows_.back().priority)];
    });
    ++generation_;
    endResetModel();
    return events;
}

void EventListModel::addEvents(std::span<const EventRecord> events)
{
    if (events.empty())
        return;
    std::vector<Row> fresh;
    fresh.reserve(events.size());
    for (const auto& event : events)
        fresh.push_back(makeRow(event));
    beginInsertRows({}, 0, static_cast<int>(fresh.size()) - 1);
    for (auto& row : fresh) {
        ++counts_[rowOfPriority(row.priority)];
        rows_.push_back(std::move(row));
    }
    ++generation_;  // before the proxy places the new rows
    endInsertRows();
}

void EventListModel::appendLine(std::string& out, const Row& row) const
{
    out += row.date;
    out += ',';
    out += priorities_.text(row.priority);
    out += ',';
    out += hosts_.text(row.host);
    out += ',';
    out += row.message;
    out += '\n';
}

std::size_t EventListModel::removeEvents(std::span<const EventRecord> events)
{
    if (events.empty() || rows_.empty())
        return 0;
    std::unordered_map<std::string, std::size_t> wanted;
    for (const auto& event : events)
        ++wanted[formatEventLine(event)];
    std::size_t missing = events.size();
    // Aged-out events are the oldest, so the search starts at the oldest
    // end and stops once every event has its row. Identical rows are
    // interchangeable, so which copy goes makes no difference.
    std::vector<std::size_t> found;
    std::string line;
    for (std::size_t i = 0; i < rows_.size() && missing > 0; ++i) {
        line.clear();
        appendLine(line, rows_[i]);
        const auto it = wanted.find(line);
        if (it == wanted.end() || it->second == 0)
            continue;
        --it->second;
        --missing;
        found.push_back(i);
    }
    eraseStorage(found);
    return found.size();
}

DeletionCounts EventListModel::deleteRows(std::vector<int> rows)
{
    // A row given twice is still one event.
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    DeletionCounts counts;
    std::vector<std::size_t> storage;
    storage.reserve(rows.size());
    std::string line;
    for (const int row : rows) {
        if (row < 0 || row >= rowCount())
            continue;
        line.clear();
        appendLine(line, at(row));
        ++counts[line];
        storage.push_back(rows_.size() - 1 - static_cast<std::size_t>(row));
    }
    std::sort(storage.begin(), storage.end());
    eraseStorage(storage);
    return counts;
}

void EventListModel::eraseStorage(const std::vector<std::size_t>& indexes)
{
    if (indexes.empty())
        return;
    for (const auto i : indexes)
        --counts_[rowOfPriority(rows_[i].priority)];

    // Contiguous runs of storage indexes, each one range of display rows.
    std::vector<std::pair<std::size_t, std::size_t>> runs;  // [first, last]
    for (const auto i : indexes) {
        if (!runs.empty() && runs.back().second + 1 == i)
            runs.back().second = i;
        else
            runs.emplace_back(i, i);
    }
    // Every removal signal makes the views and the proxy walk their
    // mappings; past a few dozen scattered runs one reset is cheaper.
    constexpr std::size_t kMaxRunSignals = 64;
    if (runs.size() > kMaxRunSignals) {
        beginResetModel();
        std::size_t next = 0, out = 0;
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (next < indexes.size() && indexes[next] == i) {
                ++next;
                continue;
            }
            if (out != i)
                rows_[out] = std::move(rows_[i]);
            ++out;
        }
        rows_.resize(out);
        ++generation_;
        endResetModel();
        return;
    }
    // From the highest storage index down, so the lower ones stay valid.
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        const auto n = rows_.size();
        const int firstRow = static_cast<int>(n - 1 - run->second);
        const int lastRow = static_cast<int>(n - 1 - run->first);
        beginRemoveRows({}, firstRow, lastRow);
        rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(run->first),
                    rows_.begin() + static_cast<std::ptrdiff_t>(run->second + 1));
        ++generation_;
        endRemoveRows();
    }
}

EventRecord EventListModel::record(int row) const
{
    const Row& r = at(row);
    return EventRecord{r.date, priorities_.text(r.priority), hosts_.text(r.host), r.message};
}

std::string EventListModel::storedLine(int row) const
{
    std::string line;
    appendLine(line, at(row));
    return line;
}

std::size_t EventListModel::severityRow(int row) const
{
    return rowOfPriority(at(row).priority);
}

QString EventListModel::displayDate(int row) const
{
    const Row& r = at(row);
    // A Date field that is not a number is shown as it is stored.
    if (std::isnan(r.seconds))
        return qtText(r.date);
    return QString::fromStdString(formatter_.format(r.seconds));
}

QString EventListModel::cellText(int row, int column) const
{
    const Row& r = at(row);
    switch (column) {
    case DateColumn: return displayDate(row);
    case PriorityColumn: return qtText(priorities_.text(r.priority));
    case HostColumn: return qtText(hosts_.text(r.host));
    case MessageColumn: return qtText(r.message);
    default: return {};
    }
}

bool EventListModel::storedRowContains(std::size_t storage, std::string_view lowerNeedle) const
{
    const Row& r = rows_[storage];
    return containsFolded(hosts_.text(r.host), lowerNeedle)
           || containsFolded(priorities_.text(r.priority), lowerNeedle)
           || containsFolded(r.message, lowerNeedle);
}

namespace {

template <typename T>
int threeWay(const T& a, const T& b)
{
    return a < b ? -1 : b < a ? 1 : 0;
}

// Seconds with the rule for dates that are not numbers (NaN): those first,
// by their text.
int compareDates(double a, double b, const std::string& textA, const std::string& textB)
{
    if (std::isnan(a) || std::isnan(b)) {
        if (std::isnan(a) != std::isnan(b))
            return std::isnan(a) ? -1 : 1;
        return threeWay(textA, textB);
    }
    return threeWay(a, b);
}

} // namespace

int EventListModel::compareStored(int column, std::size_t a, std::size_t b) const
{
    const Row& x = rows_[a];
    const Row& y = rows_[b];
    switch (column) {
    case ImageColumn: {
        const std::size_t rx = rowOfPriority(x.priority), ry = rowOfPriority(y.priority);
        // By display class, then the more severe row first.
        if (classes_[rx] != classes_[ry])
            return threeWay(classes_[rx], classes_[ry]);
        return threeWay(ry, rx);
    }
    case DateColumn: return compareDates(x.seconds, y.seconds, x.date, y.date);
    case PriorityColumn: return x.priority == y.priority ? 0 : threeWay(priorities_.text(x.priority), priorities_.text(y.priority));
    case HostColumn: return x.host == y.host ? 0 : threeWay(hosts_.text(x.host), hosts_.text(y.host));
    case MessageColumn: return threeWay(x.message, y.message);
    default: return 0;
    }
}

const std::vector<std::uint32_t>& EventListModel::ranks(const TextPool& pool,
                                                        std::vector<std::uint32_t>& cache) const
{
    if (cache.size() == pool.size())
        return cache;
    std::vector<std::uint32_t> order(pool.size());
    for (std::uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&pool](std::uint32_t x, std::uint32_t y) { return pool.text(x) < pool.text(y); });
    cache.assign(pool.size(), 0);
    for (std::uint32_t rank = 0; rank < order.size(); ++rank)
        cache[order[rank]] = rank;
    return cache;
}

const std::vector<double>& EventListModel::sortKeys(int column) const
{
    if (sortKeysColumn_ == column && sortKeysGeneration_ == generation_ && sortKeys_.size() == rows_.size())
        return sortKeys_;
    sortKeys_.resize(rows_.size());
    switch (column) {
    case ImageColumn: {
        // By display class, then the more severe row first: the rank of
        // each of the few severity rows in that order.
        std::array<std::size_t, kSeverityRows> order{};
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [this](std::size_t x, std::size_t y) {
            return classes_[x] != classes_[y] ? classes_[x] < classes_[y] : x > y;
        });
        std::array<double, kSeverityRows> rank{};
        for (std::size_t i = 0; i < order.size(); ++i)
            rank[order[i]] = static_cast<double>(i);
        for (std::size_t i = 0; i < rows_.size(); ++i)
            sortKeys_[i] = rank[rowOfPriority(rows_[i].priority)];
        break;
    }
    case DateColumn:
        for (std::size_t i = 0; i < rows_.size(); ++i)
            sortKeys_[i] = rows_[i].seconds;
        break;
    case PriorityColumn: {
        const auto& rank = ranks(priorities_, priorityRanks_);
        for (std::size_t i = 0; i < rows_.size(); ++i)
            sortKeys_[i] = rank[rows_[i].priority];
        break;
    }
    case HostColumn: {
        const auto& rank = ranks(hosts_, hostRanks_);
        for (std::size_t i = 0; i < rows_.size(); ++i)
            sortKeys_[i] = rank[rows_[i].host];
        break;
    }
    default:
        std::fill(sortKeys_.begin(), sortKeys_.end(), 0.0);
    }
    sortKeysColumn_ = column;
    sortKeysGeneration_ = generation_;
    return sortKeys_;
}

} // namespace brantwell
