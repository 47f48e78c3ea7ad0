// Whether one transport (UDP, TCP, TLS) receives, and if it does not, why:
// set by its receiver thread, read by the status call on the bus.
#pragma once

#include <mutex>
#include <string>
#include <utility>

namespace brantwell {

class ReceptionStatus {
public:
    enum class State { Off, Receiving, NotReceiving };

    void set(State state, std::string detail)
    {
        std::lock_guard lock(mutex_);
        state_ = state;
        detail_ = std::move(detail);
    }
    std::pair<State, std::string> get() const
    {
        std::lock_guard lock(mutex_);
        return {state_, detail_};
    }

    // The words the status call answers with.
    static const char* text(State state)
    {
        switch (state) {
        case State::Off: return "off";
        case State::Receiving: return "receiving";
        case State::NotReceiving: return "not receiving";
        }
        return "not receiving";
    }

private:
    mutable std::mutex mutex_;
    State state_ = State::Off;
    std::string detail_;
};

} // namespace brantwell
