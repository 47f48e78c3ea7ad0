// The main window: its pages by index, the menus, the start-up pass that
// reads the settings and the event store, and the daemon's announcements.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QMainWindow>
#include <QStackedWidget>
#include <QTimer>

#include "common/AppSettings.h"
#include "events/DaemonLink.h"
#include "events/EventListModel.h"

namespace brantwell {

class HomeView;
class PopupThread;
class ScanView;

struct StartOptions {
    std::string dataDir{kDefaultDataDirectory};
    std::uint16_t syslogPort = 514;  // where the test message goes
};

class WindowController final : public QMainWindow {
    Q_OBJECT
public:
    enum Page { HomePage, ScanPage, ReportsPage, ToolsPage, OptionsPage, ActionsPage, ExportPage, ForwardingPage };

    WindowController(StartOptions options, QDBusConnection bus, QWidget* parent = nullptr);

    void Home() { showPage(HomePage); }
    void Scan() { showPage(ScanPage); }
    void Reports() { showPage(ReportsPage); }
    void Tools() { showPage(ToolsPage); }
    void Help();
    void HelpDropDown();
    void About();

    int currentPage() const { return pages_->currentIndex(); }
    void showPage(int page);
    // Opens an editor page and remembers where to return.
    void openEditor(int page, int parentTab);
    // Puts settings an editor saved into force: the event list's images
    // and dates and the Home status follow at once.
    void applySettings(const AppSettings& settings);

    const AppSettings& settings() const { return settings_; }
    EventListModel* events() const { return events_; }
    DaemonLink* link() const { return link_; }
    HomeView* homeView() const { return homeView_; }
    ScanView* scanView() const { return scanView_; }
    PopupThread* popupThread() const { return popupThread_; }
    // Announcements not yet in the list; taken in one batch shortly.
    void flushAnnouncements();
    // Reads the store again, in place of the announcements not yet taken:
    // after the daemon left some out, or after it restarted.
    void reloadStore();

private:
    void initializeLog();
    void buildPages();
    void buildMenus();
    void syslogNotify(const std::vector<Announcement>& events);
    bool isShown(QWidget* page) const;

    StartOptions options_;
    AppSettings settings_;
    EventListModel* events_ = nullptr;
    DaemonLink* link_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    HomeView* homeView_ = nullptr;
    ScanView* scanView_ = nullptr;
    PopupThread* popupThread_ = nullptr;
    std::vector<QWidget*> editors_;  // pages 4, 5, 6
    std::vector<Announcement> pending_;
    QTimer flushTimer_;
    QTimer reloadTimer_;  // a reload soon; announcements wait for it
};

} // namespace brantwell
