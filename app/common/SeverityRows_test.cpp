// The severity rows and their first-match rule, and the in-memory settings
// read from the settings file.
#include <QtTest>

#include "AppSettings.h"
#include "events/EventListModel.h"
#include "SeverityRows.h"
#include "testkit/StoreDir.h"

using namespace brantwell;

class SeverityRowsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void placesAPriorityInTheFirstMatchingRow_data()
    {
        QTest::addColumn<QString>("priority");
        QTest::addColumn<int>("row");
        QTest::newRow("Kernel.Emergency") << "Kernel.Emergency" << 0;
        QTest::newRow("facility Alert wins over Error") << "Alert.Error" << 1;
        QTest::newRow("facility Alert wins over Debug") << "Alert.Debug" << 1;
        QTest::newRow("Mail.Critical") << "Mail.Critical" << 2;
        QTest::newRow("User.Error") << "User.Error" << 3;
        QTest::newRow("Local0.Warning") << "Local0.Warning" << 4;
        QTest::newRow("User.Notice") << "User.Notice" << 5;
        QTest::newRow("Local4.Informational") << "Local4.Informational" << 6;
        QTest::newRow("Local7.Debug") << "Local7.Debug" << 7;
        QTest::newRow("Unknown") << "Unknown" << 8;
        QTest::newRow("match is case-sensitive") << "user.error" << 8;
    }
    void placesAPriorityInTheFirstMatchingRow()
    {
        QFETCH(QString, priority);
        QFETCH(int, row);
        QCOMPARE(static_cast<int>(severityRowOf(priority.toStdString())), row);
    }

    void marksAndCountsAlertErrorAsAlert()
    {
        EventListModel model;
        auto classes = AppSettings::defaults().iSeverity;
        classes[1] = 2;  // Alert: severe
        classes[3] = 0;  // Error: normal
        model.setDisplayClasses(classes);
        const EventRecord event{"1700000000", "Alert.Error", "10.0.0.1", "disk"};
        model.addEvents({&event, 1});
        QCOMPARE(model.count(1), 1);
        QCOMPARE(model.count(3), 0);
        QCOMPARE(model.displayClassOf(0), 2);
        const auto counts = model.deleteRows({0});
        QCOMPARE(model.count(1), 0);
        QCOMPARE(counts.size(), std::size_t{1});
    }

    void usesTheDefaultsWithoutASettingsFile()
    {
        testkit::StoreDir store;
        QVERIFY(!readSettings(store.path()).has_value());
        const auto s = AppSettings::defaults();
        const std::array<std::int64_t, kSeverityRows> expected{2, 2, 2, 1, 1, 1, 0, 0, 0};
        QVERIFY(s.iSeverity == expected);
        QCOMPARE(s.iPopupEvents, 0);
        QVERIFY(s.newDateFormat.empty() && s.popupSound.empty());
    }

    void readsEveryKeyAsMissingFromAFileThatIsNotAnObject()
    {
        testkit::StoreDir store;
        store.write("Brantwell.ini", "not json at all");
        const auto dictionary = readSettings(store.path());
        QVERIFY(dictionary.has_value());
        const auto s = AppSettings::fromDictionary(*dictionary);
        for (const auto cls : s.iSeverity)
            QCOMPARE(cls, 0);
        QVERIFY(s.popupDisplayArray.empty());
    }

    void readsTheDisplayAndPopupKeys()
    {
        testkit::StoreDir store;
        store.writeSettings({{"severityEmergency", 1}, {"severityUnknown", "2"},
                             {"dateFormat", "HH:mm AM/PM"}, {"popupEvents", 5},
                             {"popupDisplayArray", {"Alert", "Error"}}, {"popupSound", "/x.oga"}});
        const auto s = AppSettings::fromDictionary(*readSettings(store.path()));
        QCOMPARE(s.iSeverity[0], 1);
        QCOMPARE(s.iSeverity[8], 2);
        QCOMPARE(s.iSeverity[1], 0);  // missing
        QCOMPARE(QString::fromStdString(s.newDateFormat), QStringLiteral("HH:mm AM/PM"));
        QCOMPARE(s.iPopupEvents, 5);
        QCOMPARE(s.popupDisplayArray.size(), std::size_t{2});
        QCOMPARE(QString::fromStdString(s.popupSound), QStringLiteral("/x.oga"));
    }
};

QTEST_MAIN(SeverityRowsTest)
#include "SeverityRows_test.moc"
