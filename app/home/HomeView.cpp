#include "HomeView.h"

#include <cmath>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "common/AppSettings.h"
#include "HomeStatus.h"
#include "BusNames.h"
#include "SettingsValue.h"
#include "common/SeverityImages.h"

namespace brantwell {

namespace {

constexpr std::array<const char*, kSeverityRows> kCountNames = {
    "eventsEmergency", "eventsAlerting", "eventsCritical", "eventsError",  "eventsWarning",
    "eventsNotice",    "eventsInformation", "eventsDebug", "eventsUnknown"};
constexpr std::array<const char*, kSeverityRows> kRowTitles = {
    "Emergency", "Alert", "Critical", "Error", "Warning", "Notice", "Informational", "Debug",
    "Unknown"};
constexpr int kImageSize = 64;
// The chart redraws at most this often however fast events come.
constexpr int kChartMilliseconds = 250;
constexpr int kStatisticsMilliseconds = 5000;
constexpr std::size_t kTopSenders = 10;

// A choice box inside the scrolling page: the wheel scrolls the page
// unless the box has the focus, so scrolling past it changes nothing.
class PageComboBox final : public QComboBox {
public:
    explicit PageComboBox(QWidget* parent) : QComboBox(parent) { setFocusPolicy(Qt::StrongFocus); }

protected:
    void wheelEvent(QWheelEvent* event) override
    {
        if (hasFocus())
            QComboBox::wheelEvent(event);
        else
            event->ignore();
    }
};

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Base).lightness() < 128;
}

QLabel* label(QWidget* parent, const char* objectName, const QString& text = {})
{
    auto* l = new QLabel(text, parent);
    if (objectName)
        l->setObjectName(QString::fromLatin1(objectName));
    return l;
}

} // namespace

QString versionLine()
{
    return QStringLiteral("Linux program %1").arg(QStringLiteral(BRANTWELL_VERSION));
}

HomeView::HomeView(const EventListModel* events, std::string dataDir, QWidget* parent)
    : QWidget(parent), events_(events), dataDir_(std::move(dataDir))
{
    setObjectName(QStringLiteral("homeView"));
    build();
    setEventsStatus();
}

void HomeView::build()
{
    // The page's background is the palette's base colour: white in a light
    // theme, dark in a dark one, so the texts keep their contrast.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    eventsBar_ = new HomeViewBar(QStringLiteral("Status"), this);
    eventsBar_->setObjectName(QStringLiteral("eventsBar"));
    page->addWidget(eventsBar_);

    // The status box, the chart and the statements are taller than the
    // smallest window: the page scrolls rather than squeezing the chart.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("homeScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setBackgroundRole(QPalette::Base);
    auto* content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("homeContent"));
    content->setBackgroundRole(QPalette::Base);
    scroll->setWidget(content);
    page->addWidget(scroll, 1);

    auto* body = new QVBoxLayout(content);
    body->setContentsMargins(20, 12, 20, 12);

    eventsBox_ = new ColorFrame(content);
    eventsBox_->setObjectName(QStringLiteral("eventsBox"));
    auto* boxLayout = new QVBoxLayout(eventsBox_);
    auto* heading = new QHBoxLayout;
    eventsImage_ = label(eventsBox_, "eventsImage");
    eventsImage_->setFixedSize(kImageSize, kImageSize);
    eventsTitle_ = label(eventsBox_, "eventsTitle");
    QFont titleFont = eventsTitle_->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    titleFont.setBold(true);
    eventsTitle_->setFont(titleFont);
    eventsTitle_->setWordWrap(true);
    heading->addWidget(eventsImage_);
    heading->addSpacing(12);
    heading->addWidget(eventsTitle_, 1);
    boxLayout->addLayout(heading);

    eventsInnerBox_ = new ColorFrame(eventsBox_);
    eventsInnerBox_->setObjectName(QStringLiteral("eventsInnerBox"));
    auto* grid = new QGridLayout(eventsInnerBox_);
    grid->setHorizontalSpacing(24);
    for (std::size_t row = 0; row < kSeverityRows; ++row) {
        const int r = static_cast<int>(row % 5);
        const int c = static_cast<int>(row / 5) * 2;
        grid->addWidget(label(eventsInnerBox_, nullptr, QString::fromLatin1(kRowTitles[row]) + QLatin1Char(':')), r, c);
        eventCounts_[row] = label(eventsInnerBox_, kCountNames[row], QStringLiteral("0"));
        eventCounts_[row]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(eventCounts_[row], r, c + 1);
    }
    grid->setColumnStretch(4, 1);
    boxLayout->addWidget(eventsInnerBox_);
    body->addWidget(eventsBox_);
    body->addWidget(buildDashboard(content));

    auto* statuses = new QGridLayout;
    statuses->setContentsMargins(4, 16, 4, 0);
    statuses->addWidget(label(this, nullptr, QStringLiteral("Syslog service:")), 0, 0);
    statusMonitor_ = label(this, "statusMonitor");
    statuses->addWidget(statusMonitor_, 0, 1);
    statuses->addWidget(label(this, nullptr, QStringLiteral("Reception:")), 1, 0, Qt::AlignTop);
    statusReception_ = label(this, "statusReception");
    statusReception_->setWordWrap(true);
    statuses->addWidget(statusReception_, 1, 1);
    statuses->addWidget(label(this, nullptr, QStringLiteral("Automatic actions:")), 2, 0);
    statusActions_ = label(this, "statusActions");
    statuses->addWidget(statusActions_, 2, 1);
    statuses->addWidget(label(this, nullptr, QStringLiteral("Export:")), 3, 0);
    statusExport_ = label(this, "statusExport");
    statuses->addWidget(statusExport_, 3, 1);
    statuses->setColumnStretch(1, 1);
    statuses->setVerticalSpacing(6);
    body->addLayout(statuses);
    // Problems the daemon knows of, each with its reason; dark red on
    // white reads at well above 4.5:1.
    statusWarnings_ = label(this, "statusWarnings");
    statusWarnings_->setWordWrap(true);
    statusWarnings_->setTextFormat(Qt::PlainText);
    statusWarnings_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // On a dark background a light red reads as well.
    statusWarnings_->setStyleSheet(isDark(palette()) ? QStringLiteral("color: #ff8a80; margin-left: 4px; margin-top: 10px;")
                                                     : QStringLiteral("color: #a30000; margin-left: 4px; margin-top: 10px;"));
    statusWarnings_->hide();
    body->addWidget(statusWarnings_);
    body->addStretch(1);

    statusVersion_ = label(this, "statusVersion", versionLine());
    statusVersion_->setAlignment(Qt::AlignRight);
    QPalette grey = statusVersion_->palette();
    grey.setColor(QPalette::WindowText, QColor(128, 128, 128));
    statusVersion_->setPalette(grey);
    body->addWidget(statusVersion_);
}

void HomeView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
    chartDirty_ = true;
    onChartTimer();
    chartTimer_.start();
    askStatistics();
    statisticsTimer_.start();
}

void HomeView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Counting goes on while hidden; only the drawing and the questions stop.
    chartTimer_.stop();
    statisticsTimer_.stop();
}

void HomeView::refresh()
{
    setEventsStatus();
    setActionsStatus();
    setExportStatus();
    setMonitorStatus();
}

void HomeView::setEventsStatus()
{
    std::array<std::int64_t, kSeverityRows> classes{};
    for (std::size_t row = 0; row < kSeverityRows; ++row)
        classes[row] = events_->displayClass(row);
    severityStatus_ = severityStatusOf(events_->counts(), classes, severityStatus_);
    for (std::size_t row = 0; row < kSeverityRows; ++row)
        eventCounts_[row]->setText(QString::number(events_->count(row)));
    const StatusLook& look = statusLook(severityStatus_);
    eventsBox_->setBorderColor(look.outerBox);
    eventsInnerBox_->setBorderColor(look.innerBox);
    eventsTitle_->setText(look.sentence);
    eventsImage_->setPixmap(severityIcon(static_cast<DisplayClass>(severityStatus_))
                                .pixmap(QSize(kImageSize, kImageSize), devicePixelRatioF()));
    eventsImage_->setProperty("imageName", look.image);
    eventsBar_->setStartColor(look.bandStart);
}

void HomeView::setDaemonBus(QDBusConnection bus)
{
    bus_ = std::move(bus);
}

void HomeView::setMonitorStatus()
{
    if (!bus_ || !bus_->isConnected()) {
        showDaemonStatus({}, QStringLiteral("no connection to the system bus"));
        return;
    }
    // One question at a time; a refresh meanwhile asks again after it.
    if (asking_) {
        askAgain_ = true;
        return;
    }
    asking_ = true;
    auto call = QDBusMessage::createMethodCall(QString::fromLatin1(bus::kService), QString::fromLatin1(bus::kObjectPath),
                                               QString::fromLatin1(bus::kInterface),
                                               QString::fromLatin1(bus::kGetStatus));
    // Asked without waiting: the page never stops for a daemon that hangs.
    auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        asking_ = false;
        const QDBusMessage reply = w->reply();
        QMap<QString, QString> status;
        QString failure;
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            reply.arguments().constFirst().value<QDBusArgument>() >> status;
        else if (reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown")
                 || reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"))
            failure = QStringLiteral("BrantwellSrv is not running");
        else
            failure = QStringLiteral("BrantwellSrv does not answer: %1").arg(reply.errorMessage());
        showDaemonStatus(status, failure);
        if (askAgain_) {
            askAgain_ = false;
            setMonitorStatus();
        }
    });
}

void HomeView::showDaemonStatus(const QMap<QString, QString>& status, const QString& failure)
{
    if (!failure.isEmpty()) {
        statusMonitor_->setText(QStringLiteral("Stopped (%1)").arg(failure));
        statusReception_->setText(QStringLiteral("No events are received while the daemon does not run."));
        statusWarnings_->hide();
        return;
    }
    statusMonitor_->setText(QStringLiteral("Running"));
    QStringList reception;
    for (const auto& [key, name] : {std::pair{"udp", "UDP"}, {"tcp", "TCP"}, {"tls", "TLS"}}) {
        const QString state = status.value(QLatin1String(key) + QStringLiteral("Reception"));
        const QString detail = status.value(QLatin1String(key) + QStringLiteral("ReceptionDetail"));
        if (state.isEmpty())
            continue;  // a daemon that does not tell
        if (state == QStringLiteral("receiving"))
            reception << QStringLiteral("%1: receiving%2").arg(QLatin1String(name), detail.isEmpty() ? QString() : QStringLiteral(" on ") + detail);
        else if (state == QStringLiteral("off"))
            reception << QStringLiteral("%1: off").arg(QLatin1String(name));
        else
            reception << QStringLiteral("%1: not receiving%2").arg(QLatin1String(name), detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + QLatin1Char(')'));
    }
    statusReception_->setText(reception.isEmpty() ? QStringLiteral("Not told by the daemon") : reception.join(QLatin1Char('\n')));
    QStringList warnings;
    for (const auto& [key, what] : {std::pair{"textExportProblem", "Text export"},
                                    {"databaseExportProblem", "Database export"},
                                    {"mailProblem", "E-mail"},
                                    {"forwardingProblem", "Forwarding"}}) {
        const QString text = status.value(QLatin1String(key));
        if (!text.isEmpty())
            warnings << QStringLiteral("Warning: %1: %2").arg(QLatin1String(what), text);
    }
    statusWarnings_->setText(warnings.join(QLatin1Char('\n')));
    statusWarnings_->setVisible(!warnings.isEmpty());
}

void HomeView::setActionsStatus()
{
    const auto settings = readSettings(dataDir_);
    bool hasActions = false;
    if (settings) {
        const auto it = settings->find(std::string(key::actionsArray));
        hasActions = it != settings->end() && it->is_array() && !it->empty();
    }
    statusActions_->setText(actionsStatement(settings.has_value(), hasActions));
}

void HomeView::setExportStatus()
{
    const auto settings = readSettings(dataDir_);
    const nlohmann::json& s = settings ? *settings : nlohmann::json::object();
    statusExport_->setText(exportStatement(settings.has_value(),
                                           readInteger(s, key::textInterval).value_or(0),
                                           readInteger(s, key::databaseInterval).value_or(0)));
}

} // namespace brantwell

namespace brantwell {

QWidget* HomeView::buildDashboard(QWidget* parent)
{
    auto* box = new QWidget(parent);
    box->setObjectName(QStringLiteral("dashboard"));
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 12, 0, 0);

    chartModel_ = new EventChartModel(events_, this);
    connect(chartModel_, &EventChartModel::changed, this, [this] { chartDirty_ = true; });

    auto* heading = new QHBoxLayout;
    auto* title = label(box, "chartTitle", QStringLiteral("Events over time"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    heading->addWidget(title);
    heading->addSpacing(12);
    spanBox_ = new PageComboBox(box);
    spanBox_->setObjectName(QStringLiteral("chartSpan"));
    spanBox_->addItem(QStringLiteral("Last hour, per minute"), static_cast<int>(ChartSpan::Hour));
    spanBox_->addItem(QStringLiteral("Last day, per 15 minutes"), static_cast<int>(ChartSpan::Day));
    spanBox_->addItem(QStringLiteral("Last 30 days, per day"), static_cast<int>(ChartSpan::Month));
    spanBox_->setAccessibleName(QStringLiteral("Time span of the chart"));
    heading->addWidget(spanBox_);
    stackingBox_ = new PageComboBox(box);
    stackingBox_->setObjectName(QStringLiteral("chartStacking"));
    stackingBox_->addItem(QStringLiteral("By display class"));
    stackingBox_->addItem(QStringLiteral("By severity"));
    stackingBox_->setAccessibleName(QStringLiteral("What the bars are divided by"));
    heading->addWidget(stackingBox_);
    heading->addStretch(1);
    rate_ = label(box, "chartRate");
    rate_->setToolTip(QStringLiteral("Events dated within the last minute, per second"));
    heading->addWidget(rate_);
    layout->addLayout(heading);

    auto* row = new QHBoxLayout;
    chart_ = new EventChart(box);
    row->addWidget(chart_, 1);
    auto* senders = new QVBoxLayout;
    sendersTitle_ = label(box, "topSendersTitle");
    senders->addWidget(sendersTitle_);
    topSenders_ = new QTreeWidget(box);
    topSenders_->setObjectName(QStringLiteral("topSenders"));
    topSenders_->setColumnCount(2);
    topSenders_->setHeaderLabels({QStringLiteral("Host"), QStringLiteral("Events")});
    topSenders_->setRootIsDecorated(false);
    topSenders_->setUniformRowHeights(true);
    topSenders_->setSelectionMode(QAbstractItemView::SingleSelection);
    topSenders_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    topSenders_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    topSenders_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    topSenders_->header()->setStretchLastSection(false);
    topSenders_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    topSenders_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    topSenders_->setFixedWidth(230);
    topSenders_->setToolTip(QStringLiteral("Click a host to list its events"));
    topSenders_->setAccessibleName(QStringLiteral("Top senders"));
    senders->addWidget(topSenders_, 1);
    row->addLayout(senders);
    layout->addLayout(row, 1);
    chart_->setMinimumHeight(170);

    drops_ = label(box, "statusDrops");
    drops_->setToolTip(QStringLiteral("Datagrams the kernel dropped before the daemon read them, messages cut at "
                                      "the size limit, and messages the filters left out, since the daemon started"));
    layout->addWidget(drops_);

    connect(spanBox_, &QComboBox::currentIndexChanged, this, [this] {
        chartDirty_ = true;
        redrawChart();
    });
    connect(stackingBox_, &QComboBox::currentIndexChanged, this, [this](int index) {
        chart_->setStacking(index == 1 ? EventChart::Stacking::BySeverity : EventChart::Stacking::ByClass);
    });
    connect(chart_, &EventChart::barActivated, this, &HomeView::spanChosen);
    const auto chooseHost = [this](QTreeWidgetItem* item) {
        if (item)
            Q_EMIT hostChosen(item->text(0));
    };
    connect(topSenders_, &QTreeWidget::itemClicked, this, chooseHost);
    connect(topSenders_, &QTreeWidget::itemActivated, this, chooseHost);

    chartTimer_.setInterval(kChartMilliseconds);
    connect(&chartTimer_, &QTimer::timeout, this, &HomeView::onChartTimer);
    statisticsTimer_.setInterval(kStatisticsMilliseconds);
    connect(&statisticsTimer_, &QTimer::timeout, this, &HomeView::askStatistics);
    showStatistics({}, false);
    return box;
}

ChartSpan HomeView::chartSpan() const
{
    return static_cast<ChartSpan>(spanBox_->currentData().toInt());
}

void HomeView::setChartSpan(ChartSpan span)
{
    spanBox_->setCurrentIndex(spanBox_->findData(static_cast<int>(span)));
}

void HomeView::onChartTimer()
{
    chartModel_->tick();
    // Bars move on with the clock even without new events; the rate and
    // the last bar change each second.
    const double now = chartModel_->now();
    if (chartDirty_ || std::floor(now) != std::floor(lastDrawn_))
        redrawChart();
}

void HomeView::redrawChart()
{
    chartDirty_ = false;
    lastDrawn_ = chartModel_->now();
    const ChartSpan span = chartSpan();
    std::array<std::int64_t, kSeverityRows> classes{};
    for (std::size_t row = 0; row < kSeverityRows; ++row)
        classes[row] = events_->displayClass(row);
    chart_->setClasses(classes);
    chart_->setBars(chartModel_->bars(span), span);

    const char* spanName = span == ChartSpan::Hour ? "last hour" : span == ChartSpan::Day ? "last day" : "last 30 days";
    sendersTitle_->setText(QStringLiteral("Top senders, %1").arg(QLatin1String(spanName)));
    const auto senders = chartModel_->topSenders(span, kTopSenders);
    // Items are replaced only when the list changed, so a selection and a
    // hovered row stay put between redraws.
    bool same = topSenders_->topLevelItemCount() == static_cast<int>(senders.size());
    for (std::size_t i = 0; same && i < senders.size(); ++i) {
        const auto* item = topSenders_->topLevelItem(static_cast<int>(i));
        same = item->text(0) == senders[i].host && item->data(1, Qt::UserRole).toLongLong() == senders[i].count;
    }
    if (!same) {
        topSenders_->clear();
        QList<QTreeWidgetItem*> items;
        for (const auto& sender : senders) {
            auto* item = new QTreeWidgetItem({sender.host, QLocale().toString(static_cast<qlonglong>(sender.count))});
            item->setData(1, Qt::UserRole, static_cast<qlonglong>(sender.count));
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
            item->setToolTip(0, QStringLiteral("List the events of %1").arg(sender.host));
            items << item;
        }
        topSenders_->addTopLevelItems(items);
    }
    rate_->setText(QStringLiteral("Now: %1 events/s").arg(QLocale().toString(chartModel_->rate(), 'f', 1)));
}

void HomeView::askStatistics()
{
    if (!bus_ || !bus_->isConnected()) {
        showStatistics({}, false);
        return;
    }
    if (askingStatistics_)
        return;
    askingStatistics_ = true;
    auto call = QDBusMessage::createMethodCall(QString::fromLatin1(bus::kService), QString::fromLatin1(bus::kObjectPath),
                                               QString::fromLatin1(bus::kInterface),
                                               QString::fromLatin1(bus::kGetStatistics));
    auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        askingStatistics_ = false;
        const QDBusMessage reply = w->reply();
        QMap<QString, qulonglong> counters;
        const bool answered = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
        if (answered)
            reply.arguments().constFirst().value<QDBusArgument>() >> counters;
        showStatistics(counters, answered);
    });
}

void HomeView::showStatistics(const QMap<QString, qulonglong>& counters, bool answered)
{
    if (!answered) {
        drops_->setText(QStringLiteral("Kernel drops, cut frames, filtered: not known while the daemon does not answer"));
        return;
    }
    // Each summed over the transports that have it.
    const auto sum = [&](std::initializer_list<const char*> keys) {
        qulonglong total = 0;
        for (const char* key : keys)
            total += counters.value(QString::fromLatin1(key));
        return QLocale().toString(total);
    };
    drops_->setText(QStringLiteral("Kernel drops: %1    Cut frames: %2    Filtered: %3")
                        .arg(sum({"kernelDropped"}), sum({"datagramsCut", "tcpFramesCut", "tlsFramesCut"}),
                             sum({"datagramsFiltered", "tcpFramesFiltered", "tlsFramesFiltered"})));
}

} // namespace brantwell
