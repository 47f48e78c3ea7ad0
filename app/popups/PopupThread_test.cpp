// Popup alerts with real windows (offscreen) and real sound files: which
// events play and show, the popup's content and place, the spacing of one
// popup after another, the bounded queue, and settings saved while events
// wait.
#include <QtTest>

#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextDocumentFragment>
#include <QTemporaryDir>

#include <cmath>

#include "PopupThread.h"
#include "common/SeverityImages.h"
#include "events/ScanViewEvent.h"

using namespace brantwell;

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

// A short 16-bit mono PCM tone, a real file for the sound players.
void writeWav(const QString& path, int milliseconds = 150)
{
    const quint32 rate = 8000;
    const quint32 samples = rate * static_cast<quint32>(milliseconds) / 1000;
    QByteArray pcm;
    for (quint32 i = 0; i < samples; ++i) {
        const auto v = static_cast<qint16>(8000 * std::sin(2 * M_PI * 440 * i / rate));
        pcm.append(static_cast<char>(v & 0xff)).append(static_cast<char>((v >> 8) & 0xff));
    }
    QByteArray wav;
    QDataStream out(&wav, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + pcm.size());
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << rate << quint32(rate * 2) << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(pcm.size());
    out.writeRawData(pcm.constData(), static_cast<int>(pcm.size()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(wav);
}

EventRecord record(const std::string& priority, const std::string& message = "m")
{
    return {"1700000000", priority, "10.0.0.9", message};
}

QColor bandColour(PopupView* popup)
{
    return popup->findChild<PopupViewTitle*>()->grab().toImage().pixelColor(3, 3);
}

QImage imageOf(const QLabel* label)
{
    return label->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class PopupThreadTest : public QObject {
    Q_OBJECT
private:
    AppSettings settings_;
    QTemporaryDir dir_;

    std::unique_ptr<PopupThread> makeThread(std::size_t capacity = kPopupQueueCapacity)
    {
        return std::make_unique<PopupThread>([this]() -> const AppSettings& { return settings_; }, capacity);
    }
    static PopupView* waitForPopup(PopupThread& thread)
    {
        QSignalSpy shown(&thread, &PopupThread::popupShown);
        if (!thread.currentPopup())
            shown.wait(5000);
        return thread.currentPopup();
    }

private Q_SLOTS:
    void init()
    {
        settings_ = AppSettings::defaults();
        settings_.newDateFormat = "yyyy-MM-dd HH:mm:ss";
    }

    void decidesSoundAndPopupBySeverityRows_data()
    {
        QTest::addColumn<QString>("priority");
        QTest::addColumn<std::vector<std::string>>("display");
        QTest::addColumn<std::vector<std::string>>("play");
        QTest::addColumn<qint64>("popupEvents");
        QTest::addColumn<QString>("sound");
        QTest::addColumn<bool>("plays");
        QTest::addColumn<bool>("shows");
        using V = std::vector<std::string>;
        const QString wav = QStringLiteral("/tmp/a.wav");
        QTest::newRow("Error chosen, Mail.Error") << "Mail.Error" << V{"Error"} << V{} << 5ll << wav << false << true;
        QTest::newRow("Error chosen, Mail.Warning") << "Mail.Warning" << V{"Error"} << V{"Error"} << 5ll << wav << false << false;
        QTest::newRow("Unknown not chosen") << "Unknown" << V{"Error"} << V{"Error"} << 5ll << wav << false << false;
        QTest::newRow("Unknown chosen") << "Unknown" << V{"Unknown"} << V{"Unknown"} << 5ll << wav << true << true;
        QTest::newRow("Alert.Error plays for Alert") << "Alert.Error" << V{} << V{"Alert"} << 5ll << wav << true << false;
        QTest::newRow("Alert.Error plays for Error") << "Alert.Error" << V{} << V{"Error"} << 5ll << wav << true << false;
        QTest::newRow("Alert.Error, neither") << "Alert.Error" << V{"Warning"} << V{"Debug"} << 5ll << wav << false << false;
        QTest::newRow("Alert.Error is no Unknown") << "Alert.Error" << V{"Unknown"} << V{"Unknown"} << 5ll << wav << false << false;
        QTest::newRow("Informational by its popup name") << "Local4.Informational" << V{"Information"} << V{} << 5ll << wav << false << true;
        QTest::newRow("Debug among others") << "User.Debug" << V{"Notice", "Debug"} << V{"Critical"} << 5ll << wav << false << true;
        QTest::newRow("display time 0 shows nothing") << "Mail.Error" << V{"Error"} << V{"Error"} << 0ll << wav << true << false;
        QTest::newRow("negative display time") << "Mail.Error" << V{"Error"} << V{} << -3ll << wav << false << false;
        QTest::newRow("no sound file plays nothing") << "Mail.Error" << V{"Error"} << V{"Error"} << 1ll << QString() << false << true;
        QTest::newRow("case matters") << "Mail.error" << V{"Error"} << V{"Error"} << 1ll << wav << false << false;
    }
    void decidesSoundAndPopupBySeverityRows()
    {
        QFETCH(QString, priority);
        QFETCH(std::vector<std::string>, display);
        QFETCH(std::vector<std::string>, play);
        QFETCH(qint64, popupEvents);
        QFETCH(QString, sound);
        QFETCH(bool, plays);
        QFETCH(bool, shows);
        settings_.popupDisplayArray = display;
        settings_.popupPlayArray = play;
        settings_.iPopupEvents = popupEvents;
        settings_.popupSound = sound.toStdString();
        const PopupChoice choice = decide(settings_, priority.toStdString());
        QCOMPARE(choice.play, plays);
        QCOMPARE(choice.show, shows);
    }

    void headerIsTheTextAfterTheFirstDot_data()
    {
        QTest::addColumn<QString>("priority");
        QTest::addColumn<QString>("header");
        QTest::newRow("facility and severity") << "Mail.Error" << "Error";
        QTest::newRow("no dot") << "Unknown" << "Unknown";
        QTest::newRow("dot first") << ".Error" << ".Error";
        QTest::newRow("two dots") << "a.b.c" << "b.c";
        QTest::newRow("dot last") << "Mail." << "";
    }
    void headerIsTheTextAfterTheFirstDot()
    {
        QFETCH(QString, priority);
        QFETCH(QString, header);
        QCOMPARE(popupHeaderText(priority.toStdString()), header);
    }

    // Classes come from the in-memory settings: row 2 (Alert) severe, row 4
    // (Error) normal, so an Alert.Error popup is red with the "Severe"
    // image, whatever any other store of preferences holds.
    // The title reads at 4.5:1 or better on every band, including the
    // colour of a value that is no display class.
    void theTitleReadsOnEveryBand()
    {
        for (const std::int64_t displayClass : {0, 1, 2, 7}) {
            const QColor band = PopupView::classColour(displayClass);
            const double ratio = PopupView::contrastRatio(band, PopupView::titleTextColour(band));
            QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("class %1: %2:1").arg(displayClass).arg(ratio)));
        }
        // The measure itself: black on white is 21:1, white on the amber band about 1.5:1.
        QCOMPARE(qRound(PopupView::contrastRatio(Qt::black, Qt::white)), 21);
        QVERIFY(PopupView::contrastRatio(Qt::white, PopupView::classColour(1)) < 2.0);
    }

    void popupShowsTheRowImageTheBandAndTheEventAtTheBottomRight()
    {
        settings_.iSeverity[1] = 2;
        settings_.iSeverity[3] = 0;
        settings_.iPopupEvents = 30;
        settings_.popupDisplayArray = {"Error"};
        auto thread = makeThread();
        thread->append({"1700000000", "Alert.Error", "router-7", "link down, port 3"});
        PopupView* popup = waitForPopup(*thread);
        QVERIFY(popup);
        QVERIFY(popup->height() < popup->fullSize().height());  // rising from 0
        QVERIFY(popup->windowFlags().testFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus));
        QVERIFY(popup->testAttribute(Qt::WA_ShowWithoutActivating));

        QCOMPARE(popup->findChild<QLabel*>(QStringLiteral("popupHeader"))->text(), QStringLiteral("Error"));
        QCOMPARE(imageOf(popup->findChild<QLabel*>(QStringLiteral("popupImage"))),
                 severityIcon(DisplayClass::Severe).pixmap(48, 48).toImage().convertToFormat(QImage::Format_ARGB32));
        QCOMPARE(popup->findChild<QPlainTextEdit*>(QStringLiteral("popupDetails"))->toPlainText(),
                 QStringLiteral("Date: 2023-11-14 23:13:20\nPriority: Alert.Error\nHost: router-7\n\n"
                                "Message:\nlink down, port 3"));
        QVERIFY(!popup->findChild<QLabel*>(QStringLiteral("popupNotShown")));

        QTRY_COMPARE_WITH_TIMEOUT(popup->height(), popup->fullSize().height(), 5000);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(popup->geometry().bottomRight(), area.bottomRight());
        const QImage drawn = popup->grab().toImage();
        QCOMPARE(drawn.pixelColor(3, 3), QColor(204, 0, 0));
        QVERIFY(drawn.pixelColor(3, PopupView::kTitleHeight + 3) != QColor(204, 0, 0));

        // The link opens the event on its own, without Up and Down.
        auto* about = popup->findChild<QLabel*>(QStringLiteral("popupAbout"));
        QCOMPARE(QTextDocumentFragment::fromHtml(about->text()).toPlainText(),
                 QStringLiteral("Learn more about this event..."));
        Q_EMIT about->linkActivated(QStringLiteral("about"));
        ScanViewEvent* details = popup->detailsWindow();
        QVERIFY(details && details->isVisible());
        QVERIFY(details->isModal());
        QVERIFY(!details->findChild<QPushButton*>(QStringLiteral("eventUp"))->isVisible());
        QVERIFY(!details->findChild<QPushButton*>(QStringLiteral("eventDown"))->isVisible());
        QCOMPARE(details->findChild<QLabel*>(QStringLiteral("eventDate"))->text(), QStringLiteral("2023-11-14 23:13:20"));
        QCOMPARE(details->findChild<QPlainTextEdit*>(QStringLiteral("eventMessage"))->toPlainText(),
                 QStringLiteral("link down, port 3"));
        details->close();

        // Closed another way than by its time: the next event still comes.
        QSignalSpy handled(thread.get(), &PopupThread::handled);
        thread->append(record("Mail.Error", "second"));
        QVERIFY(!handled.wait(400));  // waits behind the popup on screen
        popup->close();
        QVERIFY(handled.wait(5000));
        QCOMPARE(handled.at(0).at(0).value<EventRecord>().message, std::string("second"));
    }

    // Each popup rises 1 s, stays 1 s, sinks 1 s, and the next follows 0.2 s
    // after it closed: 3.2 s from one appearance to the next at the least.
    void threeEventsShowThreePopupsOneAfterAnother()
    {
        settings_.iPopupEvents = 1;
        settings_.popupDisplayArray = {"Error", "Critical"};
        auto thread = makeThread();
        QElapsedTimer clock;
        std::vector<std::pair<qint64, std::string>> shown;
        int mostOnScreen = 0;
        connect(thread.get(), &PopupThread::popupShown, this, [&](PopupView* popup) {
            shown.emplace_back(clock.elapsed(), popup->popupDict().message);
            int onScreen = 0;
            for (QWidget* w : QApplication::topLevelWidgets())
                onScreen += qobject_cast<PopupView*>(w) && w->isVisible() ? 1 : 0;
            mostOnScreen = std::max(mostOnScreen, onScreen);
        });
        clock.start();
        thread->append(record("User.Error", "one"));
        thread->append(record("Kern.Critical", "two"));
        thread->append(record("User.Error", "three"));
        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), std::size_t(3), 30000);
        QCOMPARE(shown[0].second, std::string("one"));
        QCOMPARE(shown[1].second, std::string("two"));
        QCOMPARE(shown[2].second, std::string("three"));
        QCOMPARE(mostOnScreen, 1);
        for (std::size_t i = 1; i < shown.size(); ++i) {
            const qint64 gap = shown[i].first - shown[i - 1].first;
            QVERIFY2(gap >= 3150 && gap <= 7000, qPrintable(QStringLiteral("gap %1 ms").arg(gap)));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!thread->currentPopup(), 10000);
    }

    void soundWithoutPopupsHandlesEventsAFifthOfASecondApart()
    {
        const QString wav = dir_.filePath(QStringLiteral("alert.wav"));
        writeWav(wav);
        settings_.popupSound = wav.toStdString();
        settings_.popupPlayArray = {"Warning"};
        settings_.popupDisplayArray = {"Warning"};
        settings_.iPopupEvents = 0;
        auto thread = makeThread();
        QSignalSpy loaded(thread->soundPlayer(), &SoundPlayer::loaded);
        QSignalSpy failed(thread->soundPlayer(), &SoundPlayer::failed);
        QElapsedTimer clock;
        std::vector<qint64> times;
        connect(thread.get(), &PopupThread::handled, this, [&](const EventRecord&, bool played, bool shown) {
            QVERIFY(played);
            QVERIFY(!shown);
            times.push_back(clock.elapsed());
        });
        clock.start();
        for (int i = 0; i < 4; ++i)
            thread->append(record("Daemon.Warning"));
        thread->append(record("Daemon.Notice"));  // chosen for nothing: not queued
        QCOMPARE(thread->queued(), std::size_t(4));
        QTRY_COMPARE_WITH_TIMEOUT(times.size(), std::size_t(4), 10000);
        for (std::size_t i = 1; i < times.size(); ++i)
            QVERIFY2(times[i] - times[i - 1] >= 195 && times[i] - times[i - 1] <= 1500,
                     qPrintable(QStringLiteral("gap %1 ms").arg(times[i] - times[i - 1])));
        QVERIFY(!thread->currentPopup());
        // The file was decoded for real.
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 5000);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(loaded.at(0).at(0).toString(), wav);
    }

    // Both players decode a real file: a .wav through the sound effect, any
    // other name through the media player (which looks at the content).
    void aRealSoundFileIsDecodedByEitherPlayer_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("wav") << "tone.wav";
        QTest::newRow("other name") << "tone.oga";
    }
    void aRealSoundFileIsDecodedByEitherPlayer()
    {
        QFETCH(QString, name);
        const QString path = dir_.filePath(name);
        writeWav(path);
        SoundPlayer player;
        QSignalSpy loaded(&player, &SoundPlayer::loaded);
        QSignalSpy failed(&player, &SoundPlayer::failed);
        player.play(path);
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty() || !failed.isEmpty(), 10000);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(loaded.at(0).at(0).toString(), path);
    }

    void aSoundFileThatCannotPlayChangesNoDecision_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("missing wav") << "missing.wav" << QByteArray();
        QTest::newRow("undecodable wav") << "noise.wav" << QByteArray("RIFF\x10\0\0\0WAVEjunkjunkjunk", 24);
        QTest::newRow("missing oga") << "missing.oga" << QByteArray();
        QTest::newRow("undecodable oga") << "noise.oga" << QByteArray("OggS but not really a stream");
    }
    void aSoundFileThatCannotPlayChangesNoDecision()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString path = dir_.filePath(name);
        if (!bytes.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        settings_.popupSound = path.toStdString();
        settings_.popupPlayArray = {"Error"};
        settings_.popupDisplayArray = {"Error"};
        settings_.iPopupEvents = 30;
        auto thread = makeThread();
        QSignalSpy failed(thread->soundPlayer(), &SoundPlayer::failed);
        QSignalSpy handled(thread.get(), &PopupThread::handled);
        thread->append(record("Mail.Error"));
        QVERIFY(waitForPopup(*thread));
        QCOMPARE(handled.count(), 1);
        QCOMPARE(handled.at(0).at(1).toBool(), true);
        QCOMPARE(handled.at(0).at(2).toBool(), true);
        QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty(), 10000);
        QCOMPARE(failed.at(0).at(0).toString(), path);
    }

    // A flapping port: fifty lines of one message raise one popup; the
    // repeats are counted, and another message still gets its own.
    void aBurstOfOneRepeatedMessageRaisesOnePopup()
    {
        settings_.iPopupEvents = 30;
        settings_.popupDisplayArray = {"Error"};
        auto thread = makeThread();
        for (int i = 0; i < 50; ++i)
            thread->append(record("User.Error", "port 7 link down"));
        QCOMPARE(thread->queued(), std::size_t(1));
        QCOMPARE(thread->notShown(), 49);
        PopupView* first = waitForPopup(*thread);
        QVERIFY(first);
        // While it is on screen, more of the same are counted too.
        thread->append(record("User.Error", "port 7 link down"));
        thread->append(record("User.Error", "port 8 link down"));
        QCOMPARE(thread->queued(), std::size_t(1));
        QSignalSpy shown(thread.get(), &PopupThread::popupShown);
        first->close();
        QVERIFY(shown.wait(5000));
        PopupView* second = thread->currentPopup();
        QCOMPARE(second->popupDict().message, std::string("port 8 link down"));
        second->close();
    }

    // Capacity 3: the first event waits for its turn in the queue with two
    // more; the other seven are counted and the first popup says so.
    void aFullQueueCountsWhatItLeavesOutAndTheNextPopupSaysHowMany()
    {
        settings_.iPopupEvents = 30;
        settings_.popupDisplayArray = {"Error"};
        auto thread = makeThread(3);
        for (int i = 0; i < 10; ++i) {
            thread->append(record("User.Error", "event " + std::to_string(i)));
            thread->append(record("User.Debug"));  // not chosen: neither queued nor counted
        }
        QCOMPARE(thread->queued(), std::size_t(3));
        QCOMPARE(thread->notShown(), 7);
        PopupView* first = waitForPopup(*thread);
        QVERIFY(first);
        QCOMPARE(first->popupDict().message, std::string("event 0"));
        auto* note = first->findChild<QLabel*>(QStringLiteral("popupNotShown"));
        QVERIFY(note);
        QVERIFY2(note->text().startsWith(QStringLiteral("7 further events were not shown")), qPrintable(note->text()));
        QCOMPARE(thread->notShown(), 0);

        // Room again for one: it is queued, the one after is counted anew.
        thread->append(record("User.Error", "event 10"));
        thread->append(record("User.Error", "event 11"));
        QCOMPARE(thread->notShown(), 1);
        QSignalSpy shown(thread.get(), &PopupThread::popupShown);
        first->close();
        QVERIFY(shown.wait(5000));
        PopupView* second = thread->currentPopup();
        QCOMPARE(second->popupDict().message, std::string("event 1"));
        note = second->findChild<QLabel*>(QStringLiteral("popupNotShown"));
        QVERIFY(note);
        QVERIFY2(note->text().startsWith(QStringLiteral("1 further event was not shown")), qPrintable(note->text()));
        second->close();
        QVERIFY(shown.wait(5000));
        QVERIFY(!thread->currentPopup()->findChild<QLabel*>(QStringLiteral("popupNotShown")));
    }

    // Saved settings apply whole to the events taken after the save: the
    // class colour and the choice of severities alike.
    void settingsSavedWhileEventsWaitApplyToTheEventsAfterTheSave()
    {
        settings_.iPopupEvents = 30;
        settings_.popupDisplayArray = {"Error"};
        settings_.iSeverity[3] = 0;
        auto thread = makeThread();
        thread->append(record("User.Error", "a"));
        thread->append(record("User.Error", "b"));
        thread->append(record("User.Error", "c"));
        PopupView* popup = waitForPopup(*thread);
        QVERIFY(popup);
        QCOMPARE(bandColour(popup).rgb(), QColor::fromRgbF(0.31f, 0.75f, 0.15f).rgb());

        AppSettings saved = settings_;
        saved.iSeverity[3] = 2;
        settings_ = saved;
        QSignalSpy shown(thread.get(), &PopupThread::popupShown);
        popup->close();
        QVERIFY(shown.wait(5000));
        popup = thread->currentPopup();
        QCOMPARE(popup->popupDict().message, std::string("b"));
        QCOMPARE(bandColour(popup), QColor(204, 0, 0));

        saved.popupDisplayArray = {"Warning"};
        settings_ = saved;
        QSignalSpy handled(thread.get(), &PopupThread::handled);
        popup->close();
        QVERIFY(handled.wait(5000));
        QCOMPARE(handled.at(0).at(0).value<EventRecord>().message, std::string("c"));
        QCOMPARE(handled.at(0).at(2).toBool(), false);
        QVERIFY(!thread->currentPopup());
    }
};

QTEST_MAIN(PopupThreadTest)
#include "PopupThread_test.moc"
