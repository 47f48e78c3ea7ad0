// The overall status of the Home page and what each status shows.
#pragma once

#include <array>
#include <cstdint>

#include <QColor>
#include <QString>

#include "SettingsKeys.h"

namespace brantwell {

struct StatusLook {
    QString sentence;
    QString image;
    QColor outerBox;
    QColor innerBox;
    QColor bandStart;
};

// The highest display class among the rows that have events, starting from
// 0. A result that is not a display class (a class of 3 read from the
// settings file) leaves `previous` in place.
int severityStatusOf(const std::array<std::int64_t, kSeverityRows>& counts,
                     const std::array<std::int64_t, kSeverityRows>& classes, int previous);

// REQUIRES: 0 <= status <= 2.
const StatusLook& statusLook(int status);

QString actionsStatement(bool settingsRead, bool hasActions);
QString exportStatement(bool settingsRead, std::int64_t textInterval, std::int64_t databaseInterval);

} // namespace brantwell
