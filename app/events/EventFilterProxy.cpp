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
    invalidate();
}

bool EventFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (sourceParent.isValid())
        return false;
    if (hasRange_) {
        // A date that is no number (NaN) is in no range.
        const double seconds = events_->seconds(sourceRow);
        if (!(seconds >= rangeStart_ && seconds < rangeEnd_))
            return false;
    }
    if (!hostText_.empty() && events_->hostText(events_->hostId(sourceRow)) != hostText_)
        return false;
    return needle_.empty() || events_->rowContains(sourceRow, needle_);
}

bool EventFilterProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    return events_->lessThan(left.column(), left.row(), right.row());
}

} // namespace brantwell
