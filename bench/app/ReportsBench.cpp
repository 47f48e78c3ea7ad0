// Builds reports over a large store on the reports page and measures: the
// time from Display to the table, the longest pause of the window's event
// loop meanwhile (how responsive it stays), the progress updates shown, and
// opening and closing a group of 100,000 events. Run with
// QT_QPA_PLATFORM=offscreen:
//   brantwell_bench_reports [events] [distinct messages] [events in the big group]
// Defaults: 1,000,000 events, 100,000 distinct messages, 100,000 events
// sharing one message. The store is generated in a temporary directory.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QProgressBar>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include "BenchSupport.h"
#include "reports/ReportsView.h"

using namespace brantwell;
using namespace brantwell::bench;

namespace {

const char* kBigMessage = "sshd[812]: Failed password for invalid user admin from 203.0.113.9 port 52144 ssh2";

// One event in `every` carries the big group's message; the others cycle
// through `distinct - 1` further messages.
void generate(const std::string& dir, long events, long distinct, long big)
{
    const char* priorities[] = {"Local4.Informational", "User.Notice", "Mail.Error", "Kernel.Warning",
                                "Daemon.Debug", "Auth.Critical", "Local7.Debug", "Alert.Error"};
    const long every = big > 0 ? events / big : events + 1;
    const long days = 30;
    const long perDay = events / days + 1;
    long written = 0;
    long other = 0;
    for (long day = 0; day < days && written < events; ++day) {
        char name[64];
        std::snprintf(name, sizeof name, "/2026-02-%02ld.log", day + 1);
        DayFileWriter out(dir + name);
        for (long i = 0; i < perDay && written < events; ++i, ++written) {
            std::string& line = out.buffer();
            line += std::to_string(1769900000 + day * 86400 + i * 86400 / perDay);
            line += ',';
            line += priorities[written % 8];
            line += ",192.168.1.";
            line += std::to_string(written % 60);
            line += ',';
            if (written % every == 0) {
                line += kBigMessage;
            } else {
                line += "router kernel: interface eth0 link state changed, speed 1000 Mb/s, case ";
                line += std::to_string(other++ % (distinct - 1));
            }
            out.endLine();
        }
    }
}

// Runs one report and reports its timings; returns false when it did not end.
bool runReport(ReportsView& view, ReportKind kind)
{
    view.reportName()->setCurrentIndex(static_cast<int>(kind));
    view.reportFilter()->setCurrentIndex(0);  // "All Logs"

    LoopPauses pauses;
    int progressUpdates = 0;
    auto* bar = view.findChild<QProgressBar*>(QStringLiteral("reportProgress"));
    const auto progressConnection =
        QObject::connect(bar, &QProgressBar::valueChanged, [&](int) { ++progressUpdates; });

    QEventLoop loop;
    QObject::connect(&view, &ReportsView::reportShown, &loop, &QEventLoop::quit);
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    const auto start = Clock::now();
    pauses.start();
    view.displayReport();
    const double displayCall = msSince(start);
    loop.exec();
    const double total = msSince(start);
    pauses.stop();
    QObject::disconnect(progressConnection);
    const Report* report = view.model()->report();
    if (!report)
        return false;
    std::printf("%-20s %9.0f ms to the table  (Display itself %.1f ms; longest event-loop pause %.0f ms;"
                " %d progress updates)  %zu groups, %zu events\n",
                reportName(kind).toUtf8().constData(), total, displayCall, pauses.longestMs(), progressUpdates,
                report->groupCount(), report->eventCount());
    return true;
}

double clickRow(ReportsView& view, int row)
{
    auto* table = view.tableView();
    const auto start = Clock::now();
    table->selectRow(row);
    view.tableClicked();
    table->viewport()->repaint();
    QApplication::processEvents();
    return msSince(start);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const long events = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long distinct = argc > 2 ? std::atol(argv[2]) : 100000;
    const long big = argc > 3 ? std::atol(argv[3]) : 100000;
    if (events < 1 || distinct < 2 || big < 0 || big > events) {
        std::fprintf(stderr, "usage: brantwell_bench_reports [events] [distinct] [big group]\n");
        return 2;
    }
    QTemporaryDir dir;
    auto start = Clock::now();
    generate(dir.path().toStdString(), events, distinct, big);
    std::printf("store: %ld events, %ld distinct messages, one message on %ld events (%.0f ms to write)\n",
                events, distinct, big, msSince(start));

    ReportsView view(dir.path().toStdString(), [] { return std::string(); });
    view.resize(1280, 800);
    view.show();
    QApplication::processEvents();
    const long rssBefore = statusKiB("VmRSS:");

    for (const auto kind : {ReportKind::ByHost, ReportKind::ByPriority, ReportKind::ByDate, ReportKind::ByMessage})
        if (!runReport(view, kind))
            return 1;
    std::printf("memory with the by-message report shown: %ld MiB more than before (peak %ld MiB)\n",
                (statusKiB("VmRSS:") - rssBefore) / 1024, statusKiB("VmHWM:") / 1024);

    // The big group is met first, so it is row 0.
    std::printf("open the group of %zu events:  %.1f ms\n", view.model()->report()->groupEvents(0).size(),
                clickRow(view, 0));
    view.tableView()->scrollToBottom();
    QApplication::processEvents();
    start = Clock::now();
    view.tableView()->scrollToTop();
    view.tableView()->viewport()->repaint();
    std::printf("scroll over %d rows:             %.1f ms\n", view.model()->rowCount(), msSince(start));
    const int lastRow = view.model()->rowCount() - 1;
    view.tableView()->scrollTo(view.model()->index(lastRow, 0));
    std::printf("open the last group:             %.1f ms\n", clickRow(view, lastRow));
    view.tableView()->scrollToTop();
    std::printf("close the group of %zu events: %.1f ms\n", view.model()->report()->groupEvents(0).size(),
                clickRow(view, 0));
    return 0;
}
