#include "FailureLog.h"

#include <cstdio>

#include "util/LogText.h"

namespace brantwell {

FailureLog::FailureLog(Sink sink, Clock clock)
    : sink_(sink ? std::move(sink)
                 : Sink([](std::string_view line) {
                       std::fwrite(line.data(), 1, line.size(), stderr);
                       std::fflush(stderr);
                   })),
      clock_(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); }))
{
}

FailureLog::~FailureLog()
{
    std::lock_guard lock(mutex_);
    flushLocked(clock_(), true);
}

void FailureLog::report(std::string_view what)
{
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    ++reported_;
    flushLocked(now, false);
    if (!windowOpen_) {
        windowOpen_ = true;
        windowStart_ = now;
        linesInWindow_ = 0;
    }
    if (linesInWindow_ >= kLinesPerWindow) {
        ++heldBack_;
        ++suppressed_;
        return;
    }
    ++linesInWindow_;
    std::string line = "BrantwellSrv: ";
    line += escapeLineBreaks(what);
    line += '\n';
    sink_(line);
}

void FailureLog::flush()
{
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    flushLocked(now, false);
}

void FailureLog::flushLocked(std::chrono::steady_clock::time_point now, bool force)
{
    if (!windowOpen_ || (!force && now - windowStart_ < kWindow))
        return;
    windowOpen_ = false;
    if (heldBack_ == 0)
        return;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - windowStart_).count();
    sink_("BrantwellSrv: " + std::to_string(heldBack_) + " more action failures in the last " +
          std::to_string(seconds) + " s not shown\n");
    heldBack_ = 0;
}

std::uint64_t FailureLog::reported() const
{
    std::lock_guard lock(mutex_);
    return reported_;
}

std::uint64_t FailureLog::suppressed() const
{
    std::lock_guard lock(mutex_);
    return suppressed_;
}

} // namespace brantwell
