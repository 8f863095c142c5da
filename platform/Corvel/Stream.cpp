#include "Corvel/Stream.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "Corvel/DaemonComm.h"
#include "Corvel/DaemonServer.h"
#include "Corvel/Exception.h"
#include "Corvel/Net.h"

namespace Corvel {
namespace net {

namespace {

[[noreturn]] void fail(int nLine, const std::string& strLegend)
{
    throw Exception(__FILE__, nLine, CVLX_SEELEGEND, false, strLegend);
}

// Waits until fd is ready for nEvents or nDeadlineMs passes; fdStop (when >= 0)
// ends the wait early. 1 ready, 0 time out, -1 stop or error.
int waitFor(int fd, short nEvents, int64_t nDeadlineMs, int fdStop = -1)
{
    for (;;) {
        int64_t nLeft = nDeadlineMs - nowMs();
        if (nLeft <= 0) return 0;
        pollfd apfd[2] = {{fd, nEvents, 0}, {fdStop, POLLIN, 0}};
        int nRc = poll(apfd, fdStop >= 0 ? 2 : 1, nLeft > 1000000 ? 1000000 : int(nLeft));
        if (nRc < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (nRc == 0) continue;
        if (fdStop >= 0 && apfd[1].revents) return -1;
        return 1;
    }
}

// The reason OpenSSL gives for the failure of the last call on this thread.
std::string sslErrorText(const std::string& strDefault)
{
    unsigned long nError = ERR_peek_last_error();
    ERR_clear_error();
    if (nError == 0) return strDefault;
    const char* pszReason = ERR_reason_error_string(nError);
    return pszReason ? pszReason : strDefault;
}

// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE when the
// peer is gone, and a library may not end its host process for that: ours sends
// with MSG_NOSIGNAL, and is the socket BIO in all else.
int noSignalWrite(BIO* pbio, const char* pData, int nSize)
{
    int fd = -1;
    BIO_get_fd(pbio, &fd);
    BIO_clear_retry_flags(pbio);
    ssize_t n = send(fd, pData, size_t(nSize), MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_write(pbio);
    return int(n);
}

int noSignalRead(BIO* pbio, char* pData, int nSize)
{
    int fd = -1;
    BIO_get_fd(pbio, &fd);
    BIO_clear_retry_flags(pbio);
    ssize_t n = recv(fd, pData, size_t(nSize), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_read(pbio);
    return int(n);
}

int noSignalPuts(BIO* pbio, const char* psz)
{
    return noSignalWrite(pbio, psz, int(std::strlen(psz)));
}

const BIO_METHOD* socketMethod()
{
    static BIO_METHOD* const s_pmethod = [] {
        const BIO_METHOD* psocket = BIO_s_socket();
        BIO_METHOD* pmethod = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                           "socket without SIGPIPE");
        if (pmethod) {
            BIO_meth_set_write(pmethod, noSignalWrite);
            BIO_meth_set_read(pmethod, noSignalRead);
            BIO_meth_set_puts(pmethod, noSignalPuts);
            BIO_meth_set_ctrl(pmethod, BIO_meth_get_ctrl(psocket));
            BIO_meth_set_create(pmethod, BIO_meth_get_create(psocket));
            BIO_meth_set_destroy(pmethod, BIO_meth_get_destroy(psocket));
        }
        return pmethod;
    }();
    return s_pmethod;
}

// Puts the socket under the connection state; false when out of memory.
bool attachSocket(SSL* pssl, int fd)
{
    const BIO_METHOD* pmethod = socketMethod();
    BIO* pbio = pmethod ? BIO_new(pmethod) : nullptr;
    if (!pbio) return false;
    BIO_set_fd(pbio, fd, BIO_NOCLOSE);
    SSL_set_bio(pssl, pbio, pbio);
    return true;
}

} // namespace

// ---- Stream ----------------------------------------------------------------

Stream::Stream(int fd) : _fd(fd)
{
}

Stream::~Stream()
{
    closeFd(_fd);
}

long Stream::read(char* pBuffer, size_t nSize, std::string& strWhy)
{
    ssize_t n = recv(_fd, pBuffer, nSize, MSG_DONTWAIT);
    if (n >= 0) return long(n);
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return readWouldBlock;
    strWhy = errnoText(errno);
    return readFailed;
}

bool Stream::writeAll(iovec* pVector, int nVectors, long nTimeoutMs, std::string& strWhy)
{
    return net::writeAll(_fd, pVector, nVectors, nTimeoutMs, strWhy);
}

void Stream::shutdown(int nHow)
{
    if (_fd >= 0) ::shutdown(_fd, nHow);
}

void Stream::close()
{
    closeFd(_fd);
}

void Stream::release()
{
    _fd = -1;
}

// ---- TlsStream -------------------------------------------------------------

TlsStream::TlsStream(int fd, SSL* pssl) : Stream(fd), _pssl(pssl)
{
}

TlsStream::~TlsStream()
{
    SSL_free(_pssl);
}

long TlsStream::read(char* pBuffer, size_t nSize, std::string& strWhy)
{
    MutexLock lock(_mxSsl);
    ERR_clear_error();
    errno = 0;
    size_t nRead = 0;
    _bReadWantsWrite = false;
    _bReadBlocked = false;
    if (SSL_read_ex(_pssl, pBuffer, nSize, &nRead) == 1) return long(nRead);
    int nError = SSL_get_error(_pssl, 0);
    switch (nError) {
    case SSL_ERROR_WANT_READ: _bReadBlocked = true; return readWouldBlock;
    case SSL_ERROR_WANT_WRITE: _bReadBlocked = _bReadWantsWrite = true; return readWouldBlock;
    case SSL_ERROR_ZERO_RETURN: return 0;  // close_notify
    case SSL_ERROR_SYSCALL:
        if (errno == EINTR || errno == EAGAIN) {
            _bReadBlocked = true;
            return readWouldBlock;
        }
        // A peer that closes without close_notify ends the stream all the same:
        // every frame is whole or refused, so no truncation goes unnoticed.
        if (ERR_peek_error() == 0) return 0;
        break;
    default: break;
    }
    strWhy = "TLS: " + sslErrorText("read failed");
    return readFailed;
}

bool TlsStream::hasBuffered() const
{
    MutexLock lock(_mxSsl);
    // With read-ahead, bytes may wait inside OpenSSL not yet made into a record; once a read
    // found them too few for one, only the socket can bring more.
    return !_bReadBlocked && SSL_has_pending(_pssl) == 1;
}

bool TlsStream::writeAll(iovec* pVector, int nVectors, long nTimeoutMs, std::string& strWhy)
{
    // One record for a frame's header and payload, not two.
    std::string strData;
    for (int i = 0; i < nVectors; ++i)
        strData.append(static_cast<const char*>(pVector[i].iov_base), pVector[i].iov_len);
    // 0 (or less): no time limit, as the server's options say.
    const int64_t nDeadline = nTimeoutMs > 0 ? nowMs() + nTimeoutMs : std::numeric_limits<int64_t>::max();
    size_t nDone = 0;
    while (nDone < strData.size()) {
        short nWait;
        {
            MutexLock lock(_mxSsl);
            ERR_clear_error();
            errno = 0;
            size_t nWritten = 0;
            if (SSL_write_ex(_pssl, strData.data() + nDone, strData.size() - nDone, &nWritten) == 1) {
                nDone += nWritten;
                continue;
            }
            int nError = SSL_get_error(_pssl, 0);
            if (nError == SSL_ERROR_WANT_WRITE) {
                nWait = POLLOUT;
            } else if (nError == SSL_ERROR_WANT_READ) {
                nWait = POLLIN;
            } else {
                strWhy = nError == SSL_ERROR_SYSCALL && errno != 0 ? errnoText(errno) : "TLS: " + sslErrorText("write failed");
                return false;
            }
        }
        int nReady = waitFor(_fd, nWait, nDeadline);
        if (nReady == 0) {
            strWhy = "timed out waiting for the peer to read";
            return false;
        }
        if (nReady < 0) {
            strWhy = errnoText(errno);
            return false;
        }
        if (nWait == POLLIN) {
            // The receiver takes what the peer sent; give it a moment to.
            waitFor(_fd, POLLOUT, nowMs() + 1);
        }
    }
    return true;
}

void TlsStream::close()
{
    {
        MutexLock lock(_mxSsl);
        if (_fd >= 0 && SSL_is_init_finished(_pssl)) {
            ERR_clear_error();
            SSL_shutdown(_pssl);
            ERR_clear_error();
        }
    }
    Stream::close();
}

void TlsStream::keepSessionsAs(const std::string& strTarget)
{
    _strSessionKey = strTarget;
    MutexLock lock(_mxSsl);  // before the stream is shared, but _pssl is read under the lock everywhere
    SSL_set_ex_data(_pssl, tls::targetIndex(), &_strSessionKey);
}

std::string TlsStream::peerSubject() const
{
    MutexLock lock(_mxSsl);
    X509* pcert = SSL_get0_peer_certificate(_pssl);
    if (!pcert) return std::string();
    // RFC 2253 form: a value holding "/" or "," cannot pass for another attribute.
    std::unique_ptr<BIO, decltype(&BIO_free)> pbio(BIO_new(BIO_s_mem()), BIO_free);
    if (!pbio || X509_NAME_print_ex(pbio.get(), X509_get_subject_name(pcert), 0, XN_FLAG_RFC2253) < 0)
        return std::string();
    char* pData = nullptr;
    long nLength = BIO_get_mem_data(pbio.get(), &pData);
    return nLength > 0 ? std::string(pData, size_t(nLength)) : std::string();
}

namespace tls {

namespace {

std::string hexOf(const unsigned char* pb, size_t n)
{
    static const char acDigit[] = "0123456789abcdef";
    std::string str;
    for (size_t i = 0; i < n; ++i) {
        str += acDigit[pb[i] >> 4];
        str += acDigit[pb[i] & 15];
    }
    return str;
}

std::string pinOf(X509* pcert)
{
    unsigned char* pbDer = nullptr;
    int nLen = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(pcert), &pbDer);
    if (nLen <= 0) return std::string();
    unsigned char abDigest[32];
    unsigned int nDigest = 0;
    EVP_Digest(pbDer, size_t(nLen), abDigest, &nDigest, EVP_sha256(), nullptr);
    OPENSSL_free(pbDer);
    return hexOf(abDigest, nDigest);
}

int protocolVersion(const std::string& strVersion)
{
    if (strVersion.empty() || strVersion == "1.2") return TLS1_2_VERSION;
    if (strVersion == "1.3") return TLS1_3_VERSION;
    fail(__LINE__, "TLS minimum version '" + strVersion + "' is neither 1.2 nor 1.3");
}

// A short reason for a certificate the client refused.
std::string verifyReason(long nResult)
{
    std::string strDetail = X509_verify_cert_error_string(nResult);
    switch (nResult) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE: return "unknown issuer (" + strDetail + ")";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return "name mismatch (" + strDetail + ")";
    case X509_V_ERR_CERT_HAS_EXPIRED: return "expired (" + strDetail + ")";
    case X509_V_ERR_CERT_NOT_YET_VALID: return "not yet valid (" + strDetail + ")";
    case X509_V_ERR_APPLICATION_VERIFICATION: return "pin mismatch (the certificate's key is not the pinned one)";
    default: return strDetail;
    }
}

// The client side keeps one context per trust setting (loading a CA store
// costs more than a handshake) and, in it, the last session per service so
// that a new connection resumes instead of paying a full handshake.
struct ClientContext {
    std::shared_ptr<SSL_CTX> pctx;
    std::string strPin;  // canonical; when set, the daemon's key must be this one
    Mutex mx;
    std::map<std::string, SSL_SESSION*> sessionS CORVEL_GUARDED_BY(mx);

    ~ClientContext()
    {
        for (auto& entry : sessionS)
            SSL_SESSION_free(entry.second);
    }
};

Mutex g_mxClients;
std::map<std::string, std::shared_ptr<ClientContext>> g_clientS CORVEL_GUARDED_BY(g_mxClients);

int clientIndex()
{
    static const int nIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return nIndex;
}

// With a pin, the certificate the daemon shows is trusted as itself or not at
// all, decided before the handshake goes on (so that nothing of ours, a client
// certificate included, reaches an impostor): the chain above it is not
// consulted.
int verifyPinned(int, X509_STORE_CTX* pstore)
{
    if (X509_STORE_CTX_get_error_depth(pstore) > 0) return 1;
    auto* pssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(pstore, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* pclient = pssl ? static_cast<ClientContext*>(SSL_get_ex_data(pssl, clientIndex())) : nullptr;
    X509* pcert = X509_STORE_CTX_get_current_cert(pstore);
    if (!pclient || !pcert || pclient->strPin.empty() || pinOf(pcert) != pclient->strPin) {
        X509_STORE_CTX_set_error(pstore, X509_V_ERR_APPLICATION_VERIFICATION);
        return 0;
    }
    X509_STORE_CTX_set_error(pstore, X509_V_OK);
    return 1;
}

int noPassphrase(char*, int, int, void*)
{
    // A key file with a passphrase cannot be read unattended; asking on a
    // terminal would block the daemon.
    return 0;
}

int rememberSession(SSL* pssl, SSL_SESSION* psession)
{
    auto* pstrTarget = static_cast<std::string*>(SSL_get_ex_data(pssl, targetIndex()));
    auto* pclient = static_cast<ClientContext*>(SSL_get_ex_data(pssl, clientIndex()));
    if (!pstrTarget || !pclient || !SSL_SESSION_is_resumable(psession)) return 0;
    MutexLock lock(pclient->mx);
    SSL_SESSION*& pslot = pclient->sessionS[*pstrTarget];
    if (pslot) SSL_SESSION_free(pslot);
    pslot = psession;
    return 1;  // we keep the reference
}

std::shared_ptr<ClientContext> clientContext(const DaemonCommTls& trust, const std::string& strPin)
{
    std::string strKey;
    for (const std::string* pstr : {&trust.strCAFile, &strPin, &trust.strCertFile, &trust.strKeyFile})
        strKey += std::to_string(pstr->size()) + ":" + *pstr;
    MutexLock lock(g_mxClients);
    auto it = g_clientS.find(strKey);
    if (it != g_clientS.end()) return it->second;
    // Bounded: a context dropped here lives on in the connections using it.
    if (g_clientS.size() >= 16) g_clientS.erase(g_clientS.begin());

    std::shared_ptr<SSL_CTX> pctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!pctx) fail(__LINE__, "Cannot make a TLS context: " + sslErrorText("out of memory"));
    SSL_CTX_set_min_proto_version(pctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_options(pctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_default_passwd_cb(pctx.get(), noPassphrase);
    if (strPin.empty()) {
        SSL_CTX_set_verify(pctx.get(), SSL_VERIFY_PEER, nullptr);
        if (!trust.strCAFile.empty()) {
            if (SSL_CTX_load_verify_locations(pctx.get(), trust.strCAFile.c_str(), nullptr) != 1)
                fail(__LINE__, "Cannot read the CA file '" + trust.strCAFile + "': " + sslErrorText("unreadable"));
        } else if (SSL_CTX_set_default_verify_paths(pctx.get()) != 1) {
            fail(__LINE__, "Cannot use the system's CA store: " + sslErrorText("unreadable"));
        }
    } else {
        SSL_CTX_set_verify(pctx.get(), SSL_VERIFY_PEER, verifyPinned);
    }
    if (!trust.strCertFile.empty()) {
        if (SSL_CTX_use_certificate_chain_file(pctx.get(), trust.strCertFile.c_str()) != 1)
            fail(__LINE__, "Cannot read the client certificate '" + trust.strCertFile + "': " + sslErrorText("unreadable"));
        const std::string& strKey2 = trust.strKeyFile.empty() ? trust.strCertFile : trust.strKeyFile;
        if (SSL_CTX_use_PrivateKey_file(pctx.get(), strKey2.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(pctx.get()) != 1)
            fail(__LINE__, "Cannot use the client key '" + strKey2 + "': " + sslErrorText("unreadable"));
    }
    SSL_CTX_set_session_cache_mode(pctx.get(), SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(pctx.get(), rememberSession);
    // A frame goes out in one call, whole, and records are read a socket-full at a time: fewer
    // calls and wake-ups per request.
    SSL_CTX_set_mode(pctx.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_read_ahead(pctx.get(), 1);

    auto pclient = std::make_shared<ClientContext>();
    pclient->pctx = pctx;
    pclient->strPin = strPin;
    g_clientS.emplace(strKey, pclient);
    return pclient;
}

bool isAddress(const std::string& strHost)
{
    unsigned char ab[16];
    return inet_pton(AF_INET, strHost.c_str(), ab) == 1 || inet_pton(AF_INET6, strHost.c_str(), ab) == 1;
}

} // namespace

int targetIndex()
{
    static const int nIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return nIndex;
}

void initialize()
{
    OPENSSL_init_ssl(0, nullptr);
}

void threadDone()
{
    OPENSSL_thread_stop();
}

std::string canonicalPin(const std::string& strPin)
{
    if (strPin.compare(0, 8, "sha256//") == 0) {
        std::string strBase64 = strPin.substr(8);
        if (strBase64.size() != 44) fail(__LINE__, "A sha256// pin holds 44 Base64 characters");
        unsigned char ab[48];
        if (EVP_DecodeBlock(ab, reinterpret_cast<const unsigned char*>(strBase64.data()), int(strBase64.size())) != 33)
            fail(__LINE__, "The pin is not Base64");
        return hexOf(ab, 32);
    }
    std::string strHex;
    for (char c : strPin) {
        if (c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) fail(__LINE__, "The pin holds a character that is no hex digit");
        strHex += char(std::tolower(static_cast<unsigned char>(c)));
    }
    if (strHex.size() != 64) fail(__LINE__, "A pin is the SHA-256 of a public key: 64 hex digits");
    return strHex;
}

std::string publicKeyPin(const std::string& strCertificatePem)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> pbio(
        BIO_new_mem_buf(strCertificatePem.data(), int(strCertificatePem.size())), BIO_free);
    X509* pcert = pbio ? PEM_read_bio_X509(pbio.get(), nullptr, nullptr, nullptr) : nullptr;
    if (!pcert) fail(__LINE__, "No PEM certificate: " + sslErrorText("unreadable"));
    std::string strPin = pinOf(pcert);
    X509_free(pcert);
    return strPin;
}

std::shared_ptr<SSL_CTX> makeServerContext(const DaemonServerTls& config)
{
    std::shared_ptr<SSL_CTX> pctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!pctx) fail(__LINE__, "Cannot make a TLS context: " + sslErrorText("out of memory"));
    int nMin = protocolVersion(config.strMinVersion);
    SSL_CTX_set_min_proto_version(pctx.get(), nMin);
    // Frames delimit themselves: a peer that closes without close_notify truncates nothing unseen.
    SSL_CTX_set_options(pctx.get(), SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_default_passwd_cb(pctx.get(), noPassphrase);
    if (!config.strCiphers.empty() && SSL_CTX_set_cipher_list(pctx.get(), config.strCiphers.c_str()) != 1)
        fail(__LINE__, "TLS cipher list '" + config.strCiphers + "' names no usable cipher");
    if (config.strCertFile.empty()) fail(__LINE__, "TLS needs a certificate file");
    if (SSL_CTX_use_certificate_chain_file(pctx.get(), config.strCertFile.c_str()) != 1)
        fail(__LINE__, "Cannot read the certificate '" + config.strCertFile + "': " + sslErrorText("unreadable"));
    const std::string& strKey = config.strKeyFile.empty() ? config.strCertFile : config.strKeyFile;
    if (SSL_CTX_use_PrivateKey_file(pctx.get(), strKey.c_str(), SSL_FILETYPE_PEM) != 1)
        fail(__LINE__, "Cannot read the key '" + strKey + "': " + sslErrorText("unreadable"));
    if (SSL_CTX_check_private_key(pctx.get()) != 1)
        fail(__LINE__, "The key '" + strKey + "' does not belong to the certificate '" + config.strCertFile + "'");
    if (!config.strClientCAFile.empty()) {
        if (SSL_CTX_load_verify_locations(pctx.get(), config.strClientCAFile.c_str(), nullptr) != 1)
            fail(__LINE__, "Cannot read the client CA file '" + config.strClientCAFile + "': " + sslErrorText("unreadable"));
        STACK_OF(X509_NAME)* pnameS = SSL_load_client_CA_file(config.strClientCAFile.c_str());
        if (pnameS) SSL_CTX_set_client_CA_list(pctx.get(), pnameS);
        SSL_CTX_set_verify(pctx.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    // Resumption: stateless tickets, one a connection. Every setTls() makes a
    // new context with new ticket keys, so no session outlives the
    // certificate and policy it was made under.
    static const unsigned char abContext[] = "ostreld";
    SSL_CTX_set_session_id_context(pctx.get(), abContext, sizeof abContext - 1);
    SSL_CTX_set_num_tickets(pctx.get(), 1);
    // A frame goes out in one call, whole, and records are read a socket-full at a time: fewer
    // calls and wake-ups per request.
    SSL_CTX_set_mode(pctx.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_read_ahead(pctx.get(), 1);
    return pctx;
}

std::unique_ptr<Stream> accept(int fd, SSL_CTX* pctx, int64_t nDeadlineMs, int fdStop, std::string& strWhy)
{
    SSL* pssl = SSL_new(pctx);
    if (!pssl || !attachSocket(pssl, fd)) {
        SSL_free(pssl);
        strWhy = "cannot start TLS: " + sslErrorText("out of memory");
        return nullptr;
    }
    for (;;) {
        ERR_clear_error();
        int nRc;
        {
            nRc = SSL_accept(pssl);
        }
        if (nRc == 1) return std::make_unique<TlsStream>(fd, pssl);
        int nError = SSL_get_error(pssl, nRc);
        short nWait = nError == SSL_ERROR_WANT_READ ? POLLIN : nError == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
        if (nWait == 0) {
            if (nError == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)
                strWhy = "TLS handshake: the peer closed the connection";
            else
                strWhy = "TLS handshake failed: " + sslErrorText("unknown reason");
            SSL_free(pssl);
            return nullptr;
        }
        int nReady = waitFor(fd, nWait, nDeadlineMs, fdStop);
        if (nReady <= 0) {
            strWhy = nReady == 0 ? "TLS handshake timed out" : "stopping";
            SSL_free(pssl);
            return nullptr;
        }
    }
}

std::unique_ptr<Stream> connect(int fd, const DaemonCommTls& trust, const std::string& strHost,
                                const std::string& strTarget, int64_t nDeadlineMs)
{
    std::string strPin;
    std::shared_ptr<ClientContext> pclient;
    try {
        if (!trust.strPin.empty()) strPin = canonicalPin(trust.strPin);
        pclient = clientContext(trust, strPin);
    } catch (...) {
        closeFd(fd);
        throw;
    }
    SSL* pssl = SSL_new(pclient->pctx.get());
    if (!pssl) {
        closeFd(fd);
        fail(__LINE__, "TLS with '" + strTarget + "' refused: " + sslErrorText("out of memory"));
    }
    // From here the stream owns the socket and the connection state, and frees
    // both when a check below fails.
    auto pstream = std::make_unique<TlsStream>(fd, pssl);
    pstream->keepAlive(pclient);
    auto failWith = [&](int nLine, const std::string& strWhy) {
        pstream.reset();
        // Nothing learnt from a daemon that was refused is offered again.
        {
            MutexLock lock(pclient->mx);
            auto it = pclient->sessionS.find(strTarget);
            if (it != pclient->sessionS.end()) {
                SSL_SESSION_free(it->second);
                pclient->sessionS.erase(it);
            }
        }
        fail(nLine, "TLS with '" + strTarget + "' refused: " + strWhy);
    };
    if (!attachSocket(pssl, fd)) failWith(__LINE__, sslErrorText("out of memory"));
    // Tickets may come with any later read: the key they are kept under lives
    // as long as the connection.
    pstream->keepSessionsAs(strTarget);
    SSL_set_ex_data(pssl, clientIndex(), pclient.get());
    if (strPin.empty()) {
        X509_VERIFY_PARAM* pparam = SSL_get0_param(pssl);
        X509_VERIFY_PARAM_set_hostflags(pparam,
                                        X509_CHECK_FLAG_NEVER_CHECK_SUBJECT | X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        int nOk = isAddress(strHost) ? X509_VERIFY_PARAM_set1_ip_asc(pparam, strHost.c_str())
                                     : X509_VERIFY_PARAM_set1_host(pparam, strHost.c_str(), 0);
        if (nOk != 1) failWith(__LINE__, "cannot check the name '" + strHost + "'");
    }
    if (!isAddress(strHost)) SSL_set_tlsext_host_name(pssl, strHost.c_str());
    {
        MutexLock lock(pclient->mx);
        auto it = pclient->sessionS.find(strTarget);
        if (it != pclient->sessionS.end()) SSL_set_session(pssl, it->second);
    }
    for (;;) {
        ERR_clear_error();
        int nRc;
        {
            nRc = SSL_connect(pssl);
        }
        if (nRc == 1) break;
        int nError = SSL_get_error(pssl, nRc);
        short nWait = nError == SSL_ERROR_WANT_READ ? POLLIN : nError == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
        if (nWait == 0) {
            long nVerify = SSL_get_verify_result(pssl);
            if (nVerify != X509_V_OK) failWith(__LINE__, "certificate not trusted: " + verifyReason(nVerify));
            if (nError == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)
                failWith(__LINE__, "the service closed the connection during the handshake (does it speak TLS there?)");
            failWith(__LINE__, "handshake failed: " + sslErrorText("unknown reason"));
        }
        int nReady = waitFor(fd, nWait, nDeadlineMs);
        if (nReady <= 0) failWith(__LINE__, nReady == 0 ? "handshake timed out" : errnoText(errno));
    }
    if (!strPin.empty()) {
        X509* pcert = SSL_get0_peer_certificate(pssl);
        if (!pcert) failWith(__LINE__, "pin mismatch (the service showed no certificate)");
        if (pinOf(pcert) != strPin) failWith(__LINE__, "pin mismatch (the certificate's key is not the pinned one)");
    }
    return pstream;
}

} // namespace tls
} // namespace net
} // namespace Corvel
