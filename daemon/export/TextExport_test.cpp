#include "TextExport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "DateFormat.h"
#include "store/EventStore.h"
#include "testkit/TestSupport.h"

namespace brantwell {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// Run under TZ=Europe/Berlin: 1773000000 is 8 March 2026, 21:00:00 there.
const std::string kStored =
    "1773000000,Local4.Informational,10.0.0.1,myhost app[42]: started, pid 42\n"
    "not an event line\n"
    "1773000061,Mail.Error,mail.example,he said \"it's 'quoted'\"\r\n"
    "1773000061,Kernel.Emergency,10.0.0.2,,leading comma\n";

TEST(TextExport, ChoosesTheSeparatorByTheExactExtension)
{
    const std::vector<std::pair<std::string, std::optional<char>>> cases = {
        {"/x/events.txt", '\t'}, {"/x/events.csv", ','},  {"events.csv", ','},
        {"/x/events.CSV", {}},   {"/x/events.csv.bak", {}}, {"/x/events", {}},
        {"/x/.csv", {}},         {"/x.csv/events", {}},    {"", {}},
    };
    for (const auto& [path, separator] : cases)
        EXPECT_EQ(textExportSeparator(path), separator) << path;
}

TEST(TextExport, WritesTheHeaderAndOneLinePerEventInTxtAndCsv)
{
    struct Case {
        const char* extension;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"txt",
         "Date\tPriority\tHost\tMessage\n"
         "2026-03-08 21:00:00\tLocal4.Informational\t10.0.0.1\tmyhost app[42]: started, pid 42\n"
         "2026-03-08 21:01:01\tMail.Error\tmail.example\the said \"it's 'quoted'\"\n"
         "2026-03-08 21:01:01\tKernel.Emergency\t10.0.0.2\t,leading comma\n"},
        {"csv",
         "Date,Priority,Host,Message\n"
         "2026-03-08 21:00:00,Local4.Informational,10.0.0.1,\"myhost app[42]: started, pid 42\"\n"
         "2026-03-08 21:01:01,Mail.Error,mail.example,\"he said \"\"it's 'quoted'\"\"\"\n"
         "2026-03-08 21:01:01,Kernel.Emergency,10.0.0.2,\",leading comma\"\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension);
        TempDir store, out;
        writeFile(store.file("2026-03-08.log"), kStored);
        EventStore events(store.path());
        const std::string target = out.file(std::string("events.") + c.extension);

        const auto result = exportText(events, target, *textExportSeparator(target),
                                       DateFormatter("yyyy-MM-dd HH:mm:ss"));

        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.events, 3u);
        EXPECT_EQ(readFile(target), c.expected);
    }
}

// The rows of a CSV file as Python's csv module reads them.
nlohmann::json readWithPythonCsv(const std::string& path)
{
    const std::string command = "/usr/bin/python3 -c 'import csv, json, sys; "
                                "print(json.dumps(list(csv.reader(open(sys.argv[1], newline=\"\")))))' '" +
                                path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return nullptr;
    std::string out;
    char buffer[4096];
    while (const std::size_t n = fread(buffer, 1, sizeof buffer, pipe))
        out.append(buffer, n);
    pclose(pipe);
    return nlohmann::json::parse(out, nullptr, false);
}

TEST(TextExport, ACsvFileReadsBackIntoExactlyTheHeadersColumns)
{
    TempDir store, out;
    // The default date format itself holds a comma; messages hold commas,
    // quotes and a field that is only a quote.
    writeFile(store.file("2026-03-08.log"), kStored + "1773000100,User.Notice,10.0.0.3,\"\n"
                                                      "1773000100,User.Notice,10.0.0.3,plain\n");
    EventStore events(store.path());
    const std::string target = out.file("events.csv");
    ASSERT_TRUE(exportText(events, target, ',', DateFormatter("")).ok);

    const auto rows = readWithPythonCsv(target);
    ASSERT_TRUE(rows.is_array()) << readFile(target);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0], nlohmann::json({"Date", "Priority", "Host", "Message"}));
    const std::vector<std::string> messages = {"myhost app[42]: started, pid 42", "he said \"it's 'quoted'\"",
                                               ",leading comma", "\"", "plain"};
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 4u) << rows[i];
        EXPECT_EQ(rows[i][3], messages[i - 1]);
        EXPECT_NE(rows[i][0].get<std::string>().find(", "), std::string::npos) << "the date stays one field";
    }
}

TEST(TextExport, ShowsDatesInShortDateAndMediumTimeWhenNoFormatIsSet)
{
    TempDir store, out;
    writeFile(store.file("2026-03-08.log"), "1773000000,User.Notice,10.0.0.1,m\n");
    EventStore events(store.path());
    ASSERT_TRUE(exportText(events, out.file("e.csv"), ',', DateFormatter("")).ok);
    // ICU versions differ in the space before "PM" (newer ones use U+202F).
    const std::string text = readFile(out.file("e.csv"));
    const std::string header = "Date,Priority,Host,Message\n";
    ASSERT_TRUE(text.starts_with(header + "\"3/8/26, 9:00:00")) << text;
    EXPECT_TRUE(text.ends_with("PM\",User.Notice,10.0.0.1,m\n")) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

TEST(TextExport, FollowsTheFileListingOrder)
{
    TempDir store, out;
    writeFile(store.file("2026-03-08.log"), "1773000000,User.Notice,10.0.0.1,eighth\n");
    writeFile(store.file("2026-03-07.log"), "1772900000,User.Notice,10.0.0.1,seventh\n");
    writeFile(store.file("notes.txt"), "1772900000,User.Notice,10.0.0.1,not a log file\n");
    EventStore events(store.path());
    ASSERT_TRUE(exportText(events, out.file("e.txt"), '\t', DateFormatter("yyyy")).ok);
    std::string expected = "Date\tPriority\tHost\tMessage\n";
    for (const auto& name : events.listFiles())
        expected += std::string("2026\tUser.Notice\t10.0.0.1\t") + (name == "2026-03-08.log" ? "eighth\n" : "seventh\n");
    EXPECT_EQ(readFile(out.file("e.txt")), expected);
}

TEST(TextExport, ReplacesTheOldFileWholeByRenameAndKeepsItsMode)
{
    TempDir store, out;
    writeFile(store.file("2026-03-08.log"), "1773000000,User.Notice,10.0.0.1,new\n");
    EventStore events(store.path());
    const std::string target = out.file("e.csv");
    writeFile(target, std::string(100000, 'o') + "\n");  // longer than the new export
    chmod(target.c_str(), 0604);
    struct stat before {};
    stat(target.c_str(), &before);

    ASSERT_TRUE(exportText(events, target, ',', DateFormatter("yyyy")).ok);

    struct stat after {};
    stat(target.c_str(), &after);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0604u);
    EXPECT_EQ(readFile(target), "Date,Priority,Host,Message\n2026,User.Notice,10.0.0.1,new\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path()), {}), 1) << "no temporary file left";
}

TEST(TextExport, AFailedExportLeavesTheTargetAndNoTemporaryFile)
{
    TempDir store, out;
    writeFile(store.file("2026-03-08.log"), "1773000000,User.Notice,10.0.0.1,new\n");
    EventStore events(store.path());
    // A directory in the way: the final rename fails.
    std::filesystem::create_directories(out.file("e.csv/inside"));

    const auto result = exportText(events, out.file("e.csv"), ',', DateFormatter("yyyy"));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error, 0);
    EXPECT_TRUE(std::filesystem::is_directory(out.file("e.csv/inside")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path()), {}), 1);

    const auto missing = exportText(events, out.file("no/such/dir/e.csv"), ',', DateFormatter("yyyy"));
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, ENOENT);
}

} // namespace
} // namespace brantwell
