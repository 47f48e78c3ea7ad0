#include "SmtpConnection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace brantwell {

namespace {

constexpr auto kStopCheck = std::chrono::milliseconds(200);

std::string opensslError()
{
    std::string text;
    while (const unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!text.empty())
            text += "; ";
        text += buf;
    }
    return text.empty() ? std::string("TLS failure") : text;
}

bool isIpLiteral(const std::string& host)
{
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

} // namespace

SmtpConnection::SmtpConnection(std::stop_token stop) : stop_(std::move(stop)) {}

SmtpConnection::~SmtpConnection()
{
    if (ssl_) {
        SSL_shutdown(ssl_);  // best effort close_notify; the socket is non-blocking
        SSL_free(ssl_);
    }
    if (context_)
        SSL_CTX_free(context_);
    if (fd_ >= 0)
        close(fd_);
}

SmtpConnection::Wait SmtpConnection::waitFor(short events, Deadline deadline)
{
    for (;;) {
        if (stop_.stop_requested())
            return Wait::Stopped;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const auto slice = std::clamp(left, std::chrono::milliseconds(0), kStopCheck);
        pollfd p{fd_, events, 0};
        const int r = poll(&p, 1, static_cast<int>(slice.count()));
        if (r > 0)
            return Wait::Ready;
        if (r < 0 && errno != EINTR)
            return Wait::Ready;  // let the following call report the error
        if (left <= std::chrono::milliseconds(0))
            return Wait::Timeout;
    }
}

bool SmtpConnection::connect(const std::string& host, long long port, Deadline deadline, std::string& error)
{
    if (port < 1 || port > 65535) {
        error = "invalid port " + std::to_string(port);
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list); rc != 0) {
        error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return false;
    }
    error = "no address";
    for (addrinfo* a = list; a; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            error = std::strerror(errno);
            continue;
        }
        int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            fd_ = fd;
            const Wait w = waitFor(POLLOUT, deadline);
            fd_ = -1;
            int soError = 0;
            socklen_t len = sizeof soError;
            if (w == Wait::Ready && getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError == 0)
                rc = 0;
            else
                errno = w == Wait::Timeout ? ETIMEDOUT : w == Wait::Stopped ? ECANCELED : soError;
        }
        if (rc == 0) {
            fd_ = fd;
            freeaddrinfo(list);
            return true;
        }
        error = std::strerror(errno);
        close(fd);
        if (stop_.stop_requested())
            break;
    }
    freeaddrinfo(list);
    error = "cannot connect to " + host + ":" + service + ": " + error;
    return false;
}

bool SmtpConnection::waitForData(Deadline deadline)
{
    if (!input_.empty() || (ssl_ && SSL_pending(ssl_) > 0))
        return true;
    return waitFor(POLLIN, deadline) == Wait::Ready;
}

bool SmtpConnection::startTls(const std::string& host, Deadline deadline, std::string& error)
{
    // Bytes the server sent before the handshake were never protected: a
    // man in the middle could have put them there to be read as replies
    // after it.
    if (!input_.empty()) {
        error = "the server sent data before the TLS handshake";
        return false;
    }
    ERR_clear_error();
    context_ = SSL_CTX_new(TLS_client_method());
    if (!context_ || SSL_CTX_set_default_verify_paths(context_) != 1) {
        error = opensslError();
        return false;
    }
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    ssl_ = SSL_new(context_);
    if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1) {
        error = opensslError();
        return false;
    }
    if (isIpLiteral(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl_, host.c_str());
        SSL_set1_host(ssl_, host.c_str());
    }
    for (;;) {
        const int rc = SSL_connect(ssl_);
        if (rc == 1)
            return true;
        const int e = SSL_get_error(ssl_, rc);
        Wait w = Wait::Ready;
        if (e == SSL_ERROR_WANT_READ)
            w = waitFor(POLLIN, deadline);
        else if (e == SSL_ERROR_WANT_WRITE)
            w = waitFor(POLLOUT, deadline);
        else {
            const long verify = SSL_get_verify_result(ssl_);
            error = verify != X509_V_OK ? std::string("certificate not accepted: ") + X509_verify_cert_error_string(verify)
                                        : "TLS handshake failed: " + opensslError();
            return false;
        }
        if (w != Wait::Ready) {
            error = w == Wait::Timeout ? "TLS handshake timed out" : "stopped";
            return false;
        }
    }
}

bool SmtpConnection::send(std::string_view bytes, Deadline deadline, std::string& error)
{
    while (!bytes.empty()) {
        ssize_t n;
        Wait w = Wait::Ready;
        if (ssl_) {
            ERR_clear_error();
            const int rc = SSL_write(ssl_, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)));
            if (rc > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(rc));
                continue;
            }
            const int e = SSL_get_error(ssl_, rc);
            if (e == SSL_ERROR_WANT_WRITE)
                w = waitFor(POLLOUT, deadline);
            else if (e == SSL_ERROR_WANT_READ)
                w = waitFor(POLLIN, deadline);
            else {
                error = "cannot send: " + opensslError();
                return false;
            }
        } else {
            n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                error = std::string("cannot send: ") + std::strerror(errno);
                return false;
            }
            w = waitFor(POLLOUT, deadline);
        }
        if (w != Wait::Ready) {
            error = w == Wait::Timeout ? "timed out sending" : "stopped";
            return false;
        }
    }
    return true;
}

bool SmtpConnection::receiveMore(Deadline deadline, std::string& error)
{
    char buf[16384];
    for (;;) {
        Wait w = Wait::Ready;
        if (ssl_) {
            ERR_clear_error();
            const int rc = SSL_read(ssl_, buf, sizeof buf);
            if (rc > 0) {
                input_.append(buf, static_cast<std::size_t>(rc));
                return true;
            }
            const int e = SSL_get_error(ssl_, rc);
            if (e == SSL_ERROR_WANT_READ)
                w = waitFor(POLLIN, deadline);
            else if (e == SSL_ERROR_WANT_WRITE)
                w = waitFor(POLLOUT, deadline);
            else {
                error = e == SSL_ERROR_ZERO_RETURN ? "the server closed the connection" : "cannot read: " + opensslError();
                return false;
            }
        } else {
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n > 0) {
                input_.append(buf, static_cast<std::size_t>(n));
                return true;
            }
            if (n == 0) {
                error = "the server closed the connection";
                return false;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                error = std::string("cannot read: ") + std::strerror(errno);
                return false;
            }
            w = waitFor(POLLIN, deadline);
        }
        if (w != Wait::Ready) {
            error = w == Wait::Timeout ? "no reply in time" : "stopped";
            return false;
        }
    }
}

bool SmtpConnection::readReply(SmtpReply& reply, Deadline deadline, std::string& error)
{
    reply = {};
    std::size_t scanned = 0;
    for (;;) {
        std::size_t end;
        while ((end = input_.find("\r\n", scanned)) != std::string::npos) {
            const std::string_view line(input_.data() + scanned, end - scanned);
            scanned = end + 2;
            // A final line: three digits, then a space or the end of the line.
            const bool digits = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                                std::isdigit(static_cast<unsigned char>(line[1])) &&
                                std::isdigit(static_cast<unsigned char>(line[2]));
            if (digits && (line.size() == 3 || line[3] == ' ')) {
                reply.code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
                reply.lastLine = std::string(line);
                reply.text = input_.substr(0, scanned);
                input_.erase(0, scanned);
                return true;
            }
        }
        if (input_.size() > 1024 * 1024) {
            error = "the server's reply is too long";
            return false;
        }
        if (!receiveMore(deadline, error))
            return false;
    }
}

} // namespace brantwell

namespace brantwell {

std::string SmtpConnection::localAddressLiteral() const
{
    sockaddr_storage ss{};
    socklen_t length = sizeof ss;
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &length) != 0)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (ss.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(ss).sin_addr, text, sizeof text);
        return std::string("[") + text + "]";
    }
    const in6_addr& a = reinterpret_cast<const sockaddr_in6&>(ss).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a)) {
        inet_ntop(AF_INET, &a.s6_addr[12], text, sizeof text);
        return std::string("[") + text + "]";
    }
    inet_ntop(AF_INET6, &a, text, sizeof text);
    return std::string("[IPv6:") + text + "]";
}

} // namespace brantwell
