// Counting events per bucket for the Home page's chart: bucket edges at a
// local midnight, days of 23 and 25 hours, a new time zone, events that
// leave the list (removed by age, deleted, read anew) leaving their
// buckets, and the counts of a known store read from real day files.
#include <QtTest>

#include <cstdlib>
#include <ctime>

#include "EventBuckets.h"
#include "EventChartModel.h"
#include "testkit/StoreDir.h"

using namespace brantwell;
using testkit::localSeconds;

namespace {

// Sets TZ for this process and puts the one it had back at the end.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        set(zone);
    }
    ~ZoneScope() { set(old_.empty() ? nullptr : old_.c_str()); }
    static void set(const char* zone)
    {
        if (zone)
            setenv("TZ", zone, 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string old_;
};

std::int64_t total(const std::vector<ChartBar>& bars)
{
    std::int64_t sum = 0;
    for (const auto& bar : bars)
        sum += bar.total();
    return sum;
}

// The bar that holds `seconds`, or -1.
int barOf(const std::vector<ChartBar>& bars, double seconds)
{
    for (std::size_t i = 0; i < bars.size(); ++i)
        if (seconds >= bars[i].start && seconds < bars[i].end)
            return static_cast<int>(i);
    return -1;
}

EventRecord eventAt(double seconds, const char* priority, const char* host, const char* message)
{
    return EventRecord{std::to_string(static_cast<long long>(seconds)), priority, host, message};
}

constexpr std::size_t kError = 3, kEmergency = 0, kInfo = 6, kWarning = 4;

} // namespace

class EventBucketsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { ZoneScope::set("Europe/Berlin"); }

    // Two events a second apart on each side of a local midnight fall into
    // two days, two quarter hours and two minutes; every span holds both.
    void splitsEventsAtALocalMidnight()
    {
        const double before = localSeconds(2026, 3, 9, 23, 59, 59), after = localSeconds(2026, 3, 10, 0, 0, 0);
        const double now = localSeconds(2026, 3, 10, 0, 20, 0);
        EventBuckets buckets;
        buckets.count(before, kError, 1, +1, now);
        buckets.count(before, kError, 2, +1, now);
        buckets.count(after, kEmergency, 1, +1, now);

        const auto days = buckets.bars(ChartSpan::Month, now);
        QCOMPARE(days.size(), std::size_t{30});
        QCOMPARE(days[29].start, localSeconds(2026, 3, 10));
        QCOMPARE(days[29].end, localSeconds(2026, 3, 11));
        QCOMPARE(days[28].start, localSeconds(2026, 3, 9));
        QCOMPARE(days[28].bySeverity[kError], 2);
        QCOMPARE(days[29].bySeverity[kEmergency], 1);
        QCOMPARE(days[29].total(), 1);
        QCOMPARE(days[0].start, localSeconds(2026, 2, 9));

        const auto quarters = buckets.bars(ChartSpan::Day, now);
        QCOMPARE(quarters.size(), std::size_t{96});
        QCOMPARE(quarters[95].start, localSeconds(2026, 3, 10, 0, 15));
        QCOMPARE(quarters[94].total(), 1);  // 00:00 to 00:15
        QCOMPARE(quarters[93].total(), 2);  // 23:45 to 00:00
        QCOMPARE(total(quarters), 3);

        const auto minutes = buckets.bars(ChartSpan::Hour, now);
        QCOMPARE(minutes.size(), std::size_t{60});
        QCOMPARE(minutes[59].start, localSeconds(2026, 3, 10, 0, 20));
        QCOMPARE(minutes[barOf(minutes, before)].total(), 2);
        QCOMPARE(minutes[barOf(minutes, after)].total(), 1);
        QCOMPARE(barOf(minutes, after) - barOf(minutes, before), 1);

        // The same counts a day later: the events left the hour and the
        // day, and stay in the 30 days.
        const double later = now + 86400;
        buckets.prune(later);
        QCOMPARE(total(buckets.bars(ChartSpan::Hour, later)), 0);
        QCOMPARE(total(buckets.bars(ChartSpan::Day, later)), 0);
        const auto daysLater = buckets.bars(ChartSpan::Month, later);
        QCOMPARE(daysLater[27].total(), 2);
        QCOMPARE(daysLater[28].total(), 1);
    }

    // Days across the clock changes are 23 and 25 hours long; minutes and
    // quarter hours go on in absolute time, so the last second before the
    // spring change and the first after it sit in neighbouring buckets.
    void daysFollowTheDaylightSavingChanges_data()
    {
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<double>("hours");
        QTest::newRow("spring") << 3 << 29 << 23.0;
        QTest::newRow("autumn") << 10 << 25 << 25.0;
        QTest::newRow("plain day") << 6 << 10 << 24.0;
    }
    void daysFollowTheDaylightSavingChanges()
    {
        QFETCH(int, month);
        QFETCH(int, day);
        QFETCH(double, hours);
        const double midnight = localSeconds(2026, month, day);
        const double next = localSeconds(2026, month, day + 1);
        const double now = next + 3600;
        EventBuckets buckets;
        // One event an hour through the whole day, and one each side of it.
        for (double t = midnight; t < next; t += 3600)
            buckets.count(t, kInfo, 7, +1, now);
        buckets.count(midnight - 1, kWarning, 7, +1, now);
        buckets.count(next, kWarning, 7, +1, now);
        const auto days = buckets.bars(ChartSpan::Month, now);
        QCOMPARE(days[28].start, midnight);
        QCOMPARE(days[28].end - days[28].start, hours * 3600);
        QCOMPARE(days[28].bySeverity[kInfo], static_cast<std::int64_t>(hours));
        QCOMPARE(days[28].bySeverity[kWarning], 0);
        QCOMPARE(days[27].bySeverity[kWarning], 1);
        QCOMPARE(days[29].bySeverity[kWarning], 1);
        // Quarter hours stay 15 minutes long through the change.
        const auto quarters = buckets.bars(ChartSpan::Day, now);
        for (const auto& bar : quarters)
            QCOMPARE(bar.end - bar.start, 900.0);
        // The last 24 hours up to 01:00 the next day: 22 of the hourly
        // events and the one after midnight, whatever the day's length.
        QCOMPARE(total(quarters), 23);
    }

    void oneSecondApartOverTheSpringChangeAreNeighbours()
    {
        const double lastWinter = localSeconds(2026, 3, 29, 1, 59, 59);
        const double firstSummer = localSeconds(2026, 3, 29, 3, 0, 0);
        QCOMPARE(firstSummer - lastWinter, 1.0);
        EventBuckets buckets;
        const double now = firstSummer + 120;
        buckets.count(lastWinter, kInfo, 1, +1, now);
        buckets.count(firstSummer, kInfo, 1, +1, now);
        const auto minutes = buckets.bars(ChartSpan::Hour, now);
        QCOMPARE(barOf(minutes, firstSummer) - barOf(minutes, lastWinter), 1);
        const auto quarters = buckets.bars(ChartSpan::Day, now);
        QCOMPARE(barOf(quarters, firstSummer) - barOf(quarters, lastWinter), 1);
        QCOMPARE(buckets.bars(ChartSpan::Month, now)[29].total(), 2);
    }

    // The machine's time zone changes while the window is open: the chart
    // model notices at its next tick and puts the events in the days of
    // the new zone; minutes and quarter hours keep their counts.
    void aNewTimeZoneMovesEventsToItsDays()
    {
        ZoneScope zone("UTC");
        const double at = localSeconds(2026, 3, 9, 23, 30);  // 23:30 UTC, 08:30 next day in Tokyo
        const double now = at + 40 * 60;
        EventListModel list;
        list.addEvents(std::vector<EventRecord>{eventAt(at, "User.Error", "10.0.0.1", "late"),
                                                eventAt(at + 60, "User.Error", "10.0.0.1", "later")});
        EventChartModel chart(&list);
        chart.setClock([now] { return now; });
        auto days = chart.bars(ChartSpan::Month);
        QCOMPARE(days[28].total(), 2);  // 9 March
        QCOMPARE(days[29].total(), 0);
        const auto minutesBefore = chart.bars(ChartSpan::Hour);

        ZoneScope::set("Asia/Tokyo");
        chart.tick();
        days = chart.bars(ChartSpan::Month);
        QCOMPARE(days[29].start, localSeconds(2026, 3, 10));
        QCOMPARE(days[29].total(), 2);  // 10 March in Tokyo
        QCOMPARE(days[28].total(), 0);
        const auto minutesAfter = chart.bars(ChartSpan::Hour);
        QCOMPARE(minutesAfter.size(), minutesBefore.size());
        for (std::size_t i = 0; i < minutesAfter.size(); ++i) {
            QCOMPARE(minutesAfter[i].start, minutesBefore[i].start);
            QCOMPARE(minutesAfter[i].total(), minutesBefore[i].total());
        }
    }

    // Events leave their buckets whichever way their rows leave the list:
    // removed by age (an announcement), deleted by the user (a few rows, or
    // so many scattered rows that the list resets), or the store read anew.
    void eventsLeaveTheirBucketsWithTheirRows()
    {
        const double now = localSeconds(2026, 5, 20, 12, 0, 30);
        EventListModel list;
        EventChartModel chart(&list);
        chart.setClock([now] { return now; });
        std::vector<EventRecord> events;
        // 200 events over the last 200 minutes, two hosts; the same line twice.
        for (int i = 0; i < 200; ++i)
            events.push_back(eventAt(now - 60.0 * i - 10, i % 2 ? "Kernel.Warning" : "User.Informational",
                                   i % 2 ? "odd" : "even", ("n" + std::to_string(i)).c_str()));
        events.push_back(events.front());
        list.addEvents(events);
        QCOMPARE(total(chart.bars(ChartSpan::Day)), 201);
        QCOMPARE(total(chart.bars(ChartSpan::Hour)), 61);
        QCOMPARE(chart.rate(), 2.0 / 60);

        // Removed by age: one of the identical pair and the oldest event.
        QCOMPARE(list.removeEvents(std::vector<EventRecord>{events.front(), events[199]}), std::size_t{2});
        QCOMPARE(total(chart.bars(ChartSpan::Day)), 199);
        QCOMPARE(total(chart.bars(ChartSpan::Hour)), 60);
        QCOMPARE(chart.rate(), 1.0 / 60);  // the copy stays
        const auto quarters = chart.bars(ChartSpan::Day);
        const double oldestAt = now - 60.0 * 199 - 10;
        std::int64_t leftInItsQuarter = 0;
        for (int i = 0; i < 199; ++i) {
            const double t = now - 60.0 * i - 10;
            leftInItsQuarter += std::floor(t / 900) == std::floor(oldestAt / 900);
        }
        QCOMPARE(quarters[static_cast<std::size_t>(barOf(quarters, oldestAt))].total(), leftInItsQuarter);

        // Deleted by the user: two rows, found by their message.
        std::vector<int> rows;
        for (int r = 0; r < list.rowCount(); ++r) {
            const auto m = list.record(r).message;
            if (m == "n1" || m == "n2")
                rows.push_back(r);
        }
        QCOMPARE(rows.size(), std::size_t{2});
        list.deleteRows(rows);
        const auto hour = chart.bars(ChartSpan::Hour);
        QCOMPARE(total(hour), 58);
        QCOMPARE(hour[static_cast<std::size_t>(barOf(hour, now - 60 - 10))].total(), 0);
        QCOMPARE(hour[static_cast<std::size_t>(barOf(hour, now - 120 - 10))].total(), 0);
        QCOMPARE(hour[static_cast<std::size_t>(barOf(hour, now - 180 - 10))].total(), 1);
        auto senders = chart.topSenders(ChartSpan::Hour);
        QCOMPARE(senders.size(), std::size_t{2});
        QCOMPARE(senders[0].host + QString::number(senders[0].count), QStringLiteral("even29"));
        QCOMPARE(senders[1].host + QString::number(senders[1].count), QStringLiteral("odd29"));

        // Every other row: a hundred scattered runs, which the list takes
        // out in one reset.
        rows.clear();
        for (int r = 0; r < list.rowCount(); r += 2)
            rows.push_back(r);
        const auto expectedLeft = list.rowCount() - static_cast<int>(rows.size());
        list.deleteRows(rows);
        QCOMPARE(total(chart.bars(ChartSpan::Day)), expectedLeft);
        std::int64_t inHour = 0;
        for (int r = 0; r < list.rowCount(); ++r)
            inHour += list.seconds(r) >= chart.bars(ChartSpan::Hour).front().start;
        QCOMPARE(total(chart.bars(ChartSpan::Hour)), inHour);
    }

    // Dates that are no number, and events older than every span, count
    // nowhere; taking them out takes nothing from the others.
    void undatedAndOldEventsCountNowhere()
    {
        const double now = localSeconds(2026, 5, 20, 12);
        EventBuckets buckets;
        buckets.count(now - 10, kInfo, 1, +1, now);
        buckets.count(std::nan(""), kInfo, 1, +1, now);
        buckets.count(now - 40 * 86400.0, kInfo, 1, +1, now);
        buckets.count(now - 40 * 86400.0, kInfo, 1, -1, now);
        buckets.count(now - 10, kError, 1, -1, now);  // other severity
        QCOMPARE(total(buckets.bars(ChartSpan::Month, now)), 1);
        QCOMPARE(total(buckets.bars(ChartSpan::Day, now)), 1);
        QCOMPARE(total(buckets.bars(ChartSpan::Hour, now)), 1);
        QCOMPARE(buckets.rate(now), 1.0 / 60);
        buckets.count(now - 10, kInfo, 1, -1, now);
        QCOMPARE(total(buckets.bars(ChartSpan::Month, now)), 0);
        QCOMPARE(buckets.bucketCount(), std::size_t{0});
    }

    // A known store of three days written as day files: the chart model
    // reads what the list read and gives the expected bars, classes, top
    // senders and rate.
    void countsAKnownStoreOfThreeDays()
    {
        testkit::StoreDir store;
        const double day1 = localSeconds(2026, 7, 1), day2 = localSeconds(2026, 7, 2), day3 = localSeconds(2026, 7, 3);
        const double now = localSeconds(2026, 7, 3, 12, 0, 0);
        std::string file1, file2, file3;
        // Day 1: 5 informational from a, 1 emergency from b at 23:59:59.
        for (int i = 0; i < 5; ++i)
            appendEventLine(file1, eventAt(day1 + 3600 * (i + 1), "User.Informational", "a.example", "d1"));
        appendEventLine(file1, eventAt(day2 - 1, "Kernel.Emergency", "b.example", "d1 last"));
        // Day 2: 3 warnings from c at 00:00:00, 10 debug from a.
        for (int i = 0; i < 3; ++i)
            appendEventLine(file2, eventAt(day2, "Daemon.Warning", "c.example", "d2 first"));
        for (int i = 0; i < 10; ++i)
            appendEventLine(file2, eventAt(day2 + 7200 + i, "Local0.Debug", "a.example", "d2"));
        // Day 3: 2 errors from b in the last hour, 30 notices from c in the
        // last minute.
        appendEventLine(file3, eventAt(now - 1800, "Mail.Error", "b.example", "d3"));
        appendEventLine(file3, eventAt(now - 1799, "Mail.Error", "b.example", "d3"));
        for (int i = 0; i < 30; ++i)
            appendEventLine(file3, eventAt(now - 59 + i, "User.Notice", "c.example", "d3 now"));
        store.write("2026-07-01.log", file1);
        store.write("2026-07-02.log", file2);
        store.write("2026-07-03.log", file3);

        EventListModel list;
        EventChartModel chart(&list);
        chart.setClock([now] { return now; });
        QCOMPARE(list.loadStore(store.path()), std::size_t{51});

        const auto days = chart.bars(ChartSpan::Month);
        QCOMPARE(days[27].start, day1);
        QCOMPARE(days[29].start, day3);
        const std::array<std::int64_t, kSeverityRows> classes{2, 2, 2, 1, 1, 1, 0, 0, 0};
        using Three = std::array<std::int64_t, 3>;
        QCOMPARE(days[27].byClass(classes), (Three{5, 0, 1}));
        QCOMPARE(days[28].byClass(classes), (Three{10, 3, 0}));
        QCOMPARE(days[29].byClass(classes), (Three{0, 32, 0}));
        QCOMPARE(total(days), 51);
        QCOMPARE(days[28].bySeverity[kWarning], 3);
        QCOMPARE(days[28].bySeverity[7], 10);  // Debug

        const auto hour = chart.bars(ChartSpan::Hour);
        QCOMPARE(total(hour), 32);
        QCOMPARE(hour[29].start, now - 1800);  // 11:30 to 11:31 holds both errors
        QCOMPARE(hour[29].bySeverity[kError], 2);
        QCOMPARE(hour[58].bySeverity[5], 30);  // Notice, 11:59
        QCOMPARE(hour[59].total(), 0);
        QCOMPARE(chart.rate(), 30.0 / 60);

        auto senders = chart.topSenders(ChartSpan::Month);
        QStringList named;
        for (const auto& s : senders)
            named << QStringLiteral("%1 %2").arg(s.host).arg(s.count);
        QCOMPARE(named, (QStringList{"c.example 33", "a.example 15", "b.example 3"}));
        senders = chart.topSenders(ChartSpan::Hour);
        named.clear();
        for (const auto& s : senders)
            named << QStringLiteral("%1 %2").arg(s.host).arg(s.count);
        QCOMPARE(named, (QStringList{"c.example 30", "b.example 2"}));
    }
};

QTEST_MAIN(EventBucketsTest)
#include "EventBuckets_test.moc"
