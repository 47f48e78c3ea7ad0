// The application's own help page, opened in the desktop's viewer.
#pragma once

#include <QString>

namespace brantwell {

// Writes the bundled help page to the user's cache directory and returns its path; empty when it could not be written.
QString helpFilePath();

// Opens the help page; false when it could not be written or opened.
bool openHelp();

} // namespace brantwell
