// The server side of TLS reception: certificate, key and, for mutual TLS,
// the CA that client certificates must chain to. TLS 1.2 and later only.
#pragma once

#include <memory>
#include <string>

#include "util/PrivateFile.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace brantwell {

class TlsContext {
public:
    // Loads the files, each opened once without following a link and
    // checked on the open descriptor; nothing, with `error` set to one line,
    // when a file is missing, a link, unreadable, readable or writable by
    // others than its owner root, or not what it should be.
    static std::shared_ptr<TlsContext> load(const std::string& certificate, const std::string& key,
                                            const std::string& caFile, std::string& error);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* get() const { return context_; }
    bool verifiesClients() const { return verifiesClients_; }
    // Whether this context would have accepted the client of `session`, a
    // finished handshake made with another context: always without client
    // certificates; with them, when the client's chain leads to a CA here.
    bool accepts(SSL* session) const;

private:
    TlsContext() = default;
    SSL_CTX* context_ = nullptr;
    bool verifiesClients_ = false;
};

} // namespace brantwell
