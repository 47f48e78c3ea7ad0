#include "EventChart.h"

#include <algorithm>
#include <cmath>

#include <QDateTime>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "SettingsKeys.h"

namespace brantwell {

namespace {

constexpr std::array<const char*, kSeverityRows> kSeverityNames = {
    "Emergency", "Alert", "Critical", "Error", "Warning", "Notice", "Informational", "Debug", "Unknown"};

// The class colours of the severity images; the severity colours run from
// deep red through amber and green to blue and grey. Each is bright enough
// on a dark background and dark enough on a light one.
const std::array<QColor, 3> kClassColours = {QColor(0x3a, 0x9a, 0x2a), QColor(0xf0, 0xa5, 0x00),
                                             QColor(0xc6, 0x28, 0x28)};
const std::array<QColor, kSeverityRows> kSeverityColours = {
    QColor(0x8e, 0x1b, 0x1b), QColor(0xc6, 0x28, 0x28), QColor(0xe5, 0x39, 0x35),
    QColor(0xf4, 0x6d, 0x1e), QColor(0xf0, 0xa5, 0x00), QColor(0xa8, 0xb4, 0x2a),
    QColor(0x3a, 0x9a, 0x2a), QColor(0x4f, 0x86, 0xc6), QColor(0x9e, 0x9e, 0x9e)};

// The top of the scale: the smallest round number (1, 2, 3, 4, 5, 6, 8 or
// 10 times a power of ten) at least `value`, so the tallest bar fills well
// over half the height.
std::int64_t roundScale(std::int64_t value)
{
    if (value <= 2)
        return 2;
    std::int64_t power = 1;
    while (power * 10 < value)
        power *= 10;
    for (const std::int64_t step : {1, 2, 3, 4, 5, 6, 8, 10}) {
        if (power * step >= value)
            return power * step;
    }
    return power * 10;
}

QString number(std::int64_t n)
{
    return QLocale().toString(static_cast<qlonglong>(n));
}

QDateTime localTime(double seconds)
{
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::floor(seconds)));
}

} // namespace

EventChart::EventChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("eventChart"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAccessibleName(QStringLiteral("Events over time"));
    for (std::size_t row = 0; row < kSeverityRows; ++row)
        classes_[row] = kDefaultSeverityClasses[row];
}

QSize EventChart::sizeHint() const
{
    return {480, 190};
}

QSize EventChart::minimumSizeHint() const
{
    return {240, 130};
}

void EventChart::setBars(std::vector<ChartBar> bars, ChartSpan span)
{
    bars_ = std::move(bars);
    span_ = span;
    if (hovered_ >= static_cast<int>(bars_.size()))
        hovered_ = -1;
    setAccessibleDescription(summary());
    update();
}

void EventChart::setClasses(const std::array<std::int64_t, kSeverityRows>& classes)
{
    classes_ = classes;
    setAccessibleDescription(summary());
    update();
}

void EventChart::setStacking(Stacking stacking)
{
    stacking_ = stacking;
    setAccessibleDescription(summary());
    update();
}

std::vector<EventChart::Layer> EventChart::layers() const
{
    std::vector<Layer> result;
    if (stacking_ == Stacking::ByClass) {
        result = {{QStringLiteral("Normal"), kClassColours[0]},
                  {QStringLiteral("Moderate"), kClassColours[1]},
                  {QStringLiteral("Severe"), kClassColours[2]}};
    } else {
        // The least severe at the bottom, as with the classes.
        for (std::size_t row = kSeverityRows; row-- > 0;)
            result.push_back({QString::fromLatin1(kSeverityNames[row]), kSeverityColours[row]});
    }
    return result;
}

std::vector<std::int64_t> EventChart::layerCounts(const ChartBar& bar) const
{
    if (stacking_ == Stacking::ByClass) {
        const auto sums = bar.byClass(classes_);
        return {sums.begin(), sums.end()};
    }
    return {bar.bySeverity.rbegin(), bar.bySeverity.rend()};
}

QRect EventChart::plotRect() const
{
    const QFontMetrics fm = fontMetrics();
    std::int64_t top = 0;
    for (const auto& bar : bars_)
        top = std::max(top, bar.total());
    const int left = fm.horizontalAdvance(number(roundScale(top))) + 10;
    const int legend = fm.height() + 8;
    const int axis = fm.height() + 6;
    return rect().adjusted(left, legend, -6, -axis);
}

QRect EventChart::barColumn(int i) const
{
    if (i < 0 || i >= static_cast<int>(bars_.size()))
        return {};
    const QRect plot = plotRect();
    const double width = static_cast<double>(plot.width()) / static_cast<double>(bars_.size());
    const int x0 = plot.left() + static_cast<int>(std::lround(width * i));
    const int x1 = plot.left() + static_cast<int>(std::lround(width * (i + 1)));
    return QRect(QPoint(x0, plot.top()), QPoint(std::max(x0, x1 - 1), plot.bottom()));
}

int EventChart::barAt(QPoint point) const
{
    const QRect plot = plotRect();
    if (bars_.empty() || !plot.adjusted(0, 0, 0, fontMetrics().height()).contains(point))
        return -1;
    const double width = static_cast<double>(plot.width()) / static_cast<double>(bars_.size());
    const int i = static_cast<int>((point.x() - plot.left()) / width);
    return std::clamp(i, 0, static_cast<int>(bars_.size()) - 1);
}

QString EventChart::spanText(const ChartBar& bar) const
{
    const QDateTime start = localTime(bar.start);
    const QLocale locale;
    if (span_ == ChartSpan::Month)
        return locale.toString(start, QStringLiteral("ddd d MMM yyyy"));
    const QDateTime end = localTime(bar.end);
    return QStringLiteral("%1 to %2").arg(locale.toString(start, QStringLiteral("ddd d MMM HH:mm")),
                                          locale.toString(end, QStringLiteral("HH:mm")));
}

QString EventChart::axisLabel(double start) const
{
    return QLocale().toString(localTime(start), span_ == ChartSpan::Month ? QStringLiteral("d MMM")
                                                                          : QStringLiteral("HH:mm"));
}

QString EventChart::barText(int i) const
{
    if (i < 0 || i >= static_cast<int>(bars_.size()))
        return {};
    const ChartBar& bar = bars_[static_cast<std::size_t>(i)];
    const auto total = bar.total();
    QStringList lines{spanText(bar),
                      total == 1 ? QStringLiteral("1 event") : QStringLiteral("%1 events").arg(number(total))};
    const auto layerList = layers();
    const auto counts = layerCounts(bar);
    // The most severe first, as a reader scans for it.
    for (std::size_t k = layerList.size(); k-- > 0;) {
        if (counts[k] > 0)
            lines << QStringLiteral("%1: %2").arg(layerList[k].name, number(counts[k]));
    }
    if (total > 0)
        lines << QStringLiteral("Click to list these events");
    return lines.join(QLatin1Char('\n'));
}

QString EventChart::summary() const
{
    if (bars_.empty())
        return QStringLiteral("No events");
    const char* per = span_ == ChartSpan::Hour ? "minute, last hour" : span_ == ChartSpan::Day ? "15 minutes, last day"
                                                                                               : "day, last 30 days";
    std::int64_t total = 0;
    QStringList parts;
    for (int i = 0; i < static_cast<int>(bars_.size()); ++i) {
        const ChartBar& bar = bars_[static_cast<std::size_t>(i)];
        if (bar.total() == 0)
            continue;
        total += bar.total();
        QString part = QStringLiteral("%1: %2").arg(spanText(bar), number(bar.total()));
        const auto layerList = layers();
        const auto counts = layerCounts(bar);
        QStringList detail;
        for (std::size_t k = layerList.size(); k-- > 0;) {
            if (counts[k] > 0)
                detail << QStringLiteral("%1 %2").arg(layerList[k].name.toLower(), number(counts[k]));
        }
        parts << part + QStringLiteral(" (") + detail.join(QStringLiteral(", ")) + QLatin1Char(')');
    }
    QString text = QStringLiteral("Events per %1: %2 in all.").arg(QLatin1String(per), number(total));
    if (!parts.isEmpty())
        text += QLatin1Char(' ') + parts.join(QStringLiteral("; ")) + QLatin1Char('.');
    return text;
}

bool EventChart::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int i = barAt(help->pos());
        if (i >= 0)
            QToolTip::showText(help->globalPos(), barText(i), this, barColumn(i));
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void EventChart::setHovered(int i)
{
    if (i == hovered_)
        return;
    hovered_ = i;
    update();
}

void EventChart::mouseMoveEvent(QMouseEvent* event)
{
    const int i = barAt(event->position().toPoint());
    setHovered(i);
    setCursor(i >= 0 && bars_[static_cast<std::size_t>(i)].total() > 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
    // A bar's counts follow the pointer without waiting for the tooltip
    // delay once one is shown.
    if (QToolTip::isVisible() && i >= 0)
        QToolTip::showText(event->globalPosition().toPoint(), barText(i), this, barColumn(i));
}

void EventChart::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const int i = barAt(event->position().toPoint());
    if (i < 0)
        return;
    const ChartBar& bar = bars_[static_cast<std::size_t>(i)];
    Q_EMIT barActivated(bar.start, bar.end);
}

void EventChart::leaveEvent(QEvent* event)
{
    setHovered(-1);
    QWidget::leaveEvent(event);
}

void EventChart::keyPressEvent(QKeyEvent* event)
{
    const int n = static_cast<int>(bars_.size());
    if (n == 0)
        return QWidget::keyPressEvent(event);
    switch (event->key()) {
    case Qt::Key_Left:
        setHovered(hovered_ < 0 ? n - 1 : std::max(0, hovered_ - 1));
        break;
    case Qt::Key_Right:
        setHovered(hovered_ < 0 ? n - 1 : std::min(n - 1, hovered_ + 1));
        break;
    case Qt::Key_Home: setHovered(0); break;
    case Qt::Key_End: setHovered(n - 1); break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (hovered_ >= 0) {
            const ChartBar& bar = bars_[static_cast<std::size_t>(hovered_)];
            Q_EMIT barActivated(bar.start, bar.end);
        }
        return;
    default:
        return QWidget::keyPressEvent(event);
    }
    // The chosen bar's counts for keyboard users, where a pointer would show them.
    const QRect column = barColumn(hovered_);
    QToolTip::showText(mapToGlobal(column.topRight()), barText(hovered_), this, column);
}

void EventChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& pal = palette();
    const QFontMetrics fm = fontMetrics();
    const QRect plot = plotRect();
    const QColor text = pal.color(QPalette::WindowText);
    QColor grid = text;
    grid.setAlpha(40);

    // Legend along the top.
    int x = plot.left();
    const int boxSize = fm.ascent() - 2;
    const auto layerList = layers();
    for (std::size_t k = layerList.size(); k-- > 0;) {
        const QString& name = layerList[k].name;
        const int width = boxSize + 4 + fm.horizontalAdvance(name) + 12;
        if (x + width > rect().right())
            break;
        painter.fillRect(QRect(x, (fm.height() - boxSize) / 2 + 1, boxSize, boxSize), layerList[k].colour);
        painter.setPen(text);
        painter.drawText(QRect(x + boxSize + 4, 0, width, fm.height() + 2), Qt::AlignLeft | Qt::AlignVCenter, name);
        x += width;
    }

    std::int64_t top = 0;
    for (const auto& bar : bars_)
        top = std::max(top, bar.total());
    const std::int64_t scale = roundScale(top);

    // Grid lines at zero, half and the full scale, with their values.
    painter.setPen(text);
    for (const std::int64_t value : {std::int64_t{0}, scale / 2, scale}) {
        if (value == scale / 2 && (scale < 2 || scale % 2 != 0))
            continue;
        const int y = plot.bottom() - static_cast<int>(std::lround(static_cast<double>(plot.height()) * value / scale));
        painter.setPen(grid);
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(text);
        painter.drawText(QRect(0, y - fm.height() / 2, plot.left() - 5, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                         number(value));
    }

    if (top == 0) {
        QColor quiet = text;
        quiet.setAlpha(150);
        painter.setPen(quiet);
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("No events in this time"));
    }

    // The bars, each layer on the one below.
    for (int i = 0; i < static_cast<int>(bars_.size()); ++i) {
        const QRect column = barColumn(i);
        if (i == hovered_) {
            QColor mark = pal.color(QPalette::Highlight);
            mark.setAlpha(60);
            painter.fillRect(column, mark);
        }
        const ChartBar& bar = bars_[static_cast<std::size_t>(i)];
        if (bar.total() == 0)
            continue;
        const auto counts = layerCounts(bar);
        // One pixel between bars while they are wide enough to spare it.
        const QRect body = column.width() >= 4 ? column.adjusted(0, 0, -1, 0) : column;
        std::int64_t below = 0;
        for (std::size_t k = 0; k < counts.size(); ++k) {
            if (counts[k] == 0)
                continue;
            const auto yOf = [&](std::int64_t v) {
                return plot.bottom() + 1 - static_cast<int>(std::lround(static_cast<double>(plot.height()) * v / scale));
            };
            int y0 = yOf(below);
            int y1 = yOf(below + counts[k]);
            // A layer of a few events among thousands still shows.
            if (y0 - y1 < 1)
                y1 = y0 - 1;
            painter.fillRect(QRect(QPoint(body.left(), y1), QPoint(body.right(), y0 - 1)), layerList[k].colour);
            below += counts[k];
        }
    }

    // Time labels under the bars, where they do not crowd each other.
    painter.setPen(text);
    int lastRight = -1000;
    for (int i = 0; i < static_cast<int>(bars_.size()); ++i) {
        const QDateTime start = localTime(bars_[static_cast<std::size_t>(i)].start);
        const QTime time = start.time();
        bool mark = false;
        switch (span_) {
        case ChartSpan::Hour: mark = time.minute() % 10 == 0; break;
        case ChartSpan::Day: mark = time.minute() == 0 && time.hour() % 3 == 0; break;
        case ChartSpan::Month: mark = (start.date().day() - 1) % 5 == 0; break;
        }
        if (!mark)
            continue;
        const QString label = axisLabel(bars_[static_cast<std::size_t>(i)].start);
        const int width = fm.horizontalAdvance(label);
        const int left = barColumn(i).left();
        if (left < lastRight + 8 || left + width > rect().right())
            continue;
        painter.setPen(grid);
        painter.drawLine(left, plot.bottom() + 1, left, plot.bottom() + 4);
        painter.setPen(text);
        painter.drawText(QRect(left, plot.bottom() + 4, width + 2, fm.height()), Qt::AlignLeft | Qt::AlignTop, label);
        lastRight = left + width;
    }

    if (hasFocus()) {
        QColor focus = pal.color(QPalette::Highlight);
        painter.setPen(QPen(focus, 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace brantwell
