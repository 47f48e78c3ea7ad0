// Sorting and the search box of the event list. Compares the stored values
// directly (dates by their seconds), so sorting a million rows renders none.
#pragma once

#include <string>

#include <QSortFilterProxyModel>

#include "EventListModel.h"

namespace brantwell {

class EventFilterProxy final : public QSortFilterProxyModel {
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

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    EventListModel* events_;
    std::string needle_;  // lower case
    bool hasRange_ = false;
    double rangeStart_ = 0;
    double rangeEnd_ = 0;
    QString host_;
    std::string hostText_;  // host_ as stored
};

} // namespace brantwell
