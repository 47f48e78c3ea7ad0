// The test syslog message the event list sends to the local daemon.
#pragma once

#include <cstdint>

namespace brantwell {

inline constexpr char kTestMessage[] = "<191>Brantwell - Test message";
inline constexpr std::uint16_t kSyslogPort = 514;

// Sends the test datagram to 127.0.0.1:`port`; false when no socket could
// be opened or the send failed.
bool sendTestMessage(std::uint16_t port = kSyslogPort);

} // namespace brantwell
