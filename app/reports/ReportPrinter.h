// Prints the report table as it is shown: every row in table order, the
// columns in the proportions of their widths on screen, the column titles at
// the top of every page, and as many pages as the rows need.
#pragma once

#include <array>

class QPagedPaintDevice;

namespace brantwell {

class ReportModel;

// Returns the number of pages printed; 0 when the device cannot be painted on.
int printReport(const ReportModel& model, const std::array<int, 4>& columnWidths,
                QPagedPaintDevice& device);

} // namespace brantwell
