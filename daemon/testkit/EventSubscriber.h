// A subscriber to the daemon's event signals on the test bus, in the test's
// own process: keeps every event and every "missed" count that arrives.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "BusNames.h"
#include "EventRecord.h"
#include "EventSignal.h"
#include "WaitUntil.h"

namespace brantwell::test {

class EventSubscriber {
public:
    using Event = std::map<std::string, std::string>;

    // `subscribe`: call Subscribe (else it only adds match rules, as any
    // connection may). `reading`: process the bus at once (else from
    // resume() on, as a subscriber that has stopped reading). `perSignal`:
    // time spent on each event signal, as a subscriber that reads slowly.
    explicit EventSubscriber(bool subscribe = true, bool reading = true,
                             std::chrono::microseconds perSignal = std::chrono::microseconds::zero())
    {
        // Each stored line read back with the stores' own line parser.
        proxy_->registerSignalHandler(bus::kInterface, bus::kEventSignal, [this, perSignal](sdbus::Signal& signal) {
            if (perSignal > std::chrono::microseconds::zero())
                std::this_thread::sleep_for(perSignal);
            bus::EventSignal read;
            if (!bus::readEventSignal(signal, read))
                return;
            std::lock_guard lock(mutex_);
            forEachStoredLine(read.lines, [&](std::string_view line) {
                if (const auto r = splitEventLine(line))
                    received_.push_back(
                        {{"Type", read.type}, {"Date", r->date}, {"Priority", r->priority}, {"Host", r->host}, {"Message", r->message}});
            });
        });
        proxy_->uponSignal(bus::kEventsDroppedSignal).onInterface(bus::kInterface).call([this](std::uint64_t count) {
            std::lock_guard lock(mutex_);
            told_ += count;
        });
        proxy_->finishRegistration();
        if (subscribe)
            call(bus::kSubscribe);
        if (reading)
            resume();
    }
    ~EventSubscriber()
    {
        if (reading_)
            connection_->leaveEventLoop();
    }

    void resume()
    {
        reading_ = true;
        connection_->enterEventLoopAsync();
    }

    // Subscribe or Unsubscribe; the D-Bus error name, empty when it worked.
    std::string call(const char* method)
    {
        try {
            proxy_->callMethod(method).onInterface(bus::kInterface);
            return {};
        } catch (const sdbus::Error& e) {
            return e.getName();
        }
    }

    std::vector<Event> events()
    {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::size_t count()
    {
        std::lock_guard lock(mutex_);
        return received_.size();
    }
    // The sum of the EventsDropped counts so far.
    std::uint64_t told()
    {
        std::lock_guard lock(mutex_);
        return told_;
    }

    // Waits until at least `n` events have arrived (five seconds at most).
    std::vector<Event> waitFor(std::size_t n, std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        waitUntil([&] { return count() >= n; }, limit);
        return events();
    }

private:
    std::unique_ptr<sdbus::IConnection> connection_ = sdbus::createSystemBusConnection();
    std::unique_ptr<sdbus::IProxy> proxy_ = sdbus::createProxy(*connection_, bus::kService, bus::kObjectPath);
    std::mutex mutex_;
    std::vector<Event> received_;
    std::uint64_t told_ = 0;
    bool reading_ = false;
};

} // namespace brantwell::test
