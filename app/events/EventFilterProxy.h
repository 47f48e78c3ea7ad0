// Sorting and the search box of the event list.
//
// Keeps the rows shown as the list's storage indexes in display order,
// which appending events never moves: a batch of new events is filtered,
// sorted among itself and merged into the order in one pass, and the views
// hear of it once (one insertion where the batch lands in one place, else
// one layout change). Compares the stored values directly (dates by their
// seconds), so sorting a million rows renders none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QAbstractProxyModel>

#include "EventListModel.h"

namespace brantwell {

class EventFilterProxy final : public QAbstractProxyModel {
    Q_OBJECT
public:
    explicit EventFilterProxy(EventListModel* events, QObject* parent = nullptr);

    // Shows only the rows whose host, priority or message contains `text`,
    // ignoring case; an empty text shows every row.
    void setSearchText(const QString& text);
    // Shows only the rows dated in [start, end), seconds since 1970 (the
    // span of a bar of the Home page's chart).
    void setDateRange(double start, double end);
    // Shows only the rows of this host, the whole text; empty: every host.
    void setHost(const QString& host);
    // Takes off the date range and the host.
    void clearLimits();
    // Both limits at once, with one pass over the rows.
    void setLimits(bool hasRange, double start, double end, const QString& host);
    bool hasDateRange() const { return hasRange_; }
    double rangeStart() const { return rangeStart_; }
    double rangeEnd() const { return rangeEnd_; }
    const QString& host() const { return host_; }
    // True while a search text, a date range or a host limits the rows shown.
    bool isSearching() const { return !needle_.empty() || hasRange_ || !host_.isEmpty(); }
    EventListModel* events() const { return events_; }

    // A column below 0: the newest event on top, as the list holds them.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return sortColumn_; }
    Qt::SortOrder sortOrder() const { return sortOrder_; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;

private:
    // Whether storage index `a` is shown before `b`.
    bool before(std::uint32_t a, std::uint32_t b) const;
    // Sorts the rows shown by the sort column (or newest first).
    void sortShown();
    bool accepts(std::uint32_t storage) const;
    // Filters and sorts the whole list anew.
    void rebuild();
    void onRowsInserted(int first, int last);
    void onRowsAboutToBeRemoved(int first, int last);
    void onRowsRemoved();
    // The display row of each storage index, when asked for (-1: hidden).
    const std::vector<std::int32_t>& positions() const;
    // A change of many rows as one layout change, with the persistent
    // indexes (selection, current row) following their events.
    void beginLayoutChange();
    void endLayoutChange();

    EventListModel* events_;
    std::string needle_;  // lower case
    bool hasRange_ = false;
    double rangeStart_ = 0;
    double rangeEnd_ = 0;
    QString host_;
    std::string hostText_;  // host_ as stored
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    std::vector<std::uint32_t> order_;  // storage indexes in display order
    mutable std::vector<std::int32_t> positions_;
    mutable bool positionsValid_ = false;
    // A removal in progress: the storage range leaving and how it is told.
    std::size_t removedFirst_ = 0, removedCount_ = 0;
    bool removalAsLayout_ = false;
    bool removalTold_ = false;
    // Persistent indexes across a layout change, by storage index.
    QModelIndexList layoutFrom_;
    std::vector<std::pair<std::int64_t, int>> layoutStorage_;
};

} // namespace brantwell
