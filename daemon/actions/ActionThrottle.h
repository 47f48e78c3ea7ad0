// The limit of one action's runs: at most `count` runs in any `seconds`
// (a sliding window), and the matching events held back meanwhile counted,
// so that the next run can say how many there were.
//
// Pure: times in, decisions out, no clock and no thread, so that it can be
// tested to the event.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace brantwell {

class ActionThrottle {
public:
    // `count` or `seconds` of 0 or less: no limit.
    ActionThrottle(std::int64_t count, std::int64_t seconds);

    bool limited() const { return count_ > 0 && seconds_ > 0; }

    struct Admission {
        bool run = false;
        std::uint64_t suppressed = 0;  // held back since the last run (for this run's "$suppressed")
        double heldSince = 0;          // when the first of them came
    };
    // A matching event at `now`: it runs, carrying the count held back
    // before it, or it is held back and counted.
    Admission admit(double now);

    // When the events held back should get their summary run: the moment
    // the window lets the action run again. Nothing when none are held.
    std::optional<double> summaryDue() const;
    // The summary run at `now`, when one is due: it counts as a run.
    std::optional<Admission> takeSummary(double now);

    std::uint64_t runs() const { return runs_; }
    std::uint64_t heldBack() const { return heldBack_; }

private:
    void forget(double now);  // runs that left the window

    std::int64_t count_;
    double seconds_;
    std::deque<double> window_;  // times of the runs within the window, oldest first
    std::uint64_t held_ = 0;      // held back since the last run
    double heldSince_ = 0;
    std::uint64_t runs_ = 0;      // since start, for the statistics
    std::uint64_t heldBack_ = 0;
};

} // namespace brantwell
