// Reverse lookups of sender addresses, cached so that a slow resolver costs
// one wait per sender and time limit, not one per datagram.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

namespace brantwell {

class HostResolver {
public:
    // Looks up one IPv4 address (host byte order); empty when not found.
    using Lookup = std::function<std::string(std::uint32_t address)>;
    using Clock = std::function<double()>;

    HostResolver();  // getnameinfo and the real clock
    HostResolver(Lookup lookup, Clock clock);

    // The host name of `address`, or `dotted` when there is none or the
    // name could not be written safely into an event line.
    const std::string& hostText(std::uint32_t address, const std::string& dotted);

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
    std::unordered_map<std::uint32_t, Entry> cache_;
};

// A name from the resolver is kept only when it is printable ASCII without
// a comma (a comma would split the stored line) and not empty.
bool isUsableHostName(const std::string& name);

} // namespace brantwell
