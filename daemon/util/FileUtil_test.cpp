#include "FileUtil.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "testkit/PrivateMounts.h"
#include "testkit/TestSupport.h"

using namespace brantwell;
using namespace brantwell::test;

namespace {

gid_t fileGroup(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_gid : static_cast<gid_t>(-1);
}

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

} // namespace

TEST(DataPermissions, LooseModesAreTightenedAndSaidOnce)
{
    TempDir dir;
    const struct {
        std::string name;
        mode_t before, after;
    } files[] = {
        {"Brantwell.ini", 0666, 0640},      // holds the SMTP password
        {"Brantwell.ini.bad", 0644, 0640},
        {"2026-12-08.log", 0666, 0640},
        {"2026-12-07.log", 0600, 0640},     // tighter than wanted: widened for the group, unsaid
        {"notes.txt", 0666, 0666},          // not the daemon's
    };
    for (const auto& f : files) {
        writeFile(dir.file(f.name), "x");
        ::chmod(dir.file(f.name).c_str(), f.before);
    }
    ::chmod(dir.path().c_str(), 0777);

    testing::internal::CaptureStderr();
    enforceDataPermissions(dir.path());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(fileMode(dir.path()), 0750);
    for (const auto& f : files) {
        EXPECT_EQ(fileMode(dir.file(f.name)), f.after) << f.name;
        const bool tightened = (f.before & ~f.after) != 0;
        EXPECT_EQ(occurrences(said, dir.file(f.name) + " had mode"), tightened ? 1u : 0u) << f.name << said;
    }
    EXPECT_EQ(occurrences(said, dir.path() + " had mode 0777; tightened to 0750"), 1u) << said;

    testing::internal::CaptureStderr();
    enforceDataPermissions(dir.path());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "nothing left to say";
}

TEST(DataPermissions, PlantedFilesAreSaidAndLeftAlone)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "handing a file to another user needs root";
    TempDir dir, elsewhere;
    const std::string outside = elsewhere.file("passwords");
    writeFile(outside, "x");
    ::chmod(outside.c_str(), 0600);
    ASSERT_EQ(::symlink(outside.c_str(), dir.file("Brantwell.ini").c_str()), 0);
    writeFile(dir.file("2026-12-08.log"), "x");
    ::chmod(dir.file("2026-12-08.log").c_str(), 0666);
    ASSERT_EQ(::chown(dir.file("2026-12-08.log").c_str(), 65534, 65534), 0);

    testing::internal::CaptureStderr();
    enforceDataPermissions(dir.path());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(fileMode(outside), 0600) << "the link is not followed";
    EXPECT_EQ(fileMode(dir.file("2026-12-08.log")), 0666) << "another user's file is not adopted";
    EXPECT_NE(said.find(dir.file("Brantwell.ini") + " is left alone and never written: it is a symbolic link"),
              std::string::npos) << said;
    EXPECT_NE(said.find(dir.file("2026-12-08.log") + " is left alone and never written: it belongs to another user"),
              std::string::npos) << said;

    std::string contents;
    EXPECT_FALSE(readWholeFile(dir.file("Brantwell.ini"), contents));
    EXPECT_EQ(errno, ELOOP);
    EXPECT_FALSE(writeFileAtomically(dir.file("Brantwell.ini"), "{}"));
    EXPECT_EQ(readFile(outside), "x");
}

// The group of an organisation can have thousands of members: its entry in
// /etc/group then no longer fits a fixed lookup buffer.
TEST(DataPermissions, GroupOfAnySizeIsFoundAndGiven)
{
    TempDir dir, files;
    PrivateMounts mounts;
    if (!mounts.ok())
        GTEST_SKIP() << mounts.why();
    std::string group = readFile("/etc/group") + "brantwell:x:54321:";
    for (int i = 0; i < 4000; ++i)
        group += (i ? "," : "") + std::string("member") + std::to_string(i);
    group += "\n";
    ASSERT_GT(group.size(), 40000u);
    writeFile(files.file("group"), group);
    ASSERT_TRUE(mounts.bindFile(files.file("group"), "/etc/group")) << mounts.why();

    EXPECT_EQ(brantwellGroup(), 54321u);
    writeFile(dir.file("Brantwell.ini"), "{}");
    enforceDataPermissions(dir.path());
    EXPECT_EQ(fileGroup(dir.path()), 54321u);
    EXPECT_EQ(fileGroup(dir.file("Brantwell.ini")), 54321u);
}

TEST(DataDirectoryLock, OnlyOneHolderAtATime)
{
    TempDir dir;
    long holder = -1;
    const int first = lockDataDirectory(dir.path(), holder);
    ASSERT_GE(first, 0);
    EXPECT_EQ(fileMode(dir.file("BrantwellSrv.lock")), 0640);

    EXPECT_EQ(lockDataDirectory(dir.path(), holder), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(holder, static_cast<long>(::getpid()));

    ::close(first);
    const int again = lockDataDirectory(dir.path(), holder);
    EXPECT_GE(again, 0) << "released with its holder";
    ::close(again);
}
