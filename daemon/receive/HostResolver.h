// Reverse lookups of sender addresses, off the receive threads.
//
// A resolver that does not answer costs glibc about 10 s per address, and
// sender addresses of UDP can be spoofed at will: a lookup on a receive
// thread would let anybody hold back every other sender's events. So the
// receiver only reads a cache; an address not in it is queued for a few
// lookup threads and its events are stored with the address until the name
// is found. The queue is bounded, and an address that waited longer than
// kQueueDeadlineSeconds is given up (and tried again later), so a flood of
// new addresses neither grows memory nor delays the ones behind it for ever.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "SenderAddress.h"

namespace brantwell {

class HostResolver {
public:
    // Looks up one IPv4 or IPv6 address; empty when not found. Runs on a
    // lookup thread.
    using Lookup = std::function<std::string(const SenderAddress& address)>;
    using Clock = std::function<double()>;  // steady seconds

    HostResolver();  // getnameinfo and the steady clock
    HostResolver(Lookup lookup, Clock clock, int threads = kThreads);
    ~HostResolver();  // does not wait for a lookup in progress
    HostResolver(const HostResolver&) = delete;
    HostResolver& operator=(const HostResolver&) = delete;

    // Never waits. Writes the host name of `address` into `out` when it is
    // known; otherwise `text` (its address text), and the address is queued
    // for a lookup unless one is under way or the queue is full.
    void writeHostText(const SenderAddress& address, const std::string& text, std::string& out);

    static constexpr double kFoundSeconds = 3600;
    static constexpr double kFailedSeconds = 300;
    static constexpr std::size_t kMaxEntries = 8192;
    static constexpr std::size_t kMaxQueued = 256;
    static constexpr double kQueueDeadlineSeconds = 30;
    static constexpr int kThreads = 4;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;  // shared with the lookup threads, which may outlive this
};

// A name from the resolver is kept only when it is printable ASCII without
// a comma (a comma would split the stored line) and not empty.
bool isUsableHostName(const std::string& name);

} // namespace brantwell
