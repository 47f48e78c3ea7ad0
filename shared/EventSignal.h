// Reading the daemon's event signal, Brantwell(s type, ay lines), with
// sd-bus: the type ("Set" or "Remove") and the stored lines, each with its
// LF, as the day file holds them. For the programs that use sdbus-c++
// (brantwellctl, the daemon's tests); the application reads it with QtDBus.
#pragma once

#include <string>
#include <string_view>

#include <sdbus-c++/Message.h>
#include <systemd/sd-bus.h>

namespace brantwell::bus {

inline constexpr char kEventSignalSignature[] = "say";

struct EventSignal {
    std::string type;
    std::string_view lines;  // valid while the message lives
};

// False when the signal does not have the shape above. The lines are read
// in place, in one piece (sdbus-c++ would read a byte array byte by byte).
inline bool readEventSignal(sdbus::Message& signal, EventSignal& out)
{
    // sdbus-c++ 1.2 gives no access to the sd-bus message under a Message;
    // a pointer to the protected member, formed through a derived class,
    // reads it.
    struct Access : sdbus::Message {
        static sd_bus_message* raw(sdbus::Message& s) { return static_cast<sd_bus_message*>(s.*(&Access::msg_)); }
    };
    sd_bus_message* const m = Access::raw(signal);
    if (!m || !sd_bus_message_has_signature(m, kEventSignalSignature))
        return false;
    sd_bus_message_rewind(m, 1);
    const char* type = nullptr;
    const void* bytes = nullptr;
    std::size_t size = 0;
    if (sd_bus_message_read_basic(m, SD_BUS_TYPE_STRING, &type) < 0
        || sd_bus_message_read_array(m, SD_BUS_TYPE_BYTE, &bytes, &size) < 0)
        return false;
    out.type = type;
    out.lines = std::string_view(static_cast<const char*>(bytes), size);
    return true;
}

} // namespace brantwell::bus
