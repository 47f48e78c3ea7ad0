#include "TestMessage.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace brantwell {

bool sendTestMessage(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto length = std::strlen(kTestMessage);  // no terminating NUL
    const auto sent = ::sendto(fd, kTestMessage, length, 0, reinterpret_cast<const sockaddr*>(&to),
                               sizeof to);
    ::close(fd);
    return sent == static_cast<ssize_t>(length);
}

} // namespace brantwell
