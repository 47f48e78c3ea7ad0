#include "TlsContext.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <openssl/err.h>
#include <openssl/ssl.h>

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

} // namespace

std::string privateFileProblem(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return path + ": " + std::strerror(errno);
    if (!S_ISREG(st.st_mode))
        return path + " is not a regular file";
    if (st.st_uid != 0 && st.st_uid != geteuid())
        return path + " does not belong to root";
    // A key others may read is no longer a secret; a certificate or CA file
    // others may write could be swapped for theirs.
    if ((st.st_mode & 077) != 0)
        return path + " may be read or written by others than root (chmod 600 it)";
    return {};
}

std::shared_ptr<TlsContext> TlsContext::load(const std::string& certificate, const std::string& key,
                                             const std::string& caFile, std::string& error)
{
    if (certificate.empty() || key.empty()) {
        error = "TLS reception needs both a certificate and a key file";
        return nullptr;
    }
    for (const std::string* path : {&certificate, &key, &caFile}) {
        if (path->empty())
            continue;
        if (std::string problem = privateFileProblem(*path); !problem.empty()) {
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
    if (SSL_CTX_use_certificate_chain_file(t->context_, certificate.c_str()) != 1) {
        error = certificate + ": " + opensslError();
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(t->context_, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        error = key + ": " + opensslError();
        return nullptr;
    }
    if (SSL_CTX_check_private_key(t->context_) != 1) {
        error = key + " does not belong to the certificate " + certificate;
        return nullptr;
    }
    if (!caFile.empty()) {
        if (SSL_CTX_load_verify_locations(t->context_, caFile.c_str(), nullptr) != 1) {
            error = caFile + ": " + opensslError();
            return nullptr;
        }
        if (STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(caFile.c_str()))
            SSL_CTX_set_client_CA_list(t->context_, names);
        SSL_CTX_set_verify(t->context_, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
        t->verifiesClients_ = true;
    }
    return t;
}

TlsContext::~TlsContext()
{
    if (context_)
        SSL_CTX_free(context_);
}

} // namespace brantwell
