// What an editor test needs around a page: a private bus with a peer that
// takes the "save" command in the daemon's place, the application's link
// to it, and a scratch data directory with a settings file.
#pragma once

#include <memory>

#include <QtTest>

#include <nlohmann/json.hpp>

#include "events/DaemonLink.h"
#include "testkit/PrivateBus.h"
#include "testkit/StoreDir.h"

namespace brantwell::testkit {

class EditorBench {
public:
    EditorBench()
    {
        static int n = 0;
        ++n;
        peer = std::make_unique<BusPeer>(bus.connect(QStringLiteral("peer%1").arg(n)));
        link = std::make_unique<DaemonLink>(bus.connect(QStringLiteral("app%1").arg(n)));
    }

    // The settings dictionary of the n-th command the peer received.
    nlohmann::json saved(qsizetype n = 0) const
    {
        if (n >= peer->commands.size())
            return nullptr;
        const auto command = nlohmann::json::parse(peer->commands[n].toStdString(), nullptr, false);
        if (!command.is_object() || command.value("command", "") != "save")
            return nullptr;
        return command["Settings"];
    }

    PrivateBus bus;
    StoreDir store;
    std::unique_ptr<BusPeer> peer;
    std::unique_ptr<DaemonLink> link;
};

} // namespace brantwell::testkit
