// The Forwarding page and its destination sheet, driven by object name as
// a user drives them: the reasons beside the fields with Save off, the
// record a sheet builds, and the list the page sends with "merge".
#include <QtTest>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include <nlohmann/json.hpp>

#include "ForwardingRecord.h"
#include "ForwardingSheet.h"
#include "ToolsViewForwarding.h"
#include "testkit/Dialogs.h"
#include "testkit/EditorBench.h"

using namespace brantwell;
using nlohmann::json;
using testkit::child;

namespace {

// The sheet the page has open, once it is shown.
ForwardingSheet* openSheet(QWidget& page)
{
    ForwardingSheet* sheet = nullptr;
    (void)QTest::qWaitFor([&] {
        for (auto* d : page.findChildren<ForwardingSheet*>())
            if (d->isVisible())
                sheet = d;
        return sheet != nullptr;
    });
    return sheet;
}

void type(QWidget* parent, const char* name, const QString& text)
{
    auto* field = child<QLineEdit>(parent, name);
    field->selectAll();
    QTest::keyClicks(field, text);
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Delete);
}

QString problem(QWidget* parent, const char* name)
{
    auto* label = child<QLabel>(parent, name);
    return label->isVisibleTo(parent) ? label->text() : QString();
}

} // namespace

class ToolsViewForwardingTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<testkit::EditorBench> bench_;
    std::unique_ptr<ToolsViewForwarding> page_;

private Q_SLOTS:
    void init() { bench_ = std::make_unique<testkit::EditorBench>(); }
    void cleanup()
    {
        page_.reset();
        bench_.reset();
    }

    // Each field the daemon would refuse says why beside it, and Save stays
    // off until every one is right.
    void refusesWhatTheDaemonCannotUseWithTheReasonBesideTheField()
    {
        ForwardingSheet sheet(nullptr, {QStringLiteral("central")}, nullptr);
        sheet.show();
        auto* save = child<QPushButton>(&sheet, "saveButton");
        QVERIFY(!save->isEnabled());  // no host yet
        QCOMPARE(problem(&sheet, "forwardHostProblem"), QStringLiteral("No host; give the upstream server's name or address"));
        type(&sheet, "forwardHost", QStringLiteral("logs.example.net"));
        QVERIFY(problem(&sheet, "forwardHostProblem").isEmpty());
        QVERIFY(save->isEnabled());

        type(&sheet, "filterName", QStringLiteral("central"));
        QCOMPARE(problem(&sheet, "forwardNameProblem"),
                 QStringLiteral("Another destination is named \"central\"; each needs a name of its own"));
        QVERIFY(!save->isEnabled());
        type(&sheet, "filterName", QStringLiteral("backup"));
        QVERIFY(save->isEnabled());

        type(&sheet, "forwardHost", QStringLiteral("two words"));
        QCOMPARE(problem(&sheet, "forwardHostProblem"), QStringLiteral("\"two words\" is not a host name or address"));
        QVERIFY(!save->isEnabled());
        type(&sheet, "forwardHost", QStringLiteral("192.0.2.10"));

        // TLS files: only for TLS, absolute paths, certificate and key together.
        auto* transport = child<QComboBox>(&sheet, "forwardTransport");
        QVERIFY(!child<QLineEdit>(&sheet, "forwardCaFile")->isEnabled());
        transport->setCurrentIndex(transport->findData(QStringLiteral("tls")));
        QVERIFY(child<QLineEdit>(&sheet, "forwardCaFile")->isEnabled());
        type(&sheet, "forwardCaFile", QStringLiteral("ca.pem"));
        QCOMPARE(problem(&sheet, "forwardFilesProblem"), QStringLiteral("The CA file \"ca.pem\" is not an absolute path"));
        QVERIFY(!save->isEnabled());
        type(&sheet, "forwardCaFile", QStringLiteral("/etc/brantwell/ca.pem"));
        type(&sheet, "forwardCertificateFile", QStringLiteral("/etc/brantwell/client.pem"));
        QCOMPARE(problem(&sheet, "forwardFilesProblem"),
                 QStringLiteral("A client certificate needs both its certificate file and its key file"));
        QVERIFY(!save->isEnabled());
        type(&sheet, "forwardKeyFile", QStringLiteral("/etc/brantwell/client.key"));
        QVERIFY(save->isEnabled());

        // The filter fields' own rule holds here too.
        type(&sheet, "filterMask", QStringLiteral("40"));
        QVERIFY(!save->isEnabled());
        type(&sheet, "filterMask", QStringLiteral("0"));
        QVERIFY(save->isEnabled());

        QTest::mouseClick(save, Qt::LeftButton);
        const json r = sheet.result();
        QVERIFY2(!forwardingRecordProblem(r), r.dump().c_str());
        QCOMPARE(QString::fromStdString(r.dump()),
                 QString::fromStdString(json{{"Name", "backup"}, {"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"},
                                             {"Severity", "*"}, {"Message", "*"}, {"Host", "192.0.2.10"},
                                             {"Port", 6514}, {"Transport", "tls"}, {"Format", "rfc5424"},
                                             {"CaFile", "/etc/brantwell/ca.pem"},
                                             {"CertificateFile", "/etc/brantwell/client.pem"},
                                             {"KeyFile", "/etc/brantwell/client.key"}, {"QueueMegabytes", 256}}
                                            .dump()));
    }

    // A record with only the server's keys opens as "every event", keeps
    // its name and unknown keys, and a change of transport drops what the
    // new one does not use.
    void editsADestinationAndTheListGoesOutWithMerge()
    {
        const json central = {{"Name", "central"}, {"Host", "10.1.1.1"}, {"Port", 601}, {"Transport", "tcp"},
                              {"Format", "rfc3164"}, {"QueueMegabytes", 16}, {"Note", "kept"}};
        const json settings = {{"forwardingArray", json::array({central})}, {"hostsDisplay", true}};
        page_ = bench_->open<ToolsViewForwarding>(&settings);
        auto* table = child<QTableWidget>(page_.get(), "forwardingTable");
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("10.1.1.1:601"));
        QCOMPARE(table->item(0, 3)->text(), QStringLiteral("RFC 3164"));
        QCOMPARE(table->item(0, 4)->text(), QStringLiteral("every event"));
        QVERIFY(!child<QPushButton>(page_.get(), "editDestination")->isEnabled());

        table->selectRow(0);
        QTest::mouseClick(child<QPushButton>(page_.get(), "editDestination"), Qt::LeftButton);
        auto* sheet = openSheet(*page_);
        QVERIFY(sheet);
        QVERIFY(!child<QLineEdit>(sheet, "filterName")->isEnabled());  // the name is its queue's
        QCOMPARE(child<QSpinBox>(sheet, "forwardQueue")->value(), 16);
        child<QComboBox>(sheet, "filterSeverity")->setEditText(QStringLiteral("Error"));
        auto* transport = child<QComboBox>(sheet, "forwardTransport");
        transport->setCurrentIndex(transport->findData(QStringLiteral("udp")));
        QVERIFY(!child<QSpinBox>(sheet, "forwardQueue")->isEnabled());
        QTest::mouseClick(child<QPushButton>(sheet, "saveButton"), Qt::LeftButton);
        QTRY_VERIFY(!sheet->isVisible());
        QCOMPARE(table->item(0, 4)->text(), QStringLiteral("severity Error"));

        // A second destination, then Save: the whole list goes with "merge".
        QTest::mouseClick(child<QPushButton>(page_.get(), "addDestination"), Qt::LeftButton);
        sheet = openSheet(*page_);
        QVERIFY(sheet);
        type(sheet, "filterName", QStringLiteral("backup"));
        type(sheet, "forwardHost", QStringLiteral("backup.example.net"));
        QTest::mouseClick(child<QPushButton>(sheet, "saveButton"), Qt::LeftButton);
        QTRY_COMPARE(table->rowCount(), 2);

        const json sent = bench_->save(*page_);
        QVERIFY(sent.is_object());
        const json list = sent["forwardingArray"];
        QCOMPARE(list.size(), 2u);
        QCOMPARE(list[0]["Transport"], "udp");
        QCOMPARE(list[0]["Severity"], "Error");
        QCOMPARE(list[0]["Note"], "kept");
        QVERIFY(!list[0].contains("QueueMegabytes"));
        QCOMPARE(list[1]["Name"], "backup");
        QCOMPARE(list[1]["Port"], 6514);
        QCOMPARE(sent["hostsDisplay"], true);  // another page's key is left as it was
        QVERIFY(unusableForwardingRecords(sent).empty());

        // Remove takes the chosen one only.
        table->selectRow(0);
        QTest::mouseClick(child<QPushButton>(page_.get(), "removeDestination"), Qt::LeftButton);
        QCOMPARE(page_->forwardingArray().size(), 1u);
        QCOMPARE(page_->forwardingArray()[0]["Name"], "backup");
    }
};

QTEST_MAIN(ToolsViewForwardingTest)
#include "ToolsViewForwarding_test.moc"
