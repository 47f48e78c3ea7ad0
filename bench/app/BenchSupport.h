// What the application's benches share: a millisecond clock, the process's
// memory, the window's longest event-loop pause, and generated day files
// written in large pieces.
#pragma once

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>

#include <QObject>
#include <QTimer>

namespace brantwell::bench {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A value of /proc/self/status in KiB ("VmRSS:", "VmHWM:"); -1 when absent.
inline long statusKiB(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(std::char_traits<char>::length(key)));
    return -1;
}

inline long rssKiB()
{
    return statusKiB("VmRSS:");
}

// A timer that should fire every 5 ms while the event loop runs: the
// longest gap between two firings is the longest time the window could not
// answer.
class LoopPauses {
public:
    LoopPauses()
    {
        ticker_.setInterval(5);
        QObject::connect(&ticker_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, msSince(last_));
            last_ = Clock::now();
        });
    }

    void start()
    {
        longest_ = 0;
        last_ = Clock::now();
        ticker_.start();
    }

    void stop() { ticker_.stop(); }
    double longestMs() const { return longest_; }

private:
    QTimer ticker_;
    Clock::time_point last_ = Clock::now();
    double longest_ = 0;
};

// Lines of a generated day file: append a line's text to buffer(), then
// endLine(). The file is written in pieces of about 1 MiB, the rest when
// the writer goes.
class DayFileWriter {
public:
    explicit DayFileWriter(const std::string& path) : out_(path, std::ios::binary | std::ios::app) {}
    ~DayFileWriter() { out_ << buffer_; }
    DayFileWriter(const DayFileWriter&) = delete;
    DayFileWriter& operator=(const DayFileWriter&) = delete;

    std::string& buffer() { return buffer_; }

    void endLine()
    {
        buffer_ += '\n';
        if (buffer_.size() > (1 << 20)) {
            out_ << buffer_;
            buffer_.clear();
        }
    }

private:
    std::ofstream out_;
    std::string buffer_;
};

} // namespace brantwell::bench
