// The filter fields as the filter and action editors show them: what a new
// record holds, what the "any" buttons set, and that opening a stored record
// and taking it back unchanged gives the same texts, also texts that are
// none of the list entries.
#include <QtTest>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "editors/FilterFields.h"

using namespace brantwell;
using nlohmann::json;

Q_DECLARE_METATYPE(json)

class FilterFieldsTest : public QObject {
    Q_OBJECT
private:
    static QLineEdit* line(FilterFields& f, const char* name)
    {
        return f.findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    static QComboBox* list(FilterFields& f, const char* name)
    {
        return f.findChild<QComboBox*>(QString::fromLatin1(name));
    }
    static void click(FilterFields& f, const char* name)
    {
        f.findChild<QPushButton*>(QString::fromLatin1(name))->click();
    }

private Q_SLOTS:
    void listsStartWithTheMatchAllEntryAndHoldEachNameOnce()
    {
        QStringList facilities = FilterFields::facilityEntries();
        QCOMPARE(facilities.first(), QStringLiteral("*"));
        QCOMPARE(facilities.removeDuplicates(), 0);
        for (const char* name : {"Kernel", "Security", "Clock", "Alert", "Local7"})
            QVERIFY2(facilities.contains(QString::fromLatin1(name)), name);
        QCOMPARE(facilities.size(), 1 + 22);  // 24 codes, two names used twice
        QCOMPARE(FilterFields::severityEntries(),
                 (QStringList{"*", "Emergency", "Alert", "Critical", "Error", "Warning", "Notice",
                              "Informational", "Debug"}));
    }

    void aNewRecordTakenUnchangedIsTheMatchAllFilter()
    {
        FilterFields f;
        f.showNew();
        QVERIFY(line(f, "filterName")->isEnabled());
        QCOMPARE(f.record(), (json{{"Name", "New Filter"}, {"IP", "0.0.0.0"}, {"Mask", "0"},
                                   {"Facility", "*"}, {"Severity", "*"}, {"Message", "*"}}));
    }

    void anyButtonsResetTheirFieldsAndTellOfTheEdit()
    {
        FilterFields f;
        f.showRecord({{"Name", "r"}, {"IP", "10.1.0.0"}, {"Mask", "16"}, {"Facility", "Mail"},
                      {"Severity", "Error"}, {"Message", "disk*"}});
        QSignalSpy edited(&f, &FilterFields::edited);
        click(f, "anyHost");
        QCOMPARE(f.record()["IP"], json("0.0.0.0"));
        QCOMPARE(f.record()["Mask"], json("0"));  // text, not a number
        QCOMPARE(f.record()["Facility"], json("Mail"));
        click(f, "anyFacility");
        click(f, "anySeverity");
        click(f, "anyMessage");
        QCOMPARE(edited.count(), 4);
        QCOMPARE(f.record(), (json{{"Name", "r"}, {"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"},
                                   {"Severity", "*"}, {"Message", "*"}}));
    }

    void aStoredRecordComesBackAsItWasStored_data()
    {
        QTest::addColumn<json>("stored");
        QTest::addColumn<json>("taken");
        const json plain{{"Name", "routers"}, {"IP", "192.168.1.0"}, {"Mask", "24"},
                         {"Facility", "Local4"}, {"Severity", "Warning"}, {"Message", "*link down*"}};
        QTest::newRow("list entries") << plain << plain;
        json typed = plain;
        typed["Facility"] = "Local*";
        typed["Severity"] = "err?r";
        QTest::newRow("patterns that are no entry") << typed << typed;
        json lower = plain;
        lower["Severity"] = "warning";  // differs from the entry only in case
        QTest::newRow("entry text in another case") << lower << lower;
        json numbers = plain;
        numbers["Mask"] = 24;  // written by hand as a number
        QTest::newRow("mask stored as a number") << numbers << plain;
        json text = plain;
        text["Mask"] = "24 bits";
        // Shown as stored (and refused until put right), not quietly read as 24.
        QTest::newRow("mask that is no number stays as stored") << text << text;
    }
    void aStoredRecordComesBackAsItWasStored()
    {
        QFETCH(json, stored);
        QFETCH(json, taken);
        FilterFields f;
        f.showRecord(stored);
        QVERIFY(!line(f, "filterName")->isEnabled());  // the name is fixed once made
        QCOMPARE(f.record(), taken);
    }

    void writingIntoAnActionRecordKeepsItsCommands()
    {
        FilterFields f;
        json action{{"Name", "page me"}, {"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"},
                    {"Severity", "Emergency"}, {"Message", "*"},
                    {"sendEmail", {{"Recipients", {"ops@example.net"}}}}};
        f.showRecord(action);
        list(f, "filterSeverity")->setCurrentIndex(list(f, "filterSeverity")->findText("Alert"));
        f.writeInto(action);
        QCOMPARE(action["Severity"], json("Alert"));
        QCOMPARE(action["sendEmail"]["Recipients"][0], json("ops@example.net"));
    }

    void aRecordWithMissingOrOddValuesOpensWithoutLoss()
    {
        FilterFields f;
        f.showRecord({{"Name", 7}, {"IP", nullptr}, {"Mask", json::array()}});
        const json r = f.record();
        QCOMPARE(r["Name"], json("7"));
        QCOMPARE(r["IP"], json(""));
        QCOMPARE(r["Mask"], json(""));
        QVERIFY(!f.isValid());  // no address, no mask, no patterns
        f.showRecord(json("not a record"));
        QCOMPARE(f.record()["Name"], json(""));
    }
};

QTEST_MAIN(FilterFieldsTest)
#include "FilterFields_test.moc"
