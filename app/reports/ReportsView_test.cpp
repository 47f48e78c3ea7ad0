// The reports page over real event log files in a scratch data directory:
// grouping, opening and closing groups, the sources, the column layout,
// export through the save dialog, printing to a PDF read back as text.
#include <QtTest>

#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QDir>
#include <QMessageBox>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>

#include "ReportPrinter.h"
#include "ReportsView.h"
#include "testkit/StoreDir.h"

using namespace brantwell;

using Widths = std::array<int, 4>;
Q_DECLARE_METATYPE(Widths)

namespace {

std::string line(long long seconds, const std::string& priority, const std::string& host,
                 const std::string& message)
{
    return std::to_string(seconds) + "," + priority + "," + host + "," + message + "\n";
}

constexpr long long kT0 = 1772870400;  // 2026-03-07 09:00:00 in Berlin

// The text of some pages of a PDF file, by pdftotext (poppler-utils).
QString pdfText(const QString& pdf, const QStringList& options)
{
    QProcess text;
    text.start(QStringLiteral("pdftotext"), options + QStringList{pdf, QStringLiteral("-")});
    if (!text.waitForFinished(60000) || text.exitCode() != 0)
        return {};
    return QString::fromUtf8(text.readAllStandardOutput());
}

QStringList column(const ReportModel& model, int c)
{
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r)
        out << model.cellText(r, c);
    return out;
}

} // namespace

class ReportsViewTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<testkit::StoreDir> dir_;
    std::unique_ptr<ReportsView> view_;
    std::string dateFormat_ = "HH:mm:ss";

    void open()
    {
        view_ = std::make_unique<ReportsView>(dir_->path(), [this] { return dateFormat_; });
        view_->resize(900, 500);
        view_->show();
        QVERIFY(QTest::qWaitForWindowExposed(view_.get()));
    }
    // Chooses an entry of a list the way the keyboard does.
    void choose(const char* list, const QString& entry)
    {
        auto* combo = view_->findChild<QComboBox*>(QString::fromLatin1(list));
        QVERIFY(combo);
        const int target = combo->findText(entry);
        QVERIFY2(target >= 0, qPrintable(entry));
        combo->setFocus();
        if (combo->currentIndex() < 0)
            QTest::keyClick(combo, Qt::Key_Down);
        while (combo->currentIndex() < target)
            QTest::keyClick(combo, Qt::Key_Down);
        while (combo->currentIndex() > target)
            QTest::keyClick(combo, Qt::Key_Up);
        QCOMPARE(combo->currentIndex(), target);
    }
    void display(ReportKind kind, const QString& source = kAllLogs)
    {
        choose("reportName", reportName(kind));
        choose("reportFilter", source);
        auto* button = view_->findChild<QPushButton*>(QStringLiteral("reportDisplay"));
        QVERIFY(button->isEnabled());
        QSignalSpy shown(view_.get(), &ReportsView::reportShown);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(shown.wait(10000));
    }
    void clickRow(int row)
    {
        auto* table = view_->tableView();
        const QModelIndex index = table->model()->index(row, 2);
        table->scrollTo(index);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(index).center());
    }
    ReportModel& model() { return *view_->model(); }
    // Prints through the page's own print path (thread, progress dialog) to
    // a PDF file; the pages printed, 0 when not done, -1 when it never ended.
    int printToPdf(const QString& pdf, QPageLayout::Orientation orientation = QPageLayout::Portrait)
    {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        printer->setPageSize(QPageSize(QPageSize::A4));
        printer->setPageOrientation(orientation);
        QSignalSpy finished(view_.get(), &ReportsView::printFinished);
        view_->print(std::move(printer));
        if (!finished.wait(90000))
            return -1;
        return finished.first().first().toInt();
    }
    QString mark(int row) const
    {
        switch (view_->model()->mark(row)) {
        case ReportModel::Mark::Plus: return QStringLiteral("+");
        case ReportModel::Mark::Minus: return QStringLiteral("-");
        case ReportModel::Mark::None: break;
        }
        return QStringLiteral(" ");
    }

    // 60,000 messages, one event each, the by-message report on the page.
    void showSixtyThousandGroups()
    {
        std::string store;
        store.reserve(60000 * 80);
        for (int g = 0; g < 60000; ++g)
            store += line(kT0 + g * 61LL, g % 2 ? "User.Informational" : "Local4.Informational",
                          "10.0." + std::to_string(g / 250) + "." + std::to_string(g % 250),
                          "link state changed on port " + std::to_string(g));
        dir_->write("2026-03-07.log", store);
        dateFormat_ = "EEEE, MMMM d, y 'at' h:mm:ss AM/PM";
        open();
        display(ReportKind::ByMessage);
        QCOMPARE(model().rowCount(), 60000);
    }
    QStringList filesInStore() const
    {
        return QDir(QString::fromStdString(dir_->path())).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }


private Q_SLOTS:
    void init()
    {
        dir_ = std::make_unique<testkit::StoreDir>();
        dateFormat_ = "HH:mm:ss";
    }
    void cleanup()
    {
        view_.reset();
        dir_.reset();
    }

    void threeEventsFromTwoHostsOpenAndCloseInPlace()
    {
        dir_->write("2026-03-07.log", line(kT0, "User.Notice", "h1", "first")
                                          + line(kT0 + 1, "Mail.Error", "h2", "second")
                                          + line(kT0 + 2, "Kernel.Alert", "h1", "third"));
        open();
        QVERIFY(!view_->findChild<QPushButton*>(QStringLiteral("reportDisplay"))->isEnabled());
        display(ReportKind::ByHost);
        QCOMPARE(column(model(), 0), (QStringList{"h1", "h2"}));
        QCOMPARE(mark(0) + mark(1), QStringLiteral("++"));

        clickRow(0);
        QCOMPARE(column(model(), 0), (QStringList{"h1", "", "", "h2"}));
        QCOMPARE(column(model(), 1), (QStringList{"", "09:00:00", "09:00:02", ""}));
        QCOMPARE(column(model(), 2), (QStringList{"", "User.Notice", "Kernel.Alert", ""}));
        QCOMPARE(column(model(), 3), (QStringList{"", "first", "third", ""}));
        QCOMPARE(mark(0) + mark(1) + mark(2) + mark(3), QStringLiteral("-  +"));
        QCOMPARE(view_->tableView()->selectionModel()->selectedRows().first().row(), 0);

        clickRow(1);  // an event row changes nothing
        QCOMPARE(model().rowCount(), 4);

        // The last group opens at the end of the table; closing the first
        // takes out exactly its rows and leaves the last group's.
        clickRow(3);
        QCOMPARE(column(model(), 3), (QStringList{"", "first", "third", "", "second"}));
        clickRow(0);
        QCOMPARE(column(model(), 0), (QStringList{"h1", "h2", ""}));
        QCOMPARE(column(model(), 3), (QStringList{"", "", "second"}));
        QCOMPARE(mark(0) + mark(1) + mark(2), QStringLiteral("+- "));
        // Closing the last group stops at the end of the table.
        clickRow(1);
        QCOMPARE(column(model(), 0), (QStringList{"h1", "h2"}));
        QCOMPARE(mark(0) + mark(1), QStringLiteral("++"));

        // From the keyboard: Down to the second group, Return opens it,
        // Return again closes it.
        QTableView* table = view_->tableView();
        table->setFocus();
        QVERIFY(QTest::qWaitFor([&] { return table->hasFocus(); }));
        table->selectRow(0);
        table->setCurrentIndex(model().index(0, 0));
        QTest::keyClick(table, Qt::Key_Down);
        QTest::keyClick(table, Qt::Key_Return);
        QCOMPARE(column(model(), 3), (QStringList{"", "", "second"}));
        QTest::keyClick(table, Qt::Key_Return);
        QCOMPARE(model().rowCount(), 2);
    }

    void groupsByExactValueInFirstMetOrder_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("lines");
        QTest::addColumn<QStringList>("groups");  // value:events
        const auto store = [](std::initializer_list<std::string> lines) {
            std::string s;
            for (const auto& l : lines)
                s += l;
            return QString::fromStdString(s);
        };
        QTest::newRow("hosts differ in case") << int(ReportKind::ByHost) << "" << store({
            line(kT0, "User.Notice", "Host-A", "a"), line(kT0, "User.Notice", "host-a", "b"),
            line(kT0, "User.Notice", "Host-A", "c")}) << QStringList{"Host-A:2", "host-a:1"};
        QTest::newRow("messages with commas") << int(ReportKind::ByMessage) << "" << store({
            line(kT0, "User.Notice", "h", "disk full, sda"), line(kT0, "User.Notice", "h", "Disk full, sda"),
            line(kT0, "User.Notice", "h", "disk full, sda")})
            << QStringList{"disk full, sda:2", "Disk full, sda:1"};
        QTest::newRow("priorities, non-events skipped") << int(ReportKind::ByPriority) << "" << store({
            line(kT0, "Mail.Error", "h", "a"), "not an event\n", "1772870400,User.Notice,h\n",
            line(kT0, "User.Notice", "h", "b"), line(kT0, "Mail.Error", "h", "c")})
            << QStringList{"Mail.Error:2", "User.Notice:1"};
        QTest::newRow("dates equal to the minute") << int(ReportKind::ByDate) << "yyyy-MM-dd HH:mm" << store({
            line(kT0 + 5, "User.Notice", "h", "a"), line(kT0 + 59, "User.Notice", "h", "b"),
            line(kT0 + 60, "User.Notice", "h", "c"), line(kT0 + 1, "User.Notice", "h", "d")})
            << QStringList{"2026-03-07 09:00:3", "2026-03-07 09:01:1"};
        QTest::newRow("dates equal to the second") << int(ReportKind::ByDate) << "HH:mm:ss" << store({
            line(kT0, "User.Notice", "h", "a"), line(kT0 + 1, "User.Notice", "h", "b"),
            line(kT0, "User.Notice", "h", "c")}) << QStringList{"09:00:00:2", "09:00:01:1"};
    }
    void groupsByExactValueInFirstMetOrder()
    {
        QFETCH(int, kind);
        QFETCH(QString, format);
        QFETCH(QString, lines);
        QFETCH(QStringList, groups);
        dateFormat_ = format.toStdString();
        dir_->write("2026-03-07.log", lines.toStdString());
        open();
        display(static_cast<ReportKind>(kind));
        const Report* report = model().report();
        QVERIFY(report);
        QStringList got;
        for (std::size_t g = 0; g < report->groupCount(); ++g)
            got << QString::fromStdString(report->groupValue(g)) + QLatin1Char(':')
                       + QString::number(report->groupEvents(g).size());
        QCOMPARE(got, groups);
        QCOMPARE(column(model(), 0), [&] {
            QStringList values;
            for (const auto& g : groups)
                values << g.left(g.lastIndexOf(QLatin1Char(':')));
            return values;
        }());
    }

    void columnTitlesAndWidthsFollowTheReport_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("titles");
        // -1: what the others leave of the table; -2: the widest priority text.
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("third");
        QTest::newRow("by host") << int(ReportKind::ByHost)
                                 << QStringList{"Host", "Date", "Priority", "Message"} << 120 << 140 << -2;
        QTest::newRow("by message") << int(ReportKind::ByMessage)
                                    << QStringList{"Message", "Date", "Priority", "Host"} << -1 << 140 << -2;
        QTest::newRow("by priority") << int(ReportKind::ByPriority)
                                     << QStringList{"Priority", "Date", "Host", "Message"} << 120 << 140 << 120;
        QTest::newRow("by date") << int(ReportKind::ByDate)
                                 << QStringList{"Date", "Priority", "Host", "Message"} << 165 << -2 << 120;
    }
    void columnTitlesAndWidthsFollowTheReport()
    {
        QFETCH(int, kind);
        QFETCH(QStringList, titles);
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, third);
        dir_->write("2026-03-07.log", line(kT0, "User.Notice", "h1", "first"));
        open();
        auto* table = view_->tableView();
        for (int c = 0; c < 4; ++c)
            QVERIFY(table->isColumnHidden(c));  // nothing shown before a report
        display(static_cast<ReportKind>(kind));
        QStringList shown;
        for (int c = 0; c < 4; ++c) {
            QVERIFY(!table->isColumnHidden(c));
            shown << model().headerData(c, Qt::Horizontal).toString();
        }
        QCOMPARE(shown, titles);
        // A priority column of event rows holds the widest priority there
        // is, whole (group values run across their row).
        if (const int p = titles.indexOf("Priority"); p > 0) {
            const QString widest = QStringLiteral("Security.Informational");
            QCOMPARE(table->fontMetrics().elidedText(widest, Qt::ElideRight, table->columnWidth(p) - 12), widest);
        }
        const auto width = [&](int expected, int c) {
            return expected == -2 ? table->columnWidth(c) : expected;
        };
        second = width(second, 1);
        third = width(third, 2);
        const auto firstWidth = [&] { return first == -1 ? table->viewport()->width() - second - third - 120 : first; };
        QCOMPARE(table->columnWidth(0), firstWidth());
        QCOMPARE(table->columnWidth(1), second);
        QCOMPARE(table->columnWidth(2), third);
        // The last column takes the rest of the table.
        int sum = 0;
        for (int c = 0; c < 4; ++c)
            sum += table->columnWidth(c);
        QCOMPARE(sum, table->viewport()->width());
        // A wider window: the by-message report's first column follows.
        view_->resize(1100, 500);
        QTRY_COMPARE(table->columnWidth(0), firstWidth());
        QCOMPARE(table->columnWidth(1), second);
    }

    void aSourceReadsOnlyItsFile_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<bool>("removeFirst");  // the day's file goes before Display
        QTest::newRow("one day") << "2026-03-07" << QStringList{"h2", "h3"} << false;
        QTest::newRow("the other day") << "2026-03-06" << QStringList{"h1"} << false;
        QTest::newRow("all logs") << "All Logs" << QStringList{"h1", "h2", "h3"} << false;
        QTest::newRow("a day whose file is gone") << "2026-03-07" << QStringList{} << true;
    }
    void aSourceReadsOnlyItsFile()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, groups);
        QFETCH(bool, removeFirst);
        dir_->write("2026-03-06.log", line(kT0 - 86400, "User.Notice", "h1", "a"));
        dir_->write("2026-03-07.log", line(kT0, "User.Notice", "h2", "b") + line(kT0, "User.Notice", "h3", "c"));
        dir_->write("2026-03-05.log.old", line(kT0, "User.Notice", "old", "d"));
        dir_->write("notes.txt", line(kT0, "User.Notice", "notes", "e"));
        open();
        QStringList sources;
        for (int i = 0; i < view_->reportFilter()->count(); ++i)
            sources << view_->reportFilter()->itemText(i);
        QCOMPARE(sources, (QStringList{"All Logs", "2026-03-06", "2026-03-07"}));
        if (removeFirst)
            QVERIFY(QFile::remove(QString::fromStdString(dir_->path() + "/2026-03-07.log")));
        display(ReportKind::ByHost, source);
        QCOMPARE(column(model(), 0), groups);
    }

    void exportWritesGroupRowsAndOpenEventRows_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        QTest::newRow("csv") << "report.csv"
                             << "Host,Date,Priority,Message\nh1,,,\n,09:00:00,User.Notice,first\n"
                                ",09:00:02,Kernel.Alert,\"third, with comma\"\nh2,,,\n";
        QTest::newRow("txt") << "report.txt"
                             << "Host\tDate\tPriority\tMessage\nh1\t\t\t\n\t09:00:00\tUser.Notice\tfirst\n"
                                "\t09:00:02\tKernel.Alert\tthird, with comma\nh2\t\t\t\n";
    }
    void exportWritesGroupRowsAndOpenEventRows()
    {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        dir_->write("2026-03-07.log", line(kT0, "User.Notice", "h1", "first")
                                          + line(kT0 + 1, "Mail.Error", "h2", "second")
                                          + line(kT0 + 2, "Kernel.Alert", "h1", "third, with comma"));
        open();
        display(ReportKind::ByHost);
        clickRow(0);
        // Through the save dialog, as a user would.
        const QString path = QString::fromStdString(dir_->path()) + QLatin1Char('/') + file;
        QTimer::singleShot(0, this, [path] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(),
                     QStringLiteral("Please select export file name with 'txt' or 'csv' extensions:"));
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        QTest::mouseClick(view_->findChild<QPushButton*>(QStringLiteral("exportButton")), Qt::LeftButton);
        QCOMPARE(QString::fromStdString(dir_->read(file.toStdString())), expected);
    }

    void printsEveryRowWithTheTitlesOnEveryPage()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QFAIL("pdftotext (poppler-utils) is needed");
        std::string store;
        for (int i = 0; i < 150; ++i)
            store += line(kT0 + i, "User.Notice", "host" + std::to_string(i % 3), "message " + std::to_string(1000 + i));
        dir_->write("2026-03-07.log", store);
        open();
        display(ReportKind::ByHost);
        clickRow(0);
        clickRow(51);
        clickRow(102);
        QCOMPARE(model().rowCount(), 153);

        const QString pdf = QString::fromStdString(dir_->path()) + QStringLiteral("/report.pdf");
        const int pages = printToPdf(pdf);
        QVERIFY(pages >= 2);

        QProcess text;
        text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(20000));
        QCOMPARE(text.exitCode(), 0);
        const QString all = QString::fromUtf8(text.readAllStandardOutput());
        QStringList pageTexts = all.split(QLatin1Char('\f'));
        while (!pageTexts.isEmpty() && pageTexts.last().trimmed().isEmpty())
            pageTexts.removeLast();
        QCOMPARE(pageTexts.size(), pages);
        for (const QString& page : pageTexts) {
            const QString head = page.trimmed().section(QLatin1Char('\n'), 0, 0);
            for (const char* title : {"Host", "Date", "Priority", "Message"})
                QVERIFY2(head.contains(QLatin1String(title)), qPrintable(head));
        }
        for (int i = 0; i < 150; ++i)
            QVERIFY2(all.contains(QStringLiteral("message %1").arg(1000 + i)), qPrintable(QString::number(i)));
        for (const char* host : {"host0", "host1", "host2"})
            QVERIFY(all.contains(QLatin1String(host)));
        QCOMPARE(all.count(QStringLiteral("User.Notice")), 150);
    }

    void printsSixtyThousandGroupsWithWholeDatesAndPriorities()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QFAIL("pdftotext (poppler-utils) is needed");
        showSixtyThousandGroups();
        clickRow(0);
        clickRow(2);
        model().toggle(model().rowCount() - 1);
        QCOMPARE(model().rowCount(), 60003);

        const QString pdf = QString::fromStdString(dir_->path()) + QStringLiteral("/report.pdf");
        const int pages = printToPdf(pdf);
        QVERIFY(pages > 100);
        // Nothing left beside it: the file was written under another name and renamed.
        QCOMPARE(filesInStore(), (QStringList{"2026-03-07.log", "report.pdf"}));

        // The file is whole: every page there, the last one numbered as such
        // and holding the last group and its event.
        QProcess info;
        info.start(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY(info.waitForFinished(20000));
        QVERIFY2(QString::fromUtf8(info.readAllStandardOutput())
                     .contains(QRegularExpression(QStringLiteral("\\nPages: +%1\\n").arg(pages))),
                 "page count");
        const QString lastPage = pdfText(pdf, {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(pages),
                                               QStringLiteral("-l"), QString::number(pages)});
        QVERIFY2(lastPage.contains(QStringLiteral("Page %1 of %1").arg(pages)), qPrintable(lastPage));
        QVERIFY2(lastPage.contains(QStringLiteral("link state changed on port 59999")), qPrintable(lastPage));
        QVERIFY2(lastPage.contains(QStringLiteral("Events by message, All Logs")), qPrintable(lastPage));

        // Dates and priorities of the open groups whole, not cut short.
        const QString firstPage = pdfText(pdf, {QStringLiteral("-layout"), QStringLiteral("-l"), QStringLiteral("1")});
        const auto lineOf = [](const QString& page, const QString& text) {
            for (const QString& l : page.split(QLatin1Char('\n')))
                if (l.contains(text))
                    return l.simplified();
            return QString();
        };
        QCOMPARE(lineOf(firstPage, QStringLiteral("9:00:00")),
                 QStringLiteral("Saturday, March 7, 2026 at 9:00:00 AM Local4.Informational 10.0.0.0"));
        QCOMPARE(lineOf(firstPage, QStringLiteral("9:01:01")),
                 QStringLiteral("Saturday, March 7, 2026 at 9:01:01 AM User.Informational 10.0.0.1"));
        QCOMPARE(lineOf(lastPage, QStringLiteral("6:38:59")),
                 QStringLiteral("Saturday, April 18, 2026 at 6:38:59 PM User.Informational 10.0.239.249"));

        // The first column is empty in event rows: it leaves only a narrow
        // indent, and the date starts near the left edge of the page.
        const QString boxes = pdfText(pdf, {QStringLiteral("-bbox"), QStringLiteral("-l"), QStringLiteral("1")});
        const auto pageWidth = QRegularExpression(QStringLiteral("<page width=\"([0-9.]+)\"")).match(boxes).captured(1).toDouble();
        const auto dateLeft = QRegularExpression(QStringLiteral("<word xMin=\"([0-9.]+)\"[^>]*>Saturday,</word>")).match(boxes).captured(1).toDouble();
        QVERIFY(pageWidth > 500);
        QVERIFY2(dateLeft > 0 && dateLeft < pageWidth / 4, qPrintable(QStringLiteral("%1 of %2").arg(dateLeft).arg(pageWidth)));
    }

    // Cancel, by the button or by Escape, while the pages are painted: no
    // file under the chosen name (one that was there stays as it was), and
    // nothing else left in the directory.
    void aCancelledPrintLeavesNoFile_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::addColumn<bool>("fileWasThere");
        QTest::newRow("Cancel button, new file") << false << false;
        QTest::newRow("Escape, new file") << true << false;
        QTest::newRow("Cancel button, file there before") << false << true;
    }
    void aCancelledPrintLeavesNoFile()
    {
        QFETCH(bool, escape);
        QFETCH(bool, fileWasThere);
        showSixtyThousandGroups();
        if (fileWasThere)
            dir_->write("report.pdf", "an earlier report");
        const QStringList before = filesInStore();

        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(QString::fromStdString(dir_->path()) + QStringLiteral("/report.pdf"));
        QSignalSpy finished(view_.get(), &ReportsView::printFinished);
        view_->print(std::move(printer));
        QVERIFY(view_->isPrinting());
        QProgressDialog* dialog = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((dialog = view_->findChild<QProgressDialog*>(QStringLiteral("printProgress")))
                                     && dialog->isVisible() && dialog->value() > 0,
                                 20000);
        QVERIFY2(finished.isEmpty(), "the print ended before it could be cancelled");
        if (escape) {
            QTest::keyClick(dialog, Qt::Key_Escape);
        } else {
            auto* cancel = dialog->findChild<QPushButton*>();
            QVERIFY(cancel);
            QCOMPARE(cancel->text(), QStringLiteral("&Cancel"));
            QTest::mouseClick(cancel, Qt::LeftButton);
        }
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().first().toInt(), 0);
        QVERIFY(!view_->isPrinting());
        QCOMPARE(filesInStore(), before);
        QCOMPARE(QString::fromStdString(dir_->read("report.pdf")),
                 fileWasThere ? QStringLiteral("an earlier report") : QString());
    }

    // A file that cannot be written is said so, not reported as printed.
    void aPrintThatCannotBeWrittenSaysSo()
    {
        dir_->write("2026-03-07.log", line(kT0, "User.Notice", "h1", "first"));
        open();
        display(ReportKind::ByHost);
        const QString pdf = QString::fromStdString(dir_->path()) + QStringLiteral("/no-such-directory/report.pdf");
        QString said;
        QTimer answer;
        answer.setInterval(20);
        connect(&answer, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                said = box->text();
                box->accept();
            }
        });
        answer.start();
        QCOMPARE(printToPdf(pdf), 0);
        QCOMPARE(said, QStringLiteral("The report could not be written to \"%1\".").arg(pdf));
        QVERIFY(!QFileInfo::exists(pdf));
        QCOMPARE(filesInStore(), QStringList{"2026-03-07.log"});
    }

    // The columns take the width of their texts; room left goes to the
    // message column, which gives way first on a narrow page; only then are
    // the widest of the others cut, to one width.
    void columnsTakeTheirTextsWidthAndTheMessageGivesWayFirst_data()
    {
        using W = Widths;
        QTest::addColumn<W>("natural");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("flexible");
        QTest::addColumn<W>("expected");
        QTest::newRow("room to spare: to the message") << W{60, 300, 200, 400} << 1200 << 3 << W{60, 300, 200, 640};
        QTest::newRow("room to spare, message first") << W{60, 300, 200, 100} << 1000 << 1 << W{60, 640, 200, 100};
        QTest::newRow("exactly the page") << W{100, 300, 200, 400} << 1000 << 3 << W{100, 300, 200, 400};
        QTest::newRow("long message cut") << W{60, 300, 200, 5000} << 1000 << 3 << W{60, 300, 200, 440};
        QTest::newRow("message down to its minimum") << W{60, 500, 400, 5000} << 1000 << 3 << W{60, 470, 400, 70};
        QTest::newRow("message as narrow as it needs") << W{60, 500, 400, 30} << 1000 << 3 << W{60, 500, 400, 40};
        QTest::newRow("then the widest cut alike") << W{60, 800, 700, 5000} << 1000 << 3 << W{60, 435, 435, 70};
        QTest::newRow("all alike") << W{900, 800, 700, 5000} << 1000 << 3 << W{310, 310, 310, 70};
        QTest::newRow("nothing but a minimum") << W{0, 0, 0, 5000} << 50 << 3 << W{0, 0, 0, 50};
    }
    void columnsTakeTheirTextsWidthAndTheMessageGivesWayFirst()
    {
        QFETCH(Widths, natural);
        QFETCH(int, page);
        QFETCH(int, flexible);
        QFETCH(Widths, expected);
        const auto widths = fitColumns(natural, page, flexible, 70);
        QCOMPARE(widths, expected);
        QVERIFY(widths[0] + widths[1] + widths[2] + widths[3] <= page);
    }

    void aReportIsASnapshotAndComingBackEmptiesIt()
    {
        dir_->write("2026-03-07.log", line(kT0, "User.Notice", "h1", "first"));
        open();
        display(ReportKind::ByHost);
        // The files change after the report was read.
        dir_->write("2026-03-07.log", line(kT0, "User.Notice", "h9", "other") + line(kT0, "User.Notice", "h1", "new"));
        clickRow(0);
        QCOMPARE(column(model(), 0), (QStringList{"h1", ""}));
        QCOMPARE(column(model(), 3), (QStringList{"", "first"}));

        view_->hide();
        view_->show();
        QCOMPARE(model().rowCount(), 0);
        QCOMPARE(view_->reportName()->currentIndex(), -1);
        QCOMPARE(view_->reportFilter()->currentText(), kAllLogs);
        for (int c = 0; c < 4; ++c)
            QVERIFY(view_->tableView()->isColumnHidden(c));
    }
};

QTEST_MAIN(ReportsViewTest)
#include "ReportsView_test.moc"
