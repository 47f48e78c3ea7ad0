#include "PopupView.h"

#include <cmath>

#include <algorithm>
#include <climits>

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "PopupDecision.h"
#include "common/SeverityImages.h"
#include "events/ScanViewEvent.h"

namespace brantwell {

namespace {
constexpr QSize kPopupSize(380, 210);
constexpr int kImageSize = 48;
} // namespace

PopupViewTitle::PopupViewTitle(QColor colour, QWidget* parent) : QWidget(parent), colour_(colour)
{
    setObjectName(QStringLiteral("popupViewTitle"));
    setFixedHeight(PopupView::kTitleHeight);
}

void PopupViewTitle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), colour_);
    QFont font = QApplication::font();
    font.setPointSize(13);
    painter.setFont(font);
    painter.setPen(PopupView::titleTextColour(colour_));
    painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Brantwell Alert"));
}

QColor PopupView::classColour(std::int64_t displayClass)
{
    switch (displayClass) {
    case 1: return QColor::fromRgbF(1.0f, 0.8f, 0.0f);
    case 2: return QColor::fromRgbF(0.8f, 0.0f, 0.0f);
    default: return QColor::fromRgbF(0.31f, 0.75f, 0.15f);
    }
}

namespace {

double relativeLuminance(const QColor& c)
{
    const auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

} // namespace

double PopupView::contrastRatio(const QColor& a, const QColor& b)
{
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor PopupView::titleTextColour(const QColor& band)
{
    const QColor white(Qt::white), black(Qt::black);
    return contrastRatio(band, white) >= contrastRatio(band, black) ? white : black;
}

PopupView::PopupView(Content content, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                          | Qt::WindowDoesNotAcceptFocus),
      content_(std::move(content)), full_(kPopupSize)
{
    setObjectName(QStringLiteral("popupWindow"));
    setWindowTitle(QStringLiteral("Brantwell Alert"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setFocusPolicy(Qt::NoFocus);
    build();

    stay_.setSingleShot(true);
    stay_.setTimerType(Qt::PreciseTimer);
    connect(&stay_, &QTimer::timeout, this, &PopupView::popupTimeout);
    animation_ = new QVariantAnimation(this);
    connect(animation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setVisibleHeight(value.toInt()); });
    connect(animation_, &QVariantAnimation::finished, this, [this] {
        if (sinking_) {
            close();
            return;
        }
        // A display time beyond what a timer holds stays for that long.
        const std::int64_t limit = INT_MAX / 1000;
        stay_.start(static_cast<int>(std::clamp<std::int64_t>(content_.popupTime, 0, limit) * 1000));
    });
}

PopupView::~PopupView() = default;

void PopupView::build()
{
    // The content keeps its full size and hangs from the window's top edge;
    // as the window grows upwards from the bottom of the screen, the
    // content slides up with it.
    // A thin border keeps the window apart from a light window behind it.
    auto* body = new QFrame(this);
    body->setFrameShape(QFrame::Box);
    body->setLineWidth(1);
    body_ = body;
    body_->setObjectName(QStringLiteral("popupBody"));
    body_->setFixedSize(full_);
    body_->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(body_);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(new PopupViewTitle(classColour(content_.displayClass), body_));

    auto* inner = new QVBoxLayout;
    inner->setContentsMargins(12, 10, 12, 10);
    inner->setSpacing(6);
    auto* top = new QHBoxLayout;
    top->setSpacing(12);
    popupImage_ = new QLabel(body_);
    popupImage_->setObjectName(QStringLiteral("popupImage"));
    popupImage_->setFixedSize(kImageSize, kImageSize);
    if (isDisplayClass(content_.displayClass)) {
        popupImage_->setPixmap(severityIcon(static_cast<DisplayClass>(content_.displayClass))
                                   .pixmap(kImageSize, kImageSize, QIcon::Normal, QIcon::On));
    }
    top->addWidget(popupImage_, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    popupHeader_ = new QLabel(popupHeaderText(content_.record.priority), body_);
    popupHeader_->setObjectName(QStringLiteral("popupHeader"));
    QFont headerFont = popupHeader_->font();
    headerFont.setBold(true);
    headerFont.setPointSizeF(headerFont.pointSizeF() * 1.3);
    popupHeader_->setFont(headerFont);
    texts->addWidget(popupHeader_);
    if (content_.notShown > 0) {
        auto* notShown = new QLabel(
            content_.notShown == 1
                ? QStringLiteral("1 further event was not shown: a repeat, or too many alerts at once.")
                : QStringLiteral("%1 further events were not shown: repeats, or too many alerts at once.")
                      .arg(content_.notShown),
            body_);
        notShown->setObjectName(QStringLiteral("popupNotShown"));
        notShown->setWordWrap(true);
        texts->addWidget(notShown);
    }
    popupDetails_ = new QPlainTextEdit(body_);
    popupDetails_->setObjectName(QStringLiteral("popupDetails"));
    popupDetails_->setReadOnly(true);
    popupDetails_->setFocusPolicy(Qt::NoFocus);
    popupDetails_->setFrameShape(QFrame::NoFrame);
    popupDetails_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // The fields read as part of the window, not as an input box.
    popupDetails_->viewport()->setAutoFillBackground(false);
    popupDetails_->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
    popupDetails_->document()->setDocumentMargin(0);
    popupDetails_->setPlainText(popupDetailsText(content_.record, content_.shownDate));
    texts->addSpacing(4);
    texts->addWidget(popupDetails_, 1);
    top->addLayout(texts, 1);
    inner->addLayout(top, 1);

    popupAbout_ = new QLabel(QStringLiteral("<a href=\"about\">Learn more about this event...</a>"), body_);
    popupAbout_->setObjectName(QStringLiteral("popupAbout"));
    popupAbout_->setTextFormat(Qt::RichText);
    popupAbout_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    popupAbout_->setFocusPolicy(Qt::NoFocus);
    connect(popupAbout_, &QLabel::linkActivated, this, &PopupView::popupAbout);
    inner->addWidget(popupAbout_, 0, Qt::AlignRight);
    layout->addLayout(inner, 1);
}

QRect PopupView::screenArea() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(QPoint(0, 0), full_);
}

void PopupView::setVisibleHeight(int height)
{
    // A window cannot be 0 pixels high; 1 is as good as nothing.
    height = std::clamp(height, 1, full_.height());
    const QRect area = screenArea();
    setGeometry(area.x() + area.width() - full_.width(), area.y() + area.height() - height,
                full_.width(), height);
}

void PopupView::present()
{
    setVisibleHeight(0);
    show();
    sinking_ = false;
    animation_->setStartValue(0);
    animation_->setEndValue(full_.height());
    animation_->setDuration(kRiseMilliseconds);
    animation_->start();
}

void PopupView::popupTimeout()
{
    if (sinking_)
        return;
    stay_.stop();
    sinking_ = true;
    animation_->stop();
    animation_->setStartValue(height());
    animation_->setEndValue(0);
    animation_->setDuration(kSinkMilliseconds);
    animation_->start();
}

void PopupView::popupAbout()
{
    if (details_) {
        details_->raise();
        details_->activateWindow();
        return;
    }
    // A window of its own: it stays open when the popup has gone.
    details_ = new ScanViewEvent(content_.record, content_.shownDate, nullptr);
    details_->setAttribute(Qt::WA_DeleteOnClose);
    details_->setWindowModality(Qt::ApplicationModal);
    details_->show();
    details_->raise();
    details_->activateWindow();
}

void PopupView::closeEvent(QCloseEvent* event)
{
    stay_.stop();
    animation_->stop();
    QWidget::closeEvent(event);
    if (!closedSent_) {
        closedSent_ = true;
        Q_EMIT closed();
    }
}

} // namespace brantwell
