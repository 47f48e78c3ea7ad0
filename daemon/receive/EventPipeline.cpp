#include "EventPipeline.h"

#include "EventRecord.h"
#include "settings/Settings.h"
#include "settings/SettingsPipe.h"
#include "store/EventStore.h"

namespace brantwell {

EventPipeline::EventPipeline(SettingsPipe& settings, EventStore& store, EventAnnouncer* announcer,
                             ActionDispatcher* dispatcher, ReceiverStatistics& statistics)
    : settingsPipe_(settings), store_(store), announcer_(announcer), dispatcher_(dispatcher),
      statistics_(statistics)
{
}

void EventPipeline::begin(double now)
{
    settings_ = settingsPipe_.snapshot();  // one consistent view per round
    if (now != now_ || dateText_.empty()) {
        now_ = now;
        dateText_ = dateFieldText(now);
    }
    kept_ = 0;
}

void EventPipeline::add(std::string_view bytes, const SenderAddress& sender, bool cut)
{
    parseDatagram(bytes, parsed_);
    cut_ += cut || parsed_.cut;
    invalidUtf8_ += parsed_.invalidUtf8;
    if (parsed_.empty) {
        ++empty_;
        return;
    }
    const bool ipv4 = sender.isIpv4();
    if (!settings_->accepts({ipv4 ? sender.ipv4() : 0, parsed_.priority, parsed_.message, !ipv4})) {
        ++filtered_;
        return;
    }
    if (!(sender == lastSender_) || lastSenderText_.empty()) {
        sender.writeText(lastSenderText_);
        lastSender_ = sender;
    }
    std::string& senderText = senderTexts_[kept_];
    senderText.assign(lastSenderText_);
    EventRecord& r = records_[kept_];
    r.date.assign(dateText_);
    r.priority.assign(parsed_.priority);
    if (settings_->bHostsDisplay)
        resolver_.writeHostText(sender, senderText, r.host);  // never waits for the resolver
    else
        r.host.assign(senderText);
    r.message.assign(parsed_.message);
    if (++kept_ == kRoundSize) {
        finish();
        kept_ = 0;  // the next round goes on with the same snapshot and time
    }
}

void EventPipeline::finish()
{
    statistics_.empty.fetch_add(empty_, std::memory_order_relaxed);
    statistics_.filtered.fetch_add(filtered_, std::memory_order_relaxed);
    statistics_.cut.fetch_add(cut_, std::memory_order_relaxed);
    statistics_.invalidUtf8.fetch_add(invalidUtf8_, std::memory_order_relaxed);
    empty_ = filtered_ = cut_ = invalidUtf8_ = 0;
    if (kept_ == 0)
        return;
    const std::span<const EventRecord> events(records_.data(), static_cast<std::size_t>(kept_));
    kept_ = 0;
    const std::size_t written = store_.append(now_, events);
    // Only what is in the store is announced: popups, lists and actions
    // never show an event the store does not hold.
    if (announcer_ && written > 0)
        announcer_->announce(EventType::Set, events.first(written));
    statistics_.stored.fetch_add(written, std::memory_order_relaxed);
    statistics_.unstored.fetch_add(events.size() - written, std::memory_order_relaxed);
    if (forwarder_ && written > 0)
        forwarder_->forward(*settings_, events.first(written),
                            std::span<const std::string>(senderTexts_.data(), written));
    if (dispatcher_) {
        for (std::size_t i = 0; i < written; ++i)
            dispatcher_->dispatch(*settings_, {senderTexts_[i], now_, records_[i]});
    }
}

} // namespace brantwell
