// The event signal's two possible shapes side by side, on a private
// dbus-daemon: (s type, as lines), one string per stored line, and
// (s type, ay lines), the lines with their LFs in one byte array. A sender
// thread builds and sends signals of about 32 KiB to a reader thread, which
// reads each line and splits it with the day files' parser. Prints the CPU
// each side and the bus daemon spent per event.
//   brantwell_bench_bus_lines [events]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <systemd/sd-bus.h>

#include "EventRecord.h"

namespace {

double threadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double processCpu(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    std::vector<std::string> fields;
    std::string field;
    for (std::size_t i = close + 2; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += text[i];
        }
    }
    return (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

sd_bus* open(const std::string& address)
{
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0
        || sd_bus_start(bus) < 0) {
        std::fprintf(stderr, "cannot connect to %s\n", address.c_str());
        std::exit(1);
    }
    return bus;
}

struct Result {
    double sender = 0, reader = 0, busDaemon = 0;
};

Result measure(const std::string& address, pid_t busPid, bool asBytes, const std::vector<std::string>& lines,
               long events)
{
    sd_bus* reader = open(address);
    sd_bus* sender = open(address);
    const char* readerName = nullptr;
    sd_bus_get_unique_name(reader, &readerName);
    std::atomic<long> read{0};
    std::atomic<double> readerCpu{0};
    std::thread readerThread([&] {
        const double start = threadCpu();
        long seen = 0;
        while (seen < events) {
            sd_bus_message* m = nullptr;
            if (sd_bus_process(reader, &m) <= 0) {
                sd_bus_wait(reader, 100000);
                continue;
            }
            if (!m)
                continue;
            if (sd_bus_message_is_signal(m, "bench.Lines", "Brantwell")) {
                const char* type = nullptr;
                sd_bus_message_read_basic(m, 's', &type);
                const auto take = [&](std::string_view line) {
                    if (brantwell::splitEventLine(line))
                        ++seen;
                };
                if (asBytes) {
                    const void* bytes = nullptr;
                    std::size_t size = 0;
                    sd_bus_message_read_array(m, 'y', &bytes, &size);
                    brantwell::forEachStoredLine(std::string_view(static_cast<const char*>(bytes), size), take);
                } else {
                    sd_bus_message_enter_container(m, 'a', "s");
                    const char* line = nullptr;
                    while (sd_bus_message_read_basic(m, 's', &line) > 0)
                        take(line);
                    sd_bus_message_exit_container(m);
                }
                read = seen;
            }
            sd_bus_message_unref(m);
        }
        readerCpu = threadCpu() - start;
    });
    const double bus0 = processCpu(busPid);
    const double start = threadCpu();
    long sent = 0;
    std::size_t next = 0;
    while (sent < events) {
        sd_bus_message* m = nullptr;
        sd_bus_message_new_signal(sender, &m, "/bench", "bench.Lines", "Brantwell");
        sd_bus_message_set_destination(m, readerName);
        sd_bus_message_append_basic(m, 's', "Set");
        std::size_t bytes = 0;
        long n = 0;
        std::vector<const std::string*> batch;
        while (bytes < 32 * 1024 && sent + n < events) {
            batch.push_back(&lines[next]);
            bytes += lines[next].size() + 1;
            next = (next + 1) % lines.size();
            ++n;
        }
        if (asBytes) {
            void* space = nullptr;
            sd_bus_message_append_array_space(m, 'y', bytes, &space);
            char* at = static_cast<char*>(space);
            for (const auto* line : batch) {
                std::memcpy(at, line->data(), line->size());
                at[line->size()] = '\n';
                at += line->size() + 1;
            }
        } else {
            sd_bus_message_open_container(m, 'a', "s");
            for (const auto* line : batch) {
                char* space = nullptr;
                // What the daemon would do: its texts are checked before.
                sd_bus_message_append_string_space(m, line->size(), &space);
                std::memcpy(space, line->data(), line->size());
            }
            sd_bus_message_close_container(m);
        }
        sd_bus_send(sender, m, nullptr);
        sd_bus_message_unref(m);
        sent += n;
        // Keep the bus daemon's queue short, as the daemon's flow control does.
        while (sent - read.load() > 60000)
            sd_bus_flush(sender), std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    sd_bus_flush(sender);
    const double senderCpu = threadCpu() - start;
    readerThread.join();
    Result r{senderCpu, readerCpu, processCpu(busPid) - bus0};
    sd_bus_flush_close_unref(sender);
    sd_bus_flush_close_unref(reader);
    return r;
}

} // namespace

int main(int argc, char* argv[])
{
    const long events = argc > 1 ? std::stol(argv[1]) : 2000000;
    char dir[] = "/tmp/bus-lines-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string socket = std::string(dir) + "/bus";
    const std::string config = std::string(dir) + "/bus.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\" "
                             "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>session</type><listen>unix:path="
                          << socket
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
                             "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    const pid_t busPid = fork();
    if (busPid == 0) {
        execl("/usr/bin/dbus-daemon", "dbus-daemon", ("--config-file=" + config).c_str(), "--nofork",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 500 && access(socket.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string address = "unix:path=" + socket;

    // Lines as the receiver stores them, about 110 bytes each.
    std::vector<std::string> lines;
    for (int i = 0; i < 1000; ++i)
        lines.push_back("1772870400,Local4.Notice,10.0.0." + std::to_string(i % 250)
                        + ",web1 nginx[4242]: GET /index.html 200 in 12 ms, upstream 10.1.0.7, request " + std::to_string(i));
    std::printf("%ld events of about %zu bytes, signals of about 32 KiB\n", events, lines[0].size());
    for (int round = 0; round < 2; ++round) {
        for (const bool asBytes : {false, true}) {
            const auto r = measure(address, busPid, asBytes, lines, events);
            const double us = 1e6 / static_cast<double>(events);
            std::printf("%-22s sender %.3f us/event, bus daemon %.3f, reader (sd-bus, parsed) %.3f, all %.3f\n",
                        asBytes ? "(s type, ay lines)" : "(s type, as lines)", r.sender * us, r.busDaemon * us,
                        r.reader * us, (r.sender + r.busDaemon + r.reader) * us);
        }
    }
    kill(busPid, SIGTERM);
    waitpid(busPid, nullptr, 0);
    std::remove(config.c_str());
    rmdir(dir);
    return 0;
}
