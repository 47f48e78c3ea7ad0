#include "SyslogOutput.h"

#include <cstdio>
#include <cstdlib>

#include "Priority.h"

namespace brantwell {

int priorityValue(std::string_view priority)
{
    constexpr int kUserNotice = 13;
    const auto dot = priority.find('.');
    if (dot == std::string_view::npos)
        return kUserNotice;
    const std::string_view facility = priority.substr(0, dot), severity = priority.substr(dot + 1);
    int f = -1, s = -1;
    for (std::size_t i = 0; i < kFacilityNames.size() && f < 0; ++i)
        if (kFacilityNames[i] == facility)
            f = static_cast<int>(i);
    for (std::size_t i = 0; i < kSeverityNames.size() && s < 0; ++i)
        if (kSeverityNames[i] == severity)
            s = static_cast<int>(i);
    if (f < 0 || s < 0)
        return kUserNotice;
    return f * 8 + s;
}

namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void appendHost(std::string& out, std::string_view host)
{
    if (host.empty()) {
        out += '-';
        return;
    }
    for (const char c : host.substr(0, 255)) {
        const auto u = static_cast<unsigned char>(c);
        out += (u > 0x20 && u < 0x7F) ? c : '_';
    }
}

} // namespace

void SyslogOutput::updateTime(long long seconds)
{
    if (seconds == second_)
        return;
    second_ = seconds;
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    char text[64];
    if (format_ == ForwardFormat::Rfc3164) {
        std::snprintf(text, sizeof text, "%s %2d %02d:%02d:%02d", kMonths[local.tm_mon % 12], local.tm_mday,
                      local.tm_hour, local.tm_min, local.tm_sec);
    } else {
        const long offset = local.tm_gmtoff;
        const long minutes = (offset < 0 ? -offset : offset) / 60;
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                      offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    }
    timeText_ = text;
}

void SyslogOutput::append(std::string& out, const EventRecord& event)
{
    updateTime(std::strtoll(event.date.c_str(), nullptr, 10));
    char pri[8];
    std::snprintf(pri, sizeof pri, "<%d>", priorityValue(event.priority));
    out += pri;
    if (format_ == ForwardFormat::Rfc5424)
        out += "1 ";
    out += timeText_;
    out += ' ';
    appendHost(out, event.host);
    if (format_ == ForwardFormat::Rfc5424)
        out += " - - - -";  // APP-NAME PROCID MSGID SD: not known apart from the message
    if (!event.message.empty()) {
        out += ' ';
        out += event.message;
    }
}

void SyslogOutput::appendFrame(std::string& out, const EventRecord& event)
{
    scratch_.clear();
    append(scratch_, event);
    out += std::to_string(scratch_.size());
    out += ' ';
    out += scratch_;
}

} // namespace brantwell
