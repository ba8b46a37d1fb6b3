#include "qt/tests/tls_peer_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace dorvane::test {
namespace {

struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
  void operator()(X509* x) const { X509_free(x); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test TLS setup failed: ") + what);
}

void AddExtension(X509* x, X509V3_CTX* ctx, int nid, const char* value) {
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value);
  Check(ext && X509_add_ext(x, ext, -1) == 1, "extension");
  X509_EXTENSION_free(ext);
}

// A certificate for `key` named `cn`, signed by the issuer (itself when
// `issuer` is null); `alt_names` in the subjectAltName syntax or null.
Cert MakeCertificate(EVP_PKEY* key, const char* cn, const char* alt_names, bool authority, X509* issuer,
                     EVP_PKEY* issuer_key) {
  static long serial = 1;
  Cert x(X509_new());
  X509_set_version(x.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x.get()), serial++);
  X509_gmtime_adj(X509_getm_notBefore(x.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(x.get()), 86400);
  X509_set_pubkey(x.get(), key);
  X509_NAME* name = X509_get_subject_name(x.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_set_issuer_name(x.get(), issuer ? X509_get_subject_name(issuer) : name);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer ? issuer : x.get(), x.get(), nullptr, nullptr, 0);
  AddExtension(x.get(), &ctx, NID_basic_constraints, authority ? "critical,CA:TRUE" : "CA:FALSE");
  if (authority) AddExtension(x.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(x.get(), &ctx, NID_subject_key_identifier, "hash");
  if (alt_names) AddExtension(x.get(), &ctx, NID_subject_alt_name, alt_names);
  Check(X509_sign(x.get(), issuer_key ? issuer_key : key, EVP_sha256()) > 0, "sign");
  return x;
}

struct Identity {
  Key key;
  Cert cert;
};

// The authority, its signed server identity and a self-signed one, made
// once; the authority's file is removed when the process ends.
struct Authority {
  Key key{EVP_EC_gen("P-256")};
  Cert cert{MakeCertificate(key.get(), "Dorvane Test Authority", nullptr, true, nullptr, nullptr)};
  Identity signed_server;
  Identity self_signed;
  std::filesystem::path file;

  Authority() {
    std::string alt = std::string("DNS:") + kTlsTestHost + ",IP:127.0.0.1";
    signed_server.key.reset(EVP_EC_gen("P-256"));
    signed_server.cert = MakeCertificate(signed_server.key.get(), kTlsTestHost, alt.c_str(), false, cert.get(),
                                         key.get());
    std::string own = std::string("DNS:") + kTlsTestHost;
    self_signed.key.reset(EVP_EC_gen("P-256"));
    self_signed.cert = MakeCertificate(self_signed.key.get(), kTlsTestHost, own.c_str(), false, nullptr, nullptr);
    file = std::filesystem::temp_directory_path() / ("dorvane-test-ca-" + std::to_string(::getpid()) + ".pem");
    FILE* f = std::fopen(file.c_str(), "w");
    Check(f && PEM_write_X509(f, cert.get()) == 1, "authority file");
    std::fclose(f);
  }
  ~Authority() {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
  }
};

Authority& TheAuthority() {
  static Authority authority;
  return authority;
}

}  // namespace

void TrustTestAuthority() {
  static bool done = [] { return ::setenv("SSL_CERT_FILE", TheAuthority().file.c_str(), 1) == 0; }();
  Check(done, "SSL_CERT_FILE");
}

struct TlsPeer::State {
  Mode mode;
  int listener = -1;
  int conn = -1;
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  std::string greeting;
  std::string to_send;
  std::string received;
  std::string server_name;
  bool up = false;
  bool ended = false;
  bool close_notified = false;
  bool answered = false;  // kGarbage: the plain answer went out

  ~State() {
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    if (conn >= 0) ::close(conn);
    if (listener >= 0) ::close(listener);
  }
  void Accept();
  void Handshake();
  void Exchange();
  void ReadRaw();
  void AnswerGarbage();
};

TlsPeer::TlsPeer(Mode mode, Certificate certificate, int max_version) : s_(std::make_unique<State>()) {
  s_->mode = mode;
  s_->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Check(::bind(s_->listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(s_->listener, 4) == 0,
        "listen");
  Identity& id = certificate == Certificate::kSigned ? TheAuthority().signed_server : TheAuthority().self_signed;
  s_->ctx = SSL_CTX_new(TLS_server_method());
  Check(s_->ctx && SSL_CTX_use_certificate(s_->ctx, id.cert.get()) == 1 &&
            SSL_CTX_use_PrivateKey(s_->ctx, id.key.get()) == 1,
        "server context");
  if (max_version) {
    SSL_CTX_set_security_level(s_->ctx, 0);  // lets an old protocol be offered at all
    SSL_CTX_set_min_proto_version(s_->ctx, 0);
    SSL_CTX_set_max_proto_version(s_->ctx, max_version);
  }
}

TlsPeer::~TlsPeer() = default;

int TlsPeer::Port() const {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(s_->listener, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

void TlsPeer::GreetInPlain(const std::string& bytes) { s_->greeting = bytes; }
void TlsPeer::Send(const std::string& bytes) { s_->to_send += bytes; }
bool TlsPeer::Up() const { return s_->up; }
bool TlsPeer::Ended() const { return s_->ended; }
bool TlsPeer::CloseNotified() const { return s_->close_notified; }
const std::string& TlsPeer::Received() const { return s_->received; }
const std::string& TlsPeer::ServerName() const { return s_->server_name; }

void TlsPeer::Step() {
  if (s_->conn < 0) s_->Accept();
  if (s_->conn < 0 || s_->ended) return;
  switch (s_->mode) {
    case Mode::kSilent: s_->ReadRaw(); return;
    case Mode::kGarbage:
      s_->ReadRaw();
      s_->AnswerGarbage();
      return;
    case Mode::kTls:
      if (!s_->up) s_->Handshake();
      if (s_->up) s_->Exchange();
      return;
  }
}

void TlsPeer::Drop(End end) {
  if (s_->conn < 0) return;
  if (end == End::kReset) {
    linger lg{1, 0};  // close() now sends RST
    ::setsockopt(s_->conn, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  }
  ::close(s_->conn);
  s_->conn = -1;
  s_->ended = true;
}

void TlsPeer::State::Accept() {
  conn = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (conn < 0) return;
  if (!greeting.empty()) Check(::send(conn, greeting.data(), greeting.size(), MSG_NOSIGNAL) > 0, "greeting");
  if (mode != Mode::kTls) return;
  ssl = SSL_new(ctx);
  SSL_set_fd(ssl, conn);
  SSL_set_accept_state(ssl);
}

void TlsPeer::State::Handshake() {
  ERR_clear_error();
  int rc = SSL_do_handshake(ssl);
  if (rc == 1) {
    up = true;
    const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
    server_name = name ? name : "";
    return;
  }
  int err = SSL_get_error(ssl, rc);
  if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) ended = true;
  ERR_clear_error();
}

void TlsPeer::State::Exchange() {
  while (!to_send.empty()) {
    size_t written = 0;
    if (SSL_write_ex(ssl, to_send.data(), to_send.size(), &written) != 1) break;
    to_send.erase(0, written);
  }
  char buf[16384];
  for (;;) {
    size_t n = 0;
    if (SSL_read_ex(ssl, buf, sizeof buf, &n) == 1) {
      received.append(buf, n);
      continue;
    }
    int err = SSL_get_error(ssl, 0);
    if (err == SSL_ERROR_ZERO_RETURN) close_notified = ended = true;
    else if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) ended = true;
    break;
  }
  ERR_clear_error();
}

// Takes what the client sends as it is, so that closing later is an
// orderly end rather than a reset for unread data.
void TlsPeer::State::ReadRaw() {
  char buf[4096];
  for (ssize_t n; (n = ::recv(conn, buf, sizeof buf, 0)) != 0;) {
    if (n < 0) return;
    received.append(buf, static_cast<size_t>(n));
  }
  ended = true;
}

// Answers the client's first bytes with plain text, as a server that does
// not speak TLS would.
void TlsPeer::State::AnswerGarbage() {
  if (received.empty() || answered) return;
  static const char kAnswer[] = "500 5.5.1 <html>\x01\x02 not TLS\r\n";
  Check(::send(conn, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL) > 0, "garbage");
  answered = true;
}

}  // namespace dorvane::test
