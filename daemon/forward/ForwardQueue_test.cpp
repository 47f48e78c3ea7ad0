#include "ForwardQueue.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "testkit/TestSupport.h"

namespace brantwell {
namespace {

std::string lines(int from, int to)
{
    std::string out;
    for (int i = from; i < to; ++i)
        out += "1765270000,User.Notice,127.0.0.1,line " + std::to_string(i) + "\n";
    return out;
}

// Everything readable now, without acknowledging it.
std::string readAll(ForwardQueue& q)
{
    std::string out;
    ForwardQueue::Chunk chunk;
    while (q.read(chunk, 4096))
        out += chunk.text;
    return out;
}

int segmentFiles(const std::string& dir)
{
    int n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            n += std::string(e->d_name).ends_with(".queue");
        closedir(d);
    }
    return n;
}

TEST(ForwardQueue, GoesOnFromTheAcknowledgedLineAfterARestartAndSkipsATornLine)
{
    test::TempDir dir;
    const std::string folder = dir.file("forward/central");
    std::string error;
    std::uint64_t firstLines = 0;
    {
        ForwardQueue q(folder, 1024 * 1024);
        ASSERT_TRUE(q.open(error)) << error;
        ASSERT_TRUE(q.append(lines(0, 100), 100, error));
        ForwardQueue::Chunk chunk;
        ASSERT_TRUE(q.read(chunk, 1000));
        firstLines = chunk.lines;
        ASSERT_GT(firstLines, 0u);
        EXPECT_TRUE(chunk.text.starts_with("1765270000,User.Notice,127.0.0.1,line 0\n"));
        q.acknowledge(chunk.end);
        ASSERT_TRUE(q.read(chunk, 1000));  // read, never acknowledged: comes again
        EXPECT_EQ(q.queuedLines(), 100 - firstLines);
        EXPECT_EQ(mode_t(test::fileMode(folder)), mode_t(0750));
    }
    // A crash left half a line at the end of the last segment.
    {
        DIR* d = opendir(folder.c_str());
        std::string last;
        while (const dirent* e = readdir(d))
            if (std::string(e->d_name).ends_with(".queue") && std::string(e->d_name) > last)
                last = e->d_name;
        closedir(d);
        const int fd = open((folder + "/" + last).c_str(), O_WRONLY | O_APPEND);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "1765270000,User.No", 18), 18);
        close(fd);
    }
    ForwardQueue q(folder, 1024 * 1024);
    ASSERT_TRUE(q.open(error)) << error;
    ASSERT_TRUE(q.append(lines(100, 110), 10, error));
    // Exactly the unacknowledged lines, then the new ones; no torn bytes.
    EXPECT_EQ(readAll(q), lines(static_cast<int>(firstLines), 110));
    EXPECT_EQ(q.queuedLines(), 110 - firstLines);
}

TEST(ForwardQueue, DropsWholeOldestSegmentsBeyondTheBoundAndCountsTheirLines)
{
    test::TempDir dir;
    std::string error;
    ForwardQueue q(dir.file("q"), 256 * 1024);  // segments of 64 KiB
    ASSERT_TRUE(q.open(error)) << error;
    const std::string batch = lines(0, 1000);  // about 48 KB
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(q.append(batch, 1000, error));
    EXPECT_LE(q.queuedBytes(), 256u * 1024);
    EXPECT_GE(q.queuedBytes(), 256u * 1024 * 3 / 4);
    EXPECT_EQ(q.queuedLines() + q.droppedLines(), 20000u);
    EXPECT_LE(segmentFiles(dir.file("q")), 6);
    // What is left reads back as whole lines, the newest last.
    const std::string rest = readAll(q);
    EXPECT_EQ(static_cast<std::uint64_t>(std::count(rest.begin(), rest.end(), '\n')), q.queuedLines());
    EXPECT_TRUE(rest.ends_with(batch));
}

TEST(ForwardQueue, AcknowledgedSegmentsLeaveTheDisk)
{
    test::TempDir dir;
    std::string error;
    ForwardQueue q(dir.file("q"), 256 * 1024);
    ASSERT_TRUE(q.open(error)) << error;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(q.append(lines(0, 1000), 1000, error));
    ForwardQueue::Chunk chunk;
    QueuePosition end;
    while (q.read(chunk, 65536))
        end = chunk.end;
    q.acknowledge(end);
    EXPECT_EQ(q.queuedLines(), 0u);
    EXPECT_EQ(q.queuedBytes(), 0u);
    EXPECT_EQ(segmentFiles(dir.file("q")), 1);
    q.rewind();
    EXPECT_FALSE(q.read(chunk, 65536));
}

} // namespace
} // namespace brantwell
