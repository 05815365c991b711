#include "tls/openssl.hpp"

#include "loader/shared_library.hpp"

namespace relaydash {
namespace {

struct LoadedOpenSsl {
  SharedLibrary crypto;
  SharedLibrary ssl;
  OpenSsl functions{};
  bool complete = false;
  std::string missing;
};

// Resolves one function of either library, noting the first one missing.
template <typename Function>
void need(LoadedOpenSsl& loaded, const SharedLibrary& library, const char* name, Function*& slot) {
  if (!import(library, name, slot) && loaded.missing.empty()) {
    loaded.missing = "OpenSSL lacks " + std::string(name);
  }
}

LoadedOpenSsl load() {
  LoadedOpenSsl loaded;
  // libssl needs its own libcrypto: the versioned names of OpenSSL 3, then the development
  // files' links.
  loaded.crypto = SharedLibrary::open({"libcrypto.so.3", "libcrypto.so"});
  loaded.ssl = SharedLibrary::open({"libssl.so.3", "libssl.so"});
  if (!loaded.crypto || !loaded.ssl) {
    loaded.missing = "could not load " + libraryNamePattern({"libssl.so.3", "libssl.so"}) +
                     " (OpenSSL 3, Debian's libssl3)";
    return loaded;
  }
  const SharedLibrary& s = loaded.ssl;
  const SharedLibrary& c = loaded.crypto;
  OpenSsl& f = loaded.functions;
  need(loaded, s, "OPENSSL_init_ssl", f.initSsl);
  need(loaded, s, "TLS_server_method", f.serverMethod);
  need(loaded, s, "SSL_CTX_new", f.ctxNew);
  need(loaded, s, "SSL_CTX_free", f.ctxFree);
  need(loaded, s, "SSL_CTX_ctrl", f.ctxCtrl);
  need(loaded, s, "SSL_CTX_set_options", f.ctxSetOptions);
  need(loaded, s, "SSL_CTX_set_cipher_list", f.ctxSetCipherList);
  need(loaded, s, "SSL_CTX_set_ciphersuites", f.ctxSetCiphersuites);
  need(loaded, s, "SSL_CTX_use_certificate_chain_file", f.ctxUseCertificateChainFile);
  need(loaded, s, "SSL_CTX_use_PrivateKey_file", f.ctxUsePrivateKeyFile);
  need(loaded, s, "SSL_CTX_check_private_key", f.ctxCheckPrivateKey);
  need(loaded, s, "SSL_CTX_get0_certificate", f.ctxCertificate);
  need(loaded, s, "SSL_CTX_set_alpn_select_cb", f.ctxSetAlpnSelect);
  need(loaded, s, "SSL_CTX_set_num_tickets", f.ctxSetNumTickets);
  need(loaded, s, "SSL_CTX_set_timeout", f.ctxSetTimeout);
  need(loaded, s, "SSL_CTX_set_tlsext_ticket_key_evp_cb", f.ctxSetTicketKeyCallback);
  need(loaded, s, "SSL_CTX_set_ex_data", f.ctxSetExData);
  need(loaded, s, "SSL_CTX_get_ex_data", f.ctxGetExData);
  need(loaded, s, "SSL_get_SSL_CTX", f.sslContext);
  need(loaded, s, "SSL_new", f.sslNew);
  need(loaded, s, "SSL_free", f.sslFree);
  need(loaded, s, "SSL_set_bio", f.sslSetBio);
  need(loaded, s, "SSL_set_accept_state", f.sslSetAcceptState);
  need(loaded, s, "SSL_read_ex", f.sslRead);
  need(loaded, s, "SSL_write_ex", f.sslWrite);
  need(loaded, s, "SSL_get_error", f.sslGetError);
  need(loaded, s, "SSL_shutdown", f.sslShutdown);
  need(loaded, s, "SSL_is_init_finished", f.sslInitFinished);
  need(loaded, s, "SSL_has_pending", f.sslHasPending);
  need(loaded, s, "SSL_get_shutdown", f.sslGetShutdown);
  need(loaded, c, "ERR_get_error", f.errGetError);
  need(loaded, c, "ERR_error_string_n", f.errErrorString);
  need(loaded, c, "ERR_clear_error", f.errClear);
  need(loaded, c, "BIO_get_new_index", f.bioNewIndex);
  need(loaded, c, "BIO_meth_new", f.bioMethNew);
  need(loaded, c, "BIO_meth_set_write_ex", f.bioMethSetWrite);
  need(loaded, c, "BIO_meth_set_read_ex", f.bioMethSetRead);
  need(loaded, c, "BIO_meth_set_ctrl", f.bioMethSetCtrl);
  need(loaded, c, "BIO_new", f.bioNew);
  need(loaded, c, "BIO_free_all", f.bioFreeAll);
  need(loaded, c, "BIO_set_data", f.bioSetData);
  need(loaded, c, "BIO_get_data", f.bioGetData);
  need(loaded, c, "BIO_set_init", f.bioSetInit);
  need(loaded, c, "BIO_set_flags", f.bioSetFlags);
  need(loaded, c, "BIO_clear_flags", f.bioClearFlags);
  need(loaded, c, "BIO_s_mem", f.bioMemory);
  need(loaded, c, "BIO_new_mem_buf", f.bioNewMemoryBuffer);
  need(loaded, c, "BIO_ctrl", f.bioCtrl);
  need(loaded, c, "RAND_bytes", f.randBytes);
  need(loaded, c, "EVP_PKEY_Q_keygen", f.keygen);
  need(loaded, c, "EVP_PKEY_free", f.keyFree);
  need(loaded, c, "EVP_sha256", f.sha256);
  need(loaded, c, "EVP_aes_256_cbc", f.aes256Cbc);
  need(loaded, c, "EVP_EncryptInit_ex", f.encryptInit);
  need(loaded, c, "EVP_DecryptInit_ex", f.decryptInit);
  need(loaded, c, "EVP_MAC_CTX_set_params", f.macSetParams);
  need(loaded, c, "OSSL_PARAM_construct_utf8_string", f.paramUtf8);
  need(loaded, c, "OSSL_PARAM_construct_octet_string", f.paramOctets);
  need(loaded, c, "OSSL_PARAM_construct_end", f.paramEnd);
  need(loaded, c, "X509_new", f.x509New);
  need(loaded, c, "X509_free", f.x509Free);
  need(loaded, c, "X509_set_version", f.x509SetVersion);
  need(loaded, c, "X509_get_serialNumber", f.x509Serial);
  need(loaded, c, "ASN1_INTEGER_set_uint64", f.asn1IntegerSetUint64);
  need(loaded, c, "X509_getm_notBefore", f.x509NotBefore);
  need(loaded, c, "X509_getm_notAfter", f.x509NotAfter);
  need(loaded, c, "X509_get0_notAfter", f.x509NotAfterOf);
  need(loaded, c, "ASN1_TIME_set", f.asn1TimeSet);
  need(loaded, c, "ASN1_TIME_to_tm", f.asn1TimeToTm);
  need(loaded, c, "X509_set_pubkey", f.x509SetPubkey);
  need(loaded, c, "X509_get_subject_name", f.x509Subject);
  need(loaded, c, "X509_set_issuer_name", f.x509SetIssuer);
  need(loaded, c, "X509_NAME_add_entry_by_txt", f.x509NameAdd);
  need(loaded, c, "X509V3_set_ctx", f.x509v3SetContext);
  need(loaded, c, "X509V3_EXT_conf_nid", f.x509v3Extension);
  need(loaded, c, "X509_add_ext", f.x509AddExtension);
  need(loaded, c, "X509_EXTENSION_free", f.x509ExtensionFree);
  need(loaded, c, "X509_sign", f.x509Sign);
  need(loaded, c, "X509_digest", f.x509Digest);
  need(loaded, c, "X509_get_ext_d2i", f.x509ExtensionData);
  need(loaded, c, "GENERAL_NAMES_free", f.generalNamesFree);
  need(loaded, c, "OPENSSL_sk_num", f.stackSize);
  need(loaded, c, "OPENSSL_sk_value", f.stackValue);
  need(loaded, c, "ASN1_STRING_get0_data", f.asn1Data);
  need(loaded, c, "ASN1_STRING_length", f.asn1Length);
  need(loaded, c, "PEM_write_bio_X509", f.pemWriteCertificate);
  need(loaded, c, "PEM_write_bio_PrivateKey", f.pemWriteKey);
  need(loaded, c, "PEM_read_bio_X509", f.pemReadCertificate);
  if (!loaded.missing.empty()) return loaded;
  // The system's openssl.cnf is not read: what the server offers is what this program sets.
  if (f.initSsl(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) != 1) {
    loaded.missing = "OpenSSL could not be initialized";
    return loaded;
  }
  loaded.complete = true;
  return loaded;
}

const LoadedOpenSsl& loadedOpenSsl() {
  static const LoadedOpenSsl loaded = load();
  return loaded;
}

}  // namespace

const OpenSsl* openSsl() {
  const LoadedOpenSsl& loaded = loadedOpenSsl();
  return loaded.complete ? &loaded.functions : nullptr;
}

const std::string& openSslMissing() {
  return loadedOpenSsl().missing;
}

std::string openSslError(const OpenSsl& ssl, const char* otherwise) {
  const unsigned long code = ssl.errGetError();
  ssl.errClear();
  if (code == 0) return otherwise;
  char text[256];
  ssl.errErrorString(code, text, sizeof text);
  // "error:0A000064:SSL routines::bad length": the reason is the last part.
  std::string whole(text);
  const std::size_t colon = whole.rfind(':');
  return colon == std::string::npos ? whole : whole.substr(colon + 1);
}

}  // namespace relaydash
