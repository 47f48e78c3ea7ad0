#include "EventFilterProxy.h"

namespace brantwell {

EventFilterProxy::EventFilterProxy(EventListModel* events, QObject* parent)
    : QSortFilterProxyModel(parent), events_(events)
{
    setSourceModel(events);
}

void EventFilterProxy::setSearchText(const QString& text)
{
    const std::string needle = text.toLower().toStdString();
    if (needle == needle_)
        return;
    needle_ = needle;
    // One rebuild of the mapping: filtering in place would take the rows
    // out range by range, which is quadratic on a million rows.
    invalidate();
}

bool EventFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (sourceParent.isValid())
        return false;
    return needle_.empty() || events_->rowContains(sourceRow, needle_);
}

bool EventFilterProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    return events_->lessThan(left.column(), left.row(), right.row());
}

} // namespace brantwell
