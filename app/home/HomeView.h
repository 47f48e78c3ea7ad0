// The Home page: how serious the listed events are, whether the daemon runs,
// and whether actions and export are set up. Recomputed each time it is
// shown, and its events part whenever events arrive while it is shown.
#pragma once

#include <array>
#include <optional>
#include <string>

#include <QDBusConnection>
#include <QLabel>
#include <QMap>
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
    // The bus on which the daemon is asked how it is; without one the
    // page says the daemon cannot be reached.
    void setDaemonBus(QDBusConnection bus);
    // Shows what the daemon answered to getStatus (`status`), or, when it
    // did not answer, why (`failure`). Called when the answer arrives.
    void showDaemonStatus(const QMap<QString, QString>& status, const QString& failure);
    // True while a status question is on its way.
    bool isAsking() const { return asking_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void build();

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
};

QString versionLine();  // "Linux program <version>"

} // namespace brantwell
