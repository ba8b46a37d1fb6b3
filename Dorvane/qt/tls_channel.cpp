#include "qt/tls_channel.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "qt/ssl_library.h"

namespace dorvane {
namespace {

constexpr int kPlainChunk = 16 * 1024;

// One context per kind of check, made on first use and kept for the life of
// the program: making a context costs far more than a session. The trusted
// authorities are read from the system's default places (or those named by
// SSL_CERT_FILE / SSL_CERT_DIR) when the checking context is made.
SSL_CTX* ClientContext(const SslCalls& api, bool verify) {
  static SSL_CTX* contexts[2] = {nullptr, nullptr};
  SSL_CTX*& ctx = contexts[verify ? 1 : 0];
  if (ctx) return ctx;
  SSL_CTX* made = api.SSL_CTX_new(api.TLS_client_method());
  if (!made) return nullptr;
  api.SSL_CTX_ctrl(made, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
  api.SSL_CTX_set_options(made, SSL_OP_NO_RENEGOTIATION);
  api.SSL_CTX_ctrl(made, SSL_CTRL_MODE, SSL_MODE_RELEASE_BUFFERS, nullptr);
  api.SSL_CTX_set_verify(made, verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  if (verify && api.SSL_CTX_set_default_verify_paths(made) != 1) {
    api.SSL_CTX_free(made);
    return nullptr;
  }
  ctx = made;
  return ctx;
}

bool IsAddress(const std::string& host) {
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The first reason in the library's error queue, which it then empties: its
// texts are the library's own, so nothing the peer sent can reach a log.
std::string TakeErrorReason(const SslCalls& api) {
  std::string reason;
  for (unsigned long e; (e = api.ERR_get_error()) != 0;) {
    const char* text = api.ERR_reason_error_string(e);
    if (reason.empty() && text) reason = text;
  }
  return reason.empty() ? "protocol error" : reason;
}

}  // namespace

struct TlsChannel::Session {
  const SslCalls* api = nullptr;  // set whenever ssl is
  SSL* ssl = nullptr;
  BIO* from_peer = nullptr;  // owned by ssl
  BIO* to_peer = nullptr;    // owned by ssl
  bool verify = false;
  ~Session() {
    if (ssl) api->SSL_free(ssl);
  }
};

TlsChannel::TlsChannel(const TlsOptions& options) : session_(std::make_unique<Session>()) {
  session_->verify = options.verify;
  const SslCalls* found = SslLibrary();
  if (!found) {
    Fail("TLS library unavailable");
    return;
  }
  const SslCalls& api = *found;
  session_->api = found;
  api.ERR_clear_error();
  SSL_CTX* ctx = ClientContext(api, options.verify);
  SSL* ssl = ctx ? api.SSL_new(ctx) : nullptr;
  if (!ssl) {
    Fail(TakeErrorReason(api));
    return;
  }
  session_->ssl = ssl;
  session_->from_peer = api.BIO_new(api.BIO_s_mem());
  session_->to_peer = api.BIO_new(api.BIO_s_mem());
  if (!session_->from_peer || !session_->to_peer) {
    api.BIO_free(session_->from_peer);
    api.BIO_free(session_->to_peer);
    session_->from_peer = session_->to_peer = nullptr;
    Fail("out of memory");
    return;
  }
  api.SSL_set_bio(ssl, session_->from_peer, session_->to_peer);
  api.SSL_set_connect_state(ssl);
  const std::string& host = options.host_name;
  bool address = IsAddress(host);
  if (!host.empty() && !address)
    api.SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, const_cast<char*>(host.c_str()));
  if (!options.verify) return;
  // A check without a name would take any certificate the authorities signed.
  if (host.empty()) {
    Fail("no host name to check the certificate against");
    return;
  }
  int named = address ? api.X509_VERIFY_PARAM_set1_ip_asc(api.SSL_get0_param(ssl), host.c_str())
                      : api.SSL_set1_host(ssl, host.c_str());
  if (named != 1) Fail("invalid host name");
}

TlsChannel::~TlsChannel() = default;

void TlsChannel::Feed(const char* data, size_t size) {
  if (!failure_.empty() || size == 0) return;
  session_->api->BIO_write(session_->from_peer, data, static_cast<int>(size));
}

void TlsChannel::Write(const std::string& plain) {
  plain_out_ += plain;
  if (up_ && failure_.empty()) FlushPlain();
}

TlsChannel::Step TlsChannel::Advance(std::string& plain) {
  if (!failure_.empty()) return Step::kFailed;
  Step step = Step::kOpen;
  if (!up_) {
    step = Handshake();
    if (step != Step::kHandshakeDone) return step;
  }
  if (!FlushPlain()) return Step::kFailed;
  if (ReadPlain(plain) == Step::kFailed) return Step::kFailed;
  return step;
}

TlsChannel::Step TlsChannel::Handshake() {
  const SslCalls& api = *session_->api;
  api.ERR_clear_error();
  int rc = api.SSL_do_handshake(session_->ssl);
  if (rc == 1) {
    up_ = true;
    description_ = std::string(api.SSL_get_version(session_->ssl)) + " " +
                   api.SSL_CIPHER_get_name(api.SSL_get_current_cipher(session_->ssl));
    return Step::kHandshakeDone;
  }
  switch (api.SSL_get_error(session_->ssl, rc)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE: return Step::kHandshaking;
    case SSL_ERROR_ZERO_RETURN: peer_closed_ = true; return Step::kHandshaking;
    default: break;
  }
  std::string reason = TakeErrorReason(api);
  long verified = api.SSL_get_verify_result(session_->ssl);
  if (session_->verify && verified != X509_V_OK)
    reason += std::string(" (") + api.X509_verify_cert_error_string(verified) + ")";
  return Fail(reason);
}

// Decrypts everything fed so far: the element feeds a bounded amount per
// read event, so this ends with it.
TlsChannel::Step TlsChannel::ReadPlain(std::string& plain) {
  const SslCalls& api = *session_->api;
  char buf[kPlainChunk];
  for (;;) {
    api.ERR_clear_error();
    int n = api.SSL_read(session_->ssl, buf, sizeof buf);
    if (n > 0) {
      plain.append(buf, static_cast<size_t>(n));
      continue;
    }
    switch (api.SSL_get_error(session_->ssl, n)) {
      case SSL_ERROR_WANT_READ:
      case SSL_ERROR_WANT_WRITE: return Step::kOpen;
      case SSL_ERROR_ZERO_RETURN: peer_closed_ = true; return Step::kOpen;
      default: return Fail(TakeErrorReason(api));
    }
  }
}

// Memory buffers take any amount, so a write goes whole or fails.
bool TlsChannel::FlushPlain() {
  if (plain_out_.empty()) return true;
  const SslCalls& api = *session_->api;
  api.ERR_clear_error();
  size_t written = 0;
  if (api.SSL_write_ex(session_->ssl, plain_out_.data(), plain_out_.size(), &written) != 1) {
    Fail(TakeErrorReason(api));
    return false;
  }
  plain_out_.erase(0, written);
  return true;
}

std::string TlsChannel::TakeOutput() {
  if (!session_->to_peer) return "";
  const SslCalls& api = *session_->api;
  std::string out(api.BIO_ctrl_pending(session_->to_peer), '\0');
  if (out.empty()) return out;
  int n = api.BIO_read(session_->to_peer, out.data(), static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

void TlsChannel::Shutdown() {
  if (!up_ || !failure_.empty()) return;
  const SslCalls& api = *session_->api;
  api.ERR_clear_error();
  api.SSL_shutdown(session_->ssl);
  api.ERR_clear_error();
}

TlsChannel::Step TlsChannel::Fail(const std::string& reason) {
  failure_ = WinsockErrorText(kTlsFailure) + ": " + reason;
  if (session_->api) session_->api->ERR_clear_error();
  return Step::kFailed;
}

}  // namespace dorvane
