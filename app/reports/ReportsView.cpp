#include "ReportsView.h"

#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QRandomGenerator>
#include <QShortcut>
#include <QShowEvent>
#include <QVBoxLayout>

#include "GroupRowDelegate.h"
#include "Priority.h"
#include "ReportPrinter.h"
#include "common/HomeViewBar.h"
#include "events/EventExport.h"
#include "events/EventLogReader.h"

namespace brantwell {

namespace {

constexpr int kColumnWidth = 120;
// The by-message report gives the message column what the date and
// priority columns and a host column of the usual width leave; never less
// than a column's usual width.
constexpr int kMinimumFirstColumn = 120;

// Wide enough for every priority text there is ("Security.Informational").
int priorityColumnWidth(const QFontMetrics& metrics)
{
    int widest = 0;
    for (std::uint32_t pri = 0; pri < 192; ++pri) {
        const auto text = priorityText(pri);
        widest = std::max(widest, metrics.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))));
    }
    return widest + 16;  // the cell's margins
}

QPushButton* button(QWidget* parent, const char* name, const QString& text)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

} // namespace

// One build on its own thread. The thread writes `result` and then `done`;
// the page reads them only after seeing `done`.
struct ReportsView::Job {
    ReportProgress progress;
    std::unique_ptr<Report> result;
    std::atomic<bool> done{false};
    std::thread thread;

    ~Job()
    {
        progress.cancel = true;
        if (thread.joinable())
            thread.join();
    }
};

// One print on its own thread, painting a snapshot of the table. A PDF is
// written under a hidden name beside the chosen one and renamed when whole;
// a cancelled or failed one is removed.
struct ReportsView::PrintJob {
    std::unique_ptr<QPrinter> printer;
    QString target;   // the chosen PDF file; empty for a printer
    QString partial;  // the file being written, until renamed
    PrintProgress progress;
    int pages = 0;    // written by the thread before `done`
    std::atomic<bool> done{false};
    std::thread thread;

    ~PrintJob()
    {
        progress.cancel = true;
        if (thread.joinable())
            thread.join();
        if (!partial.isEmpty())
            QFile::remove(partial);
    }
};

ReportsView::ReportsView(std::string dataDir, std::function<std::string()> dateFormat, QWidget* parent)
    : QWidget(parent), dataDir_(std::move(dataDir)), dateFormat_(std::move(dateFormat))
{
    setObjectName(QStringLiteral("reportsView"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    model_ = new ReportModel(this);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 8);
    page->addWidget(new ViewBar(QStringLiteral("Reports"), this));

    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 6, 12, 0);
    page->addLayout(body);

    auto* top = new QHBoxLayout;
    reportName_ = new QComboBox(this);
    reportName_->setObjectName(QStringLiteral("reportName"));
    reportName_->setPlaceholderText(QStringLiteral("Choose a report"));
    for (int k = 0; k < kReportKinds; ++k)
        reportName_->addItem(brantwell::reportName(static_cast<ReportKind>(k)));
    reportName_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    reportFilter_ = new QComboBox(this);
    reportFilter_->setObjectName(QStringLiteral("reportFilter"));
    reportFilter_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    reportFilter_->setMinimumContentsLength(10);
    reportDisplay_ = button(this, "reportDisplay", QStringLiteral("&Display"));
    reportDisplay_->setEnabled(false);
    auto* reportLabel = new QLabel(QStringLiteral("&Report:"), this);
    reportLabel->setBuddy(reportName_);
    auto* sourceLabel = new QLabel(QStringLiteral("&Source:"), this);
    sourceLabel->setBuddy(reportFilter_);
    top->addWidget(reportLabel);
    top->addWidget(reportName_);
    top->addSpacing(12);
    top->addWidget(sourceLabel);
    top->addWidget(reportFilter_);
    top->addSpacing(12);
    top->addWidget(reportDisplay_);
    top->addStretch(1);
    body->addLayout(top);

    tableView_ = new QTableView(this);
    tableView_->setObjectName(QStringLiteral("tableView"));
    tableView_->setModel(model_);
    tableView_->setItemDelegate(new GroupRowDelegate(model_, tableView_));
    tableView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView_->setSelectionMode(QAbstractItemView::SingleSelection);
    tableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView_->setShowGrid(false);
    tableView_->setAlternatingRowColors(true);
    tableView_->setWordWrap(false);
    tableView_->setIconSize(QSize(14, 14));
    tableView_->verticalHeader()->hide();
    // Fixed row heights: no row is measured, which keeps a million rows fast.
    tableView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tableView_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    tableView_->horizontalHeader()->setStretchLastSection(true);
    tableView_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    tableView_->horizontalHeader()->setHighlightSections(false);
    body->addWidget(tableView_, 1);

    auto* bottom = new QHBoxLayout;
    auto* exportButton = button(this, "exportButton", QStringLiteral("E&xport"));
    auto* printButton = button(this, "printButton", QStringLiteral("&Print"));
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("reportProgress"));
    progress_->setRange(0, 1000);
    progress_->setMaximumWidth(220);
    progress_->setTextVisible(false);
    progress_->hide();
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("reportStatus"));
    bottom->addWidget(exportButton);
    bottom->addWidget(printButton);
    bottom->addStretch(1);
    bottom->addWidget(status_);
    bottom->addWidget(progress_);
    body->addLayout(bottom);

    poll_.setInterval(50);
    connect(&poll_, &QTimer::timeout, this, &ReportsView::pollBuild);
    printPoll_.setInterval(50);
    connect(&printPoll_, &QTimer::timeout, this, &ReportsView::pollPrint);
    connect(reportName_, &QComboBox::activated, this, &ReportsView::choiceMade);
    connect(reportFilter_, &QComboBox::activated, this, &ReportsView::choiceMade);
    connect(reportDisplay_, &QPushButton::clicked, this, &ReportsView::displayReport);
    connect(exportButton, &QPushButton::clicked, this, &ReportsView::exportResults);
    connect(printButton, &QPushButton::clicked, this, &ReportsView::printResults);
    connect(tableView_, &QTableView::clicked, this, &ReportsView::tableClicked);
    // Return opens and closes the chosen group from the keyboard as a click does.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* toggle = new QShortcut(QKeySequence(key), tableView_);
        toggle->setContext(Qt::WidgetShortcut);
        connect(toggle, &QShortcut::activated, this, &ReportsView::tableClicked);
    }
    tableView_->viewport()->installEventFilter(this);

    viewWillAppear();
}

ReportsView::~ReportsView() = default;

void ReportsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Coming back to the page starts afresh; a window raised from the task
    // bar (a spontaneous show) does not.
    if (!event->spontaneous())
        viewWillAppear();
}

void ReportsView::viewWillAppear()
{
    cancelBuild();
    reportName_->setCurrentIndex(-1);
    reportFilter_->clear();
    reportFilter_->addItem(kAllLogs);
    for (const auto& name : eventLogFiles(dataDir_))
        reportFilter_->addItem(QString::fromStdString(name.substr(0, name.size() - 4)));
    reportFilter_->setCurrentIndex(0);
    model_->clear();
    status_->clear();
    messageReport_ = false;
    for (int c = 0; c < 4; ++c)
        tableView_->setColumnHidden(c, true);
}

bool ReportsView::eventFilter(QObject* watched, QEvent* event)
{
    // The by-message report's first column follows the table's width.
    if (watched == tableView_->viewport() && event->type() == QEvent::Resize && messageReport_)
        fitMessageColumn();
    return QWidget::eventFilter(watched, event);
}

void ReportsView::fitMessageColumn()
{
    const int rest = tableView_->columnWidth(1) + tableView_->columnWidth(2) + kColumnWidth;
    tableView_->setColumnWidth(0, std::max(kMinimumFirstColumn, tableView_->viewport()->width() - rest));
}

void ReportsView::choiceMade()
{
    if (reportName_->currentIndex() >= 0 && reportFilter_->currentIndex() >= 0)
        reportDisplay_->setEnabled(true);
    // The lists must not keep the keys: typing would change the choice.
    tableView_->setFocus(Qt::OtherFocusReason);
}

void ReportsView::applyLayout(ReportKind kind)
{
    const auto& layout = reportLayout(kind);
    model_->setTitles(layout.titles);
    for (std::size_t d = 0; d < layout.details.size(); ++d)
        if (layout.details[d] == ReportField::Priority)
            tableView_->setColumnWidth(static_cast<int>(d) + 1, priorityColumnWidth(tableView_->fontMetrics()));
    switch (kind) {
    case ReportKind::ByHost:
    case ReportKind::ByPriority:
        tableView_->setColumnWidth(1, 140);
        break;
    case ReportKind::ByMessage:
        tableView_->setColumnWidth(1, 140);
        fitMessageColumn();
        break;
    case ReportKind::ByDate:
        tableView_->setColumnWidth(0, 165);
        break;
    }
}

void ReportsView::displayReport()
{
    cancelBuild();
    model_->clear();
    status_->clear();
    messageReport_ = false;
    for (int c = 0; c < 4; ++c) {
        tableView_->setColumnHidden(c, false);
        tableView_->setColumnWidth(c, kColumnWidth);
    }
    const int chosen = reportName_->currentIndex();
    if (chosen < 0 || chosen >= kReportKinds)
        return;  // no report chosen: the columns keep their titles, the table stays empty
    const auto kind = static_cast<ReportKind>(chosen);
    applyLayout(kind);
    messageReport_ = kind == ReportKind::ByMessage;

    job_ = std::make_unique<Job>();
    Job* job = job_.get();
    const QString source = reportFilter_->currentText();
    shownSource_ = source;
    job->thread = std::thread([job, dataDir = dataDir_, kind, source, format = dateFormat_()] {
        job->result = buildReport(dataDir, kind, source, format, job->progress);
        job->done.store(true, std::memory_order_release);
    });
    progress_->setValue(0);
    progress_->show();
    status_->setText(QStringLiteral("Reading events..."));
    poll_.start();
}

void ReportsView::cancelBuild()
{
    poll_.stop();
    job_.reset();  // cancels and waits for the thread, at most one block of reading
    progress_->hide();
}

void ReportsView::pollBuild()
{
    if (!job_)
        return;
    const auto& p = job_->progress;
    if (!job_->done.load(std::memory_order_acquire)) {
        const auto total = p.bytesTotal.load();
        progress_->setValue(total ? static_cast<int>(p.bytesRead.load() * 1000 / total) : 0);
        status_->setText(QStringLiteral("Reading events: %L1").arg(p.events.load()));
        return;
    }
    poll_.stop();
    job_->thread.join();
    std::unique_ptr<Report> report = std::move(job_->result);
    job_.reset();
    progress_->hide();
    if (report)
        status_->setText(QStringLiteral("%L1 groups, %L2 events").arg(report->groupCount()).arg(report->eventCount()));
    model_->setReport(std::move(report));
    tableView_->clearSelection();
    Q_EMIT reportShown();
}

void ReportsView::tableClicked()
{
    const auto selected = tableView_->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    const int row = selected.first().row();
    model_->toggle(row);
    tableView_->selectRow(row);
}

bool ReportsView::exportTo(const QString& fileName) const
{
    QList<int> rows;
    rows.reserve(model_->rowCount());
    for (int r = 0; r < model_->rowCount(); ++r)
        rows.push_back(r);
    return writeExportFile(fileName, exportText(*model_, rows, exportSeparatorFor(fileName)));
}

void ReportsView::exportResults()
{
    const QString fileName = askExportFileName(this);
    if (fileName.isEmpty())
        return;
    if (!exportTo(fileName))
        warnExportFailed(this, fileName);
}

void ReportsView::printResults()
{
    if (printJob_)
        return;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setDocName(QStringLiteral("Brantwell report"));
    QPrintDialog dialog(printer.get(), this);
    dialog.setObjectName(QStringLiteral("printDialog"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    print(std::move(printer));
}

void ReportsView::print(std::unique_ptr<QPrinter> printer)
{
    if (printJob_ || !printer)
        return;
    auto job = std::make_unique<PrintJob>();
    if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty()) {
        const QFileInfo target(printer->outputFileName());
        job->target = target.absoluteFilePath();
        // A name of our own beside the chosen one, on the same file system
        // so that the rename is atomic.
        do {
            job->partial = target.absolutePath() + QStringLiteral("/.") + target.fileName()
                         + QStringLiteral(".printing-%1.pdf")
                               .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        } while (QFileInfo::exists(job->partial));
        printer->setOutputFileName(job->partial);
        printer->setOutputFormat(QPrinter::PdfFormat);
    }
    job->printer = std::move(printer);

    printProgress_ = new QProgressDialog(QStringLiteral("Laying out the report..."), QStringLiteral("&Cancel"), 0, 0, this);
    printProgress_->setObjectName(QStringLiteral("printProgress"));
    printProgress_->setWindowTitle(QStringLiteral("Printing"));
    printProgress_->setWindowModality(Qt::WindowModal);
    printProgress_->setAutoClose(false);
    printProgress_->setAutoReset(false);
    printProgress_->setMinimumDuration(300);
    printProgress_->setMinimumWidth(320);
    PrintProgress* progress = &job->progress;
    connect(printProgress_, &QProgressDialog::canceled, this, [progress] { progress->cancel = true; });

    PrintJob* running = job.get();
    const Report* report = model_->report();
    const QString heading = report ? brantwell::reportName(report->kind()) + QStringLiteral(", ") + shownSource_ : QString();
    job->thread = std::thread([running, rows = model_->snapshot(), heading, font = QApplication::font()]() mutable {
        running->pages = printReport(rows, heading, font, *running->printer, running->progress);
        // The report may be the last reference: freed here, not on the window's thread.
        rows = {};
        running->done.store(true, std::memory_order_release);
    });
    printJob_ = std::move(job);
    printPoll_.start();
}

void ReportsView::pollPrint()
{
    if (!printJob_)
        return;
    const auto& p = printJob_->progress;
    if (!printJob_->done.load(std::memory_order_acquire)) {
        const int total = p.pagesTotal.load();
        if (total > 0 && !p.cancel.load()) {
            printProgress_->setMaximum(total);
            printProgress_->setValue(p.pagesDone.load());
            printProgress_->setLabelText(QStringLiteral("Printing page %L1 of %L2...").arg(p.pagesDone.load() + 1).arg(total));
        }
        return;
    }
    printPoll_.stop();
    printJob_->thread.join();
    const bool cancelled = p.cancel.load();
    int pages = cancelled ? 0 : printJob_->pages;
    QString failure;
    if (pages > 0 && !printJob_->partial.isEmpty()) {
        if (std::rename(QFile::encodeName(printJob_->partial).constData(),
                        QFile::encodeName(printJob_->target).constData())
            == 0)
            printJob_->partial.clear();
        else
            pages = 0;
    }
    if (pages == 0 && !cancelled)
        failure = printJob_->target.isEmpty()
                      ? QStringLiteral("The report could not be printed.")
                      : QStringLiteral("The report could not be written to \"%1\".").arg(QDir::toNativeSeparators(printJob_->target));
    printJob_.reset();  // removes what a cancelled or failed print wrote
    printProgress_->hide();
    printProgress_->deleteLater();
    printProgress_ = nullptr;
    if (!failure.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Print"), failure);
    Q_EMIT printFinished(pages);
}

} // namespace brantwell
