#include "tls/stream.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace zv::tls {

namespace {

// ---- the socket under the session -------------------------------------------
// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE on a
// connection the peer reset; the stack lives in the application's process
// and must not change its signal dispositions, so the bytes go through
// send(MSG_NOSIGNAL) here.

struct Sock {
    int fd = -1;
    bool eof = false;
};

int bio_write(BIO *b, const char *data, int len) {
    auto *s = static_cast<Sock *>(BIO_get_data(b));
    BIO_clear_retry_flags(b);
    for (;;) {
        const ssize_t n = ::send(s->fd, data, size_t(len), MSG_NOSIGNAL);
        if (n >= 0) return int(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(b);
        return -1;
    }
}

int bio_read(BIO *b, char *buf, int len) {
    auto *s = static_cast<Sock *>(BIO_get_data(b));
    BIO_clear_retry_flags(b);
    for (;;) {
        const ssize_t n = ::recv(s->fd, buf, size_t(len), 0);
        if (n > 0) return int(n);
        if (n == 0) {
            s->eof = true;
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_read(b);
        return -1;
    }
}

long bio_ctrl(BIO *b, int cmd, long, void *) {
    switch (cmd) {
    case BIO_CTRL_FLUSH: return 1;  // nothing is buffered here
    case BIO_CTRL_EOF: return static_cast<Sock *>(BIO_get_data(b))->eof ? 1 : 0;
    default: return 0;
    }
}

int bio_create(BIO *b) {
    BIO_set_init(b, 1);
    return 1;
}

BIO_METHOD *socket_method() {
    static BIO_METHOD *m = [] {
        BIO_METHOD *bm = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zv socket");
        if (bm) {
            BIO_meth_set_write(bm, bio_write);
            BIO_meth_set_read(bm, bio_read);
            BIO_meth_set_ctrl(bm, bio_ctrl);
            BIO_meth_set_create(bm, bio_create);
        }
        return bm;  // kept for the process
    }();
    return m;
}

// ---- texts ----------------------------------------------------------------------

// RFC 8446 6.2 (and RFC 5246 7.2) alert descriptions; OpenSSL 3.0 names
// only those of TLS 1.2.
std::string alert_text(int alert) {
    switch (alert) {
    case 109: return "missing extension";
    case 115: return "unknown PSK identity";
    case 116: return "certificate required";
    case 120: return "no application protocol";
    default: break;
    }
    const std::string s = SSL_alert_desc_string_long(alert);
    return s == "unknown" ? "alert " + std::to_string(alert) : s;
}

// The OpenSSL error queue of this thread as one reason, emptied. An alert
// the peer sent is named as such.
std::string queue_text() {
    std::string out;
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        if (!out.empty()) continue;  // the first error is the cause
        const int reason = ERR_GET_REASON(e);
        if (ERR_GET_LIB(e) == ERR_LIB_SSL && reason >= SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256) {
            out = "handshake alert received: " + alert_text(reason - SSL_AD_REASON_OFFSET);
        } else if (ERR_GET_LIB(e) == ERR_LIB_SSL && reason == SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE) {
            out = "the peer sent no certificate";
        } else if (const char *r = ERR_reason_error_string(e)) {
            out = r;
        } else {
            char buf[256];
            ERR_error_string_n(e, buf, sizeof buf);
            out = buf;
        }
    }
    return out;
}

std::string time_text(const ASN1_TIME *t) {
    std::string out = "?";
    if (BIO *b = BIO_new(BIO_s_mem())) {
        if (ASN1_TIME_print(b, t) == 1) {
            char *p = nullptr;
            const long n = BIO_get_mem_data(b, &p);
            if (n > 0) out.assign(p, size_t(n));
        }
        BIO_free(b);
    }
    return out;
}

std::string name_text(X509_NAME *name) {
    if (!name) return "?";
    const int i = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (i >= 0) {
        const ASN1_STRING *s = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i));
        unsigned char *utf8 = nullptr;
        const int n = ASN1_STRING_to_UTF8(&utf8, s);
        if (n >= 0) {
            std::string out = "CN=" + std::string(reinterpret_cast<char *>(utf8), size_t(n));
            OPENSSL_free(utf8);
            return out;
        }
    }
    char buf[256];
    X509_NAME_oneline(name, buf, sizeof buf);
    return buf;
}

// Why a certificate of the peer's chain failed verification.
std::string verify_text(int err, X509 *cert, int depth, bool peer_is_device) {
    const std::string whose = peer_is_device ? "the device's" : "the client's";
    const std::string what = whose + (depth == 0 ? " certificate " : " CA certificate ") +
                             (cert ? subject_text(cert) : "?");
    switch (err) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "certificate expired: " + what + " was valid until " +
               (cert ? time_text(X509_get0_notAfter(cert)) : "?");
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "certificate not yet valid: " + what + " is valid from " +
               (cert ? time_text(X509_get0_notBefore(cert)) : "?");
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return "unknown CA: " + what + " is issued by " + (cert ? name_text(X509_get_issuer_name(cert)) : "?") +
               ", which is not a trusted CA";
    default: return "certificate rejected: " + what + ": " + X509_verify_cert_error_string(err);
    }
}

int no_passphrase(char *, int, int, void *) { return 0; }

// Key-log file of a context (ex data, freed with the context).
int key_log_index() {
    static const int idx = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr,
                                                    [](void *, void *p, CRYPTO_EX_DATA *, int, long, void *) {
                                                        delete static_cast<std::string *>(p);
                                                    });
    return idx;
}

void key_log_line(const SSL *ssl, const char *line) {
    const auto *path = static_cast<const std::string *>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), key_log_index()));
    if (!path) return;
    static std::mutex m;  // both workers of the stack may complete handshakes
    std::lock_guard<std::mutex> lock(m);
    if (FILE *f = std::fopen(path->c_str(), "a")) {
        std::fprintf(f, "%s\n", line);
        std::fclose(f);
    }
}

}  // namespace

void CtxFree::operator()(SSL_CTX *c) const { SSL_CTX_free(c); }

Context new_context(bool client, int max_version, std::string &why) {
    ERR_clear_error();
    Context ctx(SSL_CTX_new(client ? TLS_client_method() : TLS_server_method()));
    if (!ctx) {
        why = "cannot create a TLS context: " + queue_text();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    if (max_version) {
        SSL_CTX_set_max_proto_version(ctx.get(), max_version);
        SSL_CTX_set_min_proto_version(ctx.get(), max_version);
    }
    SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_default_passwd_cb(ctx.get(), no_passphrase);
    return ctx;
}

bool load_identity(SSL_CTX *ctx, const std::string &cert, const std::string &key, std::string &why) {
    ERR_clear_error();
    if (SSL_CTX_use_certificate_chain_file(ctx, cert.c_str()) != 1) {
        why = "certificate '" + cert + "' cannot be loaded: " + queue_text();
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        why = "private key '" + key + "' cannot be loaded (PEM without pass phrase): " + queue_text();
        return false;
    }
    if (SSL_CTX_check_private_key(ctx) != 1) {
        why = "private key '" + key + "' does not belong to certificate '" + cert + "'";
        ERR_clear_error();
        return false;
    }
    return true;
}

bool load_trust(SSL_CTX *ctx, const std::string &ca, std::string &why) {
    ERR_clear_error();
    if (SSL_CTX_load_verify_locations(ctx, ca.c_str(), nullptr) != 1) {
        why = "CA certificates '" + ca + "' cannot be loaded: " + queue_text();
        return false;
    }
    return true;
}

void require_peer_certificate(SSL_CTX *ctx, bool required) {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | (required ? SSL_VERIFY_FAIL_IF_NO_PEER_CERT : 0), &Stream::verify);
}

bool enable_key_log(SSL_CTX *ctx, const std::string &path, std::string &why) {
    if (FILE *f = std::fopen(path.c_str(), "a")) {
        std::fclose(f);
    } else {
        why = "key log file '" + path + "' cannot be written: " + std::strerror(errno);
        return false;
    }
    SSL_CTX_set_ex_data(ctx, key_log_index(), new std::string(path));
    SSL_CTX_set_keylog_callback(ctx, key_log_line);
    return true;
}

std::string fingerprint_text(const std::vector<uint8_t> &fp) {
    static const char *hex = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < fp.size(); ++i) {
        if (i) out += ':';
        out += hex[fp[i] >> 4];
        out += hex[fp[i] & 15];
    }
    return out;
}

std::vector<uint8_t> fingerprint_of(X509 *cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!cert || X509_digest(cert, EVP_sha256(), md, &n) != 1) return {};
    return std::vector<uint8_t>(md, md + n);
}

std::string subject_text(X509 *cert) { return cert ? name_text(X509_get_subject_name(cert)) : std::string(); }

// ---- the session ------------------------------------------------------------------

namespace {
// The Sock of a stream lives in its BIO's data; the BIO is owned by the SSL.
Sock *sock_of(SSL *ssl) { return static_cast<Sock *>(BIO_get_data(SSL_get_rbio(ssl))); }
}  // namespace

Stream::Stream(SSL_CTX *ctx, int fd, bool client) : client_(client) {
    ERR_clear_error();
    BIO_METHOD *m = socket_method();
    SSL *ssl = m ? SSL_new(ctx) : nullptr;
    BIO *bio = ssl ? BIO_new(m) : nullptr;
    if (!bio) {
        error_ = "cannot create a TLS session: " + queue_text();
        if (ssl) SSL_free(ssl);
        return;
    }
    auto *s = new Sock;
    s->fd = fd;
    BIO_set_data(bio, s);
    SSL_set_bio(ssl, bio, bio);
    SSL_set_app_data(ssl, this);
    if (client)
        SSL_set_connect_state(ssl);
    else
        SSL_set_accept_state(ssl);
    ssl_ = ssl;
}

Stream::~Stream() {
    if (!ssl_) return;
    Sock *s = sock_of(ssl_);
    SSL_free(ssl_);  // frees the BIO, not the socket
    delete s;
}

Io Stream::outcome(int ret, const char *what) {
    const int saved_errno = errno;
    const int e = SSL_get_error(ssl_, ret);
    want_write_ = false;
    switch (e) {
    case SSL_ERROR_WANT_READ: return Io::WantRead;
    case SSL_ERROR_WANT_WRITE: want_write_ = true; return Io::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        ERR_clear_error();
        error_ = "connection closed by the peer (TLS close_notify)";
        return Io::Closed;
    default: break;
    }
    shut_ = true;  // no close_notify after a fatal error
    std::string q = queue_text();
    const bool eof = sock_of(ssl_)->eof;
    if (!verify_failure_.empty()) {
        error_ = verify_failure_;
    } else if (eof || (e == SSL_ERROR_SYSCALL && saved_errno == 0) || q == "unexpected eof while reading") {
        error_ = established_ ? "connection closed by the peer without TLS close_notify"
                              : "connection closed by the peer during the TLS handshake";
        return established_ ? Io::Closed : Io::Failed;
    } else if (e == SSL_ERROR_SYSCALL) {
        error_ = std::string(what) + ": " + std::strerror(saved_errno);
    } else {
        error_ = q.empty() ? std::string(what) + " failed" : q;
    }
    return Io::Failed;
}

Io Stream::handshake() {
    if (established_) return Io::Done;
    ERR_clear_error();
    const int r = SSL_do_handshake(ssl_);
    if (r == 1) {
        established_ = true;
        want_write_ = false;
        return Io::Done;
    }
    return outcome(r, "TLS handshake");
}

Io Stream::read(uint8_t *buf, size_t cap, size_t &got) {
    ERR_clear_error();
    got = 0;
    if (SSL_read_ex(ssl_, buf, cap, &got) == 1) {
        want_write_ = false;
        return Io::Done;
    }
    return outcome(0, "TLS read");
}

Io Stream::write(const uint8_t *data, size_t n, size_t &put) {
    put = 0;
    if (n == 0) return Io::Done;
    ERR_clear_error();
    if (SSL_write_ex(ssl_, data, n, &put) == 1) {
        want_write_ = false;
        return Io::Done;
    }
    return outcome(0, "TLS write");
}

bool Stream::pending() const { return ssl_ && SSL_has_pending(ssl_) == 1; }

void Stream::shutdown() {
    if (!ssl_ || shut_ || !established_) return;
    shut_ = true;
    ERR_clear_error();
    (void)SSL_shutdown(ssl_);  // one try: a full socket just loses the close_notify
    ERR_clear_error();
}

std::string Stream::describe() const {
    if (!ssl_ || !established_) return {};
    const SSL_CIPHER *c = SSL_get_current_cipher(ssl_);
    return std::string(SSL_get_version(ssl_)) + " " + (c ? SSL_CIPHER_get_name(c) : "?");
}

std::string Stream::peer_subject() const {
    X509 *cert = ssl_ ? SSL_get0_peer_certificate(ssl_) : nullptr;
    return cert ? subject_text(cert) : std::string();
}

int Stream::verify(int preverify_ok, X509_STORE_CTX *store) {
    auto *ssl = static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto *self = ssl ? static_cast<Stream *>(SSL_get_app_data(ssl)) : nullptr;
    if (!self) return preverify_ok;
    X509 *cert = X509_STORE_CTX_get_current_cert(store);
    const int depth = X509_STORE_CTX_get_error_depth(store);
    if (!preverify_ok) {
        if (self->verify_failure_.empty())
            self->verify_failure_ = verify_text(X509_STORE_CTX_get_error(store), cert, depth, self->client_);
        return 0;
    }
    if (depth == 0 && !self->pin_.empty()) {
        const std::vector<uint8_t> fp = fingerprint_of(cert);
        if (fp != self->pin_) {
            self->verify_failure_ = "fingerprint mismatch: the device's certificate " + subject_text(cert) +
                                    " has SHA-256 " + fingerprint_text(fp) + ", the pinned one is " +
                                    fingerprint_text(self->pin_);
            X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);  // alert bad_certificate
            return 0;
        }
    }
    return 1;
}

}  // namespace zv::tls
