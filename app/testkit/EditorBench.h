// What an editor test needs around a page: a private bus with a peer that
// takes the "save" command in the daemon's place, the application's link
// to it, and a scratch data directory with a settings file.
#pragma once

#include <memory>

#include <QtTest>

#include <nlohmann/json.hpp>

#include "editors/EditorPage.h"
#include "events/DaemonLink.h"
#include "common/AppSettings.h"
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

    // The settings dictionary the n-th command the peer received leaves in
    // the file: a "save" sends it whole, a "merge" lays its keys over the
    // file as the daemon does.
    nlohmann::json saved(qsizetype n = 0) const
    {
        if (n >= peer->commands.size())
            return nullptr;
        const auto command = nlohmann::json::parse(peer->commands[n].toStdString(), nullptr, false);
        if (!command.is_object() || !command.contains("Settings") || !command["Settings"].is_object())
            return nullptr;
        const std::string name = command.value("command", "");
        if (name == "save")
            return command["Settings"];
        if (name != "merge")
            return nullptr;
        nlohmann::json file = readSettings(store.path()).value_or(nlohmann::json::object());
        if (!file.is_object())
            file = nlohmann::json::object();
        for (const auto& [key, value] : command["Settings"].items())
            file[key] = value;
        return file;
    }

    // The keys the n-th command sent, as sent.
    nlohmann::json sentKeys(qsizetype n = 0) const
    {
        if (n >= peer->commands.size())
            return nullptr;
        const auto command = nlohmann::json::parse(peer->commands[n].toStdString(), nullptr, false);
        return command.is_object() ? command.value("Settings", nlohmann::json()) : nlohmann::json();
    }

    // A page of type Page on `settings` (no settings file when null), shown.
    template <typename Page>
    std::unique_ptr<Page> open(const nlohmann::json* settings)
    {
        if (settings)
            store.writeSettings(*settings);
        auto page = std::make_unique<Page>(EditorContext{store.path(), link.get()});
        page->resize(1000, 700);
        page->show();
        return page;
    }

    // Presses Save and waits until the page returns; the settings sent
    // (null when the page did not return).
    nlohmann::json save(EditorPage& page) const
    {
        const auto before = peer->commands.size();
        QSignalSpy closed(&page, &EditorPage::closeRequested);
        page.saveButton()->click();
        if (!QTest::qWaitFor([&] { return closed.count() == 1; }, 5000))
            return nullptr;
        return saved(before);
    }

    // A control of `w` by object name; the test stops when there is none.
    template <typename T>
    static T* control(QWidget& w, const QString& name)
    {
        auto* c = w.findChild<T*>(name);
        if (!c)
            qFatal("no control %s", qPrintable(name));
        return c;
    }

    PrivateBus bus;
    StoreDir store;
    std::unique_ptr<BusPeer> peer;
    std::unique_ptr<DaemonLink> link;
};

} // namespace brantwell::testkit
