#include "DropReport.h"

#include <cstdio>

namespace brantwell {

std::optional<std::string> DropReport::check(const Counters& counters, bool fromZero)
{
    const bool first = last_.empty();
    std::string parts;
    for (const auto& c : kDropCounters) {
        const auto now = counters.find(c.key);
        if (now == counters.end())
            continue;
        const auto before = last_.find(c.key);
        const std::uint64_t previous = before != last_.end() ? before->second : 0;
        // A counter that went back (a socket opened anew) starts over.
        const std::uint64_t grown = now->second >= previous ? now->second - previous : now->second;
        last_[c.key] = now->second;
        if (grown == 0 || (first && !fromZero))
            continue;
        if (!parts.empty())
            parts += "; ";
        parts += std::to_string(grown) + " " + c.text + ", " + std::to_string(now->second) + " since start";
    }
    if (parts.empty())
        return std::nullopt;
    return "BrantwellSrv: lost in the last minute: " + parts + "\n";
}

DropReporter::DropReporter(Source source, Sink sink, std::chrono::milliseconds interval)
    : source_(std::move(source)), sink_(std::move(sink)), interval_(interval)
{
    if (!sink_)
        sink_ = [](std::string_view line) { std::fwrite(line.data(), 1, line.size(), stderr); };
}

DropReporter::~DropReporter()
{
    if (thread_.joinable()) {
        thread_.request_stop();
        wake_.notify_all();
        thread_.join();
    }
}

void DropReporter::start()
{
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

void DropReporter::run(std::stop_token stop)
{
    DropReport report;
    report.check(source_(), false);  // losses are counted from here on
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        wake_.wait_for(lock, stop, interval_, [] { return false; });  // a stop ends the wait
        if (stop.stop_requested())
            break;
        lock.unlock();
        if (const auto line = report.check(source_()))
            sink_(*line);
        lock.lock();
    }
}

} // namespace brantwell
