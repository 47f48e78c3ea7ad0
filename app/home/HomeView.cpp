#include "HomeView.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "common/AppSettings.h"
#include "HomeStatus.h"
#include "ProcessCheck.h"
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
    statuses->addWidget(label(this, nullptr, QStringLiteral("Automatic actions:")), 1, 0);
    statusActions_ = label(this, "statusActions");
    statuses->addWidget(statusActions_, 1, 1);
    statuses->addWidget(label(this, nullptr, QStringLiteral("Export:")), 2, 0);
    statusExport_ = label(this, "statusExport");
    statuses->addWidget(statusExport_, 2, 1);
    statuses->setColumnStretch(1, 1);
    body->addLayout(statuses);
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

void HomeView::setMonitorStatus()
{
    statusMonitor_->setText(isProcessRunning(kDaemonProcessName, procRoot_)
                                ? QStringLiteral("Running")
                                : QStringLiteral("Stopped"));
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
