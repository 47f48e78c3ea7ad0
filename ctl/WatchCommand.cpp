// watch: subscribes to the daemon's announcements and prints each event as
// one line. Reads its bus connection with the small wire reader of
// BusWire.h (see there why), and follows the daemon across restarts.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <sdbus-c++/Error.h>

#include "BusNames.h"
#include "BusWire.h"
#include "Ctl.h"

namespace brantwell::ctl {

namespace {

using wire::Message;
using wire::MessageType;

constexpr char kBus[] = "org.freedesktop.DBus";
constexpr int kCallTimeoutMs = 25000;  // the bus's usual method call time-out

// A failure of the connection itself (not an error answer).
struct BusFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string unescape(std::string_view v)
{
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const auto hex = [&](std::size_t at) { return std::isxdigit(static_cast<unsigned char>(v[at])) != 0; };
        if (v[i] == '%' && i + 2 < v.size() && hex(i + 1) && hex(i + 2)) {
            out.push_back(static_cast<char>(std::strtol(std::string(v.substr(i + 1, 2)).c_str(), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(v[i]);
        }
    }
    return out;
}

// Connects to the first reachable "unix:" address of the system bus.
int connectSystemBus()
{
    const char* env = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string addresses = env && *env ? env : "unix:path=/var/run/dbus/system_bus_socket";
    std::string why = "no unix: address in \"" + addresses + "\"";
    std::size_t from = 0;
    while (from <= addresses.size()) {
        const std::size_t to = std::min(addresses.find(';', from), addresses.size());
        const std::string_view address = std::string_view(addresses).substr(from, to - from);
        from = to + 1;
        if (!address.starts_with("unix:"))
            continue;
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        socklen_t length = 0;
        for (std::size_t k = 5; k < address.size();) {
            const std::size_t e = std::min(address.find(',', k), address.size());
            const std::string_view kv = address.substr(k, e - k);
            k = e + 1;
            const bool abstract = kv.starts_with("abstract=");
            if (!kv.starts_with("path=") && !abstract)
                continue;
            const std::string path = unescape(kv.substr(kv.find('=') + 1));
            if (path.size() + 1 > sizeof sa.sun_path)
                continue;
            std::memcpy(sa.sun_path + (abstract ? 1 : 0), path.data(), path.size());
            // A path ends in a NUL; an abstract name starts with one.
            length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
        }
        if (length == 0)
            continue;
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&sa), length) == 0)
            return fd;
        why = std::string(address) + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
    }
    throw BusFailure("cannot connect to the system bus (" + why + ")");
}

// Bytes read and not yet handled. Unlike a string it does not zero the
// room it makes for the next read.
class ReadBuffer {
public:
    std::string_view view() const { return {data_.get(), size_}; }
    void consume(std::size_t n)
    {
        std::memmove(data_.get(), data_.get() + n, size_ - n);
        size_ -= n;
    }
    // Space for at least `n` more bytes, at the end.
    char* room(std::size_t n, std::size_t& available)
    {
        if (capacity_ - size_ < n) {
            const std::size_t capacity = std::max(capacity_ * 2, size_ + n);
            auto grown = std::make_unique_for_overwrite<char[]>(capacity);
            std::memcpy(grown.get(), data_.get(), size_);
            data_ = std::move(grown);
            capacity_ = capacity;
        }
        available = capacity_ - size_;
        return data_.get() + size_;
    }
    void added(std::size_t n) { size_ += n; }

private:
    std::unique_ptr<char[]> data_ = std::make_unique_for_overwrite<char[]>(256 * 1024);
    std::size_t size_ = 0, capacity_ = 256 * 1024;
};

// The connection to the bus and the bytes read from it.
class Connection {
public:
    Connection() : fd_(connectSystemBus()) { authenticate(); }
    ~Connection() { close(fd_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    std::uint32_t send(wire::Outgoing m)
    {
        m.serial = nextSerial_++;
        write(wire::compose(m));
        return m.serial;
    }

    std::uint32_t call(std::string_view destination, std::string_view path, std::string_view interface,
                       std::string_view member, std::string body = {}, std::string_view signature = {})
    {
        wire::Outgoing m;
        m.destination = destination;
        m.path = path;
        m.interface = interface;
        m.member = member;
        m.signature = signature;
        m.body = std::move(body);
        return send(std::move(m));
    }

    // Reads what the bus sends and hands each message to `handle`, until
    // `handle` returns false or `timeoutMs` passes without a message
    // (negative: never); `beforeWait` runs whenever all that was read has
    // been handled. Returns whether `handle` asked to stop.
    template <typename Handler>
    bool pump(Handler&& handle, int timeoutMs = -1, const std::function<void()>& beforeWait = {})
    {
        for (;;) {
            std::size_t used = 0;
            bool stop = false;
            while (!stop) {
                Message m;
                std::size_t size = 0;
                const auto parsed = wire::parseMessage(buffer_.view().substr(used), m, size);
                if (parsed == wire::Parse::Malformed)
                    throw BusFailure("the bus sent a message this client cannot read");
                if (parsed == wire::Parse::Incomplete)
                    break;
                used += size;
                stop = !handle(m);
            }
            buffer_.consume(used);
            if (stop)
                return true;
            if (beforeWait)
                beforeWait();
            fill(timeoutMs);
            if (timedOut_)
                return false;
        }
    }

    // Waits for the answer to `serial`, handing everything else to `other`.
    // Throws sdbus::Error for an error answer.
    template <typename Handler>
    std::string awaitReply(std::uint32_t serial, Handler&& other)
    {
        std::string errorName, errorText, value;
        bool answered = false;
        const bool done = pump(
            [&](const Message& m) {
                if ((m.type == MessageType::MethodReturn || m.type == MessageType::Error) && m.replySerial == serial) {
                    answered = true;
                    if (m.type == MessageType::Error) {
                        errorName = m.errorName;
                        errorText = wire::firstString(m).value_or("");
                    } else {
                        value = wire::firstString(m).value_or("");
                    }
                    return false;
                }
                return other(m);
            },
            kCallTimeoutMs);
        if (!done)
            throw sdbus::Error("org.freedesktop.DBus.Error.NoReply", "no answer within 25 seconds");
        if (!answered)
            throw BusFailure("stopped before the answer came");
        if (!errorName.empty())
            throw sdbus::Error(errorName, errorText);
        return value;
    }

    // Answers a method call addressed to this client: Ping as the bus
    // expects, anything else as unknown.
    void answer(const Message& m)
    {
        if (m.flags & wire::kNoReplyExpected)
            return;
        wire::Outgoing reply;
        reply.replySerial = m.serial;
        const std::string sender(m.sender);
        reply.destination = sender;
        if (m.interface == "org.freedesktop.DBus.Peer" && m.member == "Ping") {
            reply.type = MessageType::MethodReturn;
            send(std::move(reply));
            return;
        }
        reply.type = MessageType::Error;
        reply.errorName = "org.freedesktop.DBus.Error.UnknownMethod";
        reply.signature = "s";
        wire::appendString(reply.body, "brantwellctl watch answers Ping only");
        send(std::move(reply));
    }

private:
    void write(std::string_view bytes)
    {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw BusFailure(std::string("the bus connection broke: ") + std::strerror(errno));
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    // Reads what is there (at least one byte), or notes a time-out.
    void fill(int timeoutMs)
    {
        timedOut_ = false;
        pollfd p{fd_, POLLIN, 0};
        int ready;
        while ((ready = poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
        }
        if (ready == 0) {
            timedOut_ = true;
            return;
        }
        // Large reads (what is free of a buffer that starts at 256 KiB): a
        // fast daemon sends many events per wake-up.
        constexpr std::size_t kChunk = 64 * 1024;
        std::size_t available = 0;
        char* into = buffer_.room(kChunk, available);
        ssize_t n;
        while ((n = ::read(fd_, into, available)) < 0 && errno == EINTR) {
        }
        if (n > 0)
            buffer_.added(static_cast<std::size_t>(n));
        if (n == 0)
            throw BusFailure("the bus closed the connection");
        if (n < 0)
            throw BusFailure(std::string("cannot read from the bus: ") + std::strerror(errno));
    }

    std::string line()
    {
        for (;;) {
            const std::string_view read = buffer_.view();
            if (const auto at = read.find("\r\n"); at != std::string_view::npos) {
                std::string l(read.substr(0, at));
                buffer_.consume(at + 2);
                return l;
            }
            if (read.size() > 16384)
                throw BusFailure("the bus answered the authentication with too long a line");
            fill(kCallTimeoutMs);
            if (timedOut_)
                throw BusFailure("the bus did not answer the authentication");
        }
    }

    // SASL EXTERNAL: the bus knows the caller from the socket itself.
    void authenticate()
    {
        std::string hex;
        for (const char c : std::to_string(getuid())) {
            char b[3];
            std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(c));
            hex += b;
        }
        write(std::string_view("\0AUTH EXTERNAL ", 15));
        write(hex + "\r\n");
        const std::string reply = line();
        if (!reply.starts_with("OK "))
            throw BusFailure("the bus refused the authentication (" + reply + ")");
        write("BEGIN\r\n");
    }

    int fd_;
    ReadBuffer buffer_;
    std::uint32_t nextSerial_ = 1;
    bool timedOut_ = false;
};

void printEvents(const Message& m, std::string& out)
{
    const bool whole = wire::readEvents(m, [&out](const wire::Event& e) {
        out.append(e.type).append(" ").append(e.date).append(",").append(e.priority).append(",");
        out.append(e.host).append(",").append(e.message).append("\n");
    });
    if (!whole)
        std::fprintf(stderr, "brantwellctl: an event signal that could not be read was left out\n");
}

} // namespace

int watch()
{
    try {
        Connection bus;
        std::string owner;
        std::string out;
        std::uint32_t resubscribe = 0;  // serial of a Subscribe sent after a restart
        std::optional<sdbus::Error> failed;  // the restarted daemon's answer to Subscribe

        // Every message that is not the answer being waited for.
        const auto handle = [&](const Message& m) {
            if (m.type == MessageType::MethodCall) {
                bus.answer(m);
            } else if (m.type == MessageType::Signal && !owner.empty() && m.sender == owner
                       && m.path == bus::kObjectPath && m.interface == bus::kInterface) {
                if (m.member == bus::kEventSignal) {
                    printEvents(m, out);
                } else if (m.member == bus::kEventsDroppedSignal) {
                    // The daemon had to leave events out: say how many.
                    if (const auto count = wire::firstUint64(m))
                        out += "Dropped " + std::to_string(*count) + "\n";
                }
            } else if (m.type == MessageType::Signal && m.sender == kBus && m.member == "NameOwnerChanged") {
                std::string_view name, before, after;
                if (wire::threeStrings(m, name, before, after) && name == bus::kService && after != owner) {
                    owner = after;
                    if (owner.empty()) {
                        std::fprintf(stderr, "brantwellctl: BrantwellSrv left the bus; waiting for it\n");
                    } else {
                        // A restarted daemon knows no subscribers.
                        resubscribe = bus.call(bus::kService, bus::kObjectPath, bus::kInterface, bus::kSubscribe);
                    }
                }
            } else if (m.type == MessageType::Error && resubscribe && m.replySerial == resubscribe) {
                failed.emplace(std::string(m.errorName), std::string(wire::firstString(m).value_or("")));
            } else if (m.type == MessageType::MethodReturn && resubscribe && m.replySerial == resubscribe) {
                std::fprintf(stderr, "brantwellctl: watching again\n");
                resubscribe = 0;
            }
            return !failed;
        };

        bus.awaitReply(bus.call(kBus, "/org/freedesktop/DBus", kBus, "Hello"), handle);
        std::string rule = "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                           "member='NameOwnerChanged',arg0='";
        rule += bus::kService;
        rule += "'";
        std::string body;
        wire::appendString(body, rule);
        bus.awaitReply(bus.call(kBus, "/org/freedesktop/DBus", kBus, "AddMatch", body, "s"), handle);
        body.clear();
        wire::appendString(body, bus::kService);
        owner = bus.awaitReply(bus.call(kBus, "/org/freedesktop/DBus", kBus, "GetNameOwner", body, "s"), handle);
        // The daemon sends its events to subscribers only.
        bus.awaitReply(bus.call(bus::kService, bus::kObjectPath, bus::kInterface, bus::kSubscribe), handle);
        // Tells a script that the subscription is in place.
        std::fprintf(stderr, "brantwellctl: watching\n");

        // One write per read from the bus, however many events it brought.
        const auto flush = [&out] {
            if (out.empty())
                return;
            std::fwrite(out.data(), 1, out.size(), stdout);
            std::fflush(stdout);
            out.clear();
        };
        bus.pump(handle, -1, flush);
        flush();
        // Said as for a first subscription (exit 3 for a refusal).
        return failed ? reportError(*failed) : kOk;
    } catch (const sdbus::Error& e) {
        return reportError(e);
    } catch (const BusFailure& e) {
        std::fprintf(stderr, "brantwellctl: %s\n", e.what());
        return kFailed;
    }
}

} // namespace brantwell::ctl
