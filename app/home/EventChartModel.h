// What the Home page's chart shows, kept up to date from the event list:
// counts per bucket, the top senders and the current rate. It follows the
// list through the list's own signals (rows put in, rows about to be taken
// out, the list read anew), so events count once they are in the list
// however they came there, and leave their buckets when their rows go:
// removed by age, deleted by the user, or replaced by a reload.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include "EventBuckets.h"
#include "events/EventListModel.h"

namespace brantwell {

class EventChartModel final : public QObject {
    Q_OBJECT
public:
    explicit EventChartModel(const EventListModel* events, QObject* parent = nullptr);

    // The time the chart ends at; the system clock unless a test sets one.
    using Clock = std::function<double()>;
    void setClock(Clock clock);
    double now() const { return clock_(); }

    std::vector<ChartBar> bars(ChartSpan span) const;
    struct Sender {
        QString host;
        std::int64_t count;
    };
    std::vector<Sender> topSenders(ChartSpan span, std::size_t n = 10) const;
    double rate() const;

    // Drops the buckets time has moved past and, when the time zone is no
    // longer the one the day counts were made in, counts the list again.
    // The page calls this on its timer.
    void tick();
    // Counts every row of the list anew.
    void rebuild();
    const EventBuckets& buckets() const { return buckets_; }

Q_SIGNALS:
    // Counts changed; the page redraws at its own pace.
    void changed();

private:
    void countRows(int first, int last, int delta);

    const EventListModel* events_;
    Clock clock_;
    EventBuckets buckets_;
    std::string zone_;
};

} // namespace brantwell
