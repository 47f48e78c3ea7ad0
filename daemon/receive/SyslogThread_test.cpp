#include "SyslogThread.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "store/EventStore.h"
#include "settings/Settings.h"
#include "settings/SettingsPipe.h"
#include "testkit/PrivateMounts.h"
#include "testkit/TestSupport.h"
#include "testkit/UdpTestClient.h"

using namespace brantwell;
using namespace brantwell::test;
using nlohmann::json;

namespace {

constexpr double kNow = 1796770799.4;  // 2026-12-08 23:59:59 in Berlin, rounds down

// Records what the receiver announces and dispatches, and checks that both
// come only once the line is in the file.
class Recorder final : public EventAnnouncer, public ActionDispatcher {
public:
    explicit Recorder(std::string file) : file_(std::move(file)) {}
    void announce(EventType type, std::span<const EventRecord> events) override
    {
        std::lock_guard lock(mutex_);
        const std::string contents = readFile(file_);
        for (const auto& e : events) {
            announced.push_back(e);
            if (type == EventType::Set && contents.find(formatEventLine(e)) == std::string::npos)
                announcedEarly = true;
        }
    }
    void dispatch(const Settings&, const AcceptedEvent& event) override
    {
        std::lock_guard lock(mutex_);
        if (readFile(file_).find(formatEventLine(event.record)) == std::string::npos)
            dispatchedEarly = true;
        dispatched.push_back({std::string(event.senderAddress), event.record.host});
    }
    std::size_t count()
    {
        std::lock_guard lock(mutex_);
        return dispatched.size();
    }

    std::vector<EventRecord> announced;
    std::vector<std::pair<std::string, std::string>> dispatched;
    bool announcedEarly = false;  // a "Set" before its line was stored
    bool dispatchedEarly = false;

private:
    std::mutex mutex_;
    std::string file_;
};

struct Receiver {
    TempDir dir;
    SettingsPipe settings{dir.path()};
    EventStore store{dir.path()};
    Recorder recorder{dir.file("2026-12-08.log")};
    SyslogThread thread{settings, store, &recorder, &recorder, [] { return kNow; }};
    std::jthread runner;

    explicit Receiver(const char* address = "127.0.0.1")
    {
        settings.readSettings();
        EXPECT_TRUE(thread.open(0, address));
        runner = std::jthread([this](std::stop_token stop) { thread.run(stop); });
    }
    std::uint16_t port() const { return thread.boundPort(); }
    // Waits until `n` datagrams have been handled to the end: stored,
    // filtered out or dropped as empty.
    bool waitForHandled(std::uint64_t n)
    {
        for (int i = 0; i < 1000; ++i) {
            const auto& s = thread.statistics();
            if (s.stored.load() + s.unstored.load() + s.filtered.load() + s.empty.load() >= n)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

json filter(const char* ip, const char* mask, const char* severity)
{
    return {{"Name", "f"}, {"IP", ip}, {"Mask", mask}, {"Facility", "*"},
            {"Severity", severity}, {"Message", "*"}};
}

} // namespace

TEST(SyslogThread, StoresAnnouncesAndDispatchesInThatOrder)
{
    Receiver r;
    UdpSender from5("127.0.0.5");
    ASSERT_TRUE(from5.send(r.port(), "<34>Oct 11 22:14:15 mymachine su: 'su root' failed, twice"));
    ASSERT_TRUE(from5.send(r.port(), "\x01\x02"));  // nothing printable: dropped
    ASSERT_TRUE(r.waitForHandled(2));
    for (int i = 0; i < 1000 && r.recorder.count() < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    EXPECT_EQ(readFile(r.dir.file("2026-12-08.log")),
              "1796770799,Security.Critical,127.0.0.5,mymachine su: 'su root' failed, twice\n");
    ASSERT_EQ(r.recorder.announced.size(), 1u);
    EXPECT_FALSE(r.recorder.announcedEarly);
    EXPECT_FALSE(r.recorder.dispatchedEarly);
    ASSERT_EQ(r.recorder.dispatched.size(), 1u);
    EXPECT_EQ(r.recorder.dispatched[0].first, "127.0.0.5");
    EXPECT_EQ(r.thread.statistics().empty.load(), 1u);
}

TEST(SyslogThread, AppliesASavedFilterFromTheNextDatagram)
{
    Receiver r;
    UdpSender from5("127.0.0.5"), from9("127.0.0.9");
    ASSERT_EQ(SettingsPipe::SaveResult::Saved, r.settings.saveSettings(
        {{"Settings",
          {{"includeFiltersArray", json::array({filter("127.0.0.5", "32", "*")})},
           {"excludeFiltersArray", json::array({filter("0.0.0.0", "0", "Debug")})}}}}));
    from5.send(r.port(), "<14>kept");
    from5.send(r.port(), "<15>debug is excluded");
    from9.send(r.port(), "<14>not included");
    from5.send(r.port(), "no priority, still included");
    ASSERT_TRUE(r.waitForHandled(4));
    EXPECT_EQ(readFile(r.dir.file("2026-12-08.log")),
              "1796770799,User.Informational,127.0.0.5,kept\n"
              "1796770799,Unknown,127.0.0.5,no priority, still included\n");
    EXPECT_EQ(r.thread.statistics().filtered.load(), 2u);
}

TEST(SyslogThread, UnknownPriorityIsSelectedBySeverityUnknown)
{
    Receiver r;
    UdpSender from("127.0.0.1");
    r.settings.saveSettings({{"Settings", {{"excludeFiltersArray", json::array({filter("0.0.0.0", "0", "Unknown")})}}}});
    from.send(r.port(), "<0>panic");
    from.send(r.port(), "<200>beyond");
    from.send(r.port(), "<13>notice");
    ASSERT_TRUE(r.waitForHandled(3));
    // PRI 0 is the kernel's emergency, not an unknown priority.
    EXPECT_EQ(readFile(r.dir.file("2026-12-08.log")),
              "1796770799,Kernel.Emergency,127.0.0.1,panic\n1796770799,User.Notice,127.0.0.1,notice\n");
}

TEST(SyslogThread, StopsPromptlyWhileWaiting)
{
    const auto start = std::chrono::steady_clock::now();
    {
        Receiver r;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

namespace {

// util-linux logger sending one message over UDP with an RFC 3164 header.
int loggerUdp(const char* server, std::uint16_t port, const char* message)
{
    const std::string command = std::string("logger --rfc3164 -d -n ") + server + " -P " + std::to_string(port)
                                + " -p user.notice -t probe '" + message + "' 2>&1";
    return std::system(command.c_str());
}

std::string storedLines(const Receiver& r) { return readFile(r.dir.file("2026-12-08.log")); }

std::string hostnameText()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

} // namespace

TEST(SyslogThread, ADualStackSocketWritesIpv4SendersDottedAndIpv6SendersCompressed)
{
    Receiver r("::");
    ASSERT_EQ(loggerUdp("::1", r.port(), "over six"), 0);
    ASSERT_TRUE(r.waitForHandled(1));
    ASSERT_EQ(loggerUdp("127.0.0.1", r.port(), "over four"), 0);
    ASSERT_TRUE(r.waitForHandled(2));
    UdpSender from7("127.0.0.7");
    ASSERT_TRUE(from7.send(r.port(), "<13>from a v4 socket"));
    ASSERT_TRUE(r.waitForHandled(3));
    const std::string host = hostnameText();
    EXPECT_EQ(storedLines(r), "1796770799,User.Notice,::1," + host + " probe: over six\n"
                              "1796770799,User.Notice,127.0.0.1," + host + " probe: over four\n"
                              "1796770799,User.Notice,127.0.0.7,from a v4 socket\n");
    for (int i = 0; i < 1000 && r.recorder.count() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(r.recorder.dispatched.size(), 3u);
    EXPECT_EQ(r.recorder.dispatched[0].first, "::1");
    EXPECT_EQ(r.recorder.dispatched[1].first, "127.0.0.1");
}

TEST(SyslogThread, OnlyTheRangeOfEverySenderLetsAnIpv6SenderThrough)
{
    Receiver r("::");
    // Included: loopback IPv4 and everyone; excluded: a range starting at
    // 0.0.0.0 that an IPv6 address read as a number would fall into.
    ASSERT_EQ(SettingsPipe::SaveResult::Saved, r.settings.saveSettings(
        {{"Settings",
          {{"includeFiltersArray", json::array({filter("127.0.0.0", "8", "*")})},
           {"excludeFiltersArray", json::array({filter("0.0.0.0", "8", "Debug")})}}}}));
    ASSERT_EQ(loggerUdp("::1", r.port(), "not in 127.0.0.0/8"), 0);
    ASSERT_TRUE(r.waitForHandled(1));
    EXPECT_EQ(r.thread.statistics().filtered.load(), 1u);
    ASSERT_EQ(SettingsPipe::SaveResult::Saved, r.settings.saveSettings(
        {{"Settings",
          {{"includeFiltersArray", json::array({filter("0.0.0.0", "0", "*")})},
           {"excludeFiltersArray", json::array({filter("0.0.0.0", "8", "*")})}}}}));
    ASSERT_EQ(loggerUdp("::1", r.port(), "every sender"), 0);
    ASSERT_TRUE(r.waitForHandled(2));
    EXPECT_NE(storedLines(r).find(",User.Notice,::1,"), std::string::npos) << storedLines(r);
    EXPECT_EQ(r.thread.statistics().filtered.load(), 1u);
}

TEST(SyslogThread, ResolvesIpv6SendersByName)
{
    Receiver r("::");
    ASSERT_EQ(SettingsPipe::SaveResult::Saved, r.settings.saveSettings({{"Settings", {{"hostsDisplay", true}}}}));
    // What the machine's resolver says for ::1 (often nothing: then the
    // address stays).
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    char name[NI_MAXHOST] = {};
    const std::string expected =
        getnameinfo(reinterpret_cast<sockaddr*>(&loopback), sizeof loopback, name, sizeof name, nullptr, 0, NI_NAMEREQD) == 0
            ? name : "::1";
    // The name is looked up beside the receiver: the first events may
    // carry the address, later ones the name.
    std::uint64_t sent = 0;
    while (storedLines(r).find(",User.Notice," + expected + ",") == std::string::npos && sent < 100) {
        ASSERT_EQ(loggerUdp("::1", r.port(), "named"), 0);
        ASSERT_TRUE(r.waitForHandled(++sent));
    }
    EXPECT_NE(storedLines(r).find("1796770799,User.Notice," + expected + ","), std::string::npos) << storedLines(r);
    for (int i = 0; i < 1000 && r.recorder.count() < sent; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(r.recorder.dispatched.size(), sent);
    EXPECT_EQ(r.recorder.dispatched.back().first, "::1");  // actions still see the address
}

namespace {

// In a child process running as nobody (uid 65534) when this test runs as
// root: binds `address`:`port` with `option` set, the way a local user
// would try to take the receiver's datagrams. The child's exit status is 0
// when the bind succeeded, else the errno.
int bindAsNobody(int family, const char* address, std::uint16_t port, int option)
{
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(100);
        const int fd = ::socket(family, SOCK_DGRAM, 0);
        const int one = 1;
        if (option)
            ::setsockopt(fd, SOL_SOCKET, option, &one, sizeof one);
        sockaddr_storage ss{};
        socklen_t length = 0;
        if (family == AF_INET) {
            auto& sa = reinterpret_cast<sockaddr_in&>(ss);
            sa.sin_family = AF_INET;
            sa.sin_port = htons(port);
            inet_pton(AF_INET, address, &sa.sin_addr);
            length = sizeof sa;
        } else {
            auto& sa = reinterpret_cast<sockaddr_in6&>(ss);
            sa.sin6_family = AF_INET6;
            sa.sin6_port = htons(port);
            inet_pton(AF_INET6, address, &sa.sin6_addr);
            length = sizeof sa;
        }
        _exit(::bind(fd, reinterpret_cast<sockaddr*>(&ss), length) == 0 ? 0 : errno);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

// With address reuse on the receiver's socket, a user who set it too could
// bind the same port and take every datagram without a word.
TEST(SyslogThread, AnotherUserCannotBindItsPortAndDatagramsKeepArriving)
{
    Receiver r("::");
    const std::uint16_t port = r.port();
    ASSERT_NE(port, 0);
    EXPECT_EQ(r.thread.reception().get().first, ReceptionStatus::State::Receiving);
    struct Attempt {
        int family;
        const char* address;
        int option;
    };
    const Attempt attempts[] = {
        {AF_INET, "0.0.0.0", SO_REUSEADDR},   {AF_INET, "127.0.0.1", SO_REUSEADDR},
        {AF_INET6, "::", SO_REUSEADDR},       {AF_INET6, "::1", SO_REUSEADDR},
        {AF_INET, "0.0.0.0", SO_REUSEPORT},   {AF_INET6, "::", SO_REUSEPORT},
        {AF_INET, "127.0.0.1", 0}};
    UdpSender from("127.0.0.5");
    int sent = 0;
    for (const auto& a : attempts) {
        EXPECT_EQ(bindAsNobody(a.family, a.address, port, a.option), EADDRINUSE)
            << a.address << " with option " << a.option;
        ASSERT_TRUE(from.send(port, "<14>after an attempt on " + std::string(a.address)));
        ++sent;
    }
    ASSERT_TRUE(r.waitForHandled(static_cast<std::uint64_t>(sent)));
    const std::string lines = storedLines(r);
    for (const auto& a : attempts)
        EXPECT_NE(lines.find(",127.0.0.5,after an attempt on " + std::string(a.address) + "\n"), std::string::npos)
            << lines;
    EXPECT_EQ(r.thread.statistics().stored.load(), static_cast<std::uint64_t>(sent));
}

// Another program that holds the port (the common case: rsyslog on 514):
// the receiver says so instead of sharing the port.
TEST(SyslogThread, APortHeldByAnotherProgramIsNotSharedAndIsNamed)
{
    const std::uint16_t port = freeUdpPort();
    const int holder = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    TempDir dir;
    SettingsPipe settings{dir.path()};
    EventStore store{dir.path()};
    SyslogThread thread{settings, store, nullptr, nullptr};
    for (const char* address : {"::", "0.0.0.0", "127.0.0.1"}) {
        EXPECT_FALSE(thread.open(port, address)) << address;
        EXPECT_EQ(errno, EADDRINUSE);
        const auto [state, detail] = thread.reception().get();
        EXPECT_EQ(state, ReceptionStatus::State::NotReceiving);
        EXPECT_EQ(detail, "UDP port " + std::to_string(port) + " is held by another program (Address already in use)");
    }
    ::close(holder);
    EXPECT_TRUE(thread.open(port, "::"));
    EXPECT_EQ(thread.reception().get().second, "port " + std::to_string(port));
}

// A DNS server that takes queries and never answers (or a spoofed sender
// whose address has no name and a slow resolver behind it) costs glibc
// about 10 s per address. Here the machine's resolver is such a server, in
// a mount namespace of this test alone, and /etc/hosts names one sender.
TEST(SyslogThread, ASilentResolverDelaysNoOtherSendersEvents)
{
    PrivateMounts mounts;
    if (!mounts.ok())
        GTEST_SKIP() << mounts.why();
    TempDir etc;
    Receiver r;
    // Declared after the receiver, so closed first: once it is gone, the
    // lookups still waiting fail at once instead of holding the end of the
    // test (without lookups off the receive thread, for 100 times 10 s).
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } silent{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    sockaddr_in dns{};
    dns.sin_family = AF_INET;
    dns.sin_port = htons(53);
    inet_pton(AF_INET, "127.0.0.77", &dns.sin_addr);
    ASSERT_EQ(::bind(silent.fd, reinterpret_cast<sockaddr*>(&dns), sizeof dns), 0) << std::strerror(errno);
    writeFile(etc.file("resolv.conf"), "nameserver 127.0.0.77\n");
    writeFile(etc.file("hosts"), "127.0.0.1 localhost\n127.0.0.200 known.example\n");
    writeFile(etc.file("nsswitch.conf"), "hosts: files dns\n");
    ASSERT_TRUE(mounts.bindFile(etc.file("resolv.conf"), "/etc/resolv.conf")) << mounts.why();
    ASSERT_TRUE(mounts.bindFile(etc.file("hosts"), "/etc/hosts")) << mounts.why();
    ASSERT_TRUE(mounts.bindFile(etc.file("nsswitch.conf"), "/etc/nsswitch.conf")) << mounts.why();

    ASSERT_EQ(SettingsPipe::SaveResult::Saved, r.settings.saveSettings({{"Settings", {{"hostsDisplay", true}}}}));
    UdpSender known("127.0.0.200");
    std::uint64_t sent = 0;
    while (storedLines(r).find(",known.example,") == std::string::npos && sent < 200) {
        ASSERT_TRUE(known.send(r.port(), "<14>until named"));
        ASSERT_TRUE(r.waitForHandled(++sent));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_NE(storedLines(r).find(",known.example,until named\n"), std::string::npos) << storedLines(r);

    // 100 new senders, each a lookup the resolver never answers, then the
    // known one.
    std::vector<std::unique_ptr<UdpSender>> strangers;
    for (int i = 1; i <= 100; ++i) {
        strangers.push_back(std::make_unique<UdpSender>(("127.1.0." + std::to_string(i)).c_str()));
        ASSERT_TRUE(strangers.back()->send(r.port(), "<14>stranger " + std::to_string(i)));
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(known.send(r.port(), "<14>after the strangers"));
    const std::string wanted = ",User.Informational,known.example,after the strangers\n";
    while (storedLines(r).find(wanted) == std::string::npos
           && std::chrono::steady_clock::now() - start < std::chrono::seconds(15))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    RecordProperty("knownSenderStoredAfterMs", static_cast<int>(waited.count()));
    std::printf("the known sender's event was stored %lld ms after it was sent\n",
                static_cast<long long>(waited.count()));
    const std::string lines = storedLines(r);
    ASSERT_NE(lines.find(wanted), std::string::npos) << lines;
    // Well under the 10 s a single lookup of a stranger would have cost; the
    // time itself is measured in the benchmark, not judged here.
    EXPECT_LT(waited, std::chrono::seconds(2));
    for (int i = 1; i <= 100; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_NE(lines.find(",127.1.0." + n + ",stranger " + n + "\n"), std::string::npos) << "stored with its address";
    }
}
