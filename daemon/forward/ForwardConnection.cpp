#include "ForwardConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "util/PrivateFile.h"

namespace brantwell {

namespace {

constexpr auto kConnectLimit = std::chrono::seconds(10);
constexpr int kSliceMs = 200;  // how often a blocked call looks at the stop flag

std::string opensslError(const char* fallback)
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return fallback;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

std::vector<X509*> readCertificates(const std::string& pem)
{
    std::vector<X509*> out;
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    while (X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr))
        out.push_back(x);
    ERR_clear_error();
    BIO_free(bio);
    return out;
}

// The client context of one connection attempt: the files are read again
// each time, so a renewed certificate is taken without a restart.
SSL_CTX* clientContext(const ForwardingDestination& d, std::string& error)
{
    std::string caText, certificateText, keyText;
    if (!d.caFile.empty()) {
        if (auto problem = readPrivateFile(d.caFile, caText, FileAccess::OthersMayRead); !problem.empty()) {
            error = problem;
            return nullptr;
        }
    }
    if (!d.certificateFile.empty()) {
        for (const auto& [path, text] : {std::pair{&d.certificateFile, &certificateText}, {&d.keyFile, &keyText}}) {
            if (auto problem = readPrivateFile(*path, *text); !problem.empty()) {
                error = problem;
                return nullptr;
            }
        }
    }
    ERR_clear_error();
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context) {
        error = opensslError("cannot make a TLS context");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    const auto fail = [&](std::string why) {
        error = std::move(why);
        SSL_CTX_free(context);
        return nullptr;
    };
    if (!caText.empty()) {
        auto authorities = readCertificates(caText);
        if (authorities.empty())
            return fail(d.caFile + ": no PEM certificate in it");
        X509_STORE* store = SSL_CTX_get_cert_store(context);
        bool added = true;
        for (X509* ca : authorities) {
            added = added && X509_STORE_add_cert(store, ca) == 1;
            X509_free(ca);
        }
        if (!added)
            return fail(d.caFile + ": " + opensslError("cannot use the CA certificates"));
    } else if (SSL_CTX_set_default_verify_paths(context) != 1) {
        return fail("the system's trust store cannot be read: " + opensslError("unknown error"));
    }
    if (!certificateText.empty()) {
        auto chain = readCertificates(certificateText);
        if (chain.empty())
            return fail(d.certificateFile + ": no PEM certificate in it");
        bool used = SSL_CTX_use_certificate(context, chain.front()) == 1;
        for (std::size_t i = 1; i < chain.size(); ++i)
            used = used && SSL_CTX_add1_chain_cert(context, chain[i]) == 1;
        for (X509* x : chain)
            X509_free(x);
        if (!used)
            return fail(d.certificateFile + ": " + opensslError("cannot use the certificate"));
        BIO* bio = BIO_new_mem_buf(keyText.data(), static_cast<int>(keyText.size()));
        EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        OPENSSL_cleanse(keyText.data(), keyText.size());
        const bool keyUsed = key && SSL_CTX_use_PrivateKey(context, key) == 1;
        EVP_PKEY_free(key);
        if (!keyUsed)
            return fail(d.keyFile + ": " + opensslError("no private key in it"));
        if (SSL_CTX_check_private_key(context) != 1) {
            ERR_clear_error();
            return fail(d.keyFile + " does not belong to the certificate " + d.certificateFile);
        }
    }
    return context;
}

// Waits for `events` on `fd` in slices; false on time-out or stop.
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline,
             const ForwardConnection::StopCheck& stopped)
{
    while (!stopped()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, kSliceMs);
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
    return false;
}

std::string addressText(const addrinfo* a)
{
    char host[NI_MAXHOST] = "?", service[NI_MAXSERV] = "?";
    getnameinfo(a->ai_addr, a->ai_addrlen, host, sizeof host, service, sizeof service,
                NI_NUMERICHOST | NI_NUMERICSERV);
    return std::string(a->ai_family == AF_INET6 ? "[" : "") + host + (a->ai_family == AF_INET6 ? "]" : "") + ":" + service;
}

} // namespace

ForwardConnection::~ForwardConnection()
{
    close();
}

void ForwardConnection::close()
{
    if (ssl_) {
        SSL_shutdown(ssl_);  // close_notify, best effort: the socket has a send time-out
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (context_) {
        SSL_CTX_free(context_);
        context_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    written_ = 0;
}

bool ForwardConnection::open(const ForwardingDestination& d, const StopCheck& stopped, std::string& error)
{
    close();
    transport_ = d.transport;
    const bool udp = d.transport == ForwardTransport::Udp;
    const auto deadline = std::chrono::steady_clock::now() + kConnectLimit;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = udp ? SOCK_DGRAM : SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(d.port);
    if (const int rc = getaddrinfo(d.host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        error = "cannot resolve " + d.host + ": " + (rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc));
        return false;
    }
    error.clear();
    for (const addrinfo* a = found; a && fd_ < 0 && !stopped(); a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            error = std::string("cannot make a socket: ") + std::strerror(errno);
            continue;
        }
        int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            if (waitFor(fd, POLLOUT, deadline, stopped)) {
                int soError = 0;
                socklen_t length = sizeof soError;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
                rc = soError == 0 ? 0 : -1;
                errno = soError;
            } else {
                errno = ETIMEDOUT;
            }
        }
        if (rc != 0) {
            error = "cannot connect to " + addressText(a) + ": " + std::strerror(errno);
            ::close(fd);
            continue;
        }
        // Blocking from here, with time-outs so that a stop is seen.
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        timeval slice{0, kSliceMs * 1000};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof slice);
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
        fd_ = fd;
    }
    freeaddrinfo(found);
    if (fd_ < 0) {
        if (error.empty())
            error = stopped() ? "stopped" : "no address for " + d.host;
        return false;
    }
    if (d.transport != ForwardTransport::Tls)
        return true;

    context_ = clientContext(d, error);
    if (!context_) {
        close();
        return false;
    }
    ssl_ = SSL_new(context_);
    if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1) {
        error = opensslError("cannot start a TLS session");
        close();
        return false;
    }
    SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // The server must prove it is `host`: its address, or its name (which
    // is also sent, so that a server of several names shows the right one).
    in6_addr probe{};
    const bool literal = inet_pton(AF_INET, d.host.c_str(), &probe) == 1 || inet_pton(AF_INET6, d.host.c_str(), &probe) == 1;
    const bool named = literal ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), d.host.c_str()) == 1
                               : SSL_set_tlsext_host_name(ssl_, d.host.c_str()) == 1 && SSL_set1_host(ssl_, d.host.c_str()) == 1;
    if (!named) {
        error = "cannot check the server's name " + d.host + ": " + opensslError("unknown error");
        close();
        return false;
    }
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_connect(ssl_);
        if (rc == 1)
            return true;
        const int why = SSL_get_error(ssl_, rc);
        const bool again = why == SSL_ERROR_WANT_READ || why == SSL_ERROR_WANT_WRITE
                           || (why == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EINTR) && ERR_peek_error() == 0);
        if (again && !stopped() && std::chrono::steady_clock::now() < deadline)
            continue;
        const long verify = SSL_get_verify_result(ssl_);
        if (stopped())
            error = "stopped";
        else if (again)
            error = "the TLS handshake with " + d.host + " took longer than 10 seconds";
        else if (verify != X509_V_OK)
            error = "the server " + d.host + " is not trusted: " + X509_verify_cert_error_string(verify);
        else
            error = "the TLS handshake with " + d.host + " failed: "
                    + opensslError(why == SSL_ERROR_SYSCALL ? "the server closed the connection" : "unknown error");
        close();
        return false;
    }
}

bool ForwardConnection::write(std::string_view bytes, const StopCheck& stopped, std::string& error)
{
    error.clear();
    if (fd_ < 0) {
        error = "not connected";
        return false;
    }
    if (transport_ == ForwardTransport::Udp) {
        for (;;) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n >= 0) {
                written_ += static_cast<std::uint64_t>(n);
                return true;
            }
            if (errno == EINTR || ((errno == EAGAIN || errno == ENOBUFS) && !stopped()))
                continue;
            error = std::strerror(errno);
            return false;
        }
    }
    while (!bytes.empty()) {
        if (stopped())
            return false;
        if (ssl_) {
            ERR_clear_error();
            const int n = SSL_write(ssl_, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30)));
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            const int why = SSL_get_error(ssl_, n);
            if (why == SSL_ERROR_WANT_WRITE || why == SSL_ERROR_WANT_READ
                || (why == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EINTR) && ERR_peek_error() == 0))
                continue;
            error = why == SSL_ERROR_SYSCALL && errno != 0 ? std::strerror(errno)
                                                           : opensslError("the TLS session ended");
            return false;
        }
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            written_ += static_cast<std::uint64_t>(n);
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        } else {
            error = n == 0 ? "the connection was closed" : std::strerror(errno);
            return false;
        }
    }
    return true;
}

std::uint64_t ForwardConnection::writtenBytes() const
{
    if (ssl_)
        return BIO_number_written(SSL_get_wbio(ssl_));
    return written_;
}

std::uint64_t ForwardConnection::acknowledgedBytes() const
{
    const std::uint64_t written = writtenBytes();
    if (fd_ < 0 || transport_ == ForwardTransport::Udp)
        return written;
    int queued = 0;
    if (ioctl(fd_, SIOCOUTQ, &queued) != 0 || queued < 0)
        return 0;
    return written - std::min<std::uint64_t>(written, static_cast<std::uint64_t>(queued));
}

bool ForwardConnection::stillOpen(std::string& error)
{
    if (fd_ < 0)
        return false;
    if (transport_ == ForwardTransport::Udp)
        return true;
    pollfd p{fd_, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, 0) <= 0)
        return true;
    if (p.revents & (POLLERR | POLLHUP | POLLRDHUP)) {
        int soError = 0;
        socklen_t length = sizeof soError;
        getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &length);
        error = soError ? std::strerror(soError) : "the server closed the connection";
        return false;
    }
    char buffer[4096];
    if (ssl_) {
        // A TLS 1.3 server sends session tickets after the handshake: read
        // and let go; a close_notify or the end of the stream is a close.
        ERR_clear_error();
        const int n = SSL_read(ssl_, buffer, sizeof buffer);
        if (n > 0)
            return true;
        const int why = SSL_get_error(ssl_, n);
        if (why == SSL_ERROR_WANT_READ || why == SSL_ERROR_WANT_WRITE)
            return true;
        error = why == SSL_ERROR_ZERO_RETURN ? "the server ended the TLS session" : "the server closed the connection";
        return false;
    }
    const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR)))
        return true;
    error = n == 0 ? "the server closed the connection" : std::strerror(errno);
    return false;
}

} // namespace brantwell
