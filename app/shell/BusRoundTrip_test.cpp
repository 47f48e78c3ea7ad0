// Stored lines over the bus and back: the daemon's threads in this process
// (so that its removal pass runs when the test says), a private bus with the
// stock policy, the application's window and `brantwellctl watch` both
// subscribed. Lines with commas, UTF-8, the longest message and a line edited
// by hand with bytes no D-Bus text may hold are announced, and what each
// reader took equals the day files' lines byte for byte.
#include <QtTest>

#include <algorithm>
#include <ctime>

#include <QProcess>

#include <nlohmann/json.hpp>

#include "Daemon.h"
#include "WindowController.h"
#include "events/EventLogReader.h"
#include "testkit/PrivateBus.h"
#include "testkit/StoreDir.h"
#include "testkit/UdpTestClient.h"

using namespace brantwell;

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0, lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1)
        lines.push_back(text.substr(start, lf - start));
    return lines;
}

std::vector<std::string> fileLines(const testkit::StoreDir& store)
{
    std::string text;
    for (const auto& name : eventLogFiles(store.path()))
        text += store.read(name);
    return linesOf(text);
}

std::string withoutLf(std::string line)
{
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    return line;
}

} // namespace

class BusRoundTripTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void announcedLinesReadBackByTheWindowAndWatchEqualTheFiles()
    {
        testkit::PrivateBus bus;
        QVERIFY(!bus.address().isEmpty());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8());
        testkit::StoreDir store;
        // A line edited by hand an hour ago: latin-1, a NUL, commas. Nothing
        // is removed by age yet, so the daemon's own pass at start keeps it.
        const long long hourAgo = static_cast<long long>(std::time(nullptr)) - 3600;
        static constexpr char kRest[] = ",User.Notice,10.0.0.5,caf\xE9, edited by hand, nul \0 inside";
        const std::string edited = std::to_string(hourAgo) + std::string(kRest, sizeof kRest - 1);
        store.write(eventLogFileName(hourAgo), edited + "\n");
        const std::uint16_t port = test::freeUdpPort();
        Daemon daemon(DaemonOptions{store.path(), port, store.path() + "/no-journal"});
        QVERIFY(daemon.start());
        QTRY_VERIFY_WITH_TIMEOUT(daemon.commandChannel().connected(), 10000);

        WindowController window({store.path(), port}, bus.connect(QStringLiteral("window")));
        QSignalSpy announced(window.link(), &DaemonLink::announced);
        QTRY_COMPARE_WITH_TIMEOUT(daemon.commandChannel().subscribers(), std::size_t{1}, 10000);
        QCOMPARE(window.events()->rowCount(), 1);
        QCOMPARE(window.events()->storedLine(0), edited + "\n");
        // Now notices older than a minute go, by the pass below.
        bool merged = false;
        window.link()->mergeSettings({{"removalNotice", 1}, {"removalNoticeUnits", 0}},
                                     [&merged](const QString& failure) { merged = failure.isEmpty(); });
        QTRY_VERIFY_WITH_TIMEOUT(merged, 10000);

        QProcess watch;
        watch.start(QStringLiteral(BRANTWELLCTL_PATH), {QStringLiteral("watch")});
        QVERIFY(watch.waitForStarted(5000));
        QTRY_COMPARE_WITH_TIMEOUT(daemon.commandChannel().subscribers(), std::size_t{2}, 10000);

        daemon.removal().runRound(static_cast<double>(std::time(nullptr)));
        // The longest message: 1,024 bytes, multi-byte characters to the end.
        std::string longest = "longest, ";
        while (longest.size() + 2 <= 1024)
            longest += "\xC3\xBC";  // ü
        longest.resize(1024, '.');
        const std::string sent[] = {"a, b,, c,", "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x8C\x8D \xE2\x80\x94 ok", longest};
        test::UdpSender sender;
        for (const auto& message : sent)
            sender.send(port, "<13>" + message);

        // The files: the edited line gone, the three new ones stored.
        QTRY_COMPARE_WITH_TIMEOUT(fileLines(store).size(), std::size_t{3}, 10000);
        const auto stored = fileLines(store);
        QVERIFY(std::none_of(stored.begin(), stored.end(), [&](const auto& l) { return l == edited; }));
        for (std::size_t i = 0; i < 3; ++i)
            QVERIFY2(stored[i].ends_with(",User.Notice,127.0.0.1," + sent[i]), stored[i].c_str());

        // The application: what the signals brought, and the list.
        QTRY_COMPARE_WITH_TIMEOUT(window.events()->rowCount(), 3, 10000);
        std::vector<std::string> setLines, removeLines;
        for (const auto& signal : announced)
            for (const auto& a : signal.first().value<std::vector<Announcement>>())
                (a.type == Announcement::Type::Set ? setLines : removeLines).push_back(withoutLf(formatEventLine(a.record)));
        QCOMPARE(removeLines, std::vector<std::string>{edited});
        QCOMPARE(setLines, stored);
        std::vector<std::string> listed;
        for (int row = window.events()->rowCount(); row-- > 0;)
            listed.push_back(withoutLf(window.events()->storedLine(row)));
        QCOMPARE(listed, stored);

        // brantwellctl watch: each event as its type and the stored line.
        std::vector<std::string> expected{"Remove " + edited};
        for (const auto& line : stored)
            expected.push_back("Set " + line);
        std::string printed;
        QTRY_VERIFY_WITH_TIMEOUT((printed += watch.readAllStandardOutput().toStdString(), linesOf(printed).size() >= 4),
                                 10000);
        QCOMPARE(linesOf(printed), expected);
        watch.terminate();
        QVERIFY(watch.waitForFinished(5000));
    }
};

QTEST_MAIN(BusRoundTripTest)
#include "BusRoundTrip_test.moc"
