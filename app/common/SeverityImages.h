// The images "Normal", "Moderate" and "Severe" that mark the display classes.
#pragma once

#include <QIcon>
#include <QString>

#include "SeverityRows.h"

namespace brantwell {

// Registers the images and the help page of the application's resources.
void ensureResources();

QString severityImageName(DisplayClass displayClass);  // "Normal", "Moderate", "Severe"
// Drawn from vector images, so every size is sharp.
QIcon severityIcon(DisplayClass displayClass);

} // namespace brantwell
