// The D-Bus wire format, as far as `brantwellctl watch` needs it to read the
// daemon's event signals straight off its bus socket.
//
// Why not sd-bus here: reading one event through sd-bus's typed API takes
// some twenty calls, each checking its string once more although the bus
// daemon has already validated the whole message. At a few hundred thousand
// events a second that cost more than the daemon's whole receive path and
// left a subscriber unable to keep up. This reader checks bounds only, and
// answers the few bus messages a subscriber must (Hello, Ping, method calls
// it does not know).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brantwell::ctl::wire {

enum class MessageType : std::uint8_t { MethodCall = 1, MethodReturn = 2, Error = 3, Signal = 4 };

inline constexpr std::uint8_t kNoReplyExpected = 0x1;

// One message, its texts pointing into the buffer it was parsed from.
struct Message {
    MessageType type = MessageType::MethodCall;
    std::uint8_t flags = 0;
    bool bigEndian = false;
    std::uint32_t serial = 0;
    std::uint32_t replySerial = 0;  // 0: none
    std::string_view path, interface, member, errorName, destination, sender, signature;
    std::string_view body;
};

enum class Parse { Complete, Incomplete, Malformed };

// Parses the first message of `buffer`. Complete: `out` and `size` (bytes
// the message takes) are set. Incomplete: more bytes are needed. Malformed:
// the stream cannot be read on.
Parse parseMessage(std::string_view buffer, Message& out, std::size_t& size);

// One event of a "Brantwell" signal; keys it does not carry stay empty.
struct Event {
    std::string_view type, date, priority, host, message;
};

// Calls `each` for every event of an aa{ss} body; false if the body does
// not hold one (events before the fault have been passed on).
bool readEvents(const Message& m, const std::function<void(const Event&)>& each);

// The first value of a body that starts with a string ("s..."), or with a
// uint64 ("t").
std::optional<std::string_view> firstString(const Message& m);
std::optional<std::uint64_t> firstUint64(const Message& m);
// The three strings of an "sss" body (NameOwnerChanged).
bool threeStrings(const Message& m, std::string_view& a, std::string_view& b, std::string_view& c);

// Composes a little-endian message. `body` must already be marshalled for
// `signature` (see appendString).
struct Outgoing {
    MessageType type = MessageType::MethodCall;
    std::uint8_t flags = 0;
    std::uint32_t serial = 0;
    std::uint32_t replySerial = 0;
    std::string_view path, interface, member, errorName, destination, signature;
    std::string body;
};
std::string compose(const Outgoing& m);
// Appends one string value to a body being marshalled.
void appendString(std::string& body, std::string_view value);

} // namespace brantwell::ctl::wire
