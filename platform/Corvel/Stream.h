#ifndef CORVEL_STREAM_H
#define CORVEL_STREAM_H

// A connected socket as DaemonComm and DaemonServer read and write it: plain, or
// under TLS. Internal: not installed, not exported.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <poll.h>
#include <sys/uio.h>

#include "Corvel/Mutex.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace Corvel {

struct DaemonCommTls;
struct DaemonServerTls;

namespace net {

// One receiver and any number of senders may use a stream at once (senders
// serialise whole frames among themselves). The socket is non-blocking.
class Stream {
public:
    enum : long { readWouldBlock = -1, readFailed = -2 };

    // Takes ownership of fd.
    explicit Stream(int fd);
    virtual ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    int fd() const { return _fd; }
    // > 0: bytes read; 0: the peer ended the stream; readWouldBlock: wait with
    // poll for pollEvents(); readFailed: strWhy says why.
    virtual long read(char* pBuffer, size_t nSize, std::string& strWhy);
    // What a reader that got readWouldBlock waits for.
    virtual short pollEvents() const { return POLLIN; }
    // Bytes already received and decoded that poll() cannot see: read again
    // before waiting.
    virtual bool hasBuffered() const { return false; }
    // Writes every byte within nTimeoutMs, never raising SIGPIPE; false with
    // strWhy set otherwise (the stream is then unusable).
    virtual bool writeAll(iovec* pVector, int nVectors, long nTimeoutMs, std::string& strWhy);
    // Wakes blocked readers and writers (shutdown(2) with nHow).
    void shutdown(int nHow);
    // Closes the socket; further calls fail.
    virtual void close();
    // Gives the socket up without closing it (another stream took it over).
    void release();

    virtual bool isTls() const { return false; }
    // The subject of the certificate the peer showed, "" when none.
    virtual std::string peerSubject() const { return std::string(); }

protected:
    int _fd;
};

// TLS over a connected socket whose handshake is done.
class TlsStream : public Stream {
public:
    TlsStream(int fd, SSL* pssl);
    ~TlsStream() override;

    long read(char* pBuffer, size_t nSize, std::string& strWhy) override;
    short pollEvents() const override { return _bReadWantsWrite ? short(POLLIN | POLLOUT) : short(POLLIN); }
    bool hasBuffered() const override;
    bool writeAll(iovec* pVector, int nVectors, long nTimeoutMs, std::string& strWhy) override;
    // Sends close_notify when the socket takes it at once, then closes.
    void close() override;
    bool isTls() const override { return true; }
    std::string peerSubject() const override;
    // Client side: tickets the service sends are kept under strTarget, for the
    // next connection to it to resume.
    void keepSessionsAs(const std::string& strTarget);
    // Keeps what the connection's state points into alive as long as it.
    void keepAlive(std::shared_ptr<void> p) { _pkeep = std::move(p); }

private:
    // OpenSSL's per-connection state is for one thread at a time. The pointer never changes after
    // construction, so guarding it guards every use of what it points to.
    mutable Mutex _mxSsl;
    SSL* _pssl CORVEL_GUARDED_BY(_mxSsl);
    bool _bReadWantsWrite = false;  // touched by the receiver only
    bool _bReadBlocked CORVEL_GUARDED_BY(_mxSsl) = false;  // the last read wanted more from the socket
    std::string _strSessionKey;
    std::shared_ptr<void> _pkeep;
};

namespace tls {

// The SSL ex-data slot that holds the session key of a client connection.
int targetIndex();

// A server's certificate, key and policy, loaded once; shared by the
// connections accepted while it is current. Throws Corvel::Exception naming
// the file and the reason.
std::shared_ptr<SSL_CTX> makeServerContext(const DaemonServerTls& config);

// Runs the server side of the handshake on fd until nDeadlineMs (net::nowMs()
// clock) or until fdStop becomes readable. The stream, or null with strWhy set.
std::unique_ptr<Stream> accept(int fd, SSL_CTX* pctx, int64_t nDeadlineMs, int fdStop, std::string& strWhy);

// Runs the client side of the handshake on a connected fd for strHost (a name
// or an address, checked against the certificate unless a pin is given), and
// checks the pin. Resumes the last session with strTarget when it can.
// Throws Corvel::Exception saying why the daemon was not trusted; fd is
// closed then.
std::unique_ptr<Stream> connect(int fd, const DaemonCommTls& trust, const std::string& strHost,
                                const std::string& strTarget, int64_t nDeadlineMs);

// Sets OpenSSL up now. Exit handlers run in the reverse order of their
// registration: OpenSSL's, registered here, then runs after any registered later
// (which may still end threads that used TLS).
void initialize();

// Frees what OpenSSL keeps for the calling thread; threads that used TLS call it
// before they end.
void threadDone();

// The SHA-256 of a PEM certificate's public key as 64 lower-case hex digits,
// the form pins are written in. Throws Corvel::Exception.
std::string publicKeyPin(const std::string& strCertificatePem);

// The pin text in its canonical form (64 lower-case hex digits), from hex with
// or without colons or from "sha256//" and Base64. Throws Corvel::Exception.
std::string canonicalPin(const std::string& strPin);

} // namespace tls
} // namespace net
} // namespace Corvel

#endif
