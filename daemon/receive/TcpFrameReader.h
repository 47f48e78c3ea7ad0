// Splits a TCP byte stream into syslog frames as RFC 6587 describes: each
// frame is either octet-counted ("LEN SP MSG", LEN without a leading zero)
// or ends at LF or NUL (Python's SysLogHandler ends its messages with NUL).
// A frame is counted only when its digits are followed by a space and "<",
// the start of every syslog message; otherwise digits begin a line, as in
// "2026 was a year".
//
// Pure: bytes in, frames out, no socket. At most `keep` bytes of a frame are
// held (the receiver stores no more), the rest is skipped to the frame's
// end, so memory stays bounded whatever a client sends.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace brantwell {

class TcpFrameReader {
public:
    static constexpr std::size_t kDefaultMaxFrame = 256 * 1024;

    // `keep`: bytes of a frame handed on; `maxFrame`: the longest count an
    // octet-counted frame may announce (a longer one is a framing error).
    explicit TcpFrameReader(std::size_t keep, std::size_t maxFrame = kDefaultMaxFrame)
        : keep_(keep), maxFrame_(maxFrame)
    {
        frame_.reserve(keep);
    }

    // Hands each complete frame to `sink(frame, cut)`; `cut` is true when
    // the frame was longer than `keep`. Returns false at a framing error
    // (the stream cannot be followed further; the caller closes it); the
    // frames before it have been handed on.
    template <class Sink>
    bool feed(std::string_view bytes, Sink&& sink);

    // The end of the stream: a frame that had begun is handed on as it is
    // (an LF frame without its LF, a counted frame short of its count), so
    // nothing a client sent before it closed is lost.
    template <class Sink>
    void finish(Sink&& sink);

    bool failed() const { return state_ == State::Failed; }
    // True while a frame has begun and not ended.
    bool inFrame() const { return state_ != State::Start && state_ != State::Failed; }

private:
    enum class State { Start, Count, CountSpace, Counted, Line, Failed };
    static constexpr std::size_t kMaxCountDigits = 9;

    void append(char c)
    {
        if (frame_.size() < keep_)
            frame_.push_back(c);
        else
            cut_ = true;
    }

    std::size_t keep_;
    std::size_t maxFrame_;
    State state_ = State::Start;
    std::size_t count_ = 0;      // digits read so far, then bytes still due
    std::size_t countDigits_ = 0;
    std::string frame_;
    bool cut_ = false;
};

template <class Sink>
bool TcpFrameReader::feed(std::string_view bytes, Sink&& sink)
{
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        switch (state_) {
        case State::Failed:
            return false;
        case State::Start: {
            const char c = bytes[i];
            frame_.clear();
            cut_ = false;
            if (c >= '1' && c <= '9') {
                state_ = State::Count;
                count_ = 0;
                countDigits_ = 0;
            } else if (c == '\n' || c == '\0') {
                ++i;  // an empty line between frames carries nothing
            } else {
                state_ = State::Line;
            }
            break;
        }
        case State::Count: {
            const char c = bytes[i];
            if (c >= '0' && c <= '9' && countDigits_ < kMaxCountDigits) {
                count_ = count_ * 10 + static_cast<std::size_t>(c - '0');
                ++countDigits_;
                append(c);  // kept in case this turns out to be a line
                ++i;
            } else if (c == ' ') {
                append(c);
                ++i;
                state_ = State::CountSpace;
            } else {
                // Digits, then not a space (or more digits than a count
                // has): a line that starts with a digit. What was read so
                // far is its start.
                state_ = State::Line;
            }
            break;
        }
        case State::CountSpace: {
            if (bytes[i] != '<') {
                state_ = State::Line;  // "2026 was a year": text, not a count
            } else if (count_ > maxFrame_) {
                state_ = State::Failed;  // a count beyond the limit
                return false;
            } else {
                frame_.clear();  // "<" is the first byte of the counted frame
                cut_ = false;
                state_ = State::Counted;
            }
            break;
        }
        case State::Counted: {
            const std::size_t take = std::min(count_, n - i);
            const std::size_t room = frame_.size() < keep_ ? keep_ - frame_.size() : 0;
            frame_.append(bytes.data() + i, std::min(take, room));
            if (take > room)
                cut_ = true;
            i += take;
            count_ -= take;
            if (count_ == 0) {
                sink(std::string_view(frame_), cut_);
                state_ = State::Start;
            }
            break;
        }
        case State::Line: {
            const auto* begin = bytes.data() + i;
            const auto* lf = std::find_if(begin, bytes.data() + n, [](char c) { return c == '\n' || c == '\0'; });
            if (lf == bytes.data() + n)
                lf = nullptr;
            const std::size_t take = lf ? static_cast<std::size_t>(lf - begin) : n - i;
            const std::size_t room = frame_.size() < keep_ ? keep_ - frame_.size() : 0;
            frame_.append(begin, std::min(take, room));
            if (take > room)
                cut_ = true;
            i += take;
            if (lf) {
                ++i;
                sink(std::string_view(frame_), cut_);
                state_ = State::Start;
            }
            break;
        }
        }
    }
    return state_ != State::Failed;
}

template <class Sink>
void TcpFrameReader::finish(Sink&& sink)
{
    if (state_ == State::Count || state_ == State::CountSpace || state_ == State::Line ||
        (state_ == State::Counted && !frame_.empty()))
        sink(std::string_view(frame_), cut_ || state_ == State::Counted);
    state_ = State::Start;
    frame_.clear();
    cut_ = false;
}

} // namespace brantwell
