// The Home page: how serious the listed events are, whether the daemon runs,
// and whether actions and export are set up. Recomputed each time it is
// shown, and its events part whenever events arrive while it is shown.
#pragma once

#include <array>
#include <string>

#include <QLabel>
#include <QWidget>

#include "events/EventListModel.h"
#include "common/HomeViewBar.h"

namespace brantwell {

class HomeView final : public QWidget {
    Q_OBJECT
public:
    HomeView(const EventListModel* events, std::string dataDir, QWidget* parent = nullptr);

    void setEventsStatus();
    void setMonitorStatus();
    void setActionsStatus();
    void setExportStatus();
    // All four, in the order the page shows itself.
    void refresh();

    int severityStatus() const { return severityStatus_; }
    // Where the process table is read; tests point it at a directory of their own.
    void setProcRoot(std::string procRoot) { procRoot_ = std::move(procRoot); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void build();

    const EventListModel* events_;
    std::string dataDir_;
    std::string procRoot_ = "/proc";
    int severityStatus_ = 0;

    std::array<QLabel*, kSeverityRows> eventCounts_{};
    QLabel* eventsTitle_ = nullptr;
    QLabel* eventsImage_ = nullptr;
    ColorFrame* eventsBox_ = nullptr;
    ColorFrame* eventsInnerBox_ = nullptr;
    HomeViewBar* eventsBar_ = nullptr;
    QLabel* statusMonitor_ = nullptr;
    QLabel* statusActions_ = nullptr;
    QLabel* statusExport_ = nullptr;
    QLabel* statusVersion_ = nullptr;
};

QString versionLine();  // "Linux program <version>"

} // namespace brantwell
