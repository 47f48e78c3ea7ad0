// Counts of events per time bucket for the Home page's chart: per minute
// over the last hour, per quarter hour over the last day and per local
// calendar day over the last 30 days, each by severity row and by sender,
// and per second over the last minute for the current rate.
//
// Only counts are kept, never the events, and only for buckets that can
// still be shown: a million stored events cost a few hundred small buckets.
// Minutes and quarter hours are counted by absolute time, so a change of
// the clocks (daylight saving, a new time zone) moves none of them; days
// are local calendar days, 23 or 25 hours long across a daylight saving
// change, and a new time zone needs the day counts built anew (`zoneKey`
// tells when).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "SettingsKeys.h"

namespace brantwell {

enum class ChartSpan { Hour, Day, Month };

// One bar: events dated in [start, end), seconds since 1970.
struct ChartBar {
    double start = 0;
    double end = 0;
    std::array<std::int64_t, kSeverityRows> bySeverity{};

    std::int64_t total() const;
    // Summed by display class (0 normal, 1 moderate, 2 severe); rows whose
    // class is none of these count nowhere.
    std::array<std::int64_t, 3> byClass(const std::array<std::int64_t, kSeverityRows>& classes) const;
};

struct SenderCount {
    std::uint32_t host = 0;  // the event list's host id
    std::int64_t count = 0;
};

// A local calendar day: its number (days since 1970-01-01 of the civil
// date) and the instants it starts and ends.
struct LocalDay {
    std::int64_t number = 0;
    double start = 0;
    double end = 0;
};

// The local day that holds `seconds`, by the time zone in force now.
LocalDay localDayOf(double seconds);
// The local day with that number.
LocalDay localDayNumbered(std::int64_t number);

// Names the local time rules in force (TZ, the zone file): a different key
// means the day counts must be built again.
std::string zoneKey(double now);

class EventBuckets {
public:
    // Counts one event in (`delta` 1) or out (`delta` -1) of its buckets.
    // Events dated before every span that ends at `now` are not counted;
    // since `now` only grows, an event left out when it came is left out
    // again when it goes. An event without a date (NaN) counts nowhere.
    void count(double seconds, std::size_t severityRow, std::uint32_t host, int delta, double now);
    void clear();
    // Forgets the buckets that no span ending at `now` shows any more.
    void prune(double now);

    // The bars of a span ending at `now`, oldest first: 60 minutes, 96
    // quarter hours or 30 days; the last bar holds `now`.
    std::vector<ChartBar> bars(ChartSpan span, double now) const;
    // The `n` hosts with the most events in the span, most first, then by
    // host id.
    std::vector<SenderCount> topSenders(ChartSpan span, double now, std::size_t n) const;
    // Events per second dated within the last 60 seconds up to `now`.
    double rate(double now) const;

    // Buckets held, for the benchmark's memory account.
    std::size_t bucketCount() const { return minutes_.size() + quarters_.size() + days_.size() + seconds_.size(); }

private:
    struct Bucket {
        std::array<std::int64_t, kSeverityRows> bySeverity{};
        std::unordered_map<std::uint32_t, std::int64_t> hosts;
        std::int64_t total = 0;
    };
    using Buckets = std::map<std::int64_t, Bucket>;
    // False when a count out found nothing to take.
    static bool add(Buckets& buckets, std::int64_t key, std::size_t row, std::uint32_t host, int delta);
    const Buckets& bucketsOf(ChartSpan span) const;
    // The first key a span ending at `now` shows, and the last.
    std::pair<std::int64_t, std::int64_t> keyRange(ChartSpan span, double now) const;
    LocalDay dayOf(double seconds) const;
    // The local day of `now` and where the first of the last 30 starts,
    // kept until `now` leaves that day.
    const LocalDay& todayOf(double now) const;

    Buckets minutes_;   // by minute since 1970
    Buckets quarters_;  // by quarter hour since 1970
    Buckets days_;      // by local day number
    std::map<std::int64_t, std::int64_t> seconds_;  // events per second, for the rate
    mutable LocalDay lastDay_{0, 0, -1};  // the last day looked up; events come in date order
    mutable LocalDay today_{0, 0, -1};
    mutable double monthStart_ = 0;
};

} // namespace brantwell
