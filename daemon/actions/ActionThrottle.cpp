#include "ActionThrottle.h"

namespace brantwell {

ActionThrottle::ActionThrottle(std::int64_t count, std::int64_t seconds)
    : count_(count), seconds_(static_cast<double>(seconds))
{
}

void ActionThrottle::forget(double now)
{
    while (!window_.empty() && window_.front() + seconds_ <= now)
        window_.pop_front();
    // A clock set back leaves runs "in the future": they would block the
    // action until the clock caught up.
    while (!window_.empty() && window_.back() > now)
        window_.pop_back();
}

ActionThrottle::Admission ActionThrottle::admit(double now)
{
    if (!limited()) {
        ++runs_;
        return {true, 0, 0};
    }
    forget(now);
    if (window_.size() < static_cast<std::size_t>(count_)) {
        window_.push_back(now);
        ++runs_;
        const Admission a{true, held_, heldSince_};
        held_ = 0;
        return a;
    }
    if (held_++ == 0)
        heldSince_ = now;
    ++heldBack_;
    return {false, held_, heldSince_};
}

std::optional<double> ActionThrottle::summaryDue() const
{
    if (!limited() || held_ == 0 || window_.empty())
        return std::nullopt;
    // The window is full (else nothing would be held): it has room again
    // when its oldest run leaves it.
    return window_.front() + seconds_;
}

std::optional<ActionThrottle::Admission> ActionThrottle::takeSummary(double now)
{
    const auto due = summaryDue();
    if (!due || now < *due)
        return std::nullopt;
    forget(now);
    window_.push_back(now);
    ++runs_;
    const Admission a{true, held_, heldSince_};
    held_ = 0;
    return a;
}

} // namespace brantwell
