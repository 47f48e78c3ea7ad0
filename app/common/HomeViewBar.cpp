#include "HomeViewBar.h"

#include <QLinearGradient>
#include <QPainter>

namespace brantwell {

ViewBar::ViewBar(const QString& title, QWidget* parent) : QWidget(parent), title_(title)
{
    setMinimumHeight(40);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ViewBar::setStartColor(const QColor& color)
{
    start_ = color;
    update();
}

void ViewBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QLinearGradient gradient(rect().topLeft(), rect().topRight());
    gradient.setColorAt(0, start_);
    gradient.setColorAt(1, palette().color(QPalette::Base));
    painter.fillRect(rect(), gradient);
    if (!title_.isEmpty()) {
        QFont font = painter.font();
        font.setPointSizeF(font.pointSizeF() * 1.4);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(QColor(40, 40, 40));
        painter.drawText(rect().adjusted(14, 0, -14, 0), Qt::AlignVCenter | Qt::AlignLeft, title_);
    }
}

ColorFrame::ColorFrame(QWidget* parent) : QFrame(parent)
{
    setContentsMargins(10, 10, 10, 10);
}

void ColorFrame::setBorderColor(const QColor& color)
{
    border_ = color;
    update();
}

void ColorFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(border_, 2));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);
}

} // namespace brantwell
