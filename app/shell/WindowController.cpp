#include "WindowController.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include "HelpPage.h"
#include "editors/AboutView.h"
#include "editors/EditorPage.h"
#include "editors/ToolsView.h"
#include "editors/ToolsViewActions.h"
#include "editors/ToolsViewForwarding.h"
#include "editors/ToolsViewExport.h"
#include "editors/ToolsViewOptions.h"
#include "home/HomeView.h"
#include "events/ScanView.h"
#include "popups/PopupThread.h"
#include "reports/ReportsView.h"

namespace brantwell {

namespace {
// Announcements arrive in bursts of thousands a second; the list takes them
// in batches so that the window keeps drawing and answering.
constexpr int kFlushMilliseconds = 100;
// A burst of announcements the daemon had to leave out is told in several
// counts; the store is read once, this long after the first.
constexpr int kReloadMilliseconds = 300;
} // namespace

WindowController::WindowController(StartOptions options, QDBusConnection bus, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options))
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Brantwell"));
    events_ = new EventListModel(this);
    link_ = new DaemonLink(std::move(bus), this);
    // The status bar shows only while it has a message: an empty strip
    // under every page said nothing.
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    statusBar()->hide();
    connect(statusBar(), &QStatusBar::messageChanged, statusBar(),
            [bar = statusBar()](const QString& message) { bar->setVisible(!message.isEmpty()); });
    connect(link_, &DaemonLink::commandFailed, this,
            [this](const QString& reason) { statusBar()->showMessage(reason, 20000); });

    initializeLog();
    buildPages();
    buildMenus();

    // The widest form (the options page) fits without scrolling sideways;
    // the longer ones scroll down.
    setMinimumSize(820, 540);
    resize(980, 640);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(kFlushMilliseconds);
    connect(&flushTimer_, &QTimer::timeout, this, &WindowController::flushAnnouncements);
    connect(link_, &DaemonLink::announced, this, &WindowController::syslogNotify);
    // Alerts read the in-memory settings as they are when each event is
    // taken, so an options save applies to the events after it.
    popupThread_ = new PopupThread([this]() -> const AppSettings& { return settings_; },
                                   kPopupQueueCapacity, this);
    connect(link_, &DaemonLink::announced, popupThread_, [this](const std::vector<Announcement>& events) {
        for (const auto& event : events) {
            if (event.type == Announcement::Type::Set)
                popupThread_->append(event.record);
        }
    });
    // The list must match the files again: once the daemon's burst of
    // "left out" counts is over, the store is read anew.
    reloadTimer_.setSingleShot(true);
    reloadTimer_.setInterval(kReloadMilliseconds);
    connect(&reloadTimer_, &QTimer::timeout, this, &WindowController::reloadStore);
    connect(link_, &DaemonLink::eventsDropped, this, [this] {
        pending_.clear();
        // Not put off again by the next count: under a lasting overload the
        // list is still read anew a few times a second.
        if (!reloadTimer_.isActive())
            reloadTimer_.start();
    });
    // A restarted daemon announced nothing to us while it was away.
    connect(link_, &DaemonLink::subscribed, this, [this](bool again) {
        if (again && !reloadTimer_.isActive())
            reloadTimer_.start();
    });
    connect(link_, &DaemonLink::subscriptionFailed, this,
            [this](const QString& reason) { statusBar()->showMessage(reason, 20000); });
    // After the store is read, as at every start.
    if (!link_->subscribe())
        statusBar()->showMessage(
            QStringLiteral("Not listening to BrantwellSrv: the system bus is not available."));
    pages_->setCurrentIndex(HomePage);
}

void WindowController::initializeLog()
{
    const auto dictionary = readSettings(options_.dataDir);
    settings_ = dictionary ? AppSettings::fromDictionary(*dictionary) : AppSettings::defaults();
    events_->setDisplayClasses(settings_.iSeverity);
    events_->setDateFormat(settings_.newDateFormat);
    events_->loadStore(options_.dataDir);
}

void WindowController::buildPages()
{
    pages_ = new QStackedWidget(this);
    pages_->setObjectName(QStringLiteral("pages"));
    homeView_ = new HomeView(events_, options_.dataDir, pages_);
    homeView_->setDaemonBus(link_->connection());
    scanView_ = new ScanView(events_, link_, options_.syslogPort, pages_);
    auto* reports = new ReportsView(options_.dataDir, [this] { return settings_.newDateFormat; }, pages_);
    auto* tools = new ToolsView(pages_);
    pages_->addWidget(homeView_);  // 0
    pages_->addWidget(scanView_);  // 1
    pages_->addWidget(reports);    // 2
    pages_->addWidget(tools);      // 3
    const EditorContext context{options_.dataDir, link_};
    auto* options = new ToolsViewOptions(context, pages_);
    connect(options, &ToolsViewOptions::settingsSaved, this, &WindowController::applySettings);
    // A test e-mail fills "$date" in the display's format of that moment.
    auto* actions = new ToolsViewActions(context, [this] { return settings_.newDateFormat; }, pages_);
    auto* exportPage = new ToolsViewExport(context, pages_);
    auto* forwarding = new ToolsViewForwarding(context, pages_);
    for (QWidget* page : {static_cast<QWidget*>(options), static_cast<QWidget*>(actions),
                          static_cast<QWidget*>(exportPage), static_cast<QWidget*>(forwarding)}) {
        if (auto* editor = qobject_cast<EditorPage*>(page))
            connect(editor, &EditorPage::closeRequested, this, &WindowController::showPage);
        editors_.push_back(page);
        pages_->addWidget(page);  // 4, 5, 6, 7
    }
    setCentralWidget(pages_);

    // The Home page's chart and top senders open the list on what they show.
    connect(homeView_, &HomeView::spanChosen, this, [this](double start, double end) {
        scanView_->showSpan(start, end);
        showPage(ScanPage);
    });
    connect(homeView_, &HomeView::hostChosen, this, [this](const QString& host) {
        scanView_->showHost(host);
        showPage(ScanPage);
    });
    connect(scanView_, &ScanView::syslogOptions, this, [this] { openEditor(OptionsPage, ScanPage); });
    connect(scanView_, &ScanView::syslogActions, this, [this] { openEditor(ActionsPage, ScanPage); });
    connect(tools, &ToolsView::openOptions, this, [this] { openEditor(OptionsPage, ToolsPage); });
    connect(tools, &ToolsView::openActions, this, [this] { openEditor(ActionsPage, ToolsPage); });
    connect(tools, &ToolsView::openExport, this, [this] { openEditor(ExportPage, ToolsPage); });
    connect(tools, &ToolsView::openForwarding, this, [this] { openEditor(ForwardingPage, ToolsPage); });
}

void WindowController::buildMenus()
{
    auto* menu = menuBar()->addMenu(QStringLiteral("&Brantwell"));
    menu->setObjectName(QStringLiteral("applicationMenu"));
    auto* toolbar = addToolBar(QStringLiteral("Pages"));
    toolbar->setObjectName(QStringLiteral("pagesToolBar"));
    toolbar->setMovable(false);
    // Ctrl+1 to Ctrl+4 for the pages, as tabs are reached elsewhere.
    const std::pair<QString, void (WindowController::*)()> pages[] = {
        {QStringLiteral("&Home"), &WindowController::Home},
        {QStringLiteral("&Events"), &WindowController::Scan},
        {QStringLiteral("&Reports"), &WindowController::Reports},
        {QStringLiteral("&Tools"), &WindowController::Tools}};
    int n = 0;
    for (const auto& [title, slot] : pages) {
        auto* action = menu->addAction(title, this, slot);
        action->setObjectName(QString(title).remove(QLatin1Char('&')).toLower() + QStringLiteral("Action"));
        action->setShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_1 + n++)));
        action->setToolTip(QStringLiteral("%1 (%2)").arg(QString(title).remove(QLatin1Char('&')),
                                                         action->shortcut().toString(QKeySequence::NativeText)));
        toolbar->addAction(action);
    }
    menu->addSeparator();
    auto* help = menu->addAction(QStringLiteral("Brantwell &Help"), this, &WindowController::Help);
    help->setObjectName(QStringLiteral("helpAction"));
    help->setShortcut(QKeySequence::HelpContents);  // F1
    menu->addAction(QStringLiteral("&About"), this, &WindowController::About)
        ->setObjectName(QStringLiteral("aboutAction"));
    menu->addSeparator();
    menu->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, qApp, &QApplication::quit);

    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    auto* helpButton = new QToolButton(toolbar);
    helpButton->setObjectName(QStringLiteral("helpButton"));
    helpButton->setText(QStringLiteral("?"));
    helpButton->setToolTip(QStringLiteral("Help (F1)"));
    connect(helpButton, &QToolButton::clicked, this, &WindowController::HelpDropDown);
    toolbar->addWidget(helpButton);
}

void WindowController::showPage(int page)
{
    if (page < 0 || page >= pages_->count())
        return;
    // A menu command brings a hidden window back first.
    if (!isVisible())
        show();
    raise();
    pages_->setCurrentIndex(page);
}

void WindowController::openEditor(int page, int parentTab)
{
    const auto i = static_cast<std::size_t>(page - OptionsPage);
    if (i >= editors_.size())
        return;
    if (auto* editor = qobject_cast<EditorPage*>(editors_[i]))
        editor->parentTab = parentTab;
    showPage(page);
}

void WindowController::applySettings(const AppSettings& settings)
{
    settings_ = settings;
    events_->setDisplayClasses(settings_.iSeverity);
    events_->setDateFormat(settings_.newDateFormat);
    homeView_->setEventsStatus();
}

void WindowController::Help()
{
    if (!openHelp())
        statusBar()->showMessage(QStringLiteral("The help page could not be opened."), 10000);
}

void WindowController::HelpDropDown()
{
    auto* menu = new QMenu(QStringLiteral("Menu"), this);
    menu->setObjectName(QStringLiteral("helpDropDown"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Brantwell &Help..."), this, &WindowController::Help);
    menu->addSeparator();
    menu->addAction(QStringLiteral("&About Brantwell..."), this, &WindowController::About);
    menu->popup(QCursor::pos() + QPoint(0, 20));
}

void WindowController::About()
{
    if (!isVisible())
        show();
    auto* about = new AboutView(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    connect(about, &AboutView::linkButton, this, &WindowController::Help);
    about->open();  // window-modal
}

bool WindowController::isShown(QWidget* page) const
{
    return isVisible() && pages_->currentWidget() == page;
}

void WindowController::syslogNotify(const std::vector<Announcement>& events)
{
    // The reload to come reads these from the files.
    if (reloadTimer_.isActive())
        return;
    pending_.insert(pending_.end(), events.begin(), events.end());
    if (!flushTimer_.isActive())
        flushTimer_.start();
}

void WindowController::flushAnnouncements()
{
    std::vector<Announcement> batch;
    batch.swap(pending_);
    // Runs of the same type in arrival order, so that an event announced
    // and removed within one batch is first added, then taken out.
    std::vector<EventRecord> run;
    for (std::size_t i = 0; i < batch.size();) {
        const auto type = batch[i].type;
        run.clear();
        for (; i < batch.size() && batch[i].type == type; ++i)
            run.push_back(std::move(batch[i].record));
        if (type == Announcement::Type::Set)
            events_->addEvents(run);
        else
            events_->removeEvents(run);
    }
    if (isShown(homeView_))
        homeView_->setEventsStatus();
}

} // namespace brantwell

namespace brantwell {

void WindowController::reloadStore()
{
    reloadTimer_.stop();
    flushTimer_.stop();
    pending_.clear();
    events_->loadStore(options_.dataDir);
    if (isShown(homeView_))
        homeView_->setEventsStatus();
}

} // namespace brantwell
