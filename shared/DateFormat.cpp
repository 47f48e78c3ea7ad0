#include "DateFormat.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace brantwell {

struct DateFormatter::Impl {
    std::unique_ptr<icu::DateFormat> format;
};

std::string icuPatternOf(std::string_view dateFormat)
{
    std::string pattern;
    pattern.reserve(dateFormat.size());
    for (std::size_t i = 0; i < dateFormat.size();) {
        if (dateFormat.substr(i, 5) == "AM/PM") {
            pattern += 'a';
            i += 5;
        } else {
            pattern += dateFormat[i++];
        }
    }
    return pattern;
}

DateFormatter::DateFormatter(std::string_view dateFormat)
    : setting_(dateFormat), impl_(std::make_unique<Impl>())
{
    auto& format_ = impl_->format;
    const icu::Locale locale("en_US_POSIX");
    UErrorCode status = U_ZERO_ERROR;
    if (!dateFormat.empty()) {
        const auto pattern = icu::UnicodeString::fromUTF8(icuPatternOf(dateFormat));
        auto simple = std::make_unique<icu::SimpleDateFormat>(pattern, locale, status);
        if (U_SUCCESS(status))
            format_ = std::move(simple);
    }
    // An empty setting, or a pattern ICU refuses, falls back to the styles.
    if (!format_)
        format_.reset(icu::DateFormat::createDateTimeInstance(icu::DateFormat::kShort,
                                                              icu::DateFormat::kMedium, locale));
    // The machine's zone as it is now (TZ or /etc/localtime), not the one
    // ICU cached at its first use; the process-wide default is left alone.
    if (format_)
        format_->adoptTimeZone(icu::TimeZone::detectHostTimeZone());
}

DateFormatter::~DateFormatter() = default;
DateFormatter::DateFormatter(DateFormatter&&) noexcept = default;
DateFormatter& DateFormatter::operator=(DateFormatter&&) noexcept = default;

std::string DateFormatter::format(double secondsSince1970) const
{
    const auto& format_ = impl_->format;
    if (!format_)
        return {};
    icu::UnicodeString text;
    format_->format(static_cast<UDate>(secondsSince1970 * 1000.0), text);
    // Newer locale data puts a narrow no-break space (U+202F) before AM/PM
    // and thin spaces in ranges; exports, mails and parsers such as date(1)
    // expect the plain space, whatever the ICU version gives.
    for (int32_t i = 0; i < text.length(); ++i)
        if (text[i] != u' ' && u_charType(text[i]) == U_SPACE_SEPARATOR)
            text.setCharAt(i, u' ');
    std::string out;
    text.toUTF8String(out);
    return out;
}

} // namespace brantwell
