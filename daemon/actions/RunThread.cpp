#include "RunThread.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include "ChildReaper.h"
#include "FailureLog.h"

extern char** environ;

namespace brantwell {

std::vector<std::string> parseEnvironment(std::string_view text)
{
    std::vector<std::string> entries;
    std::vector<std::size_t> nameLengths;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t colon = line.find(':');
        // An entry without a name ("=value") is not a variable any program
        // could read; skip it like a line without a colon.
        if (colon == std::string_view::npos || colon == 0)
            continue;
        const std::string_view name = line.substr(0, colon);
        std::string entry(name);
        entry += '=';
        entry.append(line.substr(colon + 1));
        bool replaced = false;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (nameLengths[i] == name.size() && std::string_view(entries[i]).substr(0, name.size()) == name) {
                entries[i] = std::move(entry);
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            entries.push_back(std::move(entry));
            nameLengths.push_back(name.size());
        }
    }
    return entries;
}

RunThread::RunThread(ChildReaper& reaper, FailureLog& failures) : reaper_(reaper), failures_(failures) {}

void RunThread::run(std::stop_token stop)
{
    launch(stop);
}

pid_t RunThread::launch(std::stop_token stop)
{
    if (!command || command->empty()) {
        failures_.report("run command: the action names no program");
        return -1;
    }
    if (!reaper_.reserve(stop))
        return -1;
    // Exactly one argument, never split; with no "Arguments" value at all
    // the program gets none.
    std::vector<char*> argv{command->data()};
    if (arguments)
        argv.push_back(arguments->data());
    argv.push_back(nullptr);

    std::vector<std::string> env;
    std::vector<char*> envp;
    char** useEnv = environ;
    if (environment && !environment->empty()) {
        env = parseEnvironment(*environment);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        useEnv = envp.data();
    }

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    // The daemon blocks SIGTERM and SIGINT in every thread and ignores
    // SIGPIPE; a program must start with the ordinary signal state, or it
    // could not be stopped and would misbehave on a closed pipe.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, command->c_str(), &files, &attr, argv.data(), useEnv);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&files);
    if (rc != 0) {
        reaper_.release();
        failures_.report("run command: cannot start " + *command + ": " + std::strerror(rc));
        return -1;
    }
    reaper_.adopt(pid);
    return pid;
}

} // namespace brantwell
