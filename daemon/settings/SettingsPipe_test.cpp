#include "SettingsPipe.h"

#include <atomic>
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
    for (const std::string& bad : {std::string("{not json"), std::string("[1,2]"), std::string("\"text\""),
                                  std::string("")}) {
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
    EXPECT_EQ(s->excludeFilters.size(), 3u);
    EXPECT_TRUE(s->accepts({1, "User.Notice", "x"})) << "records that match nothing exclude nothing";
    EXPECT_EQ(s->iEmailPort, 25);
    EXPECT_TRUE(s->bHostsDisplay);
    ASSERT_EQ(s->actions.size(), 1u);
    EXPECT_TRUE(s->actions[0].runCommand.empty());
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
