#pragma once

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <string>

namespace relaydash {

// The OpenSSL 3 functions this program calls, resolved once from libssl.so.3 and
// libcrypto.so.3. The library is optional: without it the server answers plain HTTP alone.
struct OpenSsl {
  // libssl
  decltype(&::OPENSSL_init_ssl) initSsl;
  decltype(&::TLS_server_method) serverMethod;
  decltype(&::SSL_CTX_new) ctxNew;
  decltype(&::SSL_CTX_free) ctxFree;
  decltype(&::SSL_CTX_ctrl) ctxCtrl;
  decltype(&::SSL_CTX_set_options) ctxSetOptions;
  decltype(&::SSL_CTX_set_cipher_list) ctxSetCipherList;
  decltype(&::SSL_CTX_set_ciphersuites) ctxSetCiphersuites;
  decltype(&::SSL_CTX_use_certificate_chain_file) ctxUseCertificateChainFile;
  decltype(&::SSL_CTX_use_PrivateKey_file) ctxUsePrivateKeyFile;
  decltype(&::SSL_CTX_check_private_key) ctxCheckPrivateKey;
  decltype(&::SSL_CTX_get0_certificate) ctxCertificate;
  decltype(&::SSL_CTX_set_alpn_select_cb) ctxSetAlpnSelect;
  decltype(&::SSL_CTX_set_num_tickets) ctxSetNumTickets;
  decltype(&::SSL_CTX_set_timeout) ctxSetTimeout;
  decltype(&::SSL_CTX_set_tlsext_ticket_key_evp_cb) ctxSetTicketKeyCallback;
  decltype(&::SSL_CTX_set_ex_data) ctxSetExData;
  decltype(&::SSL_CTX_get_ex_data) ctxGetExData;
  decltype(&::SSL_get_SSL_CTX) sslContext;
  decltype(&::SSL_new) sslNew;
  decltype(&::SSL_free) sslFree;
  decltype(&::SSL_set_bio) sslSetBio;
  decltype(&::SSL_set_accept_state) sslSetAcceptState;
  decltype(&::SSL_read_ex) sslRead;
  decltype(&::SSL_write_ex) sslWrite;
  decltype(&::SSL_get_error) sslGetError;
  decltype(&::SSL_shutdown) sslShutdown;
  decltype(&::SSL_is_init_finished) sslInitFinished;
  decltype(&::SSL_has_pending) sslHasPending;
  decltype(&::SSL_get_shutdown) sslGetShutdown;
  // libcrypto
  decltype(&::ERR_get_error) errGetError;
  decltype(&::ERR_error_string_n) errErrorString;
  decltype(&::ERR_clear_error) errClear;
  decltype(&::BIO_get_new_index) bioNewIndex;
  decltype(&::BIO_meth_new) bioMethNew;
  decltype(&::BIO_meth_set_write_ex) bioMethSetWrite;
  decltype(&::BIO_meth_set_read_ex) bioMethSetRead;
  decltype(&::BIO_meth_set_ctrl) bioMethSetCtrl;
  decltype(&::BIO_new) bioNew;
  decltype(&::BIO_free_all) bioFreeAll;
  decltype(&::BIO_set_data) bioSetData;
  decltype(&::BIO_get_data) bioGetData;
  decltype(&::BIO_set_init) bioSetInit;
  decltype(&::BIO_set_flags) bioSetFlags;
  decltype(&::BIO_clear_flags) bioClearFlags;
  decltype(&::BIO_s_mem) bioMemory;
  decltype(&::BIO_new_mem_buf) bioNewMemoryBuffer;
  decltype(&::BIO_ctrl) bioCtrl;
  decltype(&::RAND_bytes) randBytes;
  decltype(&::EVP_PKEY_Q_keygen) keygen;
  decltype(&::EVP_PKEY_free) keyFree;
  decltype(&::EVP_sha256) sha256;
  decltype(&::EVP_aes_256_cbc) aes256Cbc;
  decltype(&::EVP_EncryptInit_ex) encryptInit;
  decltype(&::EVP_DecryptInit_ex) decryptInit;
  decltype(&::EVP_MAC_CTX_set_params) macSetParams;
  decltype(&::OSSL_PARAM_construct_utf8_string) paramUtf8;
  decltype(&::OSSL_PARAM_construct_octet_string) paramOctets;
  decltype(&::OSSL_PARAM_construct_end) paramEnd;
  decltype(&::X509_new) x509New;
  decltype(&::X509_free) x509Free;
  decltype(&::X509_set_version) x509SetVersion;
  decltype(&::X509_get_serialNumber) x509Serial;
  decltype(&::ASN1_INTEGER_set_uint64) asn1IntegerSetUint64;
  decltype(&::X509_getm_notBefore) x509NotBefore;
  decltype(&::X509_getm_notAfter) x509NotAfter;
  decltype(&::X509_get0_notAfter) x509NotAfterOf;
  decltype(&::ASN1_TIME_set) asn1TimeSet;
  decltype(&::ASN1_TIME_to_tm) asn1TimeToTm;
  decltype(&::X509_set_pubkey) x509SetPubkey;
  decltype(&::X509_get_subject_name) x509Subject;
  decltype(&::X509_set_issuer_name) x509SetIssuer;
  decltype(&::X509_NAME_add_entry_by_txt) x509NameAdd;
  decltype(&::X509V3_set_ctx) x509v3SetContext;
  decltype(&::X509V3_EXT_conf_nid) x509v3Extension;
  decltype(&::X509_add_ext) x509AddExtension;
  decltype(&::X509_EXTENSION_free) x509ExtensionFree;
  decltype(&::X509_sign) x509Sign;
  decltype(&::X509_digest) x509Digest;
  decltype(&::X509_get_ext_d2i) x509ExtensionData;
  decltype(&::GENERAL_NAMES_free) generalNamesFree;
  decltype(&::OPENSSL_sk_num) stackSize;
  decltype(&::OPENSSL_sk_value) stackValue;
  decltype(&::ASN1_STRING_get0_data) asn1Data;
  decltype(&::ASN1_STRING_length) asn1Length;
  decltype(&::PEM_write_bio_X509) pemWriteCertificate;
  decltype(&::PEM_write_bio_PrivateKey) pemWriteKey;
  decltype(&::PEM_read_bio_X509) pemReadCertificate;
};

// Loads OpenSSL and resolves its functions, once: null when it cannot be loaded, and then
// openSslMissing() says why.
const OpenSsl* openSsl();
const std::string& openSslMissing();

// The reason of the oldest error OpenSSL has queued ("key values mismatch"), or `otherwise`;
// empties the queue.
std::string openSslError(const OpenSsl& ssl, const char* otherwise);

}  // namespace relaydash
