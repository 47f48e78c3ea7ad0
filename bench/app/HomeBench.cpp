// The Home page over a large store: N events (default 1,000,000) spread
// over the last 30 days, from 60 hosts. Measures reading the store into
// the list (for reference), then opening Home after the list has loaded
// (counting every event into the chart's buckets, building and painting
// the page), counting anew after a reset, one redraw, the memory the
// counts take, and the longest pause of the window's event loop while
// events stream in at R events per second (default 100,000) for S seconds
// (default 5), in batches every 100 ms as the window takes announcements:
// into the list with Home shown, into the list alone, and into the whole
// window (which reads the store again as it starts).
// Run with QT_QPA_PLATFORM=offscreen:
//   brantwell_bench_home [events] [rate] [seconds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include "BenchSupport.h"
#include "home/HomeView.h"
#include "shell/WindowController.h"

using namespace brantwell;
using namespace brantwell::bench;

namespace {

const char* const kPriorities[] = {"Local4.Informational", "User.Notice", "Mail.Error", "Kernel.Warning",
                                   "Daemon.Debug", "Auth.Critical", "Local7.Debug", "Alert.Error"};

// Events evenly over the 30 days up to now, each day in its own file.
void generate(const std::string& dir, long events)
{
    std::mt19937 random(42);
    const long now = static_cast<long>(std::time(nullptr));
    const long first = now - 30L * 86400;
    std::optional<DayFileWriter> out;
    std::string openName;
    for (long i = 0; i < events; ++i) {
        const long seconds = first + static_cast<long>(static_cast<double>(i) * 30 * 86400 / static_cast<double>(events));
        const std::string name = eventLogFileName(seconds);
        if (name != openName) {
            out.emplace(dir + "/" + name);
            openName = name;
        }
        std::string& line = out->buffer();
        line += std::to_string(seconds);
        line += ',';
        line += kPriorities[random() % 8];
        line += ",192.168.1.";
        line += std::to_string(random() % 60);
        line += ",router kernel: interface eth";
        line += std::to_string(random() % 4);
        line += " link state changed, speed 1000 Mb/s, seq ";
        line += std::to_string(i);
        out->endLine();
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const long events = argc > 1 ? std::stol(argv[1]) : 1000000;
    const long rate = argc > 2 ? std::stol(argv[2]) : 100000;
    const long streamSeconds = argc > 3 ? std::stol(argv[3]) : 5;
    QTemporaryDir temp;
    const std::string dir = temp.path().toStdString();
    auto start = Clock::now();
    generate(dir, events);
    std::printf("generate %ld events over the last 30 days: %.0f ms\n", events, msSince(start));

    EventListModel model;
    model.setDateFormat("");
    start = Clock::now();
    const auto read = model.loadStore(dir);
    std::printf("read store into the list (%zu events): %.0f ms (for reference)\n", read, msSince(start));
    const long rssList = rssKiB();
    std::printf("rss with the list: %ld MiB\n", rssList / 1024);

    // The stream: a batch every 100 ms, as the window flushes
    // announcements, while a 5 ms timer measures the event loop's gaps.
    const long perBatch = rate / 10;
    const long batches = streamSeconds * 10;
    long sent = 0;
    const auto stream = [&](const char* what, EventListModel& into) {
        double longestBatch = 0, batchTotal = 0;
        LoopPauses pauses;
        QTimer feeder;
        feeder.setInterval(100);
        QEventLoop loop;
        long done = 0;
        std::vector<EventRecord> batch(static_cast<std::size_t>(perBatch));
        QObject::connect(&feeder, &QTimer::timeout, [&] {
            const std::string date = std::to_string(static_cast<long>(std::time(nullptr)));
            for (auto& e : batch) {
                e = EventRecord{date, kPriorities[sent % 8], "10.1.0." + std::to_string(sent % 200),
                                "stream " + std::to_string(sent)};
                ++sent;
            }
            const auto s = Clock::now();
            into.addEvents(batch);
            const double ms = msSince(s);
            longestBatch = std::max(longestBatch, ms);
            batchTotal += ms;
            if (++done == batches)
                loop.quit();
        });
        pauses.start();
        feeder.start();
        start = Clock::now();
        loop.exec();
        const double streamed = msSince(start);
        std::printf("stream %ld events/s for %.1f s (%ld events, batches of %ld every 100 ms) %s:\n"
                    "  longest event-loop pause %.0f ms; taking a batch into the list and the chart: longest %.1f ms,"
                    " mean %.1f ms\n",
                    rate, streamed / 1000, done * perBatch, perBatch, what, pauses.longestMs(), longestBatch,
                    batchTotal / static_cast<double>(batches));
    };
    // Home opened after the list has loaded: the chart's counts are made
    // from the list's rows, then the page is built and painted.
    start = Clock::now();
    auto homePage = std::make_unique<HomeView>(&model, dir);
    HomeView& home = *homePage;
    home.resize(980, 900);
    home.setChartSpan(ChartSpan::Month);
    home.show();
    (void)home.grab();
    std::printf("open Home over the list, first paint: %.0f ms\n", msSince(start));
    std::printf("rss with Home: %ld MiB (+%ld KiB), %zu buckets held\n", rssKiB() / 1024, rssKiB() - rssList,
                home.chartModel()->buckets().bucketCount());

    start = Clock::now();
    home.chartModel()->rebuild();
    std::printf("count every event anew (after a reload or reset): %.0f ms\n", msSince(start));
    for (const auto span : {ChartSpan::Hour, ChartSpan::Day, ChartSpan::Month}) {
        home.setChartSpan(span);
        start = Clock::now();
        for (int i = 0; i < 20; ++i) {
            home.redrawChart();
            home.chart()->repaint();
        }
        std::printf("redraw %s (bars, top senders, rate, paint): %.2f ms\n",
                    span == ChartSpan::Hour ? "last hour" : span == ChartSpan::Day ? "last day" : "last 30 days",
                    msSince(start) / 20);
    }
    home.setChartSpan(ChartSpan::Hour);

    stream("with Home shown", model);
    std::printf("  chart after the stream: rate %.0f events/s, last minute bar %lld events\n",
                home.chartModel()->rate(), static_cast<long long>(home.chartModel()->bars(ChartSpan::Hour).back().total()));
    // The same stream once the page and its counts are gone, for what the
    // list costs alone.
    homePage.reset();
    stream("the list alone, no Home page", model);
    // The whole window over the store as it starts: Home shown, the event
    // list's sorted view behind it, batches taken as announcements are.
    {
        WindowController window({dir, 514}, QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/none"),
                                                                           QStringLiteral("none")));
        window.show();
        (void)window.grab();
        stream("the whole window, Home shown", *window.events());
    }
    std::printf("rss at the end: %ld MiB\n", rssKiB() / 1024);
    return 0;
}
