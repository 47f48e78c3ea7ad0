// delete and test-message: the stored and announced events.
#include <arpa/inet.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "BusNames.h"
#include "Ctl.h"

namespace brantwell::ctl {

int deleteLines(const std::vector<std::string>& lines)
{
    if (lines.empty())
        return usage("delete needs at least one line");
    std::map<std::string, int> counts;
    for (const auto& l : lines)
        ++counts[l + "\n"];
    nlohmann::json events = nlohmann::json::object();
    for (const auto& [line, n] : counts)
        events[line] = std::to_string(n);
    return sendCommand({{"command", "update"}, {"Events", events}});
}

int testMessage(int port)
{
    static constexpr std::string_view kMessage = "<191>Brantwell - Test message";
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Connected, so that the kernel reports a port nobody receives on
    // (ICMP port unreachable) as an error on this socket.
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0
        || send(fd, kMessage.data(), kMessage.size(), 0) != static_cast<ssize_t>(kMessage.size())) {
        std::fprintf(stderr, "brantwellctl: cannot send to 127.0.0.1 UDP port %d: %s\n", port, std::strerror(errno));
        if (fd >= 0)
            close(fd);
        return kFailed;
    }
    pollfd p{fd, POLLIN, 0};
    const bool refused = poll(&p, 1, 200) == 1 && recv(fd, nullptr, 0, MSG_DONTWAIT) < 0 && errno == ECONNREFUSED;
    close(fd);
    if (refused) {
        std::fprintf(stderr, "brantwellctl: nothing receives on 127.0.0.1 UDP port %d; is BrantwellSrv running?\n", port);
        return kFailed;
    }
    std::printf("Sent \"%.*s\" to 127.0.0.1 UDP port %d\n", static_cast<int>(kMessage.size()), kMessage.data(), port);
    return kOk;
}

} // namespace brantwell::ctl
