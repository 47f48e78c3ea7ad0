// The event list page: every known event, newest first, with its severity
// image. Delete (in the list and the daemon's files), export, the test
// message, the details window, and the links to the options and actions
// editors.
#pragma once

#include <cstdint>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include "DaemonLink.h"
#include "EventFilterProxy.h"
#include "EventListModel.h"

namespace brantwell {

class ScanView final : public QWidget {
    Q_OBJECT
public:
    ScanView(EventListModel* events, DaemonLink* link, std::uint16_t syslogPort,
             QWidget* parent = nullptr);

    // The Delete and Export buttons: ask, then act on the chosen rows.
    void deleteEvents();
    void exportEvents();
    void testSyslog();
    void doubleClickTable();

    // What the buttons do once the user has chosen: the selected rows, or
    // with `all` every row the list shows, in display order.
    DeletionCounts deleteChosen(bool all);
    bool exportChosen(const QString& fileName, bool all);

    // Lists only the events dated in [start, end) or only those of one
    // host, saying so above the list with a button that lists all again.
    void showSpan(double start, double end);
    void showHost(const QString& host);
    void showAll();

    QTableView* tableView() const { return tableView_; }
    EventFilterProxy* proxy() const { return proxy_; }

Q_SIGNALS:
    void syslogOptions();
    void syslogActions();

private:
    // False, after telling the user why, when the daemon does not run.
    bool daemonRunsOrSay();
    QList<int> chosenRows(bool all) const;  // proxy rows, display order
    // What "all" means in the alerts: every event, or while a search limits
    // the list, only the rows it shows ("the 3 events shown").
    QString allChosenText() const;
    // The "No events selected" alert; true when its check box was ticked.
    bool askForAll(const QString& checkBoxTitle);

    EventListModel* events_;
    DaemonLink* link_;
    std::uint16_t syslogPort_;
    EventFilterProxy* proxy_ = nullptr;
    QTableView* tableView_ = nullptr;
    void showLimit(const QString& text);

    QLineEdit* searchField_ = nullptr;
    QWidget* limitBar_ = nullptr;
    QLabel* limitLabel_ = nullptr;
    QTimer searchDelay_;
};

} // namespace brantwell
