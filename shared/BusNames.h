// The names of the daemon's D-Bus channel, written once for the daemon, the
// application, brantwellctl and the tests. The interface itself is
// described in dbus/com.Corvanta.BrantwellSrv.xml beside this file.
#pragma once

// A macro as well, for the places that need a string literal (Qt's
// Q_CLASSINFO).
#define BRANTWELL_BUS_INTERFACE "com.Corvanta.BrantwellSrv.MyXPCProtocol"

namespace brantwell::bus {

inline constexpr char kService[] = "com.Corvanta.BrantwellSrv";
inline constexpr char kObjectPath[] = "/com/Corvanta/BrantwellSrv";
inline constexpr char kInterface[] = BRANTWELL_BUS_INTERFACE;

inline constexpr char kSetCommand[] = "setCommand";
inline constexpr char kGetStatistics[] = "getStatistics";
inline constexpr char kGetStatus[] = "getStatus";
inline constexpr char kEventSignal[] = "Brantwell";
// Subscription to the event signals: only subscribers receive them.
inline constexpr char kSubscribe[] = "Subscribe";
inline constexpr char kUnsubscribe[] = "Unsubscribe";
// Sent to a subscriber that missed announcements: how many (t). It re-reads
// the store to be in step again.
inline constexpr char kEventsDroppedSignal[] = "EventsDropped";

// The answer of setCommand once a command has been carried out.
inline constexpr char kReceived[] = "Received";

// The error of an "email" command whose message the mail server did not
// take; its text names the step that failed and the server's reply.
inline constexpr char kMailNotSent[] = "com.Corvanta.BrantwellSrv.Error.MailNotSent";

} // namespace brantwell::bus
