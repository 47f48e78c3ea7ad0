// The tests' wait for something another thread or process does.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace brantwell::test {

// Polls `done` every 10 ms for at most `limit`; true once it held.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace brantwell::test
