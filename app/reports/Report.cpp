#include "Report.h"

#include <cmath>
#include <sys/stat.h>

#include "events/EventLogReader.h"

namespace brantwell {

const ReportLayout& reportLayout(ReportKind kind)
{
    using F = ReportField;
    static const std::array<ReportLayout, kReportKinds> layouts{{
        {{QStringLiteral("Host"), QStringLiteral("Date"), QStringLiteral("Priority"), QStringLiteral("Message")},
         F::Host, {F::Date, F::Priority, F::Message}},
        {{QStringLiteral("Message"), QStringLiteral("Date"), QStringLiteral("Priority"), QStringLiteral("Host")},
         F::Message, {F::Date, F::Priority, F::Host}},
        {{QStringLiteral("Priority"), QStringLiteral("Date"), QStringLiteral("Host"), QStringLiteral("Message")},
         F::Priority, {F::Date, F::Host, F::Message}},
        {{QStringLiteral("Date"), QStringLiteral("Priority"), QStringLiteral("Host"), QStringLiteral("Message")},
         F::Date, {F::Priority, F::Host, F::Message}},
    }};
    return layouts[static_cast<std::size_t>(kind)];
}

QString reportName(ReportKind kind)
{
    switch (kind) {
    case ReportKind::ByHost: return QStringLiteral("Events by host");
    case ReportKind::ByMessage: return QStringLiteral("Events by message");
    case ReportKind::ByPriority: return QStringLiteral("Events by priority");
    case ReportKind::ByDate: return QStringLiteral("Events by date");
    }
    return {};
}

Report::Report(ReportKind kind, std::string dateFormat)
    : kind_(kind), dateFormat_(std::move(dateFormat)), formatter_(dateFormat_)
{
}

std::string_view Report::renderedDate(double seconds)
{
    if (std::isnan(seconds))
        return {};
    // Events of one file come in time order and many share a second, so the
    // last rendering is nearly always the one wanted.
    if (seconds != lastSeconds_) {
        lastRendered_ = formatter_.format(seconds);
        lastSeconds_ = seconds;
    }
    return lastRendered_;
}

void Report::add(std::string_view date, std::string_view priority, std::string_view host,
                 std::string_view message)
{
    Event event{};
    event.seconds = listedDateSeconds(date);
    event.priority = priorities_.intern(priority);
    event.host = hosts_.intern(host);
    switch (reportLayout(kind_).group) {
    case ReportField::Host: event.group = groups_.intern(host); break;
    case ReportField::Message: event.group = groups_.intern(message); break;
    case ReportField::Priority: event.group = groups_.intern(priority); break;
    case ReportField::Date: event.group = groups_.intern(renderedDate(event.seconds)); break;
    }
    if (kind_ != ReportKind::ByMessage) {
        event.messageOffset = messages_.size();
        event.messageLength = static_cast<std::uint32_t>(message.size());
        messages_.append(message);
    }
    events_.push_back(event);
}

void Report::finish()
{
    // A counting sort by group: stable, so each group keeps file and line order.
    groupStart_.assign(groups_.size() + 1, 0);
    for (const Event& e : events_)
        ++groupStart_[e.group + 1];
    for (std::size_t g = 1; g < groupStart_.size(); ++g)
        groupStart_[g] += groupStart_[g - 1];
    std::vector<std::uint32_t> next(groupStart_.begin(), groupStart_.end() - 1);
    byGroup_.resize(events_.size());
    for (std::uint32_t i = 0; i < events_.size(); ++i)
        byGroup_[next[events_[i].group]++] = i;
    lastRendered_.clear();
    lastRendered_.shrink_to_fit();
}

std::span<const std::uint32_t> Report::groupEvents(std::size_t group) const
{
    if (group + 1 >= groupStart_.size())
        return {};
    return std::span<const std::uint32_t>(byGroup_).subspan(groupStart_[group],
                                                            groupStart_[group + 1] - groupStart_[group]);
}

std::string Report::field(std::uint32_t event, ReportField field, const DateFormatter& formatter) const
{
    const Event& e = events_[event];
    switch (field) {
    case ReportField::Date: return std::isnan(e.seconds) ? std::string() : formatter.format(e.seconds);
    case ReportField::Priority: return priorities_.text(e.priority);
    case ReportField::Host: return hosts_.text(e.host);
    case ReportField::Message:
        if (kind_ == ReportKind::ByMessage)
            return groups_.text(e.group);
        return messages_.substr(e.messageOffset, e.messageLength);
    }
    return {};
}

std::unique_ptr<Report> buildReport(const std::string& dataDir, ReportKind kind,
                                    const QString& source, const std::string& dateFormat,
                                    ReportProgress& progress)
{
    std::vector<std::string> paths;
    const bool all = source == kAllLogs;
    const std::string day = source.toStdString();
    std::uint64_t total = 0;
    for (const auto& name : eventLogFiles(dataDir)) {
        if (!all && name.substr(0, name.size() - 4) != day)
            continue;
        paths.push_back(dataDir + "/" + name);
        struct stat st {};
        if (::stat(paths.back().c_str(), &st) == 0)
            total += static_cast<std::uint64_t>(st.st_size);
    }
    progress.bytesTotal = total;

    auto report = std::make_unique<Report>(kind, dateFormat);
    std::uint64_t events = 0;
    const auto sink = [&](EventRecord&& r) {
        report->add(r.date, r.priority, r.host, r.message);
        ++events;
    };
    const auto onBlock = [&](std::size_t bytes) {
        progress.bytesRead += bytes;
        progress.events = events;
        return !progress.cancel.load(std::memory_order_relaxed);
    };
    for (const auto& path : paths) {
        readEventLogFile(path, sink, onBlock);
        if (progress.cancel)
            return nullptr;
    }
    progress.events = events;
    report->finish();
    return report;
}

} // namespace brantwell
