#include "Destination.h"

#include <csignal>
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <deque>

#include "EventRecord.h"
#include "ForwardConnection.h"
#include "ForwardQueue.h"
#include "SyslogOutput.h"

namespace brantwell {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kUdpMemoryBytes = 16 * 1024 * 1024;
constexpr std::uint64_t kStreamMemoryBytes = 64 * 1024 * 1024;
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr auto kFirstRetry = 1s;
constexpr auto kLastRetry = 60s;
constexpr auto kCursorEvery = 200ms;

// OpenSSL writes with write(2): a session to a server that has gone would
// raise SIGPIPE. Blocked on this thread it stays pending and harmless.
void blockSigpipe()
{
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

} // namespace

Destination::Destination(std::shared_ptr<const ForwardingDestination> config, std::string folder,
                         std::shared_ptr<DestinationCounters> counters)
    : config_(std::move(config)), folder_(std::move(folder)), counters_(std::move(counters))
{
}

Destination::~Destination()
{
    stop();
}

std::uint64_t Destination::intakeLimit() const
{
    // TCP and TLS: what memory holds only waits for the spooling thread,
    // and the queue on disk keeps the bound (dropping the oldest); a small
    // bound must not make a burst drop the newest here.
    const auto c = config();
    return c->transport == ForwardTransport::Udp ? std::min(c->queueBytes, kUdpMemoryBytes) : kStreamMemoryBytes;
}

void Destination::take(std::string_view lines, std::uint64_t count)
{
    const std::uint64_t limit = intakeLimit();
    bool wake = false;
    {
        std::lock_guard lock(intakeMutex_);
        if (intake_.size() + lines.size() > limit) {
            counters_->dropped.fetch_add(count, std::memory_order_relaxed);
            return;
        }
        wake = intake_.empty();
        intake_.append(lines);
        intakeLines_ += count;
    }
    if (wake)
        intakeReady_.notify_all();
}

void Destination::start()
{
    const auto c = config();
    if (c->transport == ForwardTransport::Udp) {
        sender_ = std::jthread([this](std::stop_token stop) { sendDatagrams(stop); });
        return;
    }
    {
        std::lock_guard lock(queueMutex_);
        queue_ = std::make_unique<ForwardQueue>(folder_, c->queueBytes);
        queueDroppedSeen_ = 0;
        std::string error;
        if (!queue_->open(error)) {
            queue_.reset();
            setError(error);
        }
    }
    spooler_ = std::jthread([this](std::stop_token stop) { spool(stop); });
    sender_ = std::jthread([this](std::stop_token stop) { sendStream(stop); });
}

void Destination::stop()
{
    for (std::jthread* t : {&sender_, &spooler_}) {
        if (!t->joinable())
            continue;
        t->request_stop();
        t->join();
    }
    std::lock_guard lock(queueMutex_);
    queue_.reset();  // saves the cursor
    setConnected(false);
}

void Destination::reconfigure(std::shared_ptr<const ForwardingDestination> config)
{
    stop();
    config_.store(std::move(config), std::memory_order_release);
    {
        std::lock_guard lock(stateMutex_);
        lastError_.clear();
    }
    start();
}

void Destination::setError(std::string error)
{
    std::lock_guard lock(stateMutex_);
    lastError_ = std::move(error);
    connected_ = false;
}

void Destination::setConnected(bool connected)
{
    std::lock_guard lock(stateMutex_);
    connected_ = connected;
    if (connected)
        lastError_.clear();
}

DestinationState Destination::state() const
{
    DestinationState s;
    {
        std::lock_guard lock(stateMutex_);
        s.connected = connected_;
        s.lastError = lastError_;
    }
    {
        std::lock_guard lock(intakeMutex_);
        s.queued = intakeLines_;
    }
    {
        std::lock_guard lock(queueMutex_);
        if (queue_)
            s.queued += queue_->queuedLines();
    }
    s.sent = counters_->sent.load(std::memory_order_relaxed);
    s.dropped = counters_->dropped.load(std::memory_order_relaxed);
    return s;
}

void Destination::spool(std::stop_token stop)
{
    std::string batch;
    auto lastSave = Clock::now();
    for (;;) {
        std::uint64_t lines = 0;
        {
            std::unique_lock lock(intakeMutex_);
            intakeReady_.wait_for(lock, stop, kCursorEvery, [this] { return !intake_.empty(); });
            batch.swap(intake_);
            lines = intakeLines_;
            intakeLines_ = 0;
        }
        {
            std::lock_guard lock(queueMutex_);
            if (!batch.empty()) {
                std::string error;
                if (!queue_) {
                    counters_->dropped.fetch_add(lines, std::memory_order_relaxed);
                } else if (!queue_->append(batch, lines, error)) {
                    counters_->dropped.fetch_add(lines, std::memory_order_relaxed);
                    std::lock_guard state(stateMutex_);
                    lastError_ = error;
                }
                queueChanged_ = true;
            }
            if (queue_) {
                const std::uint64_t dropped = queue_->droppedLines();
                counters_->dropped.fetch_add(dropped - queueDroppedSeen_, std::memory_order_relaxed);
                queueDroppedSeen_ = dropped;
                if (Clock::now() - lastSave >= kCursorEvery || stop.stop_requested()) {
                    queue_->saveCursor();
                    lastSave = Clock::now();
                }
            }
        }
        if (!batch.empty())
            queueReady_.notify_all();
        batch.clear();
        if (batch.capacity() > kChunkBytes * 16)
            batch.shrink_to_fit();
        if (stop.stop_requested()) {
            std::lock_guard lock(intakeMutex_);
            if (intake_.empty())
                return;
        }
    }
}

void Destination::sendStream(std::stop_token stop)
{
    blockSigpipe();
    const auto config = this->config();
    SyslogOutput output(config->format);
    ForwardConnection connection;
    const ForwardConnection::StopCheck stopped = [&stop] { return stop.stop_requested(); };
    struct InFlight {
        std::uint64_t wireEnd;  // the stream's bytes up to the end of the chunk
        QueuePosition end;
        std::uint64_t lines;
    };
    std::deque<InFlight> inFlight;
    auto retry = std::chrono::duration_cast<Clock::duration>(kFirstRetry);
    auto nextAttempt = Clock::now();
    ForwardQueue::Chunk chunk;
    std::string frames;

    // Lines whose bytes the server's TCP has acknowledged leave the queue.
    const auto settle = [&] {
        const std::uint64_t acknowledged = connection.acknowledgedBytes();
        while (!inFlight.empty() && inFlight.front().wireEnd <= acknowledged) {
            {
                std::lock_guard lock(queueMutex_);
                if (queue_)
                    queue_->acknowledge(inFlight.front().end);
            }
            counters_->sent.fetch_add(inFlight.front().lines, std::memory_order_relaxed);
            inFlight.pop_front();
        }
    };
    const auto fail = [&](std::string error) {
        connection.close();
        inFlight.clear();
        {
            std::lock_guard lock(queueMutex_);
            if (queue_)
                queue_->rewind();
        }
        setError(std::move(error));
        nextAttempt = Clock::now() + retry;
        retry = std::min(retry * 2, std::chrono::duration_cast<Clock::duration>(kLastRetry));
    };

    while (!stop.stop_requested()) {
        if (!connection.isOpen()) {
            if (Clock::now() < nextAttempt) {
                std::unique_lock lock(queueMutex_);
                queueReady_.wait_until(lock, stop, nextAttempt, [] { return false; });
                continue;
            }
            std::string error;
            if (!connection.open(*config, stopped, error)) {
                if (!stop.stop_requested())
                    fail(error);
                continue;
            }
            retry = kFirstRetry;
            setConnected(true);
            std::lock_guard lock(queueMutex_);
            if (queue_)
                queue_->rewind();
        }
        settle();
        bool got = false;
        {
            std::unique_lock lock(queueMutex_);
            got = queue_ && queue_->read(chunk, kChunkBytes);
            if (!got) {
                // Nothing to send: look for acknowledgements soon while some
                // are awaited, else wait for lines (and look at the
                // connection now and then: a server that closed it is seen
                // before the next line is written into a dead socket).
                queueChanged_ = false;
                queueReady_.wait_for(lock, stop, inFlight.empty() ? 200ms : 10ms, [this] { return queueChanged_; });
            }
        }
        if (!got) {
            std::string error;
            if (!connection.stillOpen(error))
                fail(error);
            continue;
        }
        frames.clear();
        std::uint64_t unusable = 0;
        std::string_view text = chunk.text;
        while (!text.empty()) {
            const auto lf = text.find('\n');
            const auto line = text.substr(0, lf);
            text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
            if (const auto record = splitEventLine(line))
                output.appendFrame(frames, *record);
            else
                ++unusable;  // a line damaged on disk: said in the count, never sent as garbage
        }
        if (unusable) {
            counters_->dropped.fetch_add(unusable, std::memory_order_relaxed);
            chunk.lines -= unusable;
        }
        std::string error;
        if (!connection.write(frames, stopped, error)) {
            if (!stop.stop_requested())
                fail(error);
            continue;
        }
        inFlight.push_back({connection.writtenBytes(), chunk.end, chunk.lines});
        settle();
    }
    // Stopping: give the acknowledgements of what was written a moment, so
    // that a restart does not send it again.
    const auto until = Clock::now() + 1s;
    while (connection.isOpen() && !inFlight.empty() && Clock::now() < until) {
        settle();
        if (!inFlight.empty())
            std::this_thread::sleep_for(5ms);
    }
}

void Destination::sendDatagrams(std::stop_token stop)
{
    const auto config = this->config();
    SyslogOutput output(config->format);
    ForwardConnection connection;
    const ForwardConnection::StopCheck stopped = [&stop] { return stop.stop_requested(); };
    std::string batch, message;
    auto nextAttempt = Clock::now();
    for (;;) {
        std::uint64_t lines = 0;
        {
            std::unique_lock lock(intakeMutex_);
            intakeReady_.wait_for(lock, stop, 200ms, [this] { return !intake_.empty(); });
            if (stop.stop_requested())
                return;
            batch.swap(intake_);
            lines = intakeLines_;
            intakeLines_ = 0;
        }
        if (batch.empty())
            continue;
        if (!connection.isOpen()) {
            std::string error;
            if (Clock::now() < nextAttempt || !connection.open(*config, stopped, error)) {
                if (!error.empty()) {
                    setError(error);
                    nextAttempt = Clock::now() + kFirstRetry;
                }
                counters_->dropped.fetch_add(lines, std::memory_order_relaxed);
                batch.clear();
                continue;
            }
            setConnected(true);
        }
        std::string_view text = batch;
        std::uint64_t sent = 0, failed = 0;
        std::string error;
        while (!text.empty()) {
            const auto lf = text.find('\n');
            const auto line = text.substr(0, lf);
            text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
            const auto record = splitEventLine(line);
            if (!record) {
                ++failed;
                continue;
            }
            message.clear();
            output.append(message, *record);
            if (connection.write(message, stopped, error))
                ++sent;
            else
                ++failed;  // such as "Connection refused" after the server's port was found closed
        }
        counters_->sent.fetch_add(sent, std::memory_order_relaxed);
        counters_->dropped.fetch_add(failed, std::memory_order_relaxed);
        if (!error.empty())
            setError(error);
        else
            setConnected(true);
        batch.clear();
    }
}

} // namespace brantwell
