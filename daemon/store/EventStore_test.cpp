#include "EventStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "testkit/PrivateMounts.h"
#include "testkit/TestSupport.h"

using brantwell::EventRecord;
using brantwell::EventStore;
using namespace brantwell::test;

namespace {

// 2026-12-08 23:59:59 in Europe/Berlin (the tests run with that TZ).
constexpr double kLastSecond = 1796770799;

EventRecord event(const std::string& message, const std::string& date = "1796770799")
{
    return {date, "User.Notice", "10.0.0.1", message};
}

} // namespace

TEST(EventStore, AppendsWholeLinesToTheFileOfTheLocalDay)
{
    TempDir dir;
    EventStore store(dir.path());
    const std::vector<EventRecord> first = {event("a,b,c"), event("")};
    EXPECT_EQ(store.append(kLastSecond, first), 2u);
    const std::vector<EventRecord> second = {event("next day", "1796770800")};
    EXPECT_EQ(store.append(kLastSecond + 1, second), 1u);

    EXPECT_EQ(readFile(dir.file("2026-12-08.log")),
              "1796770799,User.Notice,10.0.0.1,a,b,c\n1796770799,User.Notice,10.0.0.1,\n");
    EXPECT_EQ(readFile(dir.file("2026-12-09.log")), "1796770800,User.Notice,10.0.0.1,next day\n");
    EXPECT_EQ(fileMode(dir.file("2026-12-08.log")), 0640);
    EXPECT_EQ(fileMode(dir.path()), 0700);  // mkdtemp's; the store does not widen it
}

TEST(EventStore, KeepsTheModeOfAnExistingFile)
{
    TempDir dir;
    writeFile(dir.file("2026-12-08.log"), "old line\n");
    ::chmod(dir.file("2026-12-08.log").c_str(), 0600);
    EventStore store(dir.path());
    const std::vector<EventRecord> one = {event("x")};
    store.append(kLastSecond, one);
    EXPECT_EQ(fileMode(dir.file("2026-12-08.log")), 0600);
    EXPECT_EQ(readFile(dir.file("2026-12-08.log")), "old line\n1796770799,User.Notice,10.0.0.1,x\n");
}

TEST(EventStore, CreatesAMissingDirectoryAndRecreatesADeletedFile)
{
    TempDir dir;
    const std::string sub = dir.path() + "/a/b";
    EventStore store(sub);
    const std::vector<EventRecord> one = {event("x")};
    ASSERT_EQ(store.append(kLastSecond, one), 1u);
    EXPECT_EQ(fileMode(sub), 0750);
    // Somebody deletes the open file: the next append must not vanish into it.
    ::unlink((sub + "/2026-12-08.log").c_str());
    ASSERT_EQ(store.append(kLastSecond, one), 1u);
    EXPECT_EQ(readFile(sub + "/2026-12-08.log"), "1796770799,User.Notice,10.0.0.1,x\n");
}

TEST(EventStore, RewriteReplacesDeletesOrLeavesAlone)
{
    TempDir dir;
    EventStore store(dir.path());
    const std::vector<EventRecord> three = {event("1"), event("2"), event("3")};
    store.append(kLastSecond, three);
    const std::string path = dir.file("2026-12-08.log");

    struct stat before {};
    ::stat(path.c_str(), &before);
    int seen = 0;
    EXPECT_TRUE(store.rewrite("2026-12-08.log", [&](std::string_view) { return ++seen > 0; }));
    EXPECT_EQ(seen, 3);
    struct stat after {};
    ::stat(path.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino) << "an unchanged file must not be rewritten";

    EXPECT_TRUE(store.rewrite("2026-12-08.log", [](std::string_view line) { return !line.ends_with(",2\n"); }));
    EXPECT_EQ(readFile(path), "1796770799,User.Notice,10.0.0.1,1\n1796770799,User.Notice,10.0.0.1,3\n");
    EXPECT_EQ(fileMode(path), 0640);

    // The store kept the old file open; the next append must reach the new one.
    const std::vector<EventRecord> four = {event("4")};
    store.append(kLastSecond, four);
    EXPECT_EQ(readFile(path), "1796770799,User.Notice,10.0.0.1,1\n1796770799,User.Notice,10.0.0.1,3\n"
                              "1796770799,User.Notice,10.0.0.1,4\n");

    EXPECT_TRUE(store.rewrite("2026-12-08.log", [](std::string_view) { return false; }));
    EXPECT_FALSE(exists(path));
    EXPECT_FALSE(store.rewrite("missing.log", [](std::string_view) { return true; }));
    EXPECT_EQ(errno, ENOENT);
}

TEST(EventStore, ListsOnlyEventLogFiles)
{
    TempDir dir;
    writeFile(dir.file("2026-01-01.log"), "");
    writeFile(dir.file("Brantwell.ini"), "{}");
    writeFile(dir.file("notes.LOG"), "");
    writeFile(dir.file("2026-01-02.log.tmp1"), "");
    EventStore store(dir.path());
    EXPECT_EQ(store.listFiles(), std::vector<std::string>{"2026-01-01.log"});
}

TEST(EventStore, ConcurrentRewritesLoseNoAppendedLine)
{
    TempDir dir;
    EventStore store(dir.path());
    constexpr int kBatches = 2000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < kBatches; ++i) {
            const std::vector<EventRecord> batch = {event("keep " + std::to_string(i)), event("drop")};
            store.append(kLastSecond, batch);
        }
        done = true;
    });
    int rounds = 0;
    while (!done || rounds == 0) {
        store.rewrite("2026-12-08.log", [](std::string_view l) { return !l.ends_with(",drop\n"); });
        ++rounds;
    }
    writer.join();
    store.rewrite("2026-12-08.log", [](std::string_view l) { return !l.ends_with(",drop\n"); });
    const std::string contents = readFile(dir.file("2026-12-08.log"));
    for (int i = 0; i < kBatches; ++i)
        ASSERT_NE(contents.find(",keep " + std::to_string(i) + "\n"), std::string::npos) << i;
    EXPECT_EQ(std::count(contents.begin(), contents.end(), '\n'), kBatches);
}

TEST(EventStore, EndsATornLastLineBeforeAppending)
{
    TempDir dir;
    writeFile(dir.file("2026-12-08.log"), "1796770000,User.Notice,10.0.0.1,whole\n1796770001,User.No");
    EventStore store(dir.path());
    const std::vector<EventRecord> one = {event("next")};
    store.append(kLastSecond, one);
    EXPECT_EQ(readFile(dir.file("2026-12-08.log")),
              "1796770000,User.Notice,10.0.0.1,whole\n1796770001,User.No\n"
              "1796770799,User.Notice,10.0.0.1,next\n");
}

TEST(EventStore, SaysWhenEventsCannotBeWritten)
{
    TempDir dir;
    const std::string blocked = dir.path() + "/not-a-directory";
    writeFile(blocked, "a plain file where the store should be");
    EventStore store(blocked);
    const std::vector<EventRecord> one = {event("lost")};
    testing::internal::CaptureStderr();
    EXPECT_EQ(store.append(kLastSecond, one), 0u);
    EXPECT_EQ(store.append(kLastSecond, one), 0u);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("cannot append to " + blocked + "/2026-12-08.log"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << "a lasting failure is not repeated at once";
}

// A local user who can write to the directory plants something where the
// file of the day belongs: the daemon (root) must not write through it.
TEST(EventStore, NeverWritesThroughAPlantedLinkOrIntoAStrangersFile)
{
    const struct {
        const char* what;
        void (*plant)(const std::string& day, const std::string& outside);
        const char* said;
    } cases[] = {
        {"link to a file outside", [](const std::string& day, const std::string& outside) {
             writeFile(outside, "not yours\n");
             ASSERT_EQ(::symlink(outside.c_str(), day.c_str()), 0);
         }, "symbolic link"},
        {"link to a missing file outside", [](const std::string& day, const std::string& outside) {
             ASSERT_EQ(::symlink(outside.c_str(), day.c_str()), 0);
         }, "symbolic link"},
        {"fifo", [](const std::string& day, const std::string&) { ASSERT_EQ(::mkfifo(day.c_str(), 0666), 0); },
         "not a regular file"},
        {"file of another user", [](const std::string& day, const std::string&) {
             writeFile(day, "1796770000,User.Notice,10.0.0.1,planted\n");
             ASSERT_EQ(::chown(day.c_str(), 65534, 65534), 0);
         }, "belongs to another user"},
    };
    if (::geteuid() != 0)
        GTEST_SKIP() << "handing a file to another user needs root";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir, elsewhere;
        const std::string day = dir.file("2026-12-08.log"), outside = elsewhere.file("target");
        c.plant(day, outside);
        const std::string outsideBefore = readFile(outside);
        EventStore store(dir.path());
        const std::vector<EventRecord> one = {event("secret text")};
        testing::internal::CaptureStderr();
        EXPECT_EQ(store.append(kLastSecond, one), 0u);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(day), std::string::npos) << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(readFile(outside), outsideBefore);
        EXPECT_EQ(exists(outside), !outsideBefore.empty());
        EXPECT_FALSE(store.rewrite("2026-12-08.log", [](std::string_view) { return false; }))
            << "nor is it read or replaced";
        struct stat st {};
        EXPECT_EQ(::lstat(day.c_str(), &st), 0) << "left where it was";
    }
}

// On a full disk a write stops part-way through the batch: that part must
// go again, or the next event would be glued onto a line without its end.
TEST(EventStore, AFullDiskLeavesNoPartOfALine)
{
    TempDir dir;
    PrivateMounts mounts;
    if (!mounts.ok())
        GTEST_SKIP() << mounts.why();
    ASSERT_TRUE(mounts.mountTmpfs(dir.path(), 64 * 1024)) << mounts.why();
    writeFile(dir.file("room"), std::string(16 * 1024, 'r'));  // freed at the end

    EventStore store(dir.path());
    std::string expected;
    std::size_t refused = 0;
    testing::internal::CaptureStderr();
    for (int i = 0; i < 200 && refused < 3; ++i) {
        // About 2,100 bytes a batch: most batches cross a page of the tmpfs.
        std::vector<EventRecord> batch;
        for (int j = 0; j < 3; ++j)
            batch.push_back(event("event " + std::to_string(i) + "." + std::to_string(j) + " " + std::string(650, 'x')));
        const std::size_t written = store.append(kLastSecond, batch);
        ASSERT_TRUE(written == 0 || written == batch.size()) << written;
        if (written == 0)
            ++refused;
        else
            for (const auto& e : batch)
                brantwell::appendEventLine(expected, e);
    }
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_EQ(refused, 3u) << "the disk never filled";
    EXPECT_NE(said.find("No space left on device"), std::string::npos) << said;
    EXPECT_EQ(readFile(dir.file("2026-12-08.log")), expected) << "exactly the stored batches, whole";

    ::unlink(dir.file("room").c_str());
    const std::vector<EventRecord> after = {event("after the disk filled")};
    ASSERT_EQ(store.append(kLastSecond, after), 1u);
    EXPECT_EQ(readFile(dir.file("2026-12-08.log")), expected + "1796770799,User.Notice,10.0.0.1,after the disk filled\n");
}
