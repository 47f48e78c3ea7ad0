// Failures of automatic actions, one line each on standard error (the
// journal under systemd), so a user learns why a program did not start or a
// mail did not go out. A storm of failures must not flood the log: past a
// few lines per window the rest are counted and summed up in one line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace brantwell {

class FailureLog {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Sink = std::function<void(std::string_view line)>;  // gets the line with its LF

    static constexpr int kLinesPerWindow = 10;
    static constexpr std::chrono::seconds kWindow{60};

    // Without a sink the lines go to standard error.
    explicit FailureLog(Sink sink = {}, Clock clock = {});
    ~FailureLog();  // writes a pending summary
    FailureLog(const FailureLog&) = delete;
    FailureLog& operator=(const FailureLog&) = delete;

    // `what` without the program name and without a final LF; a CR or LF
    // inside it (a server's reply, a path) is written escaped.
    void report(std::string_view what);

    // Writes the summary of a finished window, if lines were held back.
    // Called from time to time by idle workers so a storm that ends is
    // still summed up.
    void flush();

    std::uint64_t reported() const;    // every call of report()
    std::uint64_t suppressed() const;  // not written as a line of their own

private:
    void flushLocked(std::chrono::steady_clock::time_point now, bool force);  // REQUIRES: mutex_ held

    Sink sink_;
    Clock clock_;
    mutable std::mutex mutex_;
    std::chrono::steady_clock::time_point windowStart_{};
    bool windowOpen_ = false;
    int linesInWindow_ = 0;
    std::uint64_t heldBack_ = 0;  // in the current window
    std::uint64_t reported_ = 0;
    std::uint64_t suppressed_ = 0;
};

} // namespace brantwell
