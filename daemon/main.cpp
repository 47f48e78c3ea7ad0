// BrantwellSrv: the syslog daemon.
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "Daemon.h"

namespace {

void printHelp()
{
    std::printf(
        "Usage: BrantwellSrv [--data-dir DIR] [--port N]\n"
        "\n"
        "Receives syslog datagrams over UDP, stores every kept event as one line in\n"
        "DIR/yyyy-MM-dd.log and announces it on the system bus as\n"
        "com.Corvanta.BrantwellSrv.\n"
        "\n"
        "  --data-dir DIR  event log files and Brantwell.ini (default /var/lib/brantwell)\n"
        "  --port N        UDP port to receive on, 1-65535 (default 514)\n"
        "  --help          show this text\n");
}

[[noreturn]] void usageError(const char* message, const char* value)
{
    std::fprintf(stderr, "BrantwellSrv: %s%s\nTry 'BrantwellSrv --help'.\n", message, value ? value : "");
    std::exit(2);
}

// Two stream receivers of 512 connections each, the day's files, the bus
// and the action workers need more than the common soft limit of 1,024
// descriptors. The service unit sets its own limit; started by hand, the
// daemon takes what the hard limit allows (up to the unit's 65,536).
void raiseDescriptorLimit()
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0)
        return;
    const rlim_t wanted = files.rlim_max == RLIM_INFINITY ? 65536 : std::min<rlim_t>(files.rlim_max, 65536);
    if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < wanted) {
        files.rlim_cur = wanted;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

} // namespace

int main(int argc, char** argv)
{
    brantwell::DaemonOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printHelp();
            return 0;
        }
        if (arg == "--data-dir" || arg == "--port") {
            if (i + 1 >= argc)
                usageError("missing value for ", argv[i]);
            const char* value = argv[++i];
            if (arg == "--data-dir") {
                if (!*value)
                    usageError("empty data directory", nullptr);
                options.dataDirectory = value;
            } else {
                char* end = nullptr;
                errno = 0;
                const long port = std::strtol(value, &end, 10);
                if (errno || !*value || *end || port < 1 || port > 65535)
                    usageError("invalid port: ", value);
                options.port = static_cast<std::uint16_t>(port);
            }
            continue;
        }
        usageError("unknown option: ", argv[i]);
    }

    // Threads inherit this mask; the main thread takes the signals below.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    raiseDescriptorLimit();

    brantwell::Daemon daemon(options);
    if (!daemon.start())
        return 1;
    daemon.waitForSignal();
    return 0;
}
