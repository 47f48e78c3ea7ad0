#include "ReportPrinter.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPainter>

#include "ReportMarks.h"
#include "ReportModel.h"

namespace brantwell {

int printReport(const ReportModel& model, const std::array<int, 4>& columnWidths,
                QPagedPaintDevice& device)
{
    QPainter painter;
    if (!painter.begin(&device))
        return 0;

    QFont font = QApplication::font();
    font.setPointSizeF(9);
    QFont bold = font;
    bold.setBold(true);
    painter.setFont(font);
    const QFontMetrics metrics(font, &device);
    const int rowHeight = metrics.height() * 14 / 10;
    const int pad = metrics.averageCharWidth() / 2 + 1;
    const int pageWidth = device.width();
    const int pageHeight = device.height();

    // The columns keep their proportions on screen, spread over the page.
    std::array<int, 5> x{};
    long long total = 0;
    for (const int w : columnWidths)
        total += std::max(0, w);
    for (std::size_t c = 0; c < 4; ++c) {
        const long long w = total > 0 ? std::max(0, columnWidths[c]) : 1;
        x[c + 1] = x[c] + static_cast<int>(w * pageWidth / (total > 0 ? total : 4));
    }
    x[4] = pageWidth;

    const int headerHeight = rowHeight + rowHeight / 2;
    const int footerHeight = rowHeight;
    const int rowsPerPage = std::max(1, (pageHeight - headerHeight - footerHeight) / rowHeight);
    const int rows = model.rowCount();
    const int pages = std::max(1, (rows + rowsPerPage - 1) / rowsPerPage);

    const auto cell = [&](int column, int y, const QString& text, const QFont& f) {
        int left = x[static_cast<std::size_t>(column)] + pad;
        const int right = x[static_cast<std::size_t>(column) + 1] - pad;
        if (right <= left)
            return;
        painter.setFont(f);
        painter.drawText(QRect(left, y, right - left, rowHeight), Qt::AlignVCenter | Qt::AlignLeft,
                         QFontMetrics(f, &device).elidedText(text, Qt::ElideRight, right - left));
    };

    for (int page = 0; page < pages; ++page) {
        if (page > 0 && !device.newPage())
            break;
        painter.setPen(Qt::black);
        for (int c = 0; c < 4; ++c)
            cell(c, 0, model.headerData(c, Qt::Horizontal).toString(), bold);
        painter.setPen(QPen(Qt::gray, std::max(1, rowHeight / 20)));
        painter.drawLine(0, rowHeight + rowHeight / 4, pageWidth, rowHeight + rowHeight / 4);
        painter.setPen(Qt::black);

        const int first = page * rowsPerPage;
        const int last = std::min(rows, first + rowsPerPage);
        for (int row = first; row < last; ++row) {
            const int y = headerHeight + (row - first) * rowHeight;
            const auto mark = model.mark(row);
            if (mark != ReportModel::Mark::None) {
                const int side = metrics.height() * 8 / 10;
                const QRect box(x[0] + pad, y + (rowHeight - side) / 2, side, side);
                groupMark(mark == ReportModel::Mark::Minus).paint(&painter, box);
                // The value may run across the empty cells of its row.
                const int left = box.right() + pad;
                const int right = pageWidth - pad;
                if (right > left)
                    painter.drawText(QRect(left, y, right - left, rowHeight), Qt::AlignVCenter | Qt::AlignLeft,
                                     metrics.elidedText(model.cellText(row, 0), Qt::ElideRight, right - left));
                continue;
            }
            for (int c = 0; c < 4; ++c)
                cell(c, y, model.cellText(row, c), font);
        }
        painter.setFont(font);
        painter.setPen(Qt::darkGray);
        painter.drawText(QRect(0, pageHeight - footerHeight, pageWidth, footerHeight),
                         Qt::AlignRight | Qt::AlignBottom,
                         QStringLiteral("Page %1 of %2").arg(page + 1).arg(pages));
    }
    painter.end();
    return pages;
}

} // namespace brantwell
