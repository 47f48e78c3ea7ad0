// Prints a large report to a PDF file from the reports page and measures:
// the time from Print to the finished file, the longest pause of the
// window's event loop meanwhile (a window that pauses longer than 100 ms
// feels stuck: the bench fails then), the pages, and the file's size in all
// and per page. Run with QT_QPA_PLATFORM=offscreen:
//   brantwell_bench_report_print [groups] [events per group] [open every Nth group] [file.pdf]
// Defaults: 60,000 groups (the by-message report of 60,000 distinct
// messages), 2 events each, no group open. With the third argument, every
// Nth group is opened so that event rows with dates and priorities print too.
// The PDF is written to a temporary directory unless a file is named.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTimer>

#include "BenchSupport.h"
#include "reports/ReportsView.h"

using namespace brantwell;
using namespace brantwell::bench;

namespace {

void generate(const std::string& dir, long groups, long perGroup)
{
    const char* priorities[] = {"Local4.Informational", "User.Notice", "Mail.Error", "Kernel.Warning",
                                "Daemon.Debug", "Auth.Critical", "Local7.Debug", "Security.Error"};
    DayFileWriter out(dir + "/2026-02-01.log");
    long n = 0;
    for (long round = 0; round < perGroup; ++round)
        for (long g = 0; g < groups; ++g, ++n) {
            std::string& line = out.buffer();
            line += std::to_string(1769900000 + n);
            line += ',';
            line += priorities[n % 8];
            line += ",192.168.1.";
            line += std::to_string(n % 250);
            line += ",router kernel: interface eth0 link state changed, speed 1000 Mb/s, case ";
            line += std::to_string(g);
            out.endLine();
        }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const long groups = argc > 1 ? std::atol(argv[1]) : 60000;
    const long perGroup = argc > 2 ? std::atol(argv[2]) : 2;
    const long openEvery = argc > 3 ? std::atol(argv[3]) : 0;
    if (groups < 1 || perGroup < 1 || openEvery < 0) {
        std::fprintf(stderr, "usage: brantwell_bench_report_print [groups] [events per group] [open every Nth group] [file.pdf]\n");
        return 2;
    }
    QTemporaryDir dir;
    generate(dir.path().toStdString(), groups, perGroup);

    // A long date format: the printed date column must hold it whole.
    ReportsView view(dir.path().toStdString(), [] { return std::string("EEEE, MMMM d, y 'at' h:mm:ss AM/PM"); });
    view.resize(1280, 800);
    view.show();
    QApplication::processEvents();
    view.reportName()->setCurrentIndex(static_cast<int>(ReportKind::ByMessage));
    view.reportFilter()->setCurrentIndex(0);
    {
        QEventLoop loop;
        QObject::connect(&view, &ReportsView::reportShown, &loop, &QEventLoop::quit);
        view.displayReport();
        loop.exec();
    }
    if (openEvery > 0)
        for (int row = view.model()->rowCount() - 1; row >= 0; --row)
            if (view.model()->isGroupRow(row) && row % openEvery == 0)
                view.model()->toggle(row);
    const int rows = view.model()->rowCount();

    const QString pdf = argc > 4 ? QFileInfo(QString::fromLocal8Bit(argv[4])).absoluteFilePath()
                                 : dir.path() + QStringLiteral("/report.pdf");
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf);
    printer->setPageSize(QPageSize(QPageSize::A4));

    LoopPauses pauses;
    int pages = -1;
    QEventLoop loop;
    QObject::connect(&view, &ReportsView::printFinished, &loop, [&](int printed) {
        pages = printed;
        loop.quit();
    });
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    const auto start = Clock::now();
    pauses.start();
    view.print(std::move(printer));
    const double printCall = msSince(start);
    loop.exec();
    const double total = msSince(start);
    pauses.stop();
    if (pages <= 0) {
        std::printf("the print did not finish\n");
        return 1;
    }
    const qint64 bytes = QFileInfo(pdf).size();
    std::printf("print of %ld groups (%d rows) to PDF: %.0f ms to the whole file (Print itself %.1f ms;"
                " longest event-loop pause %.0f ms); %d pages, %lld bytes, %.1f KB a page\n",
                groups, rows, total, printCall, pauses.longestMs(), pages, static_cast<long long>(bytes),
                bytes / 1024.0 / pages);
    if (pauses.longestMs() >= 100) {
        std::printf("FAIL: the window paused %.0f ms (limit 100 ms)\n", pauses.longestMs());
        return 1;
    }
    return 0;
}
