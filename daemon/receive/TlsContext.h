// The server side of TLS reception: certificate, key and, for mutual TLS,
// the CA that client certificates must chain to. TLS 1.2 and later only.
#pragma once

#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;

namespace brantwell {

class TlsContext {
public:
    // Loads the files; nothing, with `error` set to one line, when a file
    // is missing, unreadable, readable by others than its owner root, or
    // not what it should be.
    static std::shared_ptr<TlsContext> load(const std::string& certificate, const std::string& key,
                                            const std::string& caFile, std::string& error);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* get() const { return context_; }
    bool verifiesClients() const { return verifiesClients_; }

private:
    TlsContext() = default;
    SSL_CTX* context_ = nullptr;
    bool verifiesClients_ = false;
};

// Empty when `path` is a regular file owned by root (or by the user the
// daemon runs as) that nobody else may read or write; otherwise why not.
std::string privateFileProblem(const std::string& path);

} // namespace brantwell
