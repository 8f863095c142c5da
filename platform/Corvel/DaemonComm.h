#ifndef CORVEL_DAEMONCOMM_H
#define CORVEL_DAEMONCOMM_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Corvel/Export.h"

namespace Corvel {

// How long a DaemonComm waits for things, in milliseconds.
struct CORVEL_API DaemonCommTiming {
    long nConnectMs = 5000;     // connect() gives up after this, all addresses together
    long nSendMs = 30000;       // send() waits at most this for the daemon to take the bytes; 0: no limit
    long nFrameMs = 30000;      // a frame begun by the daemon must be complete within this
    long nKeepAliveMs = 60000;  // a ping goes out after this much silence, so that the
                                // daemon's idle time-out spares a live client; 0: never
};

// How a link trusts a daemon named "tls:host:port". Empty texts take the default.
struct CORVEL_API DaemonCommTls {
    std::string strCAFile;    // PEM file of the CAs trusted; empty: the system's store
                              // (OpenSSL's default paths, so SSL_CERT_FILE and SSL_CERT_DIR apply)
    std::string strPin;       // SHA-256 of the daemon certificate's public key: 64 hex digits
                              // (colons allowed) or "sha256//" and Base64. When set, that key is
                              // trusted as itself, whatever signed it and whatever name it bears.
    std::string strCertFile;  // the client's certificate chain (PEM), for daemons that ask for one
    std::string strKeyFile;   // its private key (PEM); empty: in the certificate file
};

// A client's message link to a daemon. Every message received is handed to the
// handler on the link's own receive thread.
//
// Each send() is a request with a fresh non-zero identifier; the daemon's reply
// carries it back and is delivered with status `response`, but only when it
// answers the last request sent: a late reply to an earlier request is dropped.
// Messages the daemon sends on its own are delivered as `unsolicited`. When the
// link breaks (the daemon closes it, a frame is malformed, over 16 MiB or
// stalls), the handler gets `error` with a short text, once. disconnect() never
// causes an `error` delivery.
class CORVEL_API DaemonComm {
public:
    enum Status { error = -1, response = 0, unsolicited = 1 };
    typedef void (*Handler)(Status status, const std::string& strMessage);
    // Any callable; a lambda without captures is ambiguous between the two
    // constructors, so pass it as a Handler or a Callback explicitly.
    typedef std::function<void(Status status, const std::string& strMessage)> Callback;

    explicit DaemonComm(Handler handler);
    explicit DaemonComm(Callback callback);
    // Disconnects.
    virtual ~DaemonComm();
    DaemonComm(const DaemonComm&) = delete;
    DaemonComm& operator=(const DaemonComm&) = delete;

    // Resolves strService (for daemon strDaemon) and fills strHost; the other
    // three out-values are scratch space the caller does not read.
    // strService: "host:port", "[v6addr]:port", "host" or "v6addr" (port 7420), or
    // "unix:/path" (strHost is then the path); "tls:" before any but the last
    // (port 7421 by default) runs the link under TLS, the daemon's certificate
    // checked against the trust of setTls() (or the process default) and the
    // host name or address. A link never falls back to plain TCP. Remembers the addresses for
    // connect(). Throws Corvel::Exception for bad text or an unknown host.
    virtual void locateService(std::string& strScratch1, std::string& strScratch2, std::string& strHost,
                               int& nScratch, const std::string& strService, const std::string& strDaemon);
    // Each throws Corvel::Exception on failure.
    // connect(): connects to the located service within the connect time-out
    // (trying every address; the TLS handshake included) and starts the receive
    // thread; a connected link is disconnected first. Throws when nothing is
    // located, nobody accepts, or a TLS daemon is not trusted (the legend says
    // why: unknown issuer, name mismatch, expired, pin mismatch, ...).
    void connect();
    // Stops and joins the receive thread, waiting for a delivery in progress to
    // return, and closes the socket. Called from the handler itself, it leaves the
    // thread to finish on its own. Harmless when not connected.
    void disconnect();
    // Sends strMessage as one request (at most 16 MiB). Sends from several
    // threads are serialised. Throws when not connected, the link is broken, the
    // message is too long, or the daemon does not take it within the send time-out
    // (the link is then broken).
    void send(const std::string& strMessage);

    // True from a successful connect() until disconnect() or a break.
    bool isConnected() const;
    // The service text given to the last locateService().
    std::string target() const;
    // Time-outs; a change takes effect at the next connect().
    void setTiming(const DaemonCommTiming& timing);
    DaemonCommTiming timing() const;
    // TLS trust for this link alone; takes effect at the next connect().
    void setTls(const DaemonCommTls& tls);
    // The trust links use unless given their own; process-wide.
    static void setDefaultTls(const DaemonCommTls& tls);
    static DaemonCommTls defaultTls();
    // True when strPin has a pin's form (see DaemonCommTls::strPin).
    static bool isPin(const std::string& strPin);
    // True when the link runs under TLS.
    bool isTls() const;
    // True when what the link carries cannot be read or changed on a network: under TLS, over a
    // unix socket, or to this machine's loopback.
    bool isProtected() const;

private:
    struct Impl;
    std::unique_ptr<Impl> _pimpl;
};

} // namespace Corvel

#endif
