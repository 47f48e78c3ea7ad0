#include "TlsContext.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace brantwell {

namespace {

std::string opensslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "unknown TLS error";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

Bio memoryBio(const std::string& bytes)
{
    return Bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())), BIO_free);
}

// Every certificate of a PEM text, in order.
std::vector<Certificate> readCertificates(const std::string& pem)
{
    std::vector<Certificate> certificates;
    Bio bio = memoryBio(pem);
    while (X509* x = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
        certificates.emplace_back(x, X509_free);
    ERR_clear_error();  // the end of the text reads as an error
    return certificates;
}

} // namespace

std::shared_ptr<TlsContext> TlsContext::load(const std::string& certificate, const std::string& key,
                                             const std::string& caFile, std::string& error)
{
    if (certificate.empty() || key.empty()) {
        error = "TLS reception needs both a certificate and a key file";
        return nullptr;
    }
    std::string certificateText, keyText, caText;
    for (const auto& [path, text] : {std::pair<const std::string*, std::string*>{&certificate, &certificateText},
                                     {&key, &keyText}, {&caFile, &caText}}) {
        if (path->empty())
            continue;
        if (std::string problem = readPrivateFile(*path, *text); !problem.empty()) {
            error = problem;
            return nullptr;
        }
    }
    std::shared_ptr<TlsContext> t(new TlsContext);
    ERR_clear_error();
    t->context_ = SSL_CTX_new(TLS_server_method());
    if (!t->context_) {
        error = opensslError();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(t->context_, TLS1_2_VERSION);
    SSL_CTX_set_options(t->context_, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);

    // The server's certificate first, then its chain.
    auto chain = readCertificates(certificateText);
    if (chain.empty()) {
        error = certificate + ": no PEM certificate in it";
        return nullptr;
    }
    if (SSL_CTX_use_certificate(t->context_, chain.front().get()) != 1) {
        error = certificate + ": " + opensslError();
        return nullptr;
    }
    for (std::size_t i = 1; i < chain.size(); ++i) {
        if (SSL_CTX_add1_chain_cert(t->context_, chain[i].get()) != 1) {
            error = certificate + ": " + opensslError();
            return nullptr;
        }
    }
    Bio keyBio = memoryBio(keyText);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> privateKey(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    OPENSSL_cleanse(keyText.data(), keyText.size());
    if (!privateKey || SSL_CTX_use_PrivateKey(t->context_, privateKey.get()) != 1) {
        error = key + ": " + opensslError();
        return nullptr;
    }
    if (SSL_CTX_check_private_key(t->context_) != 1) {
        ERR_clear_error();
        error = key + " does not belong to the certificate " + certificate;
        return nullptr;
    }
    if (!caFile.empty()) {
        const auto authorities = readCertificates(caText);
        if (authorities.empty()) {
            error = caFile + ": no PEM certificate in it";
            return nullptr;
        }
        X509_STORE* store = SSL_CTX_get_cert_store(t->context_);
        for (const auto& ca : authorities) {
            if (X509_STORE_add_cert(store, ca.get()) != 1 || SSL_CTX_add_client_CA(t->context_, ca.get()) != 1) {
                error = caFile + ": " + opensslError();
                return nullptr;
            }
        }
        SSL_CTX_set_verify(t->context_, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
        t->verifiesClients_ = true;
    }
    return t;
}

bool TlsContext::accepts(SSL* session) const
{
    if (!verifiesClients_)
        return true;
    X509* peer = SSL_get0_peer_certificate(session);
    if (!peer)
        return false;
    // The chain the client showed, checked against this context's CAs as
    // its handshake would have been.
    X509_STORE_CTX* check = X509_STORE_CTX_new();
    bool trusted = false;
    if (check && X509_STORE_CTX_init(check, SSL_CTX_get_cert_store(context_), peer, SSL_get_peer_cert_chain(session)) == 1) {
        X509_STORE_CTX_set_default(check, "ssl_client");
        trusted = X509_verify_cert(check) == 1;
    }
    X509_STORE_CTX_free(check);
    ERR_clear_error();
    return trusted;
}

TlsContext::~TlsContext()
{
    if (context_)
        SSL_CTX_free(context_);
}

} // namespace brantwell
