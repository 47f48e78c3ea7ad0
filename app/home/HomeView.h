// The Home page: how serious the listed events are, whether the daemon runs,
// and whether actions and export are set up. Recomputed each time it is
// shown, and its events part whenever events arrive while it is shown.
#pragma once

#include <array>
#include <optional>
#include <string>

#include <QComboBox>
#include <QDBusConnection>
#include <QLabel>
#include <QMap>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include "events/EventListModel.h"
#include "common/HomeViewBar.h"
#include "EventChart.h"
#include "EventChartModel.h"

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
    // The bus on which the daemon is asked how it is; without one the
    // page says the daemon cannot be reached.
    void setDaemonBus(QDBusConnection bus);
    // Shows what the daemon answered to getStatus (`status`), or, when it
    // did not answer, why (`failure`). Called when the answer arrives.
    void showDaemonStatus(const QMap<QString, QString>& status, const QString& failure);
    // True while a status question is on its way.
    bool isAsking() const { return asking_; }

    // The chart of events over time, its counts, and the daemon's drop
    // counters (asked every few seconds while the page shows).
    EventChartModel* chartModel() const { return chartModel_; }
    EventChart* chart() const { return chart_; }
    ChartSpan chartSpan() const;
    void setChartSpan(ChartSpan span);
    // Draws the chart, the top senders and the rate from the counts now.
    void redrawChart();
    void askStatistics();
    void showStatistics(const QMap<QString, qulonglong>& counters, bool answered);
    bool isAskingStatistics() const { return askingStatistics_; }

Q_SIGNALS:
    // The user asked for the events dated in [start, end) or sent by a host.
    void spanChosen(double start, double end);
    void hostChosen(const QString& host);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void build();
    QWidget* buildDashboard(QWidget* parent);
    void onChartTimer();

    const EventListModel* events_;
    std::string dataDir_;
    std::optional<QDBusConnection> bus_;
    bool asking_ = false;
    bool askAgain_ = false;
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
    QLabel* statusReception_ = nullptr;  // per transport, receiving or why not
    QLabel* statusWarnings_ = nullptr;   // problems the daemon knows of
    QLabel* statusVersion_ = nullptr;

    EventChartModel* chartModel_ = nullptr;
    EventChart* chart_ = nullptr;
    QComboBox* spanBox_ = nullptr;
    QComboBox* stackingBox_ = nullptr;
    QLabel* sendersTitle_ = nullptr;
    QTreeWidget* topSenders_ = nullptr;
    QLabel* rate_ = nullptr;
    QLabel* drops_ = nullptr;
    QTimer chartTimer_;       // redraws at most a few times a second
    QTimer statisticsTimer_;  // asks the daemon's counters
    bool chartDirty_ = true;
    double lastDrawn_ = 0;
    bool askingStatistics_ = false;
};

QString versionLine();  // "Linux program <version>"

} // namespace brantwell
