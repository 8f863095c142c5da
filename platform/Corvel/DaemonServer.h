#ifndef CORVEL_DAEMONSERVER_H
#define CORVEL_DAEMONSERVER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Corvel/Export.h"
#include "Corvel/Mutex.h"

namespace Corvel {

namespace framing {
struct Frame;
}

class DaemonServer;
namespace net {
class Stream;
}

// The certificate and policy of "tls:" listeners.
struct CORVEL_API DaemonServerTls {
    std::string strCertFile;      // PEM: the certificate, then its chain
    std::string strKeyFile;       // PEM private key; empty: in the certificate file
    std::string strClientCAFile;  // when set, clients must show a certificate this CA signed
    std::string strCiphers;       // OpenSSL cipher list for TLS 1.2; empty: OpenSSL's default
    std::string strMinVersion = "1.2";  // "1.2" or "1.3"; older versions are never offered
};

// Limits and time-outs of a DaemonServer; times in milliseconds, 0 = none.
struct CORVEL_API DaemonServerOptions {
    size_t nMaxConnections = 256;  // beyond this a new connection takes the place of the one without a
                                   // login that has waited longest for its next request, or is closed
    size_t nMaxPerPeer = 64;       // the same from one address (one user id on a unix socket)
    long nIdleMs = 300000;         // a connection that sends nothing for this long is closed
    long nAnonymousIdleMs = 60000; // one without a login, that sends no request for this long (pings
                                   // do not count); see ConnectionContext::setLoggedIn()
    long nFrameMs = 30000;         // a frame begun must be complete within this
    long nSendMs = 30000;          // a client that takes no bytes for this long is closed
    uint32_t nMaxRequest = 16u * 1024u * 1024u;  // longest request accepted, in bytes (at most 16 MiB);
                                                  // bounds the memory a client can claim
    long nHandshakeMs = 10000;     // a TLS handshake must be done within this (and the idle time);
                                   // 0: 10 s, for a stalled handshake must not hold a slot for ever
    int nUnixMode = 0666;          // mode of unix socket files (who may connect)
    int nUnixGroup = -1;           // group of unix socket files; -1: the process's
    int nBacklog = 128;
};

// One client connection as the application sees it. The server owns it; the
// application may keep a shared_ptr (e.g. to push to it later), and a context
// outlives its connection harmlessly: push() then returns false.
class CORVEL_API ConnectionContext {
public:
    ConnectionContext(const ConnectionContext&) = delete;
    ConnectionContext& operator=(const ConnectionContext&) = delete;
    ~ConnectionContext();

    // "1.2.3.4:5678", "[::1]:5678", or "unix:uid=1000,pid=4242" for a unix peer.
    const std::string& peer() const { return _strPeer; }
    // The peer's user id on a unix socket, -1 over TCP.
    int peerUid() const { return _nPeerUid; }
    // A serial number, unique within the process.
    uint64_t id() const { return _uId; }
    // What limits and turns count the peer by: an IPv4 address, the /64 of an IPv6 one (a host
    // has a whole /64 to pick from), or "uid N" on a unix socket.
    const std::string& peerGroup() const { return _strPeerGroup; }
    // How the peer came: under TLS, over a unix socket, or else plain TCP.
    bool isTls() const;
    bool isUnix() const { return _strPeer.compare(0, 5, "unix:") == 0; }
    // The subject of the certificate a TLS peer showed ("" when none).
    const std::string& tlsSubject() const { return _strTlsSubject; }
    // What the application says of the connection: one with a login keeps the full idle time and
    // is never made to give way to a new connection.
    void setLoggedIn(bool bLoggedIn) { _bLoggedIn = bLoggedIn; }
    bool loggedIn() const { return _bLoggedIn; }

    // The application's per-connection state: set and read by the handler, which
    // for one connection always runs on one thread at a time. Freed with the context.
    void setState(std::shared_ptr<void> pstate) { _pstate = std::move(pstate); }
    const std::shared_ptr<void>& state() const { return _pstate; }
    template <class T> T* stateAs() const { return static_cast<T*>(_pstate.get()); }

    // Sends strMessage to this client on the server's own initiative (delivered
    // there as unsolicited). Safe from any thread. False when the connection is
    // closed or the client does not take the bytes in time (the connection is
    // then closed); throws Corvel::Exception for a message over 16 MiB.
    bool push(const std::string& strMessage);
    // Closes the connection after the current request (its reply still goes out).
    void close();
    bool isOpen() const;

private:
    friend class DaemonServer;
    ConnectionContext(uint64_t uId, int fd, const std::string& strPeer, int nPeerUid, long nSendMs);
    // Puts the TLS stream in place of the plain one once the handshake is done.
    void secure(std::unique_ptr<net::Stream> pstream);
    // Writes one frame; false (and the connection shut down) on failure.
    bool sendFrame(unsigned char nKind, uint32_t uRequestId, const std::string& strPayload);
    // Shuts the socket down so that blocked readers and writers return.
    void shutdownSocket();
    void closeSocket();
    // The socket and its stream as the connection's own thread reads them. That thread is the
    // only one that replaces them (secure(), closeSocket()), so its reads need not wait for the
    // lock that other threads read them under; the analysis cannot know which thread calls.
    int ownFd() const CORVEL_NO_THREAD_SAFETY_ANALYSIS { return _fd; }
    net::Stream& ownStream() const CORVEL_NO_THREAD_SAFETY_ANALYSIS { return *_pstream; }

    const uint64_t _uId;
    const std::string _strPeer;
    const int _nPeerUid;
    const long _nSendMs;
    std::shared_ptr<void> _pstate;       // touched by the connection's thread only
    std::atomic<bool> _bCloseRequested{false};
    std::atomic<bool> _bOpen{true};
    mutable Mutex _mxSend;               // serialises writes; the stream is not closed mid-write
    int _fd CORVEL_GUARDED_BY(_mxSend);  // the socket, as long as it is open
    std::shared_ptr<net::Stream> _pstream CORVEL_GUARDED_BY(_mxSend);  // reads and writes of it, plain or TLS
    std::string _strTlsSubject;          // set by the connection's thread before it serves requests
    std::string _strPeerGroup;           // set before the connection is served
    std::atomic<bool> _bInRequest{false};  // a request is being answered
    bool _bAwaitingTls CORVEL_GUARDED_BY(_mxSend) = false;  // a TLS peer before its handshake
    std::atomic<bool> _bTls{false};      // the handshake is done: everything goes under TLS
    std::atomic<bool> _bLoggedIn{false};
    std::atomic<int64_t> _nLastRequestMs{0};  // when the last request was answered (or the connection came)
};

// Listens on one or more addresses and answers request frames with the
// application's handler.
//
// Threads: one accept thread, and one thread per connection that reads the
// connection's frames and runs the handler for each request in turn; the number
// of connections (and so of threads) is capped by nMaxConnections. The handler
// runs outside every server-wide lock, so requests of different connections run
// concurrently and a slow or stalled client holds up only its own thread. The
// application serialises whatever its handler shares.
//
// Robustness: a frame over 16 MiB, a malformed frame (bad magic, version, kind
// or identifier), a frame that stalls half way, an idle connection, and a handler
// that throws each close that one connection, with a line in the event log
// naming the peer. Nothing a client sends stops the server.
class CORVEL_API DaemonServer {
public:
    // Returns the reply to strRequest; an empty text sends no reply.
    typedef std::function<std::string(ConnectionContext& context, const std::string& strRequest)> Handler;
    // Told once when a connection ends (after its last request); optional.
    typedef std::function<void(ConnectionContext& context)> CloseHandler;

    explicit DaemonServer(Handler handler, DaemonServerOptions options = DaemonServerOptions());
    // Stops.
    ~DaemonServer();
    DaemonServer(const DaemonServer&) = delete;
    DaemonServer& operator=(const DaemonServer&) = delete;

    void setCloseHandler(CloseHandler closeHandler);

    // Binds and listens on strAddress: "host:port", "[v6addr]:port", "*:port"
    // (every local address), "host" (port 7420) or "unix:/path"; "tls:" before
    // any but the last serves TLS there (see setTls()). Port 0 lets the
    // system choose (see addresses()). A leftover unix socket file nobody listens
    // on is replaced; a live one or any other file is left alone and refused.
    // Only before start(); throws Corvel::Exception.
    void listen(const std::string& strAddress);
    // The addresses listened on, in the forms above, with the actual ports.
    std::vector<std::string> addresses() const;
    // Loads the certificate, key and policy of the TLS listeners; throws
    // Corvel::Exception naming the file and the reason, leaving the previous
    // ones in use. Callable while running: connections accepted afterwards use
    // the new ones, those already open keep theirs. start() refuses TLS
    // listeners without it.
    void setTls(const DaemonServerTls& tls);
    // Takes the limits and time-outs of options while running, from any thread: the connection
    // limits count from the next connection on, the time-outs from every connection's next wait,
    // the longest request for the connections accepted afterwards. The unix socket settings and
    // the backlog served their turn at listen() and stay as they were.
    void setLimits(const DaemonServerOptions& options);

    // Starts accepting on another thread and returns. Throws when nothing is
    // listened on or the server runs already.
    void start();
    // Asks the server to stop; returns at once. Async-signal-safe: it only
    // writes to a pipe, so a signal handler may call it.
    void requestStop();
    // Waits up to nMilliseconds (-1: for ever) for a stop request; true when one came.
    bool waitForStopRequest(long nMilliseconds);
    // Stops accepting, lets handlers in progress finish and send their replies,
    // closes every connection and joins every thread; unix socket files are
    // removed. Callable from any thread but a handler's (use requestStop()
    // there); throws Corvel::Exception when called from a handler.
    void stop();
    // start(), then waitForStopRequest(-1), then stop().
    void run();
    bool isRunning() const;

    // The connections open now.
    std::vector<std::shared_ptr<ConnectionContext>> connections() const;

private:
    struct Listener;
    struct Connection;

    void acceptLoop();
    void accept(const Listener& listener);
    void serve(const std::shared_ptr<Connection>& pconnection);
    // The TLS handshake of a connection; false (logged) when it failed.
    bool handshake(ConnectionContext& context, void* ptlsContext);
    // A connection's requests, until it closes: wait for input, read it into frames, answer each.
    struct FrameLoop;
    void serveFrames(ConnectionContext& context);
    // Waits until there is something to read; false when the connection is to close (a stop, an
    // idle or stalled connection, a socket error: logged).
    bool waitForInput(ConnectionContext& context, FrameLoop& loop);
    // Reads what is there and answers every frame it completes; false when the connection is to
    // close (the peer closed it, a bad frame, a stop).
    bool readFrames(ConnectionContext& context, FrameLoop& loop);
    // Answers one complete frame; false when the connection is to close.
    bool dispatchFrame(ConnectionContext& context, framing::Frame& frame, FrameLoop& loop);
    std::shared_ptr<void> tlsContext() const;
    // Joins connection threads that have ended.
    void reapLocked() CORVEL_REQUIRES(_mxConnections);
    // Makes room for a connection from strPeerKey within the limits, closing the connection
    // without a login that has waited longest for a request; false when there is none to close.
    // The connections to close are returned in victimS, to be shut down once the lock is released.
    bool makeRoomLocked(const std::string& strPeerKey, const std::string& strPeer,
                        std::vector<std::shared_ptr<ConnectionContext>>& victimS) CORVEL_REQUIRES(_mxConnections);
    void closeListeners();

    // What setLimits() may change, read without a lock: each value on its own, so a connection may
    // see one old and one new value for a moment, which no limit depends on.
    struct Limits {
        explicit Limits(const DaemonServerOptions& options) { set(options); }
        void set(const DaemonServerOptions& options);
        std::atomic<size_t> nMaxConnections{0};
        std::atomic<size_t> nMaxPerPeer{0};
        std::atomic<long> nIdleMs{0};
        std::atomic<long> nAnonymousIdleMs{0};
        std::atomic<long> nFrameMs{0};
        std::atomic<long> nSendMs{0};
        std::atomic<uint32_t> nMaxRequest{0};
        std::atomic<long> nHandshakeMs{0};
    };

    Handler _handler;
    CloseHandler _closeHandler;
    const DaemonServerOptions _options;  // its limits and time-outs as at construction: see _limits
    Limits _limits;

    std::vector<std::unique_ptr<Listener>> _listenerS;  // changed only while not running
    std::atomic<int> _fdStopWrite{-1};  // write end of the stop pipe; read by requestStop()
    int _fdStopRead = -1;
    Mutex _mxLifecycle;  // serialises start() and stop()
    std::thread _acceptor CORVEL_GUARDED_BY(_mxLifecycle);
    std::atomic<bool> _bRunning{false};
    mutable Mutex _mxTls;
    std::shared_ptr<void> _ptlsContext CORVEL_GUARDED_BY(_mxTls);  // the current SSL_CTX of the TLS listeners

    mutable Mutex _mxConnections;
    std::vector<std::shared_ptr<Connection>> _connectionS CORVEL_GUARDED_BY(_mxConnections);
};

} // namespace Corvel

#endif
