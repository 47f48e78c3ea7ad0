#include "EventBuckets.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace brantwell {

namespace {

constexpr std::int64_t kMinute = 60;
constexpr std::int64_t kQuarter = 900;
constexpr std::int64_t kHourBars = 60;
constexpr std::int64_t kDayBars = 96;
constexpr std::int64_t kMonthBars = 30;
constexpr std::int64_t kRateSeconds = 60;

std::int64_t floorDiv(double seconds, std::int64_t unit)
{
    return static_cast<std::int64_t>(std::floor(seconds / static_cast<double>(unit)));
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the
// well-known civil calendar arithmetic, exact for every year).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

// The instant local midnight starts the civil day `number`; where the
// clocks skip midnight, the first instant of the day.
double localMidnight(std::int64_t number)
{
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(number, y, m, d);
    std::tm tm{};
    tm.tm_year = static_cast<int>(y - 1900);
    tm.tm_mon = static_cast<int>(m) - 1;
    tm.tm_mday = static_cast<int>(d);
    tm.tm_isdst = -1;  // whichever is in force that day
    return static_cast<double>(std::mktime(&tm));
}

} // namespace

std::int64_t ChartBar::total() const
{
    std::int64_t sum = 0;
    for (const auto n : bySeverity)
        sum += n;
    return sum;
}

std::array<std::int64_t, 3> ChartBar::byClass(const std::array<std::int64_t, kSeverityRows>& classes) const
{
    std::array<std::int64_t, 3> sums{};
    for (std::size_t row = 0; row < kSeverityRows; ++row) {
        if (classes[row] >= 0 && classes[row] <= 2)
            sums[static_cast<std::size_t>(classes[row])] += bySeverity[row];
    }
    return sums;
}

LocalDay localDayOf(double seconds)
{
    const auto t = static_cast<std::time_t>(std::floor(seconds));
    std::tm local{};
    localtime_r(&t, &local);
    const auto number = daysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                      static_cast<unsigned>(local.tm_mday));
    return localDayNumbered(number);
}

LocalDay localDayNumbered(std::int64_t number)
{
    return LocalDay{number, localMidnight(number), localMidnight(number + 1)};
}

std::string zoneKey(double now)
{
    // localtime_r need not read TZ again; tzset does.
    tzset();
    std::string key;
    // The offsets over the last 30 days and the zone names: a zone with
    // other rules differs in one of them.
    for (int back = 0; back <= 30; back += 5) {
        const auto t = static_cast<std::time_t>(now) - static_cast<std::time_t>(back) * 86400;
        std::tm local{};
        localtime_r(&t, &local);
        key += std::to_string(local.tm_gmtoff);
        key += local.tm_zone ? local.tm_zone : "";
        key += ';';
    }
    return key;
}

const LocalDay& EventBuckets::todayOf(double now) const
{
    if (now < today_.start || now >= today_.end) {
        today_ = localDayOf(now);
        monthStart_ = localDayNumbered(today_.number - kMonthBars + 1).start;
    }
    return today_;
}

LocalDay EventBuckets::dayOf(double seconds) const
{
    if (seconds >= lastDay_.start && seconds < lastDay_.end)
        return lastDay_;
    lastDay_ = localDayOf(seconds);
    return lastDay_;
}

bool EventBuckets::add(Buckets& buckets, std::int64_t key, std::size_t row, std::uint32_t host, int delta)
{
    if (delta > 0) {
        Bucket& bucket = buckets[key];
        bucket.bySeverity[row] += delta;
        bucket.hosts[host] += delta;
        bucket.total += delta;
        return true;
    }
    // An event that was never counted (read before a prune, or given twice)
    // takes nothing from its neighbours.
    const auto it = buckets.find(key);
    if (it == buckets.end() || it->second.bySeverity[row] <= 0)
        return false;
    Bucket& bucket = it->second;
    bucket.bySeverity[row] += delta;
    bucket.total += delta;
    if (const auto h = bucket.hosts.find(host); h != bucket.hosts.end()) {
        h->second += delta;
        if (h->second <= 0)
            bucket.hosts.erase(h);
    }
    if (bucket.total <= 0)
        buckets.erase(it);
    return true;
}

void EventBuckets::count(double seconds, std::size_t severityRow, std::uint32_t host, int delta, double now)
{
    if (std::isnan(seconds) || severityRow >= kSeverityRows || delta == 0)
        return;
    bool inMinute = false;
    if (const auto minute = floorDiv(seconds, kMinute); minute >= keyRange(ChartSpan::Hour, now).first)
        inMinute = add(minutes_, minute, severityRow, host, delta);
    // The last minute lies within the last hour: a second is counted out
    // only when its minute held such an event.
    const auto second = static_cast<std::int64_t>(std::floor(seconds));
    if (inMinute && second > static_cast<std::int64_t>(std::floor(now)) - kRateSeconds) {
        if (delta > 0) {
            seconds_[second] += delta;
        } else if (const auto it = seconds_.find(second); it != seconds_.end()) {
            if ((it->second += delta) <= 0)
                seconds_.erase(it);
        }
    }
    if (const auto quarter = floorDiv(seconds, kQuarter); quarter >= keyRange(ChartSpan::Day, now).first)
        add(quarters_, quarter, severityRow, host, delta);
    // The day is looked up only for events the last 30 days may show.
    const LocalDay& today = todayOf(now);
    if (seconds >= monthStart_) {
        const LocalDay day = dayOf(seconds);
        if (day.number > today.number - kMonthBars)
            add(days_, day.number, severityRow, host, delta);
    }
}

void EventBuckets::clear()
{
    minutes_.clear();
    quarters_.clear();
    days_.clear();
    seconds_.clear();
    lastDay_ = LocalDay{0, 0, -1};
    today_ = LocalDay{0, 0, -1};
}

void EventBuckets::prune(double now)
{
    for (const auto span : {ChartSpan::Hour, ChartSpan::Day, ChartSpan::Month}) {
        Buckets& buckets = span == ChartSpan::Hour ? minutes_ : span == ChartSpan::Day ? quarters_ : days_;
        buckets.erase(buckets.begin(), buckets.lower_bound(keyRange(span, now).first));
    }
    seconds_.erase(seconds_.begin(),
                   seconds_.upper_bound(static_cast<std::int64_t>(std::floor(now)) - kRateSeconds));
}

const EventBuckets::Buckets& EventBuckets::bucketsOf(ChartSpan span) const
{
    switch (span) {
    case ChartSpan::Hour: return minutes_;
    case ChartSpan::Day: return quarters_;
    case ChartSpan::Month: break;
    }
    return days_;
}

std::pair<std::int64_t, std::int64_t> EventBuckets::keyRange(ChartSpan span, double now) const
{
    switch (span) {
    case ChartSpan::Hour: {
        const auto last = floorDiv(now, kMinute);
        return {last - kHourBars + 1, last};
    }
    case ChartSpan::Day: {
        const auto last = floorDiv(now, kQuarter);
        return {last - kDayBars + 1, last};
    }
    case ChartSpan::Month: break;
    }
    const auto today = todayOf(now).number;
    return {today - kMonthBars + 1, today};
}

std::vector<ChartBar> EventBuckets::bars(ChartSpan span, double now) const
{
    const auto [first, last] = keyRange(span, now);
    const Buckets& buckets = bucketsOf(span);
    std::vector<ChartBar> result;
    result.reserve(static_cast<std::size_t>(last - first + 1));
    auto it = buckets.lower_bound(first);
    for (auto key = first; key <= last; ++key) {
        ChartBar bar;
        switch (span) {
        case ChartSpan::Hour:
            bar.start = static_cast<double>(key * kMinute);
            bar.end = bar.start + kMinute;
            break;
        case ChartSpan::Day:
            bar.start = static_cast<double>(key * kQuarter);
            bar.end = bar.start + kQuarter;
            break;
        case ChartSpan::Month: {
            const LocalDay day = localDayNumbered(key);
            bar.start = day.start;
            bar.end = day.end;
            break;
        }
        }
        if (it != buckets.end() && it->first == key) {
            bar.bySeverity = it->second.bySeverity;
            ++it;
        }
        result.push_back(bar);
    }
    return result;
}

std::vector<SenderCount> EventBuckets::topSenders(ChartSpan span, double now, std::size_t n) const
{
    const auto [first, last] = keyRange(span, now);
    const Buckets& buckets = bucketsOf(span);
    std::unordered_map<std::uint32_t, std::int64_t> sums;
    for (auto it = buckets.lower_bound(first); it != buckets.end() && it->first <= last; ++it) {
        for (const auto& [host, count] : it->second.hosts)
            sums[host] += count;
    }
    std::vector<SenderCount> senders;
    senders.reserve(sums.size());
    for (const auto& [host, count] : sums)
        senders.push_back({host, count});
    const auto more = [](const SenderCount& a, const SenderCount& b) {
        return a.count != b.count ? a.count > b.count : a.host < b.host;
    };
    const auto keep = std::min(n, senders.size());
    std::partial_sort(senders.begin(), senders.begin() + static_cast<std::ptrdiff_t>(keep), senders.end(), more);
    senders.resize(keep);
    return senders;
}

double EventBuckets::rate(double now) const
{
    const auto last = static_cast<std::int64_t>(std::floor(now));
    std::int64_t sum = 0;
    for (auto it = seconds_.upper_bound(last - kRateSeconds); it != seconds_.end() && it->first <= last; ++it)
        sum += it->second;
    return static_cast<double>(sum) / kRateSeconds;
}

} // namespace brantwell
