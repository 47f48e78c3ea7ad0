#include "HomeView.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

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
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 12);
    eventsBar_ = new HomeViewBar(QStringLiteral("Status"), this);
    eventsBar_->setObjectName(QStringLiteral("eventsBar"));
    page->addWidget(eventsBar_);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(20, 12, 20, 0);
    page->addLayout(body);

    eventsBox_ = new ColorFrame(this);
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
    statusWarnings_->setStyleSheet(QStringLiteral("color: #a30000; margin-left: 4px; margin-top: 10px;"));
    statusWarnings_->hide();
    body->addWidget(statusWarnings_);
    body->addStretch(1);

    statusVersion_ = label(this, "statusVersion", versionLine());
    statusVersion_->setAlignment(Qt::AlignRight);
    QPalette grey = statusVersion_->palette();
    grey.setColor(QPalette::WindowText, QColor(120, 120, 120));
    statusVersion_->setPalette(grey);
    body->addWidget(statusVersion_);
}

void HomeView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
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
                                    {"mailProblem", "E-mail"}}) {
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
