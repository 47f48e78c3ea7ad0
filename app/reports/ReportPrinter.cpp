#include "ReportPrinter.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrinter>

namespace brantwell {

namespace {

// No text wider than a page is ever shown whole, so longer texts are not
// measured or laid out past this many characters.
constexpr int kLongestShown = 400;

// The open or closed group mark of the table, drawn as lines: a picture
// would be embedded in the file once per row.
void paintMark(QPainter& painter, const QRect& box, bool open)
{
    const QColor ink(70, 70, 70);
    const int side = box.width();
    const int pen = std::max(1, side / 12);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(ink, pen));
    painter.setBrush(Qt::NoBrush);
    const qreal half = pen / 2.0;
    painter.drawRoundedRect(QRectF(box).adjusted(half, half, -half, -half), side / 6.0, side / 6.0);
    const int bar = std::max(1, side / 10);
    const int inset = pen + std::max(1, side / 5);
    const int middle = (side - bar) / 2;
    painter.fillRect(QRect(box.left() + inset, box.top() + middle, side - 2 * inset, bar), ink);
    if (!open)
        painter.fillRect(QRect(box.left() + middle, box.top() + inset, bar, side - 2 * inset), ink);
    painter.restore();
}

QString shownPart(const QString& text)
{
    return text.size() > kLongestShown ? text.left(kLongestShown) : text;
}

} // namespace

std::array<int, 4> fitColumns(const std::array<int, 4>& natural, int pageWidth, int flexible,
                              int flexibleMinimum)
{
    std::array<int, 4> widths{};
    long long sum = 0;
    for (std::size_t c = 0; c < 4; ++c) {
        widths[c] = std::max(0, natural[c]);
        sum += widths[c];
    }
    const auto f = static_cast<std::size_t>(std::clamp(flexible, 0, 3));
    pageWidth = std::max(0, pageWidth);
    if (sum <= pageWidth) {
        widths[f] += static_cast<int>(pageWidth - sum);
        return widths;
    }
    const int floor = std::min(widths[f], std::max(0, flexibleMinimum));
    const auto give = static_cast<int>(std::min<long long>(sum - pageWidth, widths[f] - floor));
    widths[f] -= give;
    sum -= give;
    if (sum <= pageWidth)
        return widths;
    // Still too wide: the widest columns are cut to one width, the narrower
    // ones keep theirs.
    std::array<int, 4> sorted = widths;
    std::sort(sorted.begin(), sorted.end());
    long long below = 0;
    int cap = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        const long long rest = static_cast<long long>(4 - k);
        if (below + rest * sorted[k] >= pageWidth) {
            cap = static_cast<int>((pageWidth - below) / rest);
            break;
        }
        below += sorted[k];
    }
    for (auto& w : widths)
        w = std::min(w, cap);
    return widths;
}

int printReport(const ReportModel::Snapshot& rows, const QString& heading, const QFont& baseFont,
                QPagedPaintDevice& device, PrintProgress& progress)
{
    QPainter painter;
    if (!painter.begin(&device))
        return 0;
    // A printer that can withdraw what it has been given does so; a PDF
    // file is thrown away by the caller.
    const auto stop = [&] {
        if (auto* printer = dynamic_cast<QPrinter*>(&device))
            printer->abort();
        painter.end();
        return 0;
    };

    QFont font = baseFont;
    font.setPointSizeF(9);
    QFont bold = font;
    bold.setBold(true);
    const QFontMetrics metrics(font, &device);
    const QFontMetrics boldMetrics(bold, &device);
    // Widths are measured to the fraction and rounded up: a text measured a
    // fraction of a pixel narrower than it lays out would be cut.
    const QFontMetricsF exact(font, &device);
    const QFontMetricsF boldExact(bold, &device);
    const auto widthOf = [](const QFontMetricsF& m, const QString& text) {
        return static_cast<int>(std::ceil(m.horizontalAdvance(text))) + 1;
    };
    const int rowHeight = metrics.height() * 14 / 10;
    const int pad = metrics.averageCharWidth() * 3 / 4 + 1;  // half the gap between columns
    const int markSide = metrics.height() * 8 / 10;
    const int pageWidth = device.width();
    const int pageHeight = device.height();
    const DateFormatter formatter(rows.report ? rows.report->dateFormat() : std::string());
    const int count = rows.rowCount();

    // Each column as wide as its title and its widest text in the event
    // rows. Group values run across their whole row and set no width; the
    // first column of event rows is empty and only leaves room for the mark.
    std::array<int, 4> natural{};
    for (std::size_t c = 0; c < 4; ++c)
        natural[c] = widthOf(boldExact, rows.titles[c]) + 2 * pad;
    natural[0] = std::max(natural[0], markSide + 2 * pad);
    for (int row = 0; row < count; ++row) {
        if ((row & 1023) == 0 && progress.cancel.load(std::memory_order_relaxed))
            return stop();
        if (rows.isGroupRow(row))
            continue;
        for (int c = 1; c < 4; ++c) {
            auto& width = natural[static_cast<std::size_t>(c)];
            if (width >= pageWidth)
                continue;  // cut on any page
            const QString text = rows.cellText(row, c, formatter);
            width = text.size() > kLongestShown ? pageWidth
                                                : std::max(width, widthOf(exact, text) + 2 * pad);
        }
    }
    // The message column takes what is left, and is cut first.
    int flexible = 3;
    if (rows.report) {
        const auto& details = reportLayout(rows.report->kind()).details;
        for (std::size_t d = 0; d < details.size(); ++d)
            if (details[d] == ReportField::Message)
                flexible = static_cast<int>(d) + 1;
    }
    const auto widths = fitColumns(natural, pageWidth, flexible, metrics.averageCharWidth() * 16);
    std::array<int, 5> x{};
    for (std::size_t c = 0; c < 4; ++c)
        x[c + 1] = x[c] + widths[c];

    const int headerHeight = rowHeight + rowHeight / 2;
    const int footerHeight = rowHeight;
    const int rowsPerPage = std::max(1, (pageHeight - headerHeight - footerHeight) / rowHeight);
    const int pages = std::max(1, (count + rowsPerPage - 1) / rowsPerPage);
    progress.pagesTotal.store(pages);

    const auto text = [&](int left, int right, int y, const QString& value, const QFontMetrics& m) {
        if (right <= left || value.isEmpty())
            return;
        const QString shown = m.elidedText(shownPart(value), Qt::ElideRight, right - left);
        painter.drawText(QPoint(left, y + (rowHeight - m.height()) / 2 + m.ascent()), shown);
    };

    const QPen rule(Qt::gray, std::max(1, rowHeight / 20));
    for (int page = 0; page < pages; ++page) {
        if (progress.cancel.load(std::memory_order_relaxed))
            return stop();
        if (page > 0 && !device.newPage()) {
            painter.end();
            return 0;
        }
        painter.setPen(Qt::black);
        painter.setFont(bold);
        for (std::size_t c = 0; c < 4; ++c)
            text(x[c] + pad, x[c + 1] - pad, 0, rows.titles[c], boldMetrics);
        painter.setPen(rule);
        painter.drawLine(0, rowHeight + rowHeight / 4, pageWidth, rowHeight + rowHeight / 4);
        painter.setPen(Qt::black);
        painter.setFont(font);

        const int first = page * rowsPerPage;
        const int last = std::min(count, first + rowsPerPage);
        for (int row = first; row < last; ++row) {
            const int y = headerHeight + (row - first) * rowHeight;
            const auto mark = rows.mark(row);
            if (mark != ReportModel::Mark::None) {
                const QRect box(x[0] + pad, y + (rowHeight - markSide) / 2, markSide, markSide);
                paintMark(painter, box, mark == ReportModel::Mark::Minus);
                text(box.right() + 1 + pad, pageWidth - pad, y, rows.cellText(row, 0, formatter), metrics);
                continue;
            }
            for (std::size_t c = 1; c < 4; ++c)
                text(x[c] + pad, x[c + 1] - pad, y, rows.cellText(row, static_cast<int>(c), formatter), metrics);
        }
        painter.setPen(Qt::darkGray);
        const QString footer = QStringLiteral("Page %1 of %2").arg(page + 1).arg(pages);
        const int footerLeft = pageWidth - metrics.horizontalAdvance(footer);
        painter.drawText(QPoint(footerLeft, pageHeight - metrics.descent()), footer);
        if (footerLeft > 4 * pad)
            painter.drawText(QPoint(0, pageHeight - metrics.descent()),
                             metrics.elidedText(shownPart(heading), Qt::ElideRight, footerLeft - 4 * pad));
        progress.pagesDone.store(page + 1);
    }
    if (!painter.end())
        return 0;
    return pages;
}

} // namespace brantwell
