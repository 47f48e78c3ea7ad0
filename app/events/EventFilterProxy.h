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
    // True while a search text limits the rows shown.
    bool isSearching() const { return !needle_.empty(); }
    EventListModel* events() const { return events_; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    EventListModel* events_;
    std::string needle_;  // lower case
};

} // namespace brantwell
