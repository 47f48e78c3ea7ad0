#include "PopupThread.h"

#include <charconv>

#include "common/SeverityRows.h"

namespace brantwell {

PopupThread::PopupThread(SettingsSource settings, std::size_t capacity, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), capacity_(capacity)
{
    next_.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the spacing is a promise.
    next_.setTimerType(Qt::PreciseTimer);
    connect(&next_, &QTimer::timeout, this, &PopupThread::run);
}

PopupThread::~PopupThread()
{
    // Popups are windows of their own; they go with the logic that shows them.
    if (popup_) {
        disconnect(popup_, nullptr, this, nullptr);
        delete popup_;
    }
}

void PopupThread::append(const EventRecord& record)
{
    // Events that would raise nothing take no place in the queue, so a
    // flood of unchosen events cannot push out the ones the user wants.
    const PopupChoice choice = decide(settings_(), record.priority);
    if (!choice.any())
        return;
    // A burst of one repeated message (a flapping port) raises one popup,
    // not one per line: a repeat of the event waiting last, or of the one
    // being shown when none waits, is counted and told by the next popup.
    const EventRecord* last = !popupArray_.empty() ? &popupArray_.back() : (busy_ && current_ ? &*current_ : nullptr);
    if (choice.show && last && last->message == record.message && last->priority == record.priority && last->host == record.host) {
        ++notShown_;
        return;
    }
    if (popupArray_.size() >= capacity_) {
        ++notShown_;
        return;
    }
    popupArray_.push_back(record);
    if (!busy_) {
        busy_ = true;
        next_.start(0);
    }
}

void PopupThread::run()
{
    if (popupArray_.empty()) {
        busy_ = false;
        current_.reset();
        return;
    }
    current_ = std::move(popupArray_.front());
    popupArray_.pop_front();
    const EventRecord& record = *current_;
    // One copy per event: both decisions and the popup see the same settings.
    const AppSettings settings = settings_();
    const PopupChoice choice = decide(settings, record.priority);
    if (choice.play)
        player_.play(QString::fromStdString(settings.popupSound));
    Q_EMIT handled(record, choice.play, choice.show);
    if (choice.show)
        showPopup(record, settings);
    else
        rest();
}

void PopupThread::showPopup(const EventRecord& record, const AppSettings& settings)
{
    PopupView::Content content;
    content.record = record;
    content.shownDate = shownDate(record.date, settings.newDateFormat);
    content.displayClass = settings.iSeverity[severityRowOf(record.priority)];
    content.popupTime = settings.iPopupEvents;
    content.notShown = notShown_;
    notShown_ = 0;
    popup_ = new PopupView(std::move(content));
    connect(popup_, &PopupView::closed, this, [this] {
        popup_ = nullptr;  // deleted a little later, gone from the screen now
        rest();
    });
    popup_->present();
    Q_EMIT popupShown(popup_);
}

void PopupThread::rest()
{
    next_.start(kRestMilliseconds);
}

QString PopupThread::shownDate(const std::string& date, const std::string& dateFormat)
{
    // Rendered as the event list shows dates; a Date that is not a number
    // is shown as it is stored.
    long long seconds = 0;
    const auto [end, error] = std::from_chars(date.data(), date.data() + date.size(), seconds);
    if (error != std::errc() || end != date.data() + date.size() || date.empty())
        return QString::fromStdString(date);
    if (!formatter_ || formatter_->setting() != dateFormat)
        formatter_ = std::make_unique<DateFormatter>(dateFormat);
    return QString::fromStdString(formatter_->format(static_cast<double>(seconds)));
}

} // namespace brantwell
