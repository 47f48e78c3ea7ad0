// The queue of one destination on disk: the stored lines still to be
// delivered, in segment files "<first line number>.queue" in the
// destination's folder, and the file "cursor" saying how far delivery has
// come. A line leaves the queue only when acknowledge() says the upstream
// has it; what was only read goes out again after rewind() (a connection
// lost). A restart goes on from the cursor.
//
// The bound is kept by dropping the oldest segment as a whole (segments are
// an eighth of the bound, so the queue stays between seven eighths of it
// and all of it); its lines not yet sent are counted as dropped.
//
// Not thread-safe: the destination serialises its calls.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace brantwell {

struct QueuePosition {
    std::uint64_t segment = 0;  // the first line number of the segment
    std::uint64_t offset = 0;   // bytes into it
    std::uint64_t line = 0;     // the number of the line that starts there
};

class ForwardQueue {
public:
    ForwardQueue(std::string directory, std::uint64_t boundBytes);
    ~ForwardQueue();  // saves the cursor
    ForwardQueue(const ForwardQueue&) = delete;
    ForwardQueue& operator=(const ForwardQueue&) = delete;

    // Creates the folder, reads the segments and the cursor. False with
    // `error` set when the folder or a new segment cannot be made.
    bool open(std::string& error);

    // Appends whole lines (`text` ends in LF), `lines` of them, then drops
    // the oldest segments while the queue is over its bound. False, with
    // `error` set, when they could not be written (then none was).
    bool append(std::string_view text, std::uint64_t lines, std::string& error);

    // Up to about `maxBytes` of whole lines from where reading stands
    // (at least one line). False when everything queued has been read.
    struct Chunk {
        std::string text;
        std::uint64_t lines = 0;
        QueuePosition end;  // where reading stands after it
    };
    bool read(Chunk& chunk, std::size_t maxBytes);

    // Everything before `end` (a Chunk's end) was delivered: it leaves.
    void acknowledge(const QueuePosition& end);
    // Reading starts again at the oldest line not delivered.
    void rewind();

    std::uint64_t queuedLines() const { return nextLine_ - head_.line; }
    std::uint64_t queuedBytes() const { return totalBytes_ - head_.offset; }
    std::uint64_t droppedLines() const { return dropped_; }
    const std::string& directory() const { return directory_; }

    // Writes the cursor when it moved since the last save.
    void saveCursor();

private:
    struct Segment {
        std::uint64_t first = 0;
        std::uint64_t lines = 0;
        std::uint64_t bytes = 0;  // whole lines only
    };
    std::string segmentPath(std::uint64_t first) const;
    bool startSegment(std::string& error);
    bool appendToTail(std::string_view text, std::uint64_t lines, std::string& error);
    void dropOldest();
    void forgetPassedSegments();
    std::size_t find(std::uint64_t first) const;  // size() when gone

    const std::string directory_;
    const std::uint64_t bound_;
    const std::uint64_t segmentBytes_;
    std::deque<Segment> segments_;
    std::uint64_t totalBytes_ = 0;  // of every segment
    std::uint64_t nextLine_ = 0;    // the number the next appended line gets
    QueuePosition head_;            // the oldest line not delivered
    QueuePosition read_;            // where reading stands
    std::uint64_t dropped_ = 0;
    int tailFd_ = -1;
    int readFd_ = -1;
    std::uint64_t readFdSegment_ = 0;
    int cursorFd_ = -1;
    bool cursorDirty_ = false;
};

} // namespace brantwell
