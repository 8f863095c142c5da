#include "Corvel/DaemonServer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "Corvel/EventLogger.h"
#include "Corvel/Exception.h"
#include "Corvel/Framing.h"
#include "Corvel/Net.h"
#include "Corvel/Stream.h"

namespace Corvel {

using namespace framing;

namespace {

[[noreturn]] void fail(int nLine, const std::string& strLegend)
{
    throw Exception(__FILE__, nLine, CVLX_SEELEGEND, false, strLegend);
}

EventLogger& logger()
{
    return EventLogger::theLogger();
}

// The server whose handler runs on this thread, so that stop() from a handler
// is caught instead of waiting for itself.
thread_local const DaemonServer* t_pServing = nullptr;

std::atomic<uint64_t> g_uNextConnectionId{0};

// Waits up to nMilliseconds (-1: for ever) for fd to become readable.
bool readableWithin(int fd, long nMilliseconds)
{
    int64_t nDeadline = nMilliseconds < 0 ? 0 : net::nowMs() + nMilliseconds;
    for (;;) {
        long nWait = -1;
        if (nMilliseconds >= 0) {
            int64_t nLeft = nDeadline - net::nowMs();
            nWait = nLeft < 0 ? 0 : long(nLeft);
        }
        pollfd pfd{fd, POLLIN, 0};
        int nRc = poll(&pfd, 1, nWait > 1000000 ? 1000000 : int(nWait));
        if (nRc > 0) return true;
        if (nRc < 0 && errno != EINTR) return false;
        if (nRc == 0 && nMilliseconds >= 0 && net::nowMs() >= nDeadline) return false;
    }
}

// The group a peer is counted in (see ConnectionContext::peerGroup()).
std::string peerGroupOf(const sockaddr_storage& addr, int nUid)
{
    char szHost[INET6_ADDRSTRLEN] = "";
    if (addr.ss_family == AF_UNIX) return "uid " + std::to_string(nUid);
    if (addr.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&addr)->sin_addr, szHost, sizeof szHost);
        return szHost;
    }
    in6_addr a6 = reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a6)) {
        inet_ntop(AF_INET, a6.s6_addr + 12, szHost, sizeof szHost);
        return szHost;
    }
    std::memset(a6.s6_addr + 8, 0, 8);
    inet_ntop(AF_INET6, &a6, szHost, sizeof szHost);
    return std::string(szHost) + "/64";
}

std::string unixPeerText(int fd, int& nUid)
{
    ucred cred{};
    socklen_t nLen = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &nLen) != 0) {
        nUid = -1;
        return "unix:unknown";
    }
    nUid = int(cred.uid);
    return "unix:uid=" + std::to_string(cred.uid) + ",pid=" + std::to_string(cred.pid);
}

} // namespace

// ---- ConnectionContext -----------------------------------------------------

ConnectionContext::ConnectionContext(uint64_t uId, int fd, const std::string& strPeer, int nPeerUid, long nSendMs)
    : _uId(uId), _strPeer(strPeer), _nPeerUid(nPeerUid), _nSendMs(nSendMs), _fd(fd),
      _pstream(std::make_shared<net::Stream>(fd))
{
}

void ConnectionContext::secure(std::unique_ptr<net::Stream> pstream)
{
    std::string strSubject = pstream->peerSubject();
    MutexLock lock(_mxSend);
    _pstream->release();  // the TLS stream owns the socket now
    _pstream = std::move(pstream);
    _strTlsSubject = strSubject;
    _bTls = _pstream->isTls();
}

bool ConnectionContext::isTls() const
{
    return _bTls;
}

ConnectionContext::~ConnectionContext()
{
    closeSocket();
}

bool ConnectionContext::push(const std::string& strMessage)
{
    if (strMessage.size() > nFRM_MaxPayload)
        fail(__LINE__, "Message of " + std::to_string(strMessage.size()) + " bytes for " + _strPeer +
                           " is over the bound of " + std::to_string(nFRM_MaxPayload) + " bytes");
    return sendFrame(kindPush, 0, strMessage);
}

void ConnectionContext::close()
{
    _bCloseRequested = true;
    // Wakes the connection's thread when it waits for the next request; only the
    // reading side, so that a reply being made can still go out.
    MutexLock lock(_mxSend);
    if (_fd >= 0) _pstream->shutdown(SHUT_RD);
}

bool ConnectionContext::isOpen() const
{
    return _bOpen;
}

bool ConnectionContext::sendFrame(unsigned char nKind, uint32_t uRequestId, const std::string& strPayload)
{
    std::string strHeader = encodeHeader(FrameKind(nKind), uRequestId, uint32_t(strPayload.size()));
    iovec aVector[2] = {{const_cast<char*>(strHeader.data()), strHeader.size()},
                        {const_cast<char*>(strPayload.data()), strPayload.size()}};
    std::string strWhy;
    {
        MutexLock lock(_mxSend);
        if (_fd < 0 || !_bOpen) return false;
        if (_bAwaitingTls) return false;  // nothing goes out in clear on a TLS listener
        if (_pstream->writeAll(aVector, 2, _nSendMs, strWhy)) return true;
        // A partial frame leaves the stream unusable.
        _bOpen = false;
        _pstream->shutdown(SHUT_RDWR);
    }
    logger().logWarning("Closed connection from " + _strPeer + ": cannot send: " + strWhy, layerService);
    return false;
}

void ConnectionContext::shutdownSocket()
{
    MutexLock lock(_mxSend);
    if (_fd >= 0) _pstream->shutdown(SHUT_RDWR);
}

void ConnectionContext::closeSocket()
{
    // Shutting down first makes a writer blocked on a full socket give up and
    // release the lock.
    shutdownSocket();
    MutexLock lock(_mxSend);
    _bOpen = false;
    _pstream->close();
    _fd = -1;
}

// ---- DaemonServer ----------------------------------------------------------

struct DaemonServer::Listener {
    int fd = -1;
    bool bTls = false;
    std::string strText;
    std::string strPath;  // unix socket file, removed at the end if still ours
    dev_t nDevice = 0;
    ino_t nInode = 0;

    ~Listener()
    {
        net::closeFd(fd);
        if (strPath.empty()) return;
        struct stat st;
        if (lstat(strPath.c_str(), &st) == 0 && st.st_dev == nDevice && st.st_ino == nInode)
            unlink(strPath.c_str());
    }
};

struct DaemonServer::Connection {
    std::shared_ptr<ConnectionContext> pcontext;
    std::string strPeerKey;           // the address (or unix user id) limits are counted by
    bool bEvicted = false;            // closed to make room; guarded by _mxConnections
    std::shared_ptr<void> ptlsContext;  // the TLS listener's certificate at accept; null for plain
    std::thread thread;
    std::atomic<bool> bDone{false};  // the thread has finished its work and may be joined
};

DaemonServer::DaemonServer(Handler handler, DaemonServerOptions options)
    : _handler(std::move(handler)), _options(options), _limits(options)
{
    int afd[2];
    net::makeWakePipe(afd);
    _fdStopRead = afd[0];
    _fdStopWrite = afd[1];
}

DaemonServer::~DaemonServer()
{
    try {
        stop();
    } catch (...) {
        // Destroyed from its own handler: nothing sane is left to do.
    }
    closeListeners();
    int fd = _fdStopWrite.exchange(-1);
    net::closeFd(fd);
    net::closeFd(_fdStopRead);
}

void DaemonServer::setCloseHandler(CloseHandler closeHandler)
{
    MutexLock lock(_mxLifecycle);
    if (_bRunning) fail(__LINE__, "setCloseHandler() called on a running server");
    _closeHandler = std::move(closeHandler);
}

void DaemonServer::listen(const std::string& strAddress)
{
    MutexLock lock(_mxLifecycle);
    if (_bRunning) fail(__LINE__, "listen() called on a running server");
    net::ServiceName name = net::parseServiceName(strAddress, true);
    std::vector<net::Endpoint> endpointS = net::resolve(name, true);

    if (name.bUnix) {
        struct stat st;
        if (lstat(name.strPath.c_str(), &st) == 0) {
            if (!S_ISSOCK(st.st_mode))
                fail(__LINE__, "Cannot listen on '" + strAddress + "': the path exists and is not a socket");
            // Only a socket nobody answers on is leftover; a live one belongs to a running server.
            int fdProbe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            int nRc = fdProbe < 0 ? -1
                                  : ::connect(fdProbe, reinterpret_cast<const sockaddr*>(&endpointS[0].addr),
                                              endpointS[0].nLength);
            int nErrno = errno;
            net::closeFd(fdProbe);
            if (nRc == 0 || nErrno != ECONNREFUSED)
                fail(__LINE__, "Cannot listen on '" + strAddress + "': the socket is in use");
            unlink(name.strPath.c_str());
        }
    }

    std::vector<std::unique_ptr<Listener>> newS;
    std::string strWhy;
    for (const net::Endpoint& ep : endpointS) {
        int nFamily = reinterpret_cast<const sockaddr*>(&ep.addr)->sa_family;
        auto plistener = std::make_unique<Listener>();
        plistener->bTls = name.bTls;
        plistener->fd = socket(nFamily, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (plistener->fd < 0) {
            strWhy = net::errnoText(errno);
            continue;
        }
        int nOne = 1;
        if (nFamily != AF_UNIX) setsockopt(plistener->fd, SOL_SOCKET, SO_REUSEADDR, &nOne, sizeof nOne);
        // Each address gets its own socket; without this an IPv6 wildcard would
        // also claim the IPv4 port and the IPv4 bind would fail.
        if (nFamily == AF_INET6) setsockopt(plistener->fd, IPPROTO_IPV6, IPV6_V6ONLY, &nOne, sizeof nOne);
        if (bind(plistener->fd, reinterpret_cast<const sockaddr*>(&ep.addr), ep.nLength) != 0) {
            strWhy = ep.strText + ": " + net::errnoText(errno);
            // A name that resolves to several addresses may include one this
            // machine does not have (::1 without IPv6); the others still serve.
            if (errno == EADDRNOTAVAIL || errno == EAFNOSUPPORT) continue;
            fail(__LINE__, "Cannot listen on '" + strAddress + "': " + strWhy);
        }
        if (nFamily == AF_UNIX) {
            plistener->strPath = name.strPath;
            struct stat st;
            if (stat(name.strPath.c_str(), &st) == 0) {
                plistener->nDevice = st.st_dev;
                plistener->nInode = st.st_ino;
            }
            if (_options.nUnixGroup >= 0 && chown(name.strPath.c_str(), uid_t(-1), gid_t(_options.nUnixGroup)) != 0)
                fail(__LINE__, "Cannot set the group of '" + name.strPath + "': " + net::errnoText(errno));
            if (chmod(name.strPath.c_str(), mode_t(_options.nUnixMode)) != 0)
                fail(__LINE__, "Cannot set the mode of '" + name.strPath + "': " + net::errnoText(errno));
        }
        if (::listen(plistener->fd, _options.nBacklog) != 0)
            fail(__LINE__, "Cannot listen on '" + strAddress + "': " + net::errnoText(errno));
        sockaddr_storage addr{};
        socklen_t nLen = sizeof addr;
        getsockname(plistener->fd, reinterpret_cast<sockaddr*>(&addr), &nLen);
        plistener->strText = nFamily == AF_UNIX ? ep.strText : net::addressText(reinterpret_cast<sockaddr*>(&addr), nLen);
        if (name.bTls) plistener->strText = "tls:" + plistener->strText;
        newS.push_back(std::move(plistener));
    }
    if (newS.empty()) fail(__LINE__, "Cannot listen on '" + strAddress + "': " + strWhy);
    for (auto& plistener : newS)
        _listenerS.push_back(std::move(plistener));
}

std::vector<std::string> DaemonServer::addresses() const
{
    std::vector<std::string> textS;
    for (const auto& plistener : _listenerS)
        textS.push_back(plistener->strText);
    return textS;
}

void DaemonServer::start()
{
    MutexLock lock(_mxLifecycle);
    if (_bRunning) fail(__LINE__, "The server is running already");
    if (_listenerS.empty()) fail(__LINE__, "The server listens on no address");
    for (const auto& plistener : _listenerS)
        if (plistener->bTls && !tlsContext())
            fail(__LINE__, "Cannot serve TLS on " + plistener->strText + ": no certificate was given");
    try {
        _acceptor = std::thread([this] { acceptLoop(); });
    } catch (const std::system_error& e) {
        fail(__LINE__, std::string("Cannot start the accept thread: ") + e.what());
    }
    _bRunning = true;
    std::string strList;
    for (const auto& plistener : _listenerS)
        strList += (strList.empty() ? "" : ", ") + plistener->strText;
    logger().logInfo("Listening on " + strList, layerService);
}

void DaemonServer::requestStop()
{
    // Only async-signal-safe calls: this may run in a signal handler.
    int fd = _fdStopWrite.load();
    if (fd < 0) return;
    int nSavedErrno = errno;
    char c = 1;
    ssize_t nIgnored = write(fd, &c, 1);
    (void)nIgnored;
    errno = nSavedErrno;
}

bool DaemonServer::waitForStopRequest(long nMilliseconds)
{
    return readableWithin(_fdStopRead, nMilliseconds);
}

void DaemonServer::stop()
{
    if (t_pServing == this) fail(__LINE__, "stop() called from a connection handler; use requestStop()");
    MutexLock lock(_mxLifecycle);
    if (!_bRunning) return;
    requestStop();
    if (_acceptor.joinable()) _acceptor.join();
    std::vector<std::shared_ptr<Connection>> connectionS;
    {
        MutexLock lockConnections(_mxConnections);
        connectionS.swap(_connectionS);
    }
    // Each connection thread sees the stop request once its handler (if any)
    // has returned and the reply is out, then closes its connection.
    for (auto& pconnection : connectionS)
        if (pconnection->thread.joinable()) pconnection->thread.join();
    closeListeners();
    // Forget the request, so that the server can be started again.
    char ab[64];
    while (read(_fdStopRead, ab, sizeof ab) > 0) {
    }
    _bRunning = false;
    logger().logInfo("Stopped", layerService);
}

void DaemonServer::run()
{
    start();
    waitForStopRequest(-1);
    stop();
}

bool DaemonServer::isRunning() const
{
    return _bRunning;
}

std::vector<std::shared_ptr<ConnectionContext>> DaemonServer::connections() const
{
    std::vector<std::shared_ptr<ConnectionContext>> contextS;
    MutexLock lock(_mxConnections);
    for (const auto& pconnection : _connectionS)
        if (!pconnection->bDone && pconnection->pcontext->isOpen()) contextS.push_back(pconnection->pcontext);
    return contextS;
}

void DaemonServer::closeListeners()
{
    _listenerS.clear();
}

void DaemonServer::reapLocked()
{
    for (size_t i = 0; i < _connectionS.size();) {
        if (_connectionS[i]->bDone) {
            if (_connectionS[i]->thread.joinable()) _connectionS[i]->thread.join();
            _connectionS.erase(_connectionS.begin() + long(i));
        } else {
            ++i;
        }
    }
}

void DaemonServer::acceptLoop()
{
    std::vector<pollfd> pfdS;
    for (const auto& plistener : _listenerS)
        pfdS.push_back(pollfd{plistener->fd, POLLIN, 0});
    pfdS.push_back(pollfd{_fdStopRead, POLLIN, 0});
    for (;;) {
        // The time-out only serves to join finished connection threads now and then.
        int nRc = poll(pfdS.data(), pfdS.size(), 1000);
        if (nRc < 0 && errno != EINTR) {
            logger().logError("Accept loop failed: " + net::errnoText(errno), layerService);
            return;
        }
        if (pfdS.back().revents) return;
        for (size_t i = 0; i + 1 < pfdS.size(); ++i)
            if (pfdS[i].revents) accept(*_listenerS[i]);
        MutexLock lock(_mxConnections);
        reapLocked();
    }
}

void DaemonServer::accept(const Listener& listener)
{
    sockaddr_storage addr{};
    socklen_t nLen = sizeof addr;
    int fd = accept4(listener.fd, reinterpret_cast<sockaddr*>(&addr), &nLen, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        int nErrno = errno;
        if (nErrno == EAGAIN || nErrno == EWOULDBLOCK || nErrno == EINTR || nErrno == ECONNABORTED) return;
        logger().logError("Cannot accept on " + listener.strText + ": " + net::errnoText(nErrno), layerService);
        // Out of descriptors or memory: pause rather than spin on a listener that stays readable.
        readableWithin(_fdStopRead, 100);
        return;
    }
    if (addr.ss_family != AF_UNIX) {
        // Replies go out in one write; waiting to coalesce them only adds latency.
        int nOne = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
    }
    int nUid = -1;
    std::string strPeer = addr.ss_family == AF_UNIX ? unixPeerText(fd, nUid)
                                                    : net::addressText(reinterpret_cast<sockaddr*>(&addr), nLen);
    const std::string strPeerKey = peerGroupOf(addr, nUid);
    std::vector<std::shared_ptr<ConnectionContext>> victimS;
    // Shut down once the list's lock is released: a victim may be busy sending.
    struct ShutDownAfter {
        std::vector<std::shared_ptr<ConnectionContext>>& victimS;
        ~ShutDownAfter()
        {
            for (auto& pvictim : victimS)
                pvictim->shutdownSocket();
        }
    } shutDownAfter{victimS};
    MutexLock lock(_mxConnections);
    reapLocked();
    if (!makeRoomLocked(strPeerKey, strPeer, victimS)) {
        ::close(fd);
        logger().logWarning("Refused connection from " + strPeer + " on " + listener.strText + ": limit of " +
                                std::to_string(_limits.nMaxConnections.load()) + " connections, or of " +
                                std::to_string(_limits.nMaxPerPeer.load()) + " from one peer, reached by logged-in ones",
                            layerService);
        return;
    }
    auto pconnection = std::make_shared<Connection>();
    pconnection->strPeerKey = strPeerKey;
    pconnection->pcontext.reset(new ConnectionContext(++g_uNextConnectionId, fd, strPeer, nUid, _limits.nSendMs.load()));
    pconnection->pcontext->_nLastRequestMs = net::nowMs();
    pconnection->pcontext->_strPeerGroup = strPeerKey;
    if (listener.bTls) {
        pconnection->ptlsContext = tlsContext();
        // Nobody else sees the context yet, so the lock is never waited for; it keeps the one rule
        // for _bAwaitingTls.
        MutexLock lockSend(pconnection->pcontext->_mxSend);
        pconnection->pcontext->_bAwaitingTls = true;
    }
    try {
        pconnection->thread = std::thread([this, pconnection] { serve(pconnection); });
    } catch (const std::system_error& e) {
        logger().logError("Refused connection from " + strPeer + ": cannot start its thread: " + e.what(),
                          layerService);
        return;  // the context closes the socket
    }
    _connectionS.push_back(pconnection);
    logger().logDebug("Accepted connection from " + strPeer + " on " + listener.strText, layerService);
}

bool DaemonServer::makeRoomLocked(const std::string& strPeerKey, const std::string& strPeer,
                                  std::vector<std::shared_ptr<ConnectionContext>>& victimS)
{
    // Slots held by connections that never log in must not shut everyone else out: when the
    // limits are reached, one of them gives way: of the peer that holds the most such
    // connections, the one that has waited longest for a request. One whose request is being
    // answered (a login in progress) never does.
    // The list is handed in, not captured: a lambda's body is checked apart from its caller, so only
    // at each call can the analysis see the list read under the lock.
    auto evictOne = [&](const std::vector<std::shared_ptr<Connection>>& connectionS, bool bSamePeer) {
        auto evictable = [&](const std::shared_ptr<Connection>& pconnection) {
            const ConnectionContext& context = *pconnection->pcontext;
            return !pconnection->bDone && !pconnection->bEvicted && !context._bLoggedIn && !context._bInRequest &&
                   (!bSamePeer || pconnection->strPeerKey == strPeerKey);
        };
        std::map<std::string, size_t> countS;
        std::string strTarget;
        for (const auto& pconnection : connectionS) {
            if (!evictable(pconnection)) continue;
            size_t n = ++countS[pconnection->strPeerKey];
            if (strTarget.empty() || n > countS[strTarget]) strTarget = pconnection->strPeerKey;
        }
        std::shared_ptr<Connection> pvictim;
        for (const auto& pconnection : connectionS) {
            if (!evictable(pconnection) || pconnection->strPeerKey != strTarget) continue;
            if (!pvictim || pconnection->pcontext->_nLastRequestMs < pvictim->pcontext->_nLastRequestMs)
                pvictim = pconnection;
        }
        if (!pvictim) return false;
        pvictim->bEvicted = true;
        victimS.push_back(pvictim->pcontext);
        logger().logInfo("Closed connection from " + pvictim->pcontext->peer() + " without a login to make room for " +
                             strPeer,
                         layerService);
        return true;
    };
    size_t nLive = 0, nFromPeer = 0;
    for (const auto& pconnection : _connectionS) {
        if (pconnection->bDone || pconnection->bEvicted) continue;
        ++nLive;
        if (pconnection->strPeerKey == strPeerKey) ++nFromPeer;
    }
    if (nFromPeer >= _limits.nMaxPerPeer.load()) {
        if (!evictOne(_connectionS, true)) return false;
        --nLive;
    }
    return nLive < _limits.nMaxConnections.load() || evictOne(_connectionS, false);
}

void DaemonServer::serve(const std::shared_ptr<Connection>& pconnection)
{
    t_pServing = this;
    ConnectionContext& context = *pconnection->pcontext;
    try {
        if (!pconnection->ptlsContext || handshake(context, pconnection->ptlsContext.get())) serveFrames(context);
    } catch (const std::exception& e) {
        logger().logError("Closed connection from " + context.peer() + ": " + e.what(), layerService);
    }
    context.closeSocket();
    if (_closeHandler) {
        try {
            _closeHandler(context);
        } catch (...) {
            logger().logError("Close handler threw for the connection from " + context.peer(), layerService);
        }
    }
    t_pServing = nullptr;
    net::tls::threadDone();
    pconnection->bDone = true;
}

std::shared_ptr<void> DaemonServer::tlsContext() const
{
    MutexLock lock(_mxTls);
    return _ptlsContext;
}

void DaemonServer::Limits::set(const DaemonServerOptions& options)
{
    nMaxConnections = options.nMaxConnections;
    nMaxPerPeer = options.nMaxPerPeer;
    nIdleMs = options.nIdleMs;
    nAnonymousIdleMs = options.nAnonymousIdleMs;
    nFrameMs = options.nFrameMs;
    nSendMs = options.nSendMs;
    nMaxRequest = options.nMaxRequest;
    nHandshakeMs = options.nHandshakeMs;
}

void DaemonServer::setLimits(const DaemonServerOptions& options)
{
    _limits.set(options);
}

void DaemonServer::setTls(const DaemonServerTls& tls)
{
    std::shared_ptr<void> pctx = net::tls::makeServerContext(tls);
    MutexLock lock(_mxTls);
    _ptlsContext = std::move(pctx);
}

bool DaemonServer::handshake(ConnectionContext& context, void* ptlsContext)
{
    // The handshake is bounded like a frame: a peer that stalls in it, or sends
    // something else, holds its slot no longer than that.
    const long nHandshakeMs = _limits.nHandshakeMs.load(), nIdleMs = _limits.nIdleMs.load();
    long nLimitMs = nHandshakeMs > 0 ? nHandshakeMs : 10000;
    if (nIdleMs > 0 && nIdleMs < nLimitMs) nLimitMs = nIdleMs;
    std::string strWhy;
    std::unique_ptr<net::Stream> pstream = net::tls::accept(
        context.ownFd(), static_cast<SSL_CTX*>(ptlsContext), net::nowMs() + nLimitMs, _fdStopRead, strWhy);
    if (!pstream) {
        if (strWhy != "stopping")
            logger().logWarning("Closed connection from " + context.peer() + ": " + strWhy, layerService);
        return false;
    }
    context.secure(std::move(pstream));
    {
        MutexLock lock(context._mxSend);
        context._bAwaitingTls = false;
    }
    logger().logDebug("TLS with " + context.peer() +
                          (context.tlsSubject().empty() ? std::string() : " (certificate " + context.tlsSubject() + ")"),
                      layerService);
    return true;
}

struct DaemonServer::FrameLoop {
    explicit FrameLoop(uint32_t nMaxRequest) : reader(nMaxRequest), buffer(65536) {}
    FrameReader reader;
    std::vector<char> buffer;
    int64_t nLastActivityMs = net::nowMs();
    int64_t nFrameStartMs = 0;
};

void DaemonServer::serveFrames(ConnectionContext& context)
{
    FrameLoop loop(_limits.nMaxRequest.load());
    while (waitForInput(context, loop) && readFrames(context, loop)) {
    }
}

bool DaemonServer::waitForInput(ConnectionContext& context, FrameLoop& loop)
{
    const std::string& strPeer = context.peer();
    const int fd = context.ownFd();  // closed only by this thread, after serveFrames returns
    // When the connection counts as idle: any traffic keeps one with a login alive, only requests
    // one without (its pings do not).
    auto idleDeadline = [&]() {
        int64_t nDeadline = INT64_MAX;
        const long nIdleMs = _limits.nIdleMs.load(std::memory_order_relaxed);
        const long nAnonymousIdleMs = _limits.nAnonymousIdleMs.load(std::memory_order_relaxed);
        if (nIdleMs > 0) nDeadline = loop.nLastActivityMs + nIdleMs;
        if (!context._bLoggedIn && nAnonymousIdleMs > 0)
            nDeadline = std::min<int64_t>(nDeadline, context._nLastRequestMs + nAnonymousIdleMs);
        return nDeadline;
    };
    for (;;) {
        if (context._bCloseRequested || !context._bOpen) return false;
        const long nFrameMs = _limits.nFrameMs.load(std::memory_order_relaxed);
        int64_t nNow = net::nowMs();
        int64_t nWait = 1000000;
        if (idleDeadline() != INT64_MAX) nWait = idleDeadline() - nNow;
        if (loop.reader.inFrame() && nFrameMs > 0 && loop.nFrameStartMs + nFrameMs - nNow < nWait)
            nWait = loop.nFrameStartMs + nFrameMs - nNow;
        if (nWait < 0) nWait = 0;
        if (nWait > 1000000) nWait = 1000000;
        net::Stream& stream = context.ownStream();  // replaced only before the loop
        pollfd apfd[2] = {{fd, stream.pollEvents(), 0}, {_fdStopRead, POLLIN, 0}};
        // Bytes TLS has already taken off the socket are not seen by poll.
        int nRc = stream.hasBuffered() ? 1 : poll(apfd, 2, int(nWait));
        if (nRc < 0) {
            if (errno == EINTR) continue;
            logger().logError("Closed connection from " + strPeer + ": " + net::errnoText(errno), layerService);
            return false;
        }
        if (apfd[1].revents) return false;  // stop requested; no request of ours is in progress
        if (nRc > 0) return true;
        nNow = net::nowMs();
        if (loop.reader.inFrame() && nFrameMs > 0 && nNow - loop.nFrameStartMs >= nFrameMs) {
            logger().logWarning("Closed connection from " + strPeer + ": frame stalled after " +
                                    std::to_string(nNow - loop.nFrameStartMs) + " ms",
                                layerService);
            return false;
        }
        if (nNow >= idleDeadline()) {
            logger().logInfo("Closed idle connection from " + strPeer +
                                 (context._bLoggedIn ? std::string() : std::string(" (no login)")) + " after " +
                                 std::to_string(nNow - std::max<int64_t>(loop.nLastActivityMs, context._nLastRequestMs)) +
                                 " ms",
                             layerService);
            return false;
        }
    }
}

bool DaemonServer::readFrames(ConnectionContext& context, FrameLoop& loop)
{
    const std::string& strPeer = context.peer();
    std::string strWhy;
    long n = context.ownStream().read(loop.buffer.data(), loop.buffer.size(), strWhy);
    if (n == 0) {
        logger().logDebug("Connection from " + strPeer + " closed by the peer", layerService);
        return false;
    }
    if (n == net::Stream::readWouldBlock) return true;
    if (n < 0) {
        if (!context._bCloseRequested) logger().logInfo("Closed connection from " + strPeer + ": " + strWhy, layerService);
        return false;
    }
    loop.nLastActivityMs = net::nowMs();
    size_t nUsed = 0;
    while (nUsed < size_t(n)) {
        bool bWasInFrame = loop.reader.inFrame();
        nUsed += loop.reader.feed(loop.buffer.data() + nUsed, size_t(n) - nUsed);
        if (!bWasInFrame) loop.nFrameStartMs = net::nowMs();
        if (loop.reader.state() == FrameReader::oversized) {
            logger().logWarning("Closed connection from " + strPeer + ": " + loop.reader.error(), layerService);
            return false;
        }
        if (loop.reader.state() == FrameReader::malformed) {
            logger().logWarning("Closed connection from " + strPeer + ": bad frame: " + loop.reader.error(),
                                layerService);
            return false;
        }
        if (loop.reader.state() != FrameReader::complete) continue;
        Frame frame = loop.reader.take();
        if (!dispatchFrame(context, frame, loop)) return false;
    }
    return true;
}

bool DaemonServer::dispatchFrame(ConnectionContext& context, framing::Frame& frame, FrameLoop& loop)
{
    const std::string& strPeer = context.peer();
    if (frame.kind == kindPing) return true;
    if (frame.kind != kindRequest) {
        logger().logWarning("Closed connection from " + strPeer + ": unexpected " + kindName(frame.kind) + " frame",
                            layerService);
        return false;
    }
    std::string strReply;
    context._bInRequest = true;
    struct InRequest {
        std::atomic<bool>& bFlag;
        ~InRequest() { bFlag = false; }
    } inRequest{context._bInRequest};
    try {
        strReply = _handler(context, frame.strPayload);
    } catch (const std::exception& e) {
        logger().logError("Closed connection from " + strPeer + ": the request handler failed: " + e.what(),
                          layerService);
        return false;
    } catch (...) {
        logger().logError("Closed connection from " + strPeer + ": the request handler failed", layerService);
        return false;
    }
    if (strReply.size() > nFRM_MaxPayload) {
        logger().logError("Closed connection from " + strPeer + ": reply of " + std::to_string(strReply.size()) +
                              " bytes is over the bound",
                          layerService);
        return false;
    }
    if (!strReply.empty() && !context.sendFrame(kindReply, frame.uId, strReply)) return false;
    loop.nLastActivityMs = net::nowMs();
    context._nLastRequestMs = loop.nLastActivityMs;
    // Requests already queued behind this one are left unanswered at a stop.
    return !(readableWithin(_fdStopRead, 0) || context._bCloseRequested);
}

} // namespace Corvel
