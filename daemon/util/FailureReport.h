// One line on standard error for a failure the user must know of.
//
// The periodic threads meet the same failure every round (an unwritable
// export path, a file that cannot be rewritten). A text is printed when it
// first appears, again when it changes, and at most once per `repeat` while
// it stays the same; clear() re-arms it once the failure is over. One
// instance per thread: it is not locked.
#pragma once

#include <chrono>
#include <string>

namespace brantwell {

class FailureReport {
public:
    explicit FailureReport(std::chrono::seconds repeat = std::chrono::hours(1)) : repeat_(repeat) {}

    // Prints "BrantwellSrv: <text>" unless it was just said; true when printed.
    bool report(const std::string& text);
    void clear() { last_.clear(); }

private:
    std::chrono::seconds repeat_;
    std::string last_;
    std::chrono::steady_clock::time_point lastTime_{};
};

} // namespace brantwell
