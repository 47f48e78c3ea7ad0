// The popup queue and the logic that works through it, one event at a time
// on the GUI thread: the sound when the event's severity is chosen for it,
// a popup when it is chosen for one, then the next event 0.2 s after the
// popup has closed (or after the sound decision when no popup is shown).
// So at most one popup is on screen and popups never pile up.
//
// The queue is bounded: a burst of events would otherwise take memory
// without end and raise alerts for days. Events that find it full are
// counted instead, and the next popup says how many were not shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QPointer>
#include <QTimer>

#include "DateFormat.h"
#include "EventRecord.h"
#include "PopupDecision.h"
#include "PopupView.h"
#include "SoundPlayer.h"
#include "common/AppSettings.h"

namespace brantwell {

// Each popup stays at least 3 s, so 100 waiting events are several
// minutes of alerts already.
inline constexpr std::size_t kPopupQueueCapacity = 100;

class PopupThread final : public QObject {
    Q_OBJECT
public:
    static constexpr int kRestMilliseconds = 200;

    // `settings` gives the application's in-memory settings as they are at
    // the moment of the call; they are read once per event, so a save in
    // the options editor applies whole to the events handled after it.
    using SettingsSource = std::function<const AppSettings&()>;

    explicit PopupThread(SettingsSource settings, std::size_t capacity = kPopupQueueCapacity,
                         QObject* parent = nullptr);
    ~PopupThread() override;

    // An event the daemon announced as stored. Only events chosen for a
    // sound or a popup by the settings in force are queued.
    void append(const EventRecord& record);

    std::size_t queued() const { return popupArray_.size(); }
    // Events left out since the last popup was shown.
    std::int64_t notShown() const { return notShown_; }
    PopupView* currentPopup() const { return popup_; }
    SoundPlayer* soundPlayer() { return &player_; }

Q_SIGNALS:
    // Once per event taken from the queue, when its decisions are made.
    void handled(const brantwell::EventRecord& record, bool played, bool shown);
    void popupShown(brantwell::PopupView* popup);

private:
    void run();
    void showPopup(const EventRecord& record, const AppSettings& settings);
    void rest();
    QString shownDate(const std::string& date, const std::string& dateFormat);

    SettingsSource settings_;
    std::size_t capacity_;
    std::deque<EventRecord> popupArray_;
    std::optional<EventRecord> current_;  // the event being handled, shown or rested after
    std::int64_t notShown_ = 0;
    bool busy_ = false;  // an event is being handled, shown or rested after
    QTimer next_;
    QPointer<PopupView> popup_;
    SoundPlayer player_;
    std::unique_ptr<DateFormatter> formatter_;
};

} // namespace brantwell
