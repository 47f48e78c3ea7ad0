#include "ReportMarks.h"

#include <QIconEngine>
#include <QPainter>
#include <QPaintDevice>

namespace brantwell {

namespace {

class MarkEngine final : public QIconEngine {
public:
    explicit MarkEngine(bool open) : open_(open) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, scale));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        // Everything is laid on whole device pixels: the box's border on
        // pixel centres, the bars as filled pixel rectangles of one width,
        // centred exactly. Nothing is smoothed but the box's corners.
        const int side = std::max(7, qRound(std::min(size.width(), size.height()) * scale));
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        const QColor ink = mode == QIcon::Disabled ? QColor(160, 160, 160)
                         : mode == QIcon::Selected ? QColor(Qt::white)
                                                   : QColor(70, 70, 70);
        const int margin = side / 8;
        int box = side - 2 * margin;
        const int pen = std::max(1, qRound(scale));
        int bar = std::max(1, qRound(box / 8.0));
        // The bar and the box must differ by an even number of pixels for
        // the bar to sit in the middle.
        if ((box - bar) % 2 != 0)
            bar += 1;
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(ink, pen));
        p.setBrush(mode == QIcon::Selected ? Qt::transparent : QColor(250, 250, 250));
        const qreal half = pen / 2.0;
        p.drawRoundedRect(QRectF(margin + half, margin + half, box - pen, box - pen), box / 6.0, box / 6.0);
        p.setRenderHint(QPainter::Antialiasing, false);
        const int inset = pen + std::max(1, box / 5);
        const int length = box - 2 * inset;
        const int middle = margin + (box - bar) / 2;
        p.fillRect(QRect(margin + inset, middle, length, bar), ink);
        if (!open_)
            p.fillRect(QRect(middle, margin + inset, bar, length), ink);
        p.end();
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }

    QIconEngine* clone() const override { return new MarkEngine(open_); }
    QString key() const override { return QStringLiteral("brantwell-group-mark"); }

private:
    bool open_;
};

} // namespace

QIcon groupMark(bool open)
{
    static const QIcon plus(new MarkEngine(false));
    static const QIcon minus(new MarkEngine(true));
    return open ? minus : plus;
}

} // namespace brantwell
