#include "EventFilterProxy.h"

#include <algorithm>
#include <cmath>

namespace brantwell {

EventFilterProxy::EventFilterProxy(EventListModel* events, QObject* parent)
    : QAbstractProxyModel(parent), events_(events)
{
    setSourceModel(events);
    connect(events, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(events, &QAbstractItemModel::modelReset, this, [this] {
        rebuild();
        endResetModel();
    });
    connect(events, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { onRowsInserted(first, last); });
    connect(events, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { onRowsAboutToBeRemoved(first, last); });
    connect(events, &QAbstractItemModel::rowsRemoved, this, [this] { onRowsRemoved(); });
    connect(events, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                if (order_.empty())
                    return;
                // A change of the sort column (the display classes) may move rows.
                if (sortColumn_ >= from.column() && sortColumn_ <= to.column()) {
                    beginLayoutChange();
                    sortShown();
                    endLayoutChange();
                }
                Q_EMIT dataChanged(index(0, from.column()), index(rowCount() - 1, to.column()), roles);
            });
    connect(events, &QAbstractItemModel::headerDataChanged, this, &QAbstractItemModel::headerDataChanged);
    rebuild();
}

bool EventFilterProxy::before(std::uint32_t a, std::uint32_t b) const
{
    if (sortColumn_ >= 0 && a != b) {
        const int c = events_->compareStored(sortColumn_, a, b);
        if (c != 0)
            return sortOrder_ == Qt::AscendingOrder ? c < 0 : c > 0;
    }
    // Equal rows, and the unsorted list: the newest first.
    return a > b;
}

bool EventFilterProxy::accepts(std::uint32_t storage) const
{
    if (hasRange_) {
        // A date that is no number (NaN) is in no range.
        const double seconds = events_->storedSeconds(storage);
        if (!(seconds >= rangeStart_ && seconds < rangeEnd_))
            return false;
    }
    if (!hostText_.empty() && events_->hostText(events_->storedHostId(storage)) != hostText_)
        return false;
    return needle_.empty() || events_->storedRowContains(storage, needle_);
}

void EventFilterProxy::rebuild()
{
    const auto n = static_cast<std::uint32_t>(events_->rowCount());
    order_.clear();
    // Room for the events to come, so that a batch seldom moves the whole
    // order to a larger block.
    order_.reserve(n + n / 4 + 4096);
    for (std::uint32_t s = n; s-- > 0;)
        if (accepts(s))
            order_.push_back(s);
    sortShown();
}

void EventFilterProxy::sortShown()
{
    positionsValid_ = false;
    if (sortColumn_ < 0) {
        std::sort(order_.begin(), order_.end(), std::greater<>());
        return;
    }
    const auto rowsFirst = [this](std::uint32_t a, std::uint32_t b) { return before(a, b); };
    if (sortColumn_ == EventListModel::MessageColumn) {
        std::sort(order_.begin(), order_.end(), rowsFirst);
        return;
    }
    // By the column's keys, in a compact array; dates that are not numbers
    // (NaN keys) by the rows themselves, before (ascending) or after all
    // others.
    const auto& keys = events_->sortKeys(sortColumn_);
    std::vector<std::pair<double, std::uint32_t>> keyed;
    std::vector<std::uint32_t> odd;
    keyed.reserve(order_.size());
    for (const auto s : order_) {
        if (std::isnan(keys[s]))
            odd.push_back(s);
        else
            keyed.emplace_back(keys[s], s);
    }
    // Equal keys: the newest first, in either order.
    if (sortOrder_ == Qt::AscendingOrder)
        std::sort(keyed.begin(), keyed.end(), [](const auto& x, const auto& y) {
            return x.first != y.first ? x.first < y.first : x.second > y.second;
        });
    else
        std::sort(keyed.begin(), keyed.end(), [](const auto& x, const auto& y) {
            return x.first != y.first ? x.first > y.first : x.second > y.second;
        });
    std::sort(odd.begin(), odd.end(), rowsFirst);
    order_.clear();
    if (sortOrder_ == Qt::AscendingOrder)
        order_.insert(order_.end(), odd.begin(), odd.end());
    for (const auto& [key, s] : keyed)
        order_.push_back(s);
    if (sortOrder_ != Qt::AscendingOrder)
        order_.insert(order_.end(), odd.begin(), odd.end());
}

void EventFilterProxy::setSearchText(const QString& text)
{
    const std::string needle = text.toLower().toStdString();
    if (needle == needle_)
        return;
    needle_ = needle;
    // One rebuild: taking rows out range by range would be quadratic on a
    // million rows.
    beginLayoutChange();
    rebuild();
    endLayoutChange();
}

void EventFilterProxy::setDateRange(double start, double end)
{
    setLimits(true, start, end, host_);
}

void EventFilterProxy::setHost(const QString& host)
{
    setLimits(hasRange_, rangeStart_, rangeEnd_, host);
}

void EventFilterProxy::clearLimits()
{
    setLimits(false, 0, 0, {});
}

void EventFilterProxy::setLimits(bool hasRange, double start, double end, const QString& host)
{
    if (hasRange == hasRange_ && (!hasRange || (start == rangeStart_ && end == rangeEnd_)) && host == host_)
        return;
    hasRange_ = hasRange;
    rangeStart_ = start;
    rangeEnd_ = end;
    host_ = host;
    hostText_ = host.toStdString();
    beginLayoutChange();
    rebuild();
    endLayoutChange();
}

void EventFilterProxy::sort(int column, Qt::SortOrder order)
{
    if (column >= columnCount())
        return;
    sortColumn_ = column < 0 ? -1 : column;
    sortOrder_ = order;
    beginLayoutChange();
    sortShown();
    endLayoutChange();
}

void EventFilterProxy::onRowsInserted(int first, int last)
{
    // New rows are the newest: display rows 0..k-1 of the list, storage
    // indexes at its end. Nothing that was there moves.
    const auto n = static_cast<std::uint32_t>(events_->rowCount());
    const auto k = static_cast<std::uint32_t>(last - first + 1);
    if (first != 0 || k > n) {
        beginResetModel();
        rebuild();
        endResetModel();
        return;
    }
    std::vector<std::uint32_t> fresh;
    fresh.reserve(k);
    for (std::uint32_t s = n - k; s < n; ++s)
        if (accepts(s))
            fresh.push_back(s);
    if (fresh.empty())
        return;
    const auto less = [this](std::uint32_t a, std::uint32_t b) { return before(a, b); };
    std::sort(fresh.begin(), fresh.end(), less);
    // Where each lands among the rows shown; one place for all of them is
    // one insertion, which is the usual case (newest first, or by date).
    std::vector<std::size_t> at(fresh.size());
    for (std::size_t i = 0; i < fresh.size(); ++i)
        at[i] = static_cast<std::size_t>(std::lower_bound(order_.begin(), order_.end(), fresh[i], less) - order_.begin());
    if (at.front() == at.back()) {
        const int row = static_cast<int>(at.front());
        beginInsertRows({}, row, row + static_cast<int>(fresh.size()) - 1);
        order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(row), fresh.begin(), fresh.end());
        positionsValid_ = false;
        endInsertRows();
        return;
    }
    // Spread over the list: merged in one pass from the end, told once.
    beginLayoutChange();
    const std::size_t old = order_.size();
    order_.resize(old + fresh.size());
    std::size_t from = old, put = order_.size(), next = fresh.size();
    while (next > 0) {
        if (from > 0 && at[next - 1] < from)
            order_[--put] = order_[--from];
        else
            order_[--put] = fresh[--next];
    }
    positionsValid_ = false;
    endLayoutChange();
}

void EventFilterProxy::onRowsAboutToBeRemoved(int first, int last)
{
    const auto n = static_cast<std::size_t>(events_->rowCount());
    removedCount_ = static_cast<std::size_t>(last - first + 1);
    removedFirst_ = n - 1 - static_cast<std::size_t>(last);
    const std::size_t end = removedFirst_ + removedCount_;
    // The rows shown that leave: one block is one removal, else a layout
    // change.
    int low = -1, high = -1, count = 0;
    for (std::size_t row = 0; row < order_.size(); ++row) {
        if (order_[row] >= removedFirst_ && order_[row] < end) {
            if (low < 0)
                low = static_cast<int>(row);
            high = static_cast<int>(row);
            ++count;
        }
    }
    removalAsLayout_ = count > 0 && high - low + 1 != count;
    removalTold_ = count > 0 && !removalAsLayout_;
    if (removalAsLayout_)
        beginLayoutChange();
    else if (removalTold_)
        beginRemoveRows({}, low, high);
}

void EventFilterProxy::onRowsRemoved()
{
    const std::size_t end = removedFirst_ + removedCount_;
    const auto shift = static_cast<std::uint32_t>(removedCount_);
    std::size_t out = 0;
    for (const std::uint32_t s : order_) {
        if (s >= removedFirst_ && s < end)
            continue;
        order_[out++] = s >= end ? s - shift : s;
    }
    order_.resize(out);
    positionsValid_ = false;
    if (removalAsLayout_)
        endLayoutChange();
    else if (removalTold_)
        endRemoveRows();
    removalAsLayout_ = removalTold_ = false;
    removedFirst_ = removedCount_ = 0;
}

const std::vector<std::int32_t>& EventFilterProxy::positions() const
{
    if (!positionsValid_) {
        positions_.assign(static_cast<std::size_t>(events_->rowCount()), -1);
        for (std::size_t row = 0; row < order_.size(); ++row)
            if (order_[row] < positions_.size())
                positions_[order_[row]] = static_cast<std::int32_t>(row);
        positionsValid_ = true;
    }
    return positions_;
}

void EventFilterProxy::beginLayoutChange()
{
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    layoutFrom_ = persistentIndexList();
    layoutStorage_.clear();
    for (const auto& index : layoutFrom_) {
        const bool valid = index.isValid() && index.row() < static_cast<int>(order_.size());
        layoutStorage_.emplace_back(valid ? static_cast<std::int64_t>(order_[static_cast<std::size_t>(index.row())]) : -1,
                                    index.column());
    }
}

void EventFilterProxy::endLayoutChange()
{
    if (!layoutFrom_.isEmpty()) {
        // Storage indexes above a removed range have moved down with it.
        const std::size_t first = removedFirst_;
        const std::size_t end = first + (removalAsLayout_ ? removedCount_ : 0);
        QModelIndexList to;
        to.reserve(layoutFrom_.size());
        const auto& where = positions();
        for (auto [storage, column] : layoutStorage_) {
            if (storage >= 0 && removalAsLayout_) {
                if (static_cast<std::size_t>(storage) >= first && static_cast<std::size_t>(storage) < end)
                    storage = -1;
                else if (static_cast<std::size_t>(storage) >= end)
                    storage -= static_cast<std::int64_t>(removedCount_);
            }
            const int row = storage >= 0 && static_cast<std::size_t>(storage) < where.size()
                                ? where[static_cast<std::size_t>(storage)]
                                : -1;
            to.push_back(row >= 0 ? createIndex(row, column) : QModelIndex());
        }
        changePersistentIndexList(layoutFrom_, to);
        layoutFrom_.clear();
    }
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QModelIndex EventFilterProxy::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex EventFilterProxy::parent(const QModelIndex&) const
{
    return {};
}

int EventFilterProxy::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int EventFilterProxy::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : events_->columnCount();
}

QModelIndex EventFilterProxy::mapToSource(const QModelIndex& proxyIndex) const
{
    if (!proxyIndex.isValid() || proxyIndex.model() != this || proxyIndex.row() >= rowCount())
        return {};
    const auto storage = order_[static_cast<std::size_t>(proxyIndex.row())];
    return events_->index(events_->rowCount() - 1 - static_cast<int>(storage), proxyIndex.column());
}

QModelIndex EventFilterProxy::mapFromSource(const QModelIndex& sourceIndex) const
{
    if (!sourceIndex.isValid() || sourceIndex.model() != events_)
        return {};
    const auto storage = static_cast<std::size_t>(events_->rowCount() - 1 - sourceIndex.row());
    const auto& where = positions();
    if (storage >= where.size() || where[storage] < 0)
        return {};
    return createIndex(where[storage], sourceIndex.column());
}

} // namespace brantwell
