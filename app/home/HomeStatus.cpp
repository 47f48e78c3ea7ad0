#include "HomeStatus.h"

namespace brantwell {

int severityStatusOf(const std::array<std::int64_t, kSeverityRows>& counts,
                     const std::array<std::int64_t, kSeverityRows>& classes, int previous)
{
    std::int64_t status = 0;
    for (std::size_t row = 0; row < kSeverityRows; ++row) {
        if (counts[row] > 0 && classes[row] > status)
            status = classes[row];
    }
    return status >= 0 && status <= 2 ? static_cast<int>(status) : previous;
}

const StatusLook& statusLook(int status)
{
    static const std::array<StatusLook, 3> looks = {{
        {QStringLiteral("No unwanted or harmful events detected."), QStringLiteral("Normal"),
         QColor::fromRgbF(0.57f, 0.89f, 0.46f), QColor::fromRgbF(0.78f, 0.95f, 0.73f),
         QColor::fromRgbF(0.70f, 0.92f, 0.70f)},
        {QStringLiteral("Review potentialy unwanted events."), QStringLiteral("Moderate"),
         QColor::fromRgbF(0.99f, 0.89f, 0.67f), QColor::fromRgbF(0.99f, 0.94f, 0.83f),
         QColor::fromRgbF(0.99f, 0.93f, 0.41f)},
        {QStringLiteral("Review harmful or potentialy unwanted events."), QStringLiteral("Severe"),
         QColor::fromRgbF(0.98f, 0.73f, 0.76f), QColor::fromRgbF(0.98f, 0.84f, 0.83f),
         QColor::fromRgbF(0.96f, 0.62f, 0.60f)},
    }};
    return looks[static_cast<std::size_t>(status)];
}

QString actionsStatement(bool settingsRead, bool hasActions)
{
    return settingsRead && hasActions ? QStringLiteral("Actions enabled")
                                      : QStringLiteral("Do not use actions");
}

QString exportStatement(bool settingsRead, std::int64_t textInterval, std::int64_t databaseInterval)
{
    return settingsRead && (textInterval >= 1 || databaseInterval >= 1)
               ? QStringLiteral("Export enabled")
               : QStringLiteral("Do not use export");
}

} // namespace brantwell
