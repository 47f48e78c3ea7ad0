#include "EventChartModel.h"

#include <chrono>

namespace brantwell {

namespace {

double systemNow()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

} // namespace

EventChartModel::EventChartModel(const EventListModel* events, QObject* parent)
    : QObject(parent), events_(events), clock_(systemNow)
{
    connect(events_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (!parent.isValid())
                    countRows(first, last, +1);
            });
    connect(events_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (!parent.isValid())
                    countRows(first, last, -1);
            });
    // A reset (the store read again, many scattered rows deleted) leaves no
    // way to tell which rows went: everything is counted again.
    connect(events_, &QAbstractItemModel::modelReset, this, &EventChartModel::rebuild);
    rebuild();
}

void EventChartModel::setClock(Clock clock)
{
    clock_ = clock ? std::move(clock) : Clock(systemNow);
    rebuild();
}

void EventChartModel::countRows(int first, int last, int delta)
{
    const double t = now();
    for (int row = first; row <= last; ++row)
        buckets_.count(events_->seconds(row), events_->severityRow(row), events_->hostId(row), delta, t);
    Q_EMIT changed();
}

void EventChartModel::rebuild()
{
    const double t = now();
    zone_ = zoneKey(t);
    buckets_.clear();
    const int rows = events_->rowCount();
    // Storage is oldest first, display row 0 the newest: walking from the
    // last row up gives the dates in order, so each day is looked up once.
    for (int row = rows - 1; row >= 0; --row)
        buckets_.count(events_->seconds(row), events_->severityRow(row), events_->hostId(row), +1, t);
    Q_EMIT changed();
}

void EventChartModel::tick()
{
    const double t = now();
    if (zoneKey(t) != zone_) {
        rebuild();
        return;
    }
    buckets_.prune(t);
}

std::vector<ChartBar> EventChartModel::bars(ChartSpan span) const
{
    return buckets_.bars(span, now());
}

std::vector<EventChartModel::Sender> EventChartModel::topSenders(ChartSpan span, std::size_t n) const
{
    std::vector<Sender> senders;
    for (const auto& s : buckets_.topSenders(span, now(), n)) {
        const std::string& host = events_->hostText(s.host);
        senders.push_back({QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size())), s.count});
    }
    return senders;
}

double EventChartModel::rate() const
{
    return buckets_.rate(now());
}

} // namespace brantwell
