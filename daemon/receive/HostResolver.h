// Reverse lookups of sender addresses, cached so that a slow resolver costs
// one wait per sender and time limit, not one per datagram.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "SenderAddress.h"

namespace brantwell {

class HostResolver {
public:
    // Looks up one IPv4 or IPv6 address; empty when not found.
    using Lookup = std::function<std::string(const SenderAddress& address)>;
    using Clock = std::function<double()>;

    HostResolver();  // getnameinfo and the real clock
    HostResolver(Lookup lookup, Clock clock);

    // The host name of `address`, or `text` (its address text) when there
    // is none or the name could not be written safely into an event line.
    const std::string& hostText(const SenderAddress& address, const std::string& text);

    static constexpr double kFoundSeconds = 3600;
    static constexpr double kFailedSeconds = 300;
    static constexpr std::size_t kMaxEntries = 8192;

private:
    struct Entry {
        std::string name;  // empty: not found
        double expires = 0;
    };
    Lookup lookup_;
    Clock clock_;
    std::unordered_map<SenderAddress, Entry, SenderAddressHash> cache_;
};

// A name from the resolver is kept only when it is printable ASCII without
// a comma (a comma would split the stored line) and not empty.
bool isUsableHostName(const std::string& name);

} // namespace brantwell
