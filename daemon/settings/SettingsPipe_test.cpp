#include "SettingsPipe.h"

#include <atomic>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "testkit/TestSupport.h"

using brantwell::SettingsPipe;
using nlohmann::json;
using namespace brantwell::test;

namespace {

json readJson(const std::string& path)
{
    return json::parse(readFile(path), nullptr, false);
}

json filterRecord(const char* severity)
{
    return {{"Name", "n"}, {"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"},
            {"Severity", severity}, {"Message", "*"}};
}

} // namespace

TEST(SettingsPipe, FirstStartWritesTheDefaultFile)
{
    TempDir dir;
    SettingsPipe pipe(dir.path());
    ASSERT_TRUE(pipe.readSettings());
    const json file = readJson(pipe.settingsPath());
    EXPECT_EQ(file, brantwell::defaultSettingsDictionary());
    EXPECT_EQ(file.size(), 33u);
    EXPECT_EQ(fileMode(pipe.settingsPath()), 0640);
    EXPECT_EQ(pipe.snapshot()->iEmailPort, 25);
    EXPECT_EQ(pipe.snapshot()->formatSubject, "$message");
}

TEST(SettingsPipe, StartAppliesAnExistingFileAndKeepsIt)
{
    TempDir dir;
    const std::string text = R"({"hostsDisplay": true, "removalDebug": "90 minutes",
        "removalDebugUnits": 0, "excludeFiltersArray": [{"Name":"d","IP":"0.0.0.0","Mask":"0",
        "Facility":"*","Severity":"Debug","Message":"*"}], "myOwnKey": [1,2]})";
    writeFile(dir.file("Brantwell.ini"), text);
    SettingsPipe pipe(dir.path());
    ASSERT_TRUE(pipe.readSettings());
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), text) << "the file is kept as it is";
    const auto s = pipe.snapshot();
    EXPECT_TRUE(s->bHostsDisplay);
    EXPECT_EQ(s->iRemoval[7], 90);
    EXPECT_EQ(s->iRemovalUnits[7], 0);
    EXPECT_EQ(s->iRemoval[0], 30) << "absent keys keep their defaults";
    EXPECT_EQ(s->iEmailPort, 25);
    ASSERT_EQ(s->excludeFilters.size(), 1u);
    EXPECT_FALSE(s->accepts({1, "User.Debug", "x"}));
    EXPECT_TRUE(s->accepts({1, "User.Notice", "x"}));
}

TEST(SettingsPipe, UndecodableFileIsKeptAsBadAndDefaultsWritten)
{
    // The last one, nested 90,000 deep, crashed every start (a crash loop
    // under systemd) before it was refused.
    for (const std::string& bad : {std::string("{not json"), std::string("[1,2]"), std::string("\"text\""),
                                  std::string(""),
                                  "{\"a\":" + std::string(90000, '[') + std::string(90000, ']') + "}"}) {
        TempDir dir;
        writeFile(dir.file("Brantwell.ini"), bad);
        SettingsPipe pipe(dir.path());
        ASSERT_TRUE(pipe.readSettings());
        EXPECT_EQ(readFile(dir.file("Brantwell.ini.bad")), bad);
        EXPECT_EQ(readJson(dir.file("Brantwell.ini")), brantwell::defaultSettingsDictionary());
    }
}

TEST(SettingsPipe, SaveWritesExactlyTheDictionaryAndUpdatesKnownFields)
{
    TempDir dir;
    SettingsPipe pipe(dir.path());
    pipe.readSettings();
    const json settings = {{"removalDebug", 90}, {"removalDebugUnits", 0}, {"popupEvents", 7},
                           {"unknownKey", {{"nested", true}}}, {"actionsEmailServer", "mail.example"},
                           {"includeFiltersArray", json::array({filterRecord("Error")})}};
    ASSERT_EQ(SettingsPipe::SaveResult::Saved, pipe.saveSettings({{"command", "save"}, {"Settings", settings}}));
    EXPECT_EQ(readJson(pipe.settingsPath()), settings);
    const auto s = pipe.snapshot();
    EXPECT_EQ(s->iRemoval[7], 90);
    EXPECT_EQ(s->iRemovalUnits[7], 0);
    EXPECT_EQ(s->iEmailPort, 25) << "a key absent from the save keeps the field";
    EXPECT_EQ(s->emailServer, "mail.example");
    EXPECT_TRUE(s->accepts({1, "Mail.Error", "x"}));
    EXPECT_FALSE(s->accepts({1, "Mail.Notice", "x"}));
}

TEST(SettingsPipe, BadValuesNeverBreakTheSnapshot)
{
    TempDir dir;
    SettingsPipe pipe(dir.path());
    pipe.readSettings();
    const json settings = {{"includeFiltersArray", "not a list"},
                           {"excludeFiltersArray", json::array({42, json::object(), "x"})},
                           {"actionsEmailPort", json::array()}, {"hostsDisplay", "yes"},
                           {"actionsArray", json::array({{{"runCommand", "oops"}}})}};
    ASSERT_EQ(SettingsPipe::SaveResult::Saved, pipe.saveSettings({{"Settings", settings}}));
    const auto s = pipe.snapshot();
    EXPECT_TRUE(s->includeFilters.empty()) << "a filter list that is not a list counts as missing";
    EXPECT_TRUE(s->excludeFilters.empty()) << "records the receiver cannot use are left out";
    EXPECT_TRUE(s->accepts({1, "User.Notice", "x"}));
    EXPECT_EQ(s->excludeFiltersArray.size(), 3u) << "but kept in the list as saved";
    EXPECT_EQ(s->iEmailPort, 25);
    EXPECT_TRUE(s->bHostsDisplay);
    ASSERT_EQ(s->actions.size(), 1u);
    EXPECT_TRUE(s->actions[0].runCommand.empty());
}

TEST(SettingsPipe, UnusableIncludeFilterNeverDropsEveryEvent)
{
    TempDir dir;
    SettingsPipe pipe(dir.path());
    pipe.readSettings();
    const json bad = {{"Name", "typo"}, {"IP", "999.1.1.1"}, {"Mask", "24"},
                      {"Facility", "*"}, {"Severity", "*"}, {"Message", "*"}};
    json good = bad;
    good["IP"] = "10.0.0.0";
    good["Mask"] = "8";
    pipe.saveSettings({{"Settings", {{"includeFiltersArray", json::array({bad})}}}});
    EXPECT_TRUE(pipe.snapshot()->accepts({0x7F000001u, "User.Notice", "x"}));
    pipe.saveSettings({{"Settings", {{"includeFiltersArray", json::array({bad, good})}}}});
    EXPECT_FALSE(pipe.snapshot()->accepts({0x7F000001u, "User.Notice", "x"})) << "the usable one still selects";
    EXPECT_TRUE(pipe.snapshot()->accepts({0x0A000001u, "User.Notice", "x"}));
    EXPECT_EQ(brantwell::unusableFilterRecords({{"includeFiltersArray", json::array({good, bad})}}),
              std::vector<std::string>{"includeFiltersArray[1] \"typo\": \"999.1.1.1\" is not an IPv4 address "
                                       "(four numbers 0 to 255, as 192.168.1.0)"});
}

TEST(SettingsPipe, SaveWithoutADictionaryChangesNothing)
{
    TempDir dir;
    SettingsPipe pipe(dir.path());
    pipe.readSettings();
    const std::string before = readFile(pipe.settingsPath());
    EXPECT_EQ(SettingsPipe::SaveResult::NoDictionary, pipe.saveSettings({{"command", "save"}}));
    EXPECT_EQ(SettingsPipe::SaveResult::NoDictionary, pipe.saveSettings({{"command", "save"}, {"Settings", "text"}}));
    EXPECT_EQ(SettingsPipe::SaveResult::NoDictionary, pipe.saveSettings(json::array()));
    EXPECT_EQ(readFile(pipe.settingsPath()), before);
}

TEST(SettingsPipe, ReadersAlwaysSeeOneWholeSave)
{
    TempDir dir;
    SettingsPipe pipe(dir.path());
    pipe.readSettings();
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop) {
            const auto s = pipe.snapshot();
            // Every save below sets both values to the same number.
            if (s->iRemoval[0] != s->iRemoval[8])
                ++torn;
        }
    });
    for (int i = 0; i < 200; ++i)
        pipe.saveSettings({{"Settings", {{"removalEmergency", i}, {"removalUnknown", i}}}});
    stop = true;
    reader.join();
    EXPECT_EQ(torn, 0);
}

// Whatever keeps the daemon from reading a settings file that is there, the
// file may hold everything the user set: it is never replaced by defaults.
TEST(SettingsPipe, AFileThatCannotBeReadIsNeverReplaced)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "handing a file to another user needs root";
    const struct {
        const char* what;
        void (*plant)(const std::string& path, const std::string& outside);
    } cases[] = {
        {"another user's file", [](const std::string& path, const std::string&) {
             writeFile(path, R"({"actionsEmailPassword": "kept"})");
             ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
         }},
        {"a link", [](const std::string& path, const std::string& outside) {
             writeFile(outside, R"({"actionsEmailPassword": "kept"})");
             ASSERT_EQ(::symlink(outside.c_str(), path.c_str()), 0);
         }},
        {"a directory", [](const std::string& path, const std::string&) { ASSERT_EQ(::mkdir(path.c_str(), 0700), 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir, elsewhere;
        const std::string path = dir.file("Brantwell.ini"), outside = elsewhere.file("settings");
        c.plant(path, outside);
        struct stat before {};
        ASSERT_EQ(::lstat(path.c_str(), &before), 0);
        const std::string outsideBefore = readFile(outside);

        SettingsPipe pipe(dir.path());
        testing::internal::CaptureStderr();
        EXPECT_FALSE(pipe.readSettings());
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("cannot read " + path), std::string::npos) << said;
        struct stat after {};
        ASSERT_EQ(::lstat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << "not replaced";
        EXPECT_EQ(readFile(outside), outsideBefore);
        EXPECT_FALSE(exists(path + ".bad")) << "nothing was read, so nothing is kept";
        EXPECT_EQ(pipe.snapshot()->iEmailPort, 25) << "the defaults apply meanwhile";
    }
}

TEST(SettingsPipe, AnUndecodableFileStaysWhenItCannotBeKept)
{
    TempDir dir;
    writeFile(dir.file("Brantwell.ini"), "{\"actionsEmailPassword\": \"half a file");
    ASSERT_EQ(::mkdir(dir.file("Brantwell.ini.bad").c_str(), 0700), 0);  // the copy cannot go there
    SettingsPipe pipe(dir.path());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(pipe.readSettings());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(readFile(dir.file("Brantwell.ini")), "{\"actionsEmailPassword\": \"half a file");
    EXPECT_NE(said.find("cannot be kept as " + dir.file("Brantwell.ini.bad")), std::string::npos) << said;
}

TEST(SettingsPipe, SaveFailureNamesTheFileAndWritesNothingThroughALink)
{
    TempDir dir, elsewhere;
    SettingsPipe pipe(dir.path());
    ASSERT_TRUE(pipe.readSettings());
    const std::string outside = elsewhere.file("target");
    writeFile(outside, "untouched");
    ::unlink(pipe.settingsPath().c_str());
    ASSERT_EQ(::symlink(outside.c_str(), pipe.settingsPath().c_str()), 0);

    std::string failure;
    testing::internal::CaptureStderr();
    EXPECT_EQ(SettingsPipe::SaveResult::WriteFailed,
              pipe.saveSettings({{"Settings", {{"actionsEmailPort", 587}}}}, &failure));
    testing::internal::GetCapturedStderr();
    EXPECT_NE(failure.find(pipe.settingsPath()), std::string::npos) << failure;
    EXPECT_NE(failure.find("symbolic link"), std::string::npos) << failure;
    EXPECT_EQ(readFile(outside), "untouched");
    EXPECT_EQ(pipe.snapshot()->iEmailPort, 25) << "nothing applies that the file does not hold";
}

// Indenting every level made a save nested 10,000 deep write 200 MB.
TEST(SettingsPipe, TheFileGrowsInProportionToTheDictionary)
{
    TempDir dir;
    SettingsPipe pipe(dir.path());
    json deep = json::array({1, 2, 3});
    for (int i = 0; i < 60; ++i)
        deep = json::array({deep, json::object({{"k", i}})});
    const json settings = {{"deep", deep}, {"hostsDisplay", true}, {"actionsArray", json::array({filterRecord("*")})}};
    ASSERT_EQ(SettingsPipe::SaveResult::Saved, pipe.saveSettings({{"Settings", settings}}));
    const std::string text = readFile(pipe.settingsPath());
    EXPECT_EQ(json::parse(text), settings);
    EXPECT_LE(text.size(), settings.dump().size() + 16 * settings.size()) << text;
}

// A save runs exactly its dictionary over the defaults; a merge keeps what
// the file holds besides its keys, and leaves a file it cannot decode alone.
TEST(SettingsPipe, SaveStartsFromTheDefaultsAndMergeFromTheFile)
{
    TempDir dir;
    SettingsPipe pipe(dir.path());
    ASSERT_TRUE(pipe.readSettings());
    ASSERT_EQ(pipe.saveSettings({{"Settings", {{"actionsEmailPort", 587}, {"receptionTcpPort", 6001}}}}),
              SettingsPipe::SaveResult::Saved);
    ASSERT_EQ(pipe.saveSettings({{"Settings", {{"hostsDisplay", true}}}}), SettingsPipe::SaveResult::Saved);
    EXPECT_EQ(pipe.snapshot()->iEmailPort, 25) << "back to the default, as after a start with this file";
    EXPECT_EQ(pipe.snapshot()->iTcpPort, 0);
    EXPECT_TRUE(pipe.snapshot()->bHostsDisplay);

    ASSERT_EQ(pipe.mergeSettings({{"Settings", {{"receptionTcpPort", 6002}}}}), SettingsPipe::SaveResult::Saved);
    EXPECT_EQ(json::parse(readFile(pipe.settingsPath())), json({{"hostsDisplay", true}, {"receptionTcpPort", 6002}}));
    EXPECT_TRUE(pipe.snapshot()->bHostsDisplay);
    EXPECT_EQ(pipe.snapshot()->iTcpPort, 6002);

    std::string failure;
    EXPECT_EQ(pipe.mergeSettings({{"Settings", {{"big", std::string(SettingsPipe::kMaxSettingsBytes, 'b')}}}}, &failure),
              SettingsPipe::SaveResult::TooLarge);
    EXPECT_NE(failure.find("at most 1048576"), std::string::npos) << failure;
    writeFile(pipe.settingsPath(), "{\"hostsDisplay\": tr");
    EXPECT_EQ(pipe.mergeSettings({{"Settings", {{"receptionTcpPort", 6003}}}}, &failure),
              SettingsPipe::SaveResult::Unreadable);
    EXPECT_EQ(readFile(pipe.settingsPath()), "{\"hostsDisplay\": tr") << "what the user had is kept";
    EXPECT_EQ(pipe.snapshot()->iTcpPort, 6002);
    ::unlink(pipe.settingsPath().c_str());
    ASSERT_EQ(pipe.mergeSettings({{"Settings", {{"receptionTcpPort", 6003}}}}), SettingsPipe::SaveResult::Saved);
    EXPECT_EQ(json::parse(readFile(pipe.settingsPath())), json({{"hostsDisplay", true}, {"receptionTcpPort", 6003}}))
        << "without a file, over the settings in force";
}
