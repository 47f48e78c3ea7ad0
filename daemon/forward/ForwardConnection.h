// One connection to an upstream server: UDP, TCP or TLS (TLS 1.2 or later,
// the server's certificate checked against the CA file or the system's
// trust store and its name or address against `host`, an optional client
// certificate). Blocking calls bounded by time-outs and a stop flag, for a
// destination's own sending thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ForwardingRecord.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace brantwell {

class ForwardConnection {
public:
    using StopCheck = std::function<bool()>;

    ForwardConnection() = default;
    ~ForwardConnection();
    ForwardConnection(const ForwardConnection&) = delete;
    ForwardConnection& operator=(const ForwardConnection&) = delete;

    // Resolves, connects and (TLS) shakes hands, within about 10 seconds.
    // False with `error` set (one line) otherwise.
    bool open(const ForwardingDestination& destination, const StopCheck& stopped, std::string& error);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // Writes all of `bytes` (stream) or sends it as one datagram (UDP).
    // False with `error` set when the connection failed or `stopped` said so
    // (then `error` is empty).
    bool write(std::string_view bytes, const StopCheck& stopped, std::string& error);

    // Bytes of the stream the server's TCP has acknowledged (TLS records
    // included, for TLS): written minus what the kernel still holds.
    std::uint64_t acknowledgedBytes() const;
    // The stream's bytes written to the socket so far.
    std::uint64_t writtenBytes() const;

    // False when the server closed the connection or it failed (servers of
    // syslog send nothing, so anything to read is a close or an error).
    bool stillOpen(std::string& error);

private:
    int fd_ = -1;
    ForwardTransport transport_ = ForwardTransport::Tcp;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    std::uint64_t written_ = 0;  // plain TCP
};

} // namespace brantwell
