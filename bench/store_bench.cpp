// Times the periodic work on a large store: one removal pass, one text
// export and database exports (first fill, a round with nothing new, a
// round after the removal). Not a test: it prints the figures.
//
//   brantwell_store_bench [LINES]   (default 1,000,000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "export/DatabaseExport.h"
#include "DateFormat.h"
#include "store/EventStore.h"
#include "util/FileUtil.h"
#include "store/RemovalThread.h"
#include "settings/SettingsPipe.h"
#include "export/TextExport.h"

using namespace brantwell;

namespace {

class CountingAnnouncer : public EventAnnouncer {
public:
    void announce(EventType, std::span<const EventRecord> events) override { count += events.size(); }
    std::size_t count = 0;
};

template <typename F>
double seconds(F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::uintmax_t sizeOf(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::file_size(path, ec);
}

} // namespace

int main(int argc, char** argv)
{
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    char pattern[] = "/tmp/brantwell-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const std::string data = dir + "/data";
    ensureDataDirectory(data);

    // Ten days of events, one file a day, as the receiver writes them.
    constexpr int kDays = 10;
    const double start = 1773000000;
    const double step = kDays * 86400.0 / static_cast<double>(lines);
    const char* priorities[] = {"Local4.Informational", "Mail.Error", "Kernel.Warning", "Alert.Debug", "User.Notice"};
    {
        std::string buffer;
        std::string file;
        for (long i = 0; i < lines; ++i) {
            const double t = start + static_cast<double>(i) * step;
            const std::string name = eventLogFileName(static_cast<long long>(t));
            if (name != file && !buffer.empty()) {
                writeFileAtomically(joinPath(data, file), buffer);
                buffer.clear();
            }
            file = name;
            appendEventLine(buffer, {dateFieldText(t), priorities[i % 5], "192.168.1." + std::to_string(i % 250),
                                     "host app[" + std::to_string(i % 977) + "]: request " + std::to_string(i)
                                         + " done, status 200, bytes " + std::to_string(i * 7 % 100000)});
        }
        writeFileAtomically(joinPath(data, file), buffer);
    }
    SettingsPipe settings(data);
    EventStore store(data);
    std::printf("store: %ld lines in %zu files\n", lines, store.listFiles().size());

    // Removal: every class 9 days, a clock at the end of the tenth day, so
    // about the oldest tenth leaves.
    nlohmann::json removal = nlohmann::json::object();
    for (std::size_t row = 0; row < kSeverityRows; ++row) {
        removal[std::string(kRemovalAgeKeys[row])] = 9;
        removal[std::string(kRemovalUnitKeys[row])] = 2;
    }
    settings.saveSettings({{"Settings", removal}});
    CountingAnnouncer announcer;
    RemovalThread remover(settings, store, &announcer);
    const double now = start + kDays * 86400.0;

    const std::string db = dir + "/events.sqlite";
    DatabaseExportResult fill;
    const double dbFill = seconds([&] { fill = exportDatabase(store, db); });
    std::printf("database export, empty table:   %7.2f s  (%zu rows inserted, ok %d)\n", dbFill, fill.inserted,
                fill.ok);
    DatabaseExportResult same;
    const double dbSame = seconds([&] { same = exportDatabase(store, db); });
    std::printf("database export, nothing new:   %7.2f s  (%zu inserted, %zu deleted)\n", dbSame, same.inserted,
                same.deleted);

    RemovalThread::Round round;
    const double removalTime = seconds([&] { round = remover.runRound(now); });
    std::printf("removal pass:                   %7.2f s  (%zu removed and announced, %zu files rewritten)\n",
                removalTime, announcer.count, round.rewritten);
    const double removalIdle = seconds([&] { round = remover.runRound(now); });
    std::printf("removal pass, nothing to remove:%7.2f s\n", removalIdle);

    DatabaseExportResult after;
    const double dbAfter = seconds([&] { after = exportDatabase(store, db); });
    std::printf("database export, after removal: %7.2f s  (%zu deleted)\n", dbAfter, after.deleted);

    const std::string csv = dir + "/events.csv";
    const DateFormatter dates("");
    TextExportResult text;
    const double textTime = seconds([&] { text = exportText(store, csv, ',', dates); });
    std::printf("text export (csv):              %7.2f s  (%zu lines, %.0f MB)\n", textTime, text.events,
                static_cast<double>(sizeOf(csv)) / 1e6);

    std::filesystem::remove_all(dir);
    return fill.ok && same.ok && after.ok && text.ok ? 0 : 1;
}
