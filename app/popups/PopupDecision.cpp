#include "PopupDecision.h"

#include "common/SeverityRows.h"

namespace brantwell {

std::optional<std::size_t> findArray(const std::vector<std::string>& array, std::string_view text)
{
    for (std::size_t i = 0; i < array.size(); ++i) {
        if (array[i].find(text) != std::string::npos)
            return i;
    }
    return std::nullopt;
}

bool isChosenIn(const std::vector<std::string>& array, std::string_view priority)
{
    bool matchedRow = false;
    bool chosen = false;
    for (std::size_t row = 0; row < kSeverityMatchWords.size(); ++row) {
        if (priority.find(kSeverityMatchWords[row]) == std::string_view::npos)
            continue;
        matchedRow = true;
        chosen = chosen || findArray(array, kSeverityPopupNames[row]).has_value();
    }
    if (!matchedRow)
        chosen = findArray(array, kSeverityPopupNames[kUnknownRow]).has_value();
    return chosen;
}

PopupChoice decide(const AppSettings& settings, std::string_view priority)
{
    PopupChoice choice;
    choice.play = !settings.popupSound.empty() && isChosenIn(settings.popupPlayArray, priority);
    choice.show = settings.iPopupEvents >= 1 && isChosenIn(settings.popupDisplayArray, priority);
    return choice;
}

QString popupHeaderText(std::string_view priority)
{
    const auto dot = priority.find('.');
    if (dot != std::string_view::npos && dot > 0)
        priority.remove_prefix(dot + 1);
    return QString::fromUtf8(priority.data(), static_cast<qsizetype>(priority.size()));
}

QString popupDetailsText(const EventRecord& record, const QString& shownDate)
{
    return QStringLiteral("Date: ") + shownDate
           + QStringLiteral("\nPriority: ") + QString::fromStdString(record.priority)
           + QStringLiteral("\nHost: ") + QString::fromStdString(record.host)
           + QStringLiteral("\n\nMessage:\n") + QString::fromStdString(record.message);
}

} // namespace brantwell
