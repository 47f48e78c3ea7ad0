#include "HostResolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace brantwell {

namespace {

// Per DNS server 2 s, then 4 s over all of them: a lookup thread that meets
// a silent server is free again after about 6 s instead of glibc's 10 s
// (more with several servers). The resolver state is per thread, so this
// touches no other lookup of the process.
void limitResolverWait()
{
    if (res_init() == 0) {
        _res.retrans = 2;
        _res.retry = 2;
    }
}

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

struct HostResolver::Shared {
    struct Entry {
        std::string name;  // empty: not found (yet)
        double expires = 0;
        bool pending = false;  // queued or being looked up
    };
    struct Request {
        SenderAddress address;
        double queued = 0;
    };

    Lookup lookup;
    Clock clock;
    int threads = 0;
    bool started = false;
    bool stopping = false;
    std::mutex mutex;
    std::condition_variable wake;
    std::unordered_map<SenderAddress, Entry, SenderAddressHash> cache;
    std::deque<Request> queue;

    void work()
    {
        limitResolverWait();
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stopping || !queue.empty(); });
            if (stopping)
                return;
            const Request request = queue.front();
            queue.pop_front();
            std::string name;
            if (clock() - request.queued <= kQueueDeadlineSeconds) {
                lock.unlock();
                name = lookup(request.address);
                lock.lock();
                if (stopping)
                    return;
                if (!isUsableHostName(name))
                    name.clear();
            }
            // Given up after waiting too long in the queue: counted as not
            // found, so it is tried again after kFailedSeconds.
            Entry& entry = cache[request.address];
            entry.expires = clock() + (name.empty() ? kFailedSeconds : kFoundSeconds);
            if (!name.empty() || entry.name.empty())
                entry.name = std::move(name);  // a known name outlives one failed refresh
            entry.pending = false;
        }
    }
};

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

HostResolver::HostResolver(Lookup lookup, Clock clock, int threads) : shared_(std::make_shared<Shared>())
{
    shared_->lookup = std::move(lookup);
    shared_->clock = std::move(clock);
    shared_->threads = threads;
}

HostResolver::~HostResolver()
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->wake.notify_all();
}

void HostResolver::writeHostText(const SenderAddress& address, const std::string& text, std::string& out)
{
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    const double now = s.clock();
    auto it = s.cache.find(address);
    if (it != s.cache.end() && (it->second.pending || it->second.expires > now)) {
        out.assign(it->second.name.empty() ? text : it->second.name);
        return;
    }
    out.assign(it != s.cache.end() && !it->second.name.empty() ? it->second.name : text);
    if (s.queue.size() >= kMaxQueued)
        return;  // asked again with its next event
    if (it == s.cache.end()) {
        if (s.cache.size() >= kMaxEntries) {
            // A sweep of spoofed senders must not grow it for ever; what is
            // being looked up stays, so that it is not queued twice.
            std::erase_if(s.cache, [](const auto& e) { return !e.second.pending; });
        }
        it = s.cache.emplace(address, Shared::Entry{}).first;
    }
    it->second.pending = true;
    s.queue.push_back({address, now});
    if (!s.started) {
        // The threads start with the first lookup: a daemon that shows
        // addresses never has them. They hold the shared state, so a lookup
        // that is still waiting when this resolver goes ends harmlessly.
        s.started = true;
        for (int i = 0; i < s.threads; ++i)
            std::thread([shared = shared_] { shared->work(); }).detach();
    }
    lock.unlock();
    s.wake.notify_one();
}

} // namespace brantwell
