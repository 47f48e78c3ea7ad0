// Opens a store of N events (default 1,000,000) the way the application
// does and measures each step: reading the files into the list, showing the
// table, scrolling, sorting, searching, a burst of new events, removals by
// age and a deletion. Run with QT_QPA_PLATFORM=offscreen:
//   brantwell_bench_eventlist [events] [dir]
// The store is generated in a temporary directory unless `dir` is given.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>

#include "BenchSupport.h"
#include "events/EventFilterProxy.h"
#include "events/EventListModel.h"

using namespace brantwell;
using namespace brantwell::bench;

namespace {

void generate(const std::string& dir, long events)
{
    const char* priorities[] = {"Local4.Informational", "User.Notice", "Mail.Error", "Kernel.Warning",
                                "Daemon.Debug", "Auth.Critical", "Local7.Debug", "Alert.Error"};
    std::mt19937 random(42);
    const long days = 30;
    const long perDay = events / days + 1;
    long written = 0;
    for (long day = 0; day < days && written < events; ++day) {
        char name[64];
        std::snprintf(name, sizeof name, "/2026-02-%02ld.log", day + 1);
        DayFileWriter out(dir + name);
        for (long i = 0; i < perDay && written < events; ++i, ++written) {
            const long seconds = 1769900000 + day * 86400 + i * 86400 / perDay;
            std::string& line = out.buffer();
            line += std::to_string(seconds);
            line += ',';
            line += priorities[random() % 8];
            line += ",192.168.1.";
            line += std::to_string(random() % 60);
            line += ",router";
            line += std::to_string(random() % 100);
            line += " kernel: interface eth";
            line += std::to_string(random() % 4);
            line += " link state changed, speed 1000 Mb/s, seq ";
            line += std::to_string(written);
            out.endLine();
        }
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const long events = argc > 1 ? std::stol(argv[1]) : 1000000;
    QTemporaryDir temp;
    std::string dir = argc > 2 ? argv[2] : temp.path().toStdString();
    if (argc <= 2) {
        const auto start = Clock::now();
        generate(dir, events);
        std::printf("generate %ld events: %.0f ms\n", events, msSince(start));
    }
    std::printf("rss before open: %ld MiB\n", rssKiB() / 1024);

    EventListModel model;
    model.setDateFormat("");
    auto start = Clock::now();
    const auto read = model.loadStore(dir);
    std::printf("read store into the list (%zu events): %.0f ms\n", read, msSince(start));
    std::printf("rss with the list: %ld MiB\n", rssKiB() / 1024);

    start = Clock::now();
    EventFilterProxy proxy(&model);
    QTableView view;
    view.setModel(&proxy);
    view.verticalHeader()->hide();
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.verticalHeader()->setDefaultSectionSize(20);
    view.horizontalHeader()->setStretchLastSection(true);
    view.horizontalHeader()->setSortIndicatorClearable(true);
    view.horizontalHeader()->setSortIndicator(-1, Qt::DescendingOrder);
    view.setSortingEnabled(true);
    view.resize(1000, 700);
    view.show();
    (void)view.grab();
    std::printf("proxy, table and first paint: %.0f ms\n", msSince(start));

    auto* bar = view.verticalScrollBar();
    constexpr int kFrames = 300;
    start = Clock::now();
    for (int f = 0; f < kFrames; ++f) {
        bar->setValue(bar->value() + bar->pageStep() / 3);
        (void)view.grab();
    }
    std::printf("scroll, %d frames of a third page: %.2f ms per frame\n", kFrames, msSince(start) / kFrames);
    start = Clock::now();
    for (int f = 0; f < 50; ++f) {
        bar->setValue(static_cast<int>(static_cast<long>(bar->maximum()) * f / 50));
        (void)view.grab();
    }
    std::printf("jump across the list, 50 frames: %.2f ms per frame\n", msSince(start) / 50);

    start = Clock::now();
    view.sortByColumn(EventListModel::DateColumn, Qt::AscendingOrder);
    (void)view.grab();
    std::printf("sort by date: %.0f ms\n", msSince(start));
    start = Clock::now();
    view.sortByColumn(EventListModel::HostColumn, Qt::AscendingOrder);
    (void)view.grab();
    std::printf("sort by host: %.0f ms\n", msSince(start));
    start = Clock::now();
    view.sortByColumn(-1, Qt::DescendingOrder);
    (void)view.grab();
    std::printf("back to newest first: %.0f ms\n", msSince(start));

    start = Clock::now();
    proxy.setSearchText(QStringLiteral("ROUTER42"));
    (void)view.grab();
    std::printf("search \"ROUTER42\" (%d rows): %.0f ms\n", proxy.rowCount(), msSince(start));
    start = Clock::now();
    proxy.setSearchText({});
    (void)view.grab();
    std::printf("clear the search: %.0f ms\n", msSince(start));

    // A batch of 1,000 new events as the window takes them from the bus,
    // in each order the list can be in, with and without a search. The
    // batch's hosts and messages are spread so that, sorted by host, its
    // rows land all over the list.
    int batchNumber = 0;
    const auto insertBatch = [&](const char* what) {
        std::vector<EventRecord> burst;
        for (int i = 0; i < 1000; ++i) {
            const int n = batchNumber * 1000 + i;
            burst.push_back({std::to_string(1772870400 + n), i % 2 ? "User.Notice" : "Mail.Error",
                             "192.168.1." + std::to_string(i % 250),
                             "burst " + std::to_string(n) + (i % 10 == 0 ? " router42" : "")});
        }
        ++batchNumber;
        (void)view.grab();
        const auto begin = Clock::now();
        model.addEvents(burst);
        // Taken in: the list, its sorted and searched view and the table
        // told; what a paint costs besides is the same for any change.
        const double taken = msSince(begin);
        (void)view.grab();
        std::printf("insert a batch of 1,000 new events, %s: %.1f ms, with the next paint %.1f ms (%d rows shown)\n",
                    what, taken, msSince(begin), proxy.rowCount());
    };
    insertBatch("newest first");
    view.sortByColumn(EventListModel::DateColumn, Qt::DescendingOrder);
    insertBatch("sorted by date, newest first");
    view.sortByColumn(EventListModel::DateColumn, Qt::AscendingOrder);
    insertBatch("sorted by date, oldest first");
    view.sortByColumn(EventListModel::HostColumn, Qt::AscendingOrder);
    insertBatch("sorted by host");
    view.sortByColumn(EventListModel::MessageColumn, Qt::AscendingOrder);
    insertBatch("sorted by message");
    proxy.setSearchText(QStringLiteral("ROUTER42"));
    insertBatch("sorted by message, searching \"ROUTER42\"");
    view.sortByColumn(EventListModel::DateColumn, Qt::DescendingOrder);
    insertBatch("sorted by date, searching \"ROUTER42\"");
    view.sortByColumn(-1, Qt::DescendingOrder);
    insertBatch("newest first, searching \"ROUTER42\"");
    proxy.setSearchText({});
    insertBatch("newest first, again");

    std::vector<EventRecord> oldest;
    for (int i = 0; i < 1000; ++i)
        oldest.push_back(model.record(model.rowCount() - 1 - i));
    start = Clock::now();
    const auto removed = model.removeEvents(oldest);
    (void)view.grab();
    std::printf("remove the 1,000 oldest by age (%zu found): %.1f ms\n", removed, msSince(start));

    std::vector<int> scattered;
    for (int r = 0; r < model.rowCount(); r += model.rowCount() / 1000)
        scattered.push_back(r);
    start = Clock::now();
    const auto counts = model.deleteRows(scattered);
    (void)view.grab();
    std::printf("delete %zu scattered rows: %.0f ms\n", counts.size(), msSince(start));
    std::printf("rss at the end: %ld MiB\n", rssKiB() / 1024);
    return 0;
}
