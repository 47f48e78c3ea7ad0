#include "RunThread.h"

#include <csignal>
#include <gtest/gtest.h>

#include "ChildReaper.h"
#include "FailureLog.h"
#include "testkit/TestPeers.h"

namespace brantwell {
namespace {

using test::Recording;

struct RunFixture : ::testing::Test {
    test::TempDir dir;
    std::vector<std::string> failures;
    FailureLog log{[this](std::string_view line) { failures.emplace_back(line); }};
    ChildReaper reaper;

    std::string recorder()
    {
        const std::string script = dir.file("record.sh");
        test::writeFile(script, test::recorderScript(dir.file("out")), 0755);
        return script;
    }

    std::optional<Recording> runAndRecord(RunThread& run)
    {
        if (run.launch() < 0)
            return std::nullopt;
        test::waitFor([&] { return test::fileExists(dir.file("out")); });
        return test::readRecording(dir.file("out"));
    }
};

struct EnvironmentCase {
    const char* text;
    std::map<std::string, std::string> expected;
};

TEST_F(RunFixture, HandsTheProgramExactlyTheParsedEnvironment)
{
    const EnvironmentCase cases[] = {
        {"PATH:/usr/bin:/bin\nMODE:alert", {{"PATH", "/usr/bin:/bin"}, {"MODE", "alert"}}},
        {"A:1\nno colon here\nA:2\n: nameless\nB: spaced value \n", {{"A", "2"}, {"B", " spaced value "}}},
        {"ONLY", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::remove(dir.file("out").c_str());
        RunThread run(reaper, log);
        run.command = recorder();
        run.arguments = "x";
        run.environment = c.text;
        const auto r = runAndRecord(run);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->environment, c.expected);
    }
}

TEST_F(RunFixture, KeepsTheDaemonEnvironmentWhenTheTextIsEmpty)
{
    setenv("BRANTWELL_RUN_TEST", "inherited value", 1);
    for (std::optional<std::string> env : {std::optional<std::string>(""), std::optional<std::string>()}) {
        std::remove(dir.file("out").c_str());
        RunThread run(reaper, log);
        run.command = recorder();
        run.arguments = "x";
        run.environment = env;
        const auto r = runAndRecord(run);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->environment.at("BRANTWELL_RUN_TEST"), "inherited value");
        EXPECT_EQ(r->environment.count("PATH"), getenv("PATH") ? 1u : 0u);
    }
    unsetenv("BRANTWELL_RUN_TEST");
}

TEST_F(RunFixture, PassesTheWholeArgumentsTextAsOneArgument)
{
    const std::pair<std::optional<std::string>, std::vector<std::string>> cases[] = {
        {"-m disk full, again -h 10.0.0.1", {"-m disk full, again -h 10.0.0.1"}},
        {"\"quoted\" 'and' $HOME", {"\"quoted\" 'and' $HOME"}},
        {"", {""}},
        {std::nullopt, {}},
    };
    for (const auto& [arguments, expected] : cases) {
        std::remove(dir.file("out").c_str());
        RunThread run(reaper, log);
        run.command = recorder();
        run.arguments = arguments;
        const auto r = runAndRecord(run);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->arguments, expected);
    }
    EXPECT_TRUE(failures.empty());
}

TEST_F(RunFixture, StartsTheProgramWithOrdinarySignalsAndNoInput)
{
    // The daemon runs with SIGTERM blocked and SIGPIPE ignored.
    sigset_t set, old;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, &old);
    const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    RunThread run(reaper, log);
    run.command = recorder();
    run.arguments = "x";
    const auto r = runAndRecord(run);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    std::signal(SIGPIPE, oldPipe);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sigBlk, "0000000000000000");
    EXPECT_EQ(std::stoull(r->sigIgn, nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u);
}

TEST_F(RunFixture, ReapsEveryFinishedProgram)
{
    std::vector<pid_t> pids;
    for (int i = 0; i < 5; ++i) {
        RunThread run(reaper, log);
        run.command = "/bin/true";
        run.arguments = "";
        pids.push_back(run.launch());
        ASSERT_GT(pids.back(), 0);
    }
    // A zombie keeps its /proc entry until it is waited for.
    for (pid_t pid : pids)
        EXPECT_TRUE(test::waitFor([&] { return !test::fileExists("/proc/" + std::to_string(pid)); }))
            << "pid " << pid << " was left as a zombie";
}

TEST_F(RunFixture, ReportsAProgramThatCannotStart)
{
    const std::string notExecutable = dir.file("plain.txt");
    test::writeFile(notExecutable, "#!/bin/sh\n", 0644);
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {dir.file("missing"), "No such file or directory"},
        {notExecutable, "Permission denied"},
        {std::nullopt, "names no program"},
        {"", "names no program"},
    };
    for (const auto& [command, reason] : cases) {
        failures.clear();
        RunThread run(reaper, log);
        run.command = command;
        run.arguments = "x";
        EXPECT_EQ(run.launch(), -1);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_NE(failures[0].find(reason), std::string::npos) << failures[0];
        EXPECT_EQ(failures[0].rfind("BrantwellSrv: run command: ", 0), 0u) << failures[0];
    }
}

} // namespace
} // namespace brantwell
