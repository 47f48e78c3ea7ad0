// Prints the report table as it is shown: every row in table order, each
// column as wide as its widest text (the message column takes what is left
// and is the one cut when a page is too narrow), the column titles at the
// top of every page, and as many pages as the rows need.
//
// It reads only a snapshot of the rows and paints only vectors and text, so
// it runs on a thread of its own while the window goes on; a print of tens
// of thousands of rows stays a few kilobytes a page.
#pragma once

#include <array>
#include <atomic>

#include <QFont>

#include "ReportModel.h"

class QPagedPaintDevice;

namespace brantwell {

// Shared between the printing thread and the window that shows progress
// and cancels.
struct PrintProgress {
    std::atomic<int> pagesTotal{0};  // 0 while the columns are measured
    std::atomic<int> pagesDone{0};
    std::atomic<bool> cancel{false};
};

// The widths of the four columns on a page `pageWidth` wide, from the width
// each needs for its widest text (`natural`). Room left over goes to
// `flexible`; on a page too narrow, `flexible` gives up room first, down to
// `flexibleMinimum`, and only then the widest of the others.
std::array<int, 4> fitColumns(const std::array<int, 4>& natural, int pageWidth, int flexible,
                              int flexibleMinimum);

// Paints `rows` on `device` in `font`, with `heading` (which report, of
// which source) at the foot of every page beside its number. Returns the
// number of pages printed; 0 when cancelled or when the device cannot be
// painted on.
int printReport(const ReportModel::Snapshot& rows, const QString& heading, const QFont& font,
                QPagedPaintDevice& device, PrintProgress& progress);

} // namespace brantwell
