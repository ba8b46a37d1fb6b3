// OpenSSL's calls for the TLS sessions, found when the first session
// starts rather than at program start: merely loading the library costs
// the relay about 2 MiB, and most relays stay idle or never use TLS.
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace dorvane {

// Every library call that the sessions make (the header macros they used
// are spelled out with SSL_CTX_ctrl, SSL_ctrl and SSL_CIPHER_get_name).
#define DORVANE_SSL_CALLS(X)                                                                           \
  X(TLS_client_method) X(SSL_CTX_new) X(SSL_CTX_free) X(SSL_CTX_ctrl) X(SSL_CTX_set_options)            \
  X(SSL_CTX_set_verify) X(SSL_CTX_set_default_verify_paths) X(SSL_new) X(SSL_free) X(SSL_set_bio)      \
  X(SSL_set_connect_state) X(SSL_ctrl) X(SSL_get0_param) X(SSL_set1_host) X(SSL_do_handshake)          \
  X(SSL_get_error) X(SSL_get_version) X(SSL_get_current_cipher) X(SSL_CIPHER_get_name)                \
  X(SSL_get_verify_result) X(SSL_read) X(SSL_write_ex) X(SSL_shutdown) X(BIO_new) X(BIO_s_mem)         \
  X(BIO_free) X(BIO_write) X(BIO_read) X(BIO_ctrl_pending) X(ERR_clear_error) X(ERR_get_error)         \
  X(ERR_reason_error_string) X(X509_VERIFY_PARAM_set1_ip_asc) X(X509_verify_cert_error_string)

// One pointer per call, named and typed as the library's own function.
struct SslCalls {
#define DORVANE_SSL_FIELD(name) decltype(&::name) name = nullptr;
  DORVANE_SSL_CALLS(DORVANE_SSL_FIELD)
#undef DORVANE_SSL_FIELD
};

// The calls of the library these headers describe, loaded on the first
// call and kept for the life of the program; null when the library or one
// of its calls cannot be found (asked again each time, so an install
// during the run is seen).
const SslCalls* SslLibrary();

}  // namespace dorvane
