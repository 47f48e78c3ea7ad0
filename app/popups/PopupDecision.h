// What the popup logic decides for one announced event, and the texts a
// popup shows. Pure functions of the settings and the event, so the same
// snapshot of the settings gives the same answer wherever it is asked.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QString>

#include "EventRecord.h"
#include "common/AppSettings.h"

namespace brantwell {

// Index of the first entry of `array` that contains `text` (case-sensitive
// substring test), or nothing when no entry does.
std::optional<std::size_t> findArray(const std::vector<std::string>& array, std::string_view text);

// Whether an event of this priority is chosen in one of the popup arrays:
// every severity row whose match word occurs in the priority is looked up
// by its name (so "Alert.Error" is chosen by "Alert" or by "Error"); a
// priority that matches no row is looked up as "Unknown".
bool isChosenIn(const std::vector<std::string>& array, std::string_view priority);

struct PopupChoice {
    bool play = false;  // play the sound file
    bool show = false;  // show a popup
    bool any() const { return play || show; }
};

// Sound when a sound file is set and the severity is in popupPlayArray;
// popup when the display time is 1 s or more and the severity is in
// popupDisplayArray.
PopupChoice decide(const AppSettings& settings, std::string_view priority);

// The severity part of a priority: the text after its first ".", or the
// whole text when there is no "." after the first character.
QString popupHeaderText(std::string_view priority);

// "Date: …\nPriority: …\nHost: …\n\nMessage:\n…" with the date as shown.
QString popupDetailsText(const EventRecord& record, const QString& shownDate);

} // namespace brantwell
