#include "FailureReport.h"

#include <cstdio>

#include "LogText.h"

namespace brantwell {

bool FailureReport::report(const std::string& text)
{
    const auto now = std::chrono::steady_clock::now();
    if (text == last_ && now - lastTime_ < repeat_)
        return false;
    std::fprintf(stderr, "BrantwellSrv: %s\n", escapeLineBreaks(text).c_str());
    last_ = text;
    lastTime_ = now;
    return true;
}

} // namespace brantwell
