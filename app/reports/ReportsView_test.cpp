// The reports page over real event log files in a scratch data directory:
// grouping, opening and closing groups, the sources, the column layout,
// export through the save dialog, printing to a PDF read back as text.
#include <QtTest>

#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>

#include "ReportsView.h"
#include "testkit/StoreDir.h"

using namespace brantwell;

namespace {

std::string line(long long seconds, const std::string& priority, const std::string& host,
                 const std::string& message)
{
    return std::to_string(seconds) + "," + priority + "," + host + "," + message + "\n";
}

constexpr long long kT0 = 1772870400;  // 2026-03-07 09:00:00 in Berlin

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
    QString mark(int row) const
    {
        switch (view_->model()->mark(row)) {
        case ReportModel::Mark::Plus: return QStringLiteral("+");
        case ReportModel::Mark::Minus: return QStringLiteral("-");
        case ReportModel::Mark::None: break;
        }
        return QStringLiteral(" ");
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
        QTest::addColumn<int>("first");   // -1: the table's width less 380
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("third");
        QTest::newRow("by host") << int(ReportKind::ByHost)
                                 << QStringList{"Host", "Date", "Priority", "Message"} << 120 << 140 << 120;
        QTest::newRow("by message") << int(ReportKind::ByMessage)
                                    << QStringList{"Message", "Date", "Priority", "Host"} << -1 << 140 << 120;
        QTest::newRow("by priority") << int(ReportKind::ByPriority)
                                     << QStringList{"Priority", "Date", "Host", "Message"} << 120 << 140 << 120;
        QTest::newRow("by date") << int(ReportKind::ByDate)
                                 << QStringList{"Date", "Priority", "Host", "Message"} << 165 << 120 << 120;
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
        QCOMPARE(table->columnWidth(0), first < 0 ? table->viewport()->width() - 380 : first);
        QCOMPARE(table->columnWidth(1), second);
        QCOMPARE(table->columnWidth(2), third);
        // The last column takes the rest of the table.
        int sum = 0;
        for (int c = 0; c < 4; ++c)
            sum += table->columnWidth(c);
        QCOMPARE(sum, table->viewport()->width());
        // A wider window: the by-message report's first column follows.
        view_->resize(1100, 500);
        QTRY_COMPARE(table->columnWidth(0), first < 0 ? table->viewport()->width() - 380 : first);
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
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setPageSize(QPageSize(QPageSize::A4));
        const int pages = view_->printTo(printer);
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
