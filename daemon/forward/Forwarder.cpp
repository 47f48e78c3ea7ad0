#include "Forwarder.h"

#include <chrono>

#include "RecordTest.h"
#include "settings/SettingsPipe.h"
#include "util/FileUtil.h"

namespace brantwell {

namespace {

const char* transportName(ForwardTransport t)
{
    return t == ForwardTransport::Udp ? "udp" : t == ForwardTransport::Tls ? "tls" : "tcp";
}

} // namespace

Forwarder::Forwarder(SettingsPipe& settings, std::string dataDirectory)
    : settings_(settings), dataDirectory_(std::move(dataDirectory)),
      active_(std::make_shared<const DestinationList>())
{
}

Forwarder::~Forwarder()
{
    stop();
}

std::string Forwarder::queueFolder(const std::string& dataDirectory, const std::string& name)
{
    return joinPath(joinPath(dataDirectory, "forward"), forwardingFolderName(name));
}

void Forwarder::start()
{
    apply(*settings_.snapshot());
    follower_ = std::jthread([this](std::stop_token stop) { follow(stop); });
}

void Forwarder::stop()
{
    if (follower_.joinable()) {
        follower_.request_stop();
        follower_.join();
    }
    std::lock_guard lock(applyMutex_);
    const auto list = active_.exchange(std::make_shared<const DestinationList>());
    for (const auto& d : *list)
        d->stop();
}

void Forwarder::refresh()
{
    apply(*settings_.snapshot());
}

void Forwarder::follow(std::stop_token stop)
{
    // A save publishes a new snapshot; looking four times a second keeps
    // the bus thread and the receivers out of starting and stopping.
    std::mutex m;
    std::condition_variable_any wake;
    while (!stop.stop_requested()) {
        {
            std::unique_lock lock(m);
            wake.wait_for(lock, stop, std::chrono::milliseconds(250), [] { return false; });
        }
        if (stop.stop_requested())
            break;
        apply(*settings_.snapshot());
    }
}

void Forwarder::apply(const Settings& settings)
{
    std::lock_guard lock(applyMutex_);
    if (settings.generation == generation_)
        return;
    generation_ = settings.generation;
    const auto old = active_.load();
    auto next = std::make_shared<DestinationList>();
    std::vector<std::shared_ptr<Destination>> started;
    for (const auto& config : settings.destinations) {
        std::shared_ptr<Destination> kept;
        for (const auto& d : *old)
            if (d->config()->name == config.name)
                kept = d;
        auto shared = std::make_shared<const ForwardingDestination>(config);
        if (kept) {
            // Same name: the same queue. A changed record restarts its
            // threads; lines handed over meanwhile wait in memory.
            if (kept->config()->key != config.key)
                kept->reconfigure(std::move(shared));
            next->push_back(kept);
            continue;
        }
        auto& counters = counters_[config.name];
        if (!counters)
            counters = std::make_shared<DestinationCounters>();
        auto d = std::make_shared<Destination>(std::move(shared), queueFolder(dataDirectory_, config.name), counters);
        d->start();
        next->push_back(std::move(d));
    }
    active_.store(next);
    // Those no longer in the settings stop (a receiver may still hold the
    // old list for one round: what it hands over then is not relayed, as
    // the destination is gone).
    for (const auto& d : *old) {
        bool remains = false;
        for (const auto& n : *next)
            remains = remains || n == d;
        if (!remains)
            d->stop();
    }
}

void Forwarder::forward(const Settings&, std::span<const EventRecord> events, std::span<const std::string> senders)
{
    const auto list = active_.load(std::memory_order_acquire);
    if (list->empty())
        return;
    thread_local std::string lines;
    for (const auto& d : *list) {
        const auto config = d->config();
        lines.clear();
        std::uint64_t count = 0;
        for (std::size_t i = 0; i < events.size(); ++i) {
            const auto& e = events[i];
            if (!config->test.matches(criteriaOf(senders[i], e.priority, e.message)))
                continue;
            appendEventLine(lines, e);
            ++count;
        }
        if (count)
            d->take(lines, count);
    }
}

std::vector<ForwardingStatus> Forwarder::status() const
{
    std::vector<ForwardingStatus> out;
    for (const auto& d : *active_.load()) {
        const auto c = d->config();
        out.push_back({c->name, c->host + ":" + std::to_string(c->port) + " (" + transportName(c->transport) + ")",
                       d->state()});
    }
    return out;
}

} // namespace brantwell
