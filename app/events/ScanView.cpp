#include "ScanView.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLocale>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QVBoxLayout>

#include "EventExport.h"
#include "common/HomeViewBar.h"
#include "ScanViewEvent.h"
#include "TestMessage.h"

namespace brantwell {

namespace {

QPushButton* button(QWidget* parent, const char* name, const QString& text)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

QLabel* link(QWidget* parent, const char* name, const QString& text)
{
    auto* l = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()), parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setCursor(Qt::PointingHandCursor);
    l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return l;
}

} // namespace

ScanView::ScanView(EventListModel* events, DaemonLink* link_, std::uint16_t syslogPort, QWidget* parent)
    : QWidget(parent), events_(events), link_(link_), syslogPort_(syslogPort)
{
    setObjectName(QStringLiteral("scanView"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    proxy_ = new EventFilterProxy(events_, this);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 8);
    page->addWidget(new ViewBar(QStringLiteral("Events"), this));

    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 6, 12, 0);
    page->addLayout(body);

    auto* top = new QHBoxLayout;
    searchField_ = new QLineEdit(this);
    searchField_->setObjectName(QStringLiteral("searchField"));
    searchField_->setPlaceholderText(QStringLiteral("Search host, priority or message"));
    searchField_->setClearButtonEnabled(true);
    top->addWidget(searchField_, 1);
    auto* options = link(this, "scanOptions", QStringLiteral("Options..."));
    auto* actions = link(this, "scanActions", QStringLiteral("Actions..."));
    top->addWidget(options);
    top->addWidget(actions);
    body->addLayout(top);

    // What limits the list when the Home page opened it on a time span or
    // a host, and the way back to every event.
    limitBar_ = new QWidget(this);
    limitBar_->setObjectName(QStringLiteral("limitBar"));
    auto* limitRow = new QHBoxLayout(limitBar_);
    limitRow->setContentsMargins(0, 0, 0, 0);
    limitLabel_ = new QLabel(limitBar_);
    limitLabel_->setObjectName(QStringLiteral("limitLabel"));
    limitLabel_->setTextFormat(Qt::PlainText);
    auto* showAllButton = button(limitBar_, "showAllButton", QStringLiteral("Show &all events"));
    limitRow->addWidget(limitLabel_, 1);
    limitRow->addWidget(showAllButton);
    limitBar_->hide();
    body->addWidget(limitBar_);
    connect(showAllButton, &QPushButton::clicked, this, &ScanView::showAll);

    tableView_ = new QTableView(this);
    tableView_->setObjectName(QStringLiteral("tableView"));
    tableView_->setModel(proxy_);
    tableView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView_->setShowGrid(false);
    tableView_->setAlternatingRowColors(true);
    tableView_->setWordWrap(false);
    tableView_->setIconSize(QSize(16, 16));
    tableView_->verticalHeader()->hide();
    // Fixed row heights: no row is measured, which keeps a million rows fast.
    tableView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tableView_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    auto* header = tableView_->horizontalHeader();
    header->setStretchLastSection(true);
    header->setSortIndicatorClearable(true);
    // No sort column at first: the list shows the newest event on top.
    header->setSortIndicator(-1, Qt::DescendingOrder);
    tableView_->setSortingEnabled(true);
    tableView_->setColumnWidth(EventListModel::ImageColumn, 28);
    tableView_->setColumnWidth(EventListModel::DateColumn, 170);
    tableView_->setColumnWidth(EventListModel::PriorityColumn, 150);
    tableView_->setColumnWidth(EventListModel::HostColumn, 140);
    body->addWidget(tableView_, 1);

    auto* bottom = new QHBoxLayout;
    auto* deleteButton = button(this, "deleteButton", QStringLiteral("&Delete"));
    auto* exportButton = button(this, "exportButton", QStringLiteral("E&xport"));
    auto* testButton = button(this, "testButton", QStringLiteral("&Test"));
    testButton->setToolTip(QStringLiteral("Send a test syslog message to the local service"));
    bottom->addWidget(deleteButton);
    bottom->addWidget(exportButton);
    bottom->addStretch(1);
    bottom->addWidget(testButton);
    body->addLayout(bottom);

    // Typing filters a million rows; wait for a pause in the typing.
    searchDelay_.setSingleShot(true);
    searchDelay_.setInterval(150);
    connect(searchField_, &QLineEdit::textChanged, &searchDelay_, qOverload<>(&QTimer::start));
    connect(&searchDelay_, &QTimer::timeout, this,
            [this] { proxy_->setSearchText(searchField_->text()); });
    connect(deleteButton, &QPushButton::clicked, this, &ScanView::deleteEvents);
    connect(exportButton, &QPushButton::clicked, this, &ScanView::exportEvents);
    connect(testButton, &QPushButton::clicked, this, &ScanView::testSyslog);
    connect(tableView_, &QTableView::doubleClicked, this, &ScanView::doubleClickTable);
    connect(options, &QLabel::linkActivated, this, &ScanView::syslogOptions);
    connect(actions, &QLabel::linkActivated, this, &ScanView::syslogActions);
}

void ScanView::showLimit(const QString& text)
{
    // The search box would narrow the list further without saying so.
    searchDelay_.stop();
    searchField_->blockSignals(true);
    searchField_->clear();
    searchField_->blockSignals(false);
    proxy_->setSearchText({});
    tableView_->clearSelection();
    limitLabel_->setText(text);
    limitBar_->setVisible(!text.isEmpty());
    tableView_->scrollToTop();
}

void ScanView::showSpan(double start, double end)
{
    proxy_->setLimits(true, start, end, {});
    const QLocale locale;
    const auto at = [](double s) { return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(s)); };
    const QString from = locale.toString(at(start), QStringLiteral("ddd d MMM yyyy HH:mm"));
    const QString to = at(end).date() == at(start).date() || at(end).time() != QTime(0, 0)
                           ? locale.toString(at(end), QStringLiteral("HH:mm"))
                           : locale.toString(at(end), QStringLiteral("ddd d MMM HH:mm"));
    showLimit(QStringLiteral("Showing the events from %1 to %2").arg(from, to));
}

void ScanView::showHost(const QString& host)
{
    proxy_->setLimits(false, 0, 0, host);
    showLimit(QStringLiteral("Showing the events of host %1").arg(host));
}

void ScanView::showAll()
{
    proxy_->clearLimits();
    showLimit({});
}

QList<int> ScanView::chosenRows(bool all) const
{
    QList<int> rows;
    if (all) {
        rows.reserve(proxy_->rowCount());
        for (int r = 0; r < proxy_->rowCount(); ++r)
            rows.push_back(r);
        return rows;
    }
    for (const auto& index : tableView_->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool ScanView::askForAll(const QString& checkBoxTitle)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Brantwell"),
                    QStringLiteral("No events selected"), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("noSelectionAlert"));
    box.setInformativeText(QStringLiteral("Please select specific events or check all events."));
    auto* check = new QCheckBox(checkBoxTitle, &box);
    box.setCheckBox(check);
    box.exec();
    return check->isChecked();
}

QString ScanView::allChosenText() const
{
    if (!proxy_->isSearching())
        return QStringLiteral("all events");
    const int shown = proxy_->rowCount();
    return shown == 1 ? QStringLiteral("the 1 event shown") : QStringLiteral("the %1 events shown").arg(shown);
}

bool ScanView::daemonRunsOrSay()
{
    if (link_->daemonRuns())
        return true;
    // Taking the rows out of the list alone would hide lines that stay in
    // the files and come back at the next start.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Brantwell"),
                    QStringLiteral("BrantwellSrv must run to delete events."), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("daemonNotRunningAlert"));
    box.setInformativeText(QStringLiteral("Nothing was deleted. The daemon takes the lines out of the event files; "
                                          "start it (systemctl start BrantwellSrv) and try again."));
    box.exec();
    return false;
}

void ScanView::deleteEvents()
{
    if (!daemonRunsOrSay())
        return;
    const bool selected = tableView_->selectionModel()->hasSelection();
    // With a search in the box "all" is only what the list shows: the
    // alerts say so instead of promising every event.
    const QString all = allChosenText();
    if (!selected && !askForAll(QStringLiteral("Delete ") + all))
        return;
    const QString what = selected ? QStringLiteral("selected events") : all;
    QMessageBox confirm(QMessageBox::Information, QStringLiteral("Brantwell"),
                        QStringLiteral("Are you sure you want to delete %1?").arg(what), QMessageBox::NoButton,
                        this);
    confirm.setObjectName(QStringLiteral("deleteConfirmation"));
    confirm.setInformativeText(QStringLiteral("By clicking 'Yes' you will permanently delete %1.").arg(what));
    auto* yes = confirm.addButton(QMessageBox::Yes);
    confirm.addButton(QMessageBox::No);
    confirm.setDefaultButton(QMessageBox::No);
    confirm.exec();
    if (confirm.clickedButton() != yes)
        return;
    deleteChosen(!selected);
}

DeletionCounts ScanView::deleteChosen(bool all)
{
    // Asked again: the daemon may have stopped while the question was open.
    if (!daemonRunsOrSay())
        return {};
    std::vector<int> sourceRows;
    for (const int row : chosenRows(all))
        sourceRows.push_back(proxy_->mapToSource(proxy_->index(row, 0)).row());
    tableView_->clearSelection();
    DeletionCounts counts = events_->deleteRows(std::move(sourceRows));
    // Nothing is sent when nothing was chosen: the daemon rejects an update
    // that names no line.
    link_->updateEvents(counts);
    return counts;
}

void ScanView::exportEvents()
{
    const bool selected = tableView_->selectionModel()->hasSelection();
    if (!selected && !askForAll(QStringLiteral("Export ") + allChosenText()))
        return;
    const QString fileName = askExportFileName(this);
    if (fileName.isEmpty())
        return;
    if (!exportChosen(fileName, !selected))
        warnExportFailed(this, fileName);
}

bool ScanView::exportChosen(const QString& fileName, bool all)
{
    return writeExportFile(fileName,
                           exportText(*proxy_, chosenRows(all), exportSeparatorFor(fileName)));
}

void ScanView::testSyslog()
{
    sendTestMessage(syslogPort_);
}

void ScanView::doubleClickTable()
{
    if (!tableView_->selectionModel()->hasSelection())
        return;
    auto* details = new ScanViewEvent(tableView_, this);
    details->setAttribute(Qt::WA_DeleteOnClose);
    details->open();  // window-modal
}

} // namespace brantwell
