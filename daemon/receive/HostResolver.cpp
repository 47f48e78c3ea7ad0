#include "HostResolver.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace brantwell {

namespace {

std::string systemLookup(const SenderAddress& address)
{
    sockaddr_storage ss{};
    socklen_t length = 0;
    if (address.isIpv4()) {
        auto& sa = reinterpret_cast<sockaddr_in&>(ss);
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(address.ipv4());
        length = sizeof sa;
    } else {
        auto& sa = reinterpret_cast<sockaddr_in6&>(ss);
        sa.sin6_family = AF_INET6;
        std::memcpy(&sa.sin6_addr, address.bytes.data(), 16);
        length = sizeof sa;
    }
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&ss), length, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
        return {};
    return host;
}

double systemClock()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

bool isUsableHostName(const std::string& name)
{
    if (name.empty())
        return false;
    for (unsigned char c : name)
        if (c < 0x21 || c > 0x7E || c == ',')
            return false;
    return true;
}

HostResolver::HostResolver() : HostResolver(systemLookup, systemClock) {}

HostResolver::HostResolver(Lookup lookup, Clock clock) : lookup_(std::move(lookup)), clock_(std::move(clock)) {}

const std::string& HostResolver::hostText(const SenderAddress& address, const std::string& text)
{
    const double now = clock_();
    auto it = cache_.find(address);
    if (it == cache_.end() || it->second.expires <= now) {
        if (it == cache_.end() && cache_.size() >= kMaxEntries)
            cache_.clear();  // a sweep of spoofed senders must not grow it for ever
        std::string name = lookup_(address);
        if (!isUsableHostName(name))
            name.clear();
        Entry entry{std::move(name), 0};
        entry.expires = now + (entry.name.empty() ? kFailedSeconds : kFoundSeconds);
        it = cache_.insert_or_assign(address, std::move(entry)).first;
    }
    return it->second.name.empty() ? text : it->second.name;
}

} // namespace brantwell
