// One entry in the system journal with SYSLOG_IDENTIFIER=BrantwellSrv.
//
// At the system journal's socket the entry is written by sd_journal_send;
// at any other socket path (tests, a relay) the same fields are sent in the
// journal's native datagram format. Where the socket does not exist the
// text goes to syslog(3) instead.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brantwell {

inline constexpr std::string_view kSystemJournalSocket = "/run/systemd/journal/socket";
inline constexpr std::string_view kJournalIdentifier = "BrantwellSrv";

// The journal priority (syslog level) of a log-event "Type": Default notice,
// Information info, Debug debug, Error err, Fault crit; nothing for any
// other name (the comparison is exact).
std::optional<int> journalPriorityOf(std::string_view type);

// The native datagram: one "NAME=value\n" per field, or for a value holding
// a LF, "NAME\n", its length as 64-bit little endian, the value and "\n".
std::string journalDatagram(int priority, std::string_view message);

class JournalWriter {
public:
    explicit JournalWriter(std::string socketPath = std::string(kSystemJournalSocket));

    // Writes one entry; on failure returns false with `error` set.
    bool write(int priority, std::string_view message, std::string& error) const;

    const std::string& socketPath() const { return socketPath_; }

private:
    std::string socketPath_;
};

} // namespace brantwell
