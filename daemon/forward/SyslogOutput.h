// What an upstream server receives for one stored event: an RFC 5424 or
// RFC 3164 message built from the stored line, and its octet-counted frame
// for TCP and TLS (RFC 6587, RFC 5425).
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "EventRecord.h"
#include "ForwardingRecord.h"

namespace brantwell {

// The PRI of a stored priority: "Local4.Notice" is 165; "Unknown" (and any
// text that names no facility and severity) is sent as user.notice, 13.
// Where two facilities share a name ("Security" for 4 and 10, "Clock" for 9
// and 15) the first is sent: the stored text no longer tells them apart.
int priorityValue(std::string_view priority);

// Builds messages, keeping the time texts of the last second it formatted
// (a burst shares its second, and local time conversion is not cheap).
class SyslogOutput {
public:
    explicit SyslogOutput(ForwardFormat format) : format_(format) {}

    // Appends the message of `event` (no framing, no line end).
    //  RFC 5424: <PRI>1 TIMESTAMP HOSTNAME - - - - MSG, the reception time
    //            with its UTC offset, HOSTNAME the stored Host.
    //  RFC 3164: <PRI>Mmm dd hh:mm:ss HOST MSG, in local time.
    // A Host with bytes a header cannot carry (space, control, non-ASCII)
    // has them as '_'; an empty one is "-".
    void append(std::string& out, const EventRecord& event);

    // Appends "LEN SP MESSAGE" for `event`.
    void appendFrame(std::string& out, const EventRecord& event);

private:
    void updateTime(long long seconds);

    ForwardFormat format_;
    long long second_ = -1;
    std::string timeText_;
    std::string scratch_;
};

} // namespace brantwell
