// TLS under TPKT (IEC 62351-3, RFC 8446 / RFC 5246): one non-blocking TLS
// session over a connected socket, driven by the caller's poll loop. The
// ISO association above it stays bytes in / bytes out; this layer only moves
// those bytes through OpenSSL. Shared by the client stack and iedsim; each
// builds its own SSL_CTX (what it trusts and presents is its own policy).
//
//   socket  <->  BIO (send/recv with MSG_NOSIGNAL)  <->  SSL  <->  Stream
//
// Not thread-safe: one thread at a time, as the socket itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct x509_st X509;
typedef struct x509_store_ctx_st X509_STORE_CTX;

namespace zv::tls {

// SHA-256 of a certificate (IEC 62351-4 pinning by fingerprint).
constexpr size_t kFingerprintOctets = 32;

struct CtxFree {
    void operator()(SSL_CTX *c) const;
};
// An owned SSL_CTX.
using Context = std::unique_ptr<SSL_CTX, CtxFree>;

// A new context for TLS 1.2 and 1.3 (`max_version` 0: up to 1.3, else
// TLS1_2_VERSION / TLS1_3_VERSION), with partial writes from a moving buffer
// (the association's output grows while a write waits) and no pass-phrase
// prompt (an encrypted key fails to load instead of asking the terminal).
// Null with the reason.
Context new_context(bool client, int max_version, std::string &why);

// Loads a PEM certificate chain and its private key into `ctx`; false with a
// reason that names the file (never the key's contents).
bool load_identity(SSL_CTX *ctx, const std::string &cert, const std::string &key, std::string &why);
// Trusts the PEM CA certificates of `ca` for the peer's chain; false with a reason.
bool load_trust(SSL_CTX *ctx, const std::string &ca, std::string &why);

// Verification of the peer: chain and validity by OpenSSL against the
// trusted CAs; the callback records why a certificate failed (expired,
// unknown CA, fingerprint mismatch) for the stream's error text and checks
// the pinned fingerprint of the end certificate. `required`: a peer without a
// certificate fails (a server demanding client certificates).
void require_peer_certificate(SSL_CTX *ctx, bool required);

// Writes the session secrets of every handshake on `ctx` to `path`, in the
// NSS key log format Wireshark reads (SSLKEYLOGFILE). For captures in tests
// only: whoever holds the file can read the traffic.
bool enable_key_log(SSL_CTX *ctx, const std::string &path, std::string &why);

// "AB:CD:..." of SHA-256 octets.
std::string fingerprint_text(const std::vector<uint8_t> &fp);
// SHA-256 of the DER form of `cert`.
std::vector<uint8_t> fingerprint_of(X509 *cert);
// "CN=CMIED" (the subject's common name, else the one-line subject).
std::string subject_text(X509 *cert);

enum class Io {
    Done,       // handshake complete, or some bytes moved
    WantRead,   // call again when the socket is readable
    WantWrite,  // call again when the socket is writable
    Closed,     // the peer closed the session (close_notify, or EOF)
    Failed      // error(): why
};

class Stream {
public:
    // A session on the connected, non-blocking socket `fd` (not owned).
    Stream(SSL_CTX *ctx, int fd, bool client);
    ~Stream();
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;

    // False when OpenSSL could not set the session up (error() says why).
    bool ok() const { return ssl_ != nullptr; }
    // The device certificate's SHA-256 must be this (empty: no pin).
    void pin(std::vector<uint8_t> fp) { pin_ = std::move(fp); }

    // One step of the handshake.
    Io handshake();
    bool established() const { return established_; }
    // Up to `cap` plaintext bytes into `buf` (`got` set on Done).
    Io read(uint8_t *buf, size_t cap, size_t &got);
    // Up to `n` bytes of `data` (`put` set on Done). A write that returned
    // WantRead/WantWrite is repeated with at least the same bytes.
    Io write(const uint8_t *data, size_t n, size_t &put);
    // Sends close_notify once, without waiting for the peer's.
    void shutdown();
    // Bytes already taken from the socket that a read would return.
    bool pending() const;
    // The last step stopped because the socket was full: poll for POLLOUT.
    bool wants_write() const { return want_write_; }

    // Why the last step failed or the session closed.
    const std::string &error() const { return error_; }
    // "TLSv1.3 TLS_AES_256_GCM_SHA384" once established.
    std::string describe() const;
    // The peer's certificate subject ("" without one).
    std::string peer_subject() const;

    // Verification callback (see require_peer_certificate); public for OpenSSL.
    static int verify(int preverify_ok, X509_STORE_CTX *store);

private:
    Io outcome(int ret, const char *what);

    SSL *ssl_ = nullptr;
    bool client_;
    bool established_ = false;
    bool want_write_ = false;
    bool shut_ = false;
    std::vector<uint8_t> pin_;
    std::string verify_failure_;  // first certificate problem, from verify()
    std::string error_;
};

}  // namespace zv::tls
