#include "ForwardQueue.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "util/FileUtil.h"

namespace brantwell {

namespace {

constexpr std::uint64_t kMinSegmentBytes = 64 * 1024;
constexpr std::uint64_t kMaxSegmentBytes = 4 * 1024 * 1024;
constexpr const char* kCursorFile = "cursor";
constexpr const char* kSuffix = ".queue";

// "00000000000000001234.queue" gives 1234.
bool segmentNumber(const char* name, std::uint64_t& first)
{
    const std::size_t length = std::strlen(name);
    if (length != 20 + std::strlen(kSuffix) || std::strcmp(name + 20, kSuffix) != 0)
        return false;
    first = 0;
    for (int i = 0; i < 20; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
        first = first * 10 + static_cast<std::uint64_t>(name[i] - '0');
    }
    return true;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

ForwardQueue::ForwardQueue(std::string directory, std::uint64_t boundBytes)
    : directory_(std::move(directory)), bound_(std::max<std::uint64_t>(boundBytes, kMinSegmentBytes * 2)),
      segmentBytes_(std::clamp<std::uint64_t>(bound_ / 8, kMinSegmentBytes, kMaxSegmentBytes))
{
}

ForwardQueue::~ForwardQueue()
{
    saveCursor();
    for (int fd : {tailFd_, readFd_, cursorFd_})
        if (fd >= 0)
            ::close(fd);
}

std::string ForwardQueue::segmentPath(std::uint64_t first) const
{
    char name[40];
    std::snprintf(name, sizeof name, "%020" PRIu64 "%s", first, kSuffix);
    return joinPath(directory_, name);
}

std::size_t ForwardQueue::find(std::uint64_t first) const
{
    for (std::size_t i = 0; i < segments_.size(); ++i)
        if (segments_[i].first == first)
            return i;
    return segments_.size();
}

bool ForwardQueue::open(std::string& error)
{
    // The folder and the "forward" folder holding it are made 0750; a link
    // planted in their place would lead the queue's files anywhere.
    const std::string parent = directory_.substr(0, directory_.rfind('/'));
    for (const std::string& d : {parent, directory_}) {
        if (!ensureDataDirectory(d)) {
            error = "cannot create " + d + ": " + fileErrorText(errno);
            return false;
        }
        struct stat st {};
        if (lstat(d.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
            error = d + " is not a folder of the daemon's own (a link, or another user's); nothing is queued there";
            return false;
        }
    }
    std::vector<std::uint64_t> found;
    if (DIR* d = opendir(directory_.c_str())) {
        while (const dirent* e = readdir(d)) {
            std::uint64_t first = 0;
            if (segmentNumber(e->d_name, first))
                found.push_back(first);
        }
        closedir(d);
    }
    std::sort(found.begin(), found.end());

    // Each segment's whole lines; a line torn by a crash at the end of one
    // is left unread (new lines always go to a new segment).
    for (const std::uint64_t first : found) {
        const int fd = openDataFile(segmentPath(first), O_RDONLY);
        if (fd < 0)
            continue;
        Segment s{first, 0, 0};
        char buffer[65536];
        std::uint64_t at = 0;
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == '\n') {
                    ++s.lines;
                    s.bytes = at + static_cast<std::uint64_t>(i) + 1;
                }
            }
            at += static_cast<std::uint64_t>(n);
        }
        ::close(fd);
        segments_.push_back(s);
    }

    // Where delivery stood: "segment offset line".
    cursorFd_ = openDataFile(joinPath(directory_, kCursorFile), O_RDWR | O_CREAT);
    QueuePosition cursor;
    bool haveCursor = false;
    if (cursorFd_ >= 0) {
        char text[128] = {};
        if (pread(cursorFd_, text, sizeof text - 1, 0) > 0) {
            unsigned long long a = 0, b = 0, c = 0;
            if (std::sscanf(text, "%llu %llu %llu", &a, &b, &c) == 3) {
                cursor = {a, b, c};
                haveCursor = true;
            }
        }
    }
    // Segments wholly before the cursor were delivered; a cursor that names
    // no segment left (or lies beyond one's whole lines) is taken at the
    // nearest start.
    while (!segments_.empty() && haveCursor && segments_.front().first < cursor.segment
           && segments_.front().first + segments_.front().lines <= cursor.line) {
        ::unlink(segmentPath(segments_.front().first).c_str());
        segments_.pop_front();
    }
    if (!segments_.empty()) {
        const Segment& front = segments_.front();
        if (haveCursor && cursor.segment == front.first && cursor.offset <= front.bytes
            && cursor.line >= front.first && cursor.line <= front.first + front.lines)
            head_ = cursor;
        else
            head_ = {front.first, 0, front.first};
        nextLine_ = segments_.back().first + segments_.back().lines;
    } else {
        nextLine_ = haveCursor ? cursor.line : 0;
        head_ = {nextLine_, 0, nextLine_};
    }
    for (const auto& s : segments_)
        totalBytes_ += s.bytes;
    read_ = head_;
    if (!startSegment(error))
        return false;
    forgetPassedSegments();
    read_ = head_;
    cursorDirty_ = true;
    saveCursor();
    return true;
}

bool ForwardQueue::startSegment(std::string& error)
{
    const int fd = openDataFile(segmentPath(nextLine_), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND);
    if (fd < 0) {
        error = "cannot create a queue file in " + directory_ + ": " + fileErrorText(errno);
        return false;
    }
    if (tailFd_ >= 0)
        ::close(tailFd_);
    tailFd_ = fd;
    // An empty old tail makes way for the new one.
    if (!segments_.empty() && segments_.back().lines == 0 && segments_.back().first == nextLine_)
        segments_.pop_back();
    segments_.push_back({nextLine_, 0, 0});
    return true;
}

bool ForwardQueue::appendToTail(std::string_view text, std::uint64_t lines, std::string& error)
{
    Segment& tail = segments_.back();
    if (!writeAll(tailFd_, text.data(), text.size())) {
        error = "cannot write to the queue in " + directory_ + ": " + fileErrorText(errno);
        // Whole lines only: a part written is cut off again.
        if (ftruncate(tailFd_, static_cast<off_t>(tail.bytes)) != 0) {
            // The torn part stays beyond the segment's known bytes and is never read.
        }
        return false;
    }
    tail.bytes += text.size();
    tail.lines += lines;
    totalBytes_ += text.size();
    nextLine_ += lines;
    return true;
}

bool ForwardQueue::append(std::string_view text, std::uint64_t lines, std::string& error)
{
    if (tailFd_ < 0) {
        error = "the queue in " + directory_ + " is not open";
        return false;
    }
    // Cut at line ends into pieces that fit a segment, so the oldest lines
    // can always be dropped a segment at a time.
    while (!text.empty()) {
        if (segments_.back().bytes >= segmentBytes_ && !startSegment(error))
            return false;
        const std::uint64_t room = segmentBytes_ - std::min(segmentBytes_, segments_.back().bytes);
        std::size_t cut = text.size();
        if (cut > room) {
            const auto lf = text.rfind('\n', room == 0 ? 0 : room - 1);
            cut = lf == std::string_view::npos ? text.find('\n') + 1 : lf + 1;
        }
        const std::string_view piece = text.substr(0, cut);
        const auto pieceLines = static_cast<std::uint64_t>(std::count(piece.begin(), piece.end(), '\n'));
        if (!appendToTail(piece, pieceLines, error))
            return false;
        text.remove_prefix(cut);
        lines -= std::min(lines, pieceLines);
    }
    while (queuedBytes() > bound_ && segments_.size() > 1)
        dropOldest();
    return true;
}

void ForwardQueue::dropOldest()
{
    const Segment front = segments_.front();
    const std::uint64_t end = front.first + front.lines;
    // Lines already written to the connection are not counted: they are
    // on their way and are counted as sent when acknowledged.
    dropped_ += end - std::min(end, std::max(head_.line, read_.line));
    ::unlink(segmentPath(front.first).c_str());
    if (readFd_ >= 0 && readFdSegment_ == front.first) {
        ::close(readFd_);
        readFd_ = -1;
    }
    segments_.pop_front();
    totalBytes_ -= front.bytes;
    const Segment& next = segments_.front();
    head_ = {next.first, 0, next.first};
    if (read_.line < next.first || read_.segment == front.first)
        read_ = head_;
    cursorDirty_ = true;
}

bool ForwardQueue::read(Chunk& chunk, std::size_t maxBytes)
{
    chunk.text.clear();
    chunk.lines = 0;
    for (;;) {
        std::size_t index = find(read_.segment);
        if (index == segments_.size()) {
            read_ = head_;
            index = find(read_.segment);
            if (index == segments_.size())
                return false;
        }
        const Segment* s = &segments_[index];
        if (read_.offset < s->bytes) {
            if (readFd_ < 0 || readFdSegment_ != s->first) {
                if (readFd_ >= 0)
                    ::close(readFd_);
                readFd_ = openDataFile(segmentPath(s->first), O_RDONLY);
                readFdSegment_ = s->first;
                if (readFd_ < 0) {
                    // A segment that cannot be read is lost: its lines are dropped.
                    dropped_ += s->first + s->lines - read_.line;
                    read_ = {s->first, s->bytes, s->first + s->lines};
                    continue;
                }
            }
            std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(maxBytes, s->bytes - read_.offset));
            for (;;) {
                chunk.text.resize(want);
                const ssize_t n = pread(readFd_, chunk.text.data(), want, static_cast<off_t>(read_.offset));
                if (n <= 0) {
                    dropped_ += s->first + s->lines - read_.line;
                    read_ = {s->first, s->bytes, s->first + s->lines};
                    chunk.text.clear();
                    break;
                }
                chunk.text.resize(static_cast<std::size_t>(n));
                const auto lf = chunk.text.rfind('\n');
                if (lf != std::string::npos) {
                    chunk.text.resize(lf + 1);
                    break;
                }
                // One line longer than maxBytes: read it whole.
                want = static_cast<std::size_t>(s->bytes - read_.offset);
            }
            if (chunk.text.empty())
                continue;
            chunk.lines = static_cast<std::uint64_t>(std::count(chunk.text.begin(), chunk.text.end(), '\n'));
            read_ = {s->first, read_.offset + chunk.text.size(), read_.line + chunk.lines};
            chunk.end = read_;
            return true;
        }
        if (index + 1 == segments_.size())
            return false;
        const Segment& next = segments_[index + 1];
        read_ = {next.first, 0, next.first};
    }
}

void ForwardQueue::acknowledge(const QueuePosition& end)
{
    if (end.line <= head_.line)
        return;
    head_ = end;
    cursorDirty_ = true;
    forgetPassedSegments();
}

void ForwardQueue::forgetPassedSegments()
{
    // A segment delivered to its end goes, except the one being written.
    while (segments_.size() > 1) {
        const Segment& front = segments_.front();
        const bool passed = head_.segment != front.first ? head_.line >= front.first + front.lines
                                                         : head_.offset >= front.bytes;
        if (!passed)
            break;
        ::unlink(segmentPath(front.first).c_str());
        if (readFd_ >= 0 && readFdSegment_ == front.first) {
            ::close(readFd_);
            readFd_ = -1;
        }
        totalBytes_ -= front.bytes;
        const bool headWasHere = head_.segment == front.first;
        segments_.pop_front();
        if (headWasHere)
            head_ = {segments_.front().first, 0, segments_.front().first};
    }
}

void ForwardQueue::rewind()
{
    read_ = head_;
}

void ForwardQueue::saveCursor()
{
    if (!cursorDirty_ || cursorFd_ < 0)
        return;
    char text[96];
    const int n = std::snprintf(text, sizeof text, "%020" PRIu64 " %020" PRIu64 " %020" PRIu64 "\n", head_.segment,
                                head_.offset, head_.line);
    // One short write of a fixed length at the start: the file always
    // holds one whole cursor.
    if (pwrite(cursorFd_, text, static_cast<std::size_t>(n), 0) == n)
        cursorDirty_ = false;
}

} // namespace brantwell
