// Display dates: the user's `dateFormat` pattern (Unicode date pattern, with
// "AM/PM" standing for the letter "a"), or the short date and medium time
// styles when the setting is empty. Locale en_US_POSIX, machine time zone.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace brantwell {

// The pattern actually given to the formatter: every "AM/PM" becomes "a".
std::string icuPatternOf(std::string_view dateFormat);

class DateFormatter {
public:
    explicit DateFormatter(std::string_view dateFormat = {});
    ~DateFormatter();
    DateFormatter(DateFormatter&&) noexcept;
    DateFormatter& operator=(DateFormatter&&) noexcept;

    // Formats a time in seconds since 1970. Not safe to share between
    // threads: give each thread its own formatter.
    std::string format(double secondsSince1970) const;
    const std::string& setting() const { return setting_; }

private:
    std::string setting_;
    struct Impl;  // holds the ICU formatter
    std::unique_ptr<Impl> impl_;
};

} // namespace brantwell
