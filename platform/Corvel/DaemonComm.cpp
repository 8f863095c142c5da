#include "Corvel/DaemonComm.h"

#include <atomic>
#include <cstdlib>
#include <cerrno>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Corvel/EventLogger.h"
#include "Corvel/Exception.h"
#include "Corvel/Framing.h"
#include "Corvel/Mutex.h"
#include "Corvel/Net.h"
#include "Corvel/Stream.h"

namespace Corvel {

using namespace framing;

namespace {

[[noreturn]] void fail(int nLine, const std::string& strLegend)
{
    throw Exception(__FILE__, nLine, CVLX_SEELEGEND, false, strLegend);
}

// One connection and everything its receive thread touches. The thread holds
// its own reference, so a handler that disconnects (or destroys) the DaemonComm
// from the receive thread leaves the link alive until the thread is done.
struct Link {
    std::unique_ptr<net::Stream> pstream;  // set before the receive thread starts, closed by ~Link
    bool bProtected = false;               // TLS, unix socket or loopback; set before the thread starts
    int fd = -1;                           // pstream's socket, for poll
    int afdWake[2] = {-1, -1};  // written by disconnect() to stop the receive thread
    DaemonComm::Callback callback;
    std::string strTarget;
    DaemonCommTiming timing;

    std::atomic<bool> bStopping{false};   // disconnect() has begun: deliver nothing more
    std::atomic<bool> bBroken{false};     // the connection failed; strBrokenReason says why
    std::atomic<uint32_t> uAwaitedId{0};  // identifier of the last request sent, until answered

    Mutex mxSend;  // serialises writes to fd
    // When the last frame went out; atomic so that the receive thread never
    // waits for a sender to learn it.
    std::atomic<int64_t> nLastSendMs{0};

    Mutex mxReason;
    std::string strBrokenReason CORVEL_GUARDED_BY(mxReason);

    ~Link()
    {
        if (pstream) pstream->close();
        net::closeFd(afdWake[0]);
        net::closeFd(afdWake[1]);
    }

    // Marks the link broken, keeping the first reason. Only the receive thread
    // tells the handler (when it ends), so the handler hears of a break once.
    void breakWith(const std::string& strReason)
    {
        {
            MutexLock lock(mxReason);
            if (bBroken) return;
            strBrokenReason = strReason;
            bBroken = true;
        }
        // Wakes a sender blocked on a daemon that does not read, wakes the
        // receive thread, and tells the daemon we are gone.
        pstream->shutdown(SHUT_RDWR);
    }

    std::string brokenReason()
    {
        MutexLock lock(mxReason);
        return strBrokenReason;
    }

    // Writes one frame; on failure the link is broken (a partial frame leaves the
    // stream unusable) and the reason returned.
    bool writeFrame(FrameKind kind, uint32_t uId, const std::string& strPayload, std::string& strWhy)
        CORVEL_REQUIRES(mxSend)
    {
        std::string strHeader = encodeHeader(kind, uId, uint32_t(strPayload.size()));
        iovec aVector[2] = {{const_cast<char*>(strHeader.data()), strHeader.size()},
                            {const_cast<char*>(strPayload.data()), strPayload.size()}};
        nLastSendMs = net::nowMs();
        if (pstream->writeAll(aVector, 2, timing.nSendMs, strWhy)) return true;
        breakWith("Cannot send to '" + strTarget + "': " + strWhy);
        return false;
    }

    void deliver(DaemonComm::Status status, const std::string& strMessage)
    {
        if (bStopping || !callback) return;
        try {
            callback(status, strMessage);
        } catch (const std::exception& e) {
            // The handler runs on our thread; letting this escape would end the process.
            EventLogger::theLogger().logError(
                "Message handler for '" + strTarget + "' threw: " + std::string(e.what()), layerService);
        } catch (...) {
            EventLogger::theLogger().logError("Message handler for '" + strTarget + "' threw", layerService);
        }
    }

    void dispatch(Frame& frame)
    {
        switch (frame.kind) {
        case kindReply: {
            uint32_t uExpected = frame.uId;
            // Only the answer to the request still awaited gets through; a reply
            // that comes after its request was given up would otherwise be taken
            // as the answer to the next one.
            if (uAwaitedId.compare_exchange_strong(uExpected, 0))
                deliver(DaemonComm::response, frame.strPayload);
            else
                EventLogger::theLogger().logDebug("Dropped a late reply to request " + std::to_string(frame.uId) +
                                                      " from '" + strTarget + "'",
                                                  layerService);
            return;
        }
        case kindPush: deliver(DaemonComm::unsolicited, frame.strPayload); return;
        default:
            breakWith("Unexpected " + std::string(kindName(frame.kind)) + " frame from '" + strTarget + "'");
            return;
        }
    }

    // Sends a ping when nothing has gone out for the keep-alive interval. Skipped
    // when a send is under way: that send keeps the connection alive anyway, and
    // waiting for it here would stop us reading.
    void keepAlive()
    {
        if (!mxSend.tryLock()) return;
        MutexLock lock(mxSend, AdoptLock());
        if (net::nowMs() - nLastSendMs < timing.nKeepAliveMs) return;
        std::string strWhy;
        writeFrame(kindPing, 0, std::string(), strWhy);
    }

    long pollTimeout(const FrameReader& reader, int64_t nFrameStartMs)
    {
        int64_t nNow = net::nowMs();
        int64_t nWait = 3600 * 1000;
        if (reader.inFrame()) nWait = nFrameStartMs + timing.nFrameMs - nNow;
        if (timing.nKeepAliveMs > 0) {
            int64_t nPing = nLastSendMs + timing.nKeepAliveMs - nNow;
            if (nPing < nWait) nWait = nPing;
        }
        return nWait < 0 ? 0 : long(nWait);
    }

    void receive()
    {
        readFrames();
        if (!bStopping) {
            breakWith("Connection to '" + strTarget + "' ended");
            deliver(DaemonComm::error, brokenReason());
        }
        net::tls::threadDone();
    }

    void readFrames()
    {
        FrameReader reader;
        int64_t nFrameStartMs = 0;
        std::vector<char> buffer(65536);
        while (!bStopping && !bBroken) {
            pollfd apfd[2] = {{fd, pstream->pollEvents(), 0}, {afdWake[0], POLLIN, 0}};
            long nTimeout = pollTimeout(reader, nFrameStartMs);
            // Bytes TLS has already taken off the socket are not seen by poll.
            int nRc = pstream->hasBuffered() ? 1 : poll(apfd, 2, nTimeout > 1000000 ? 1000000 : int(nTimeout));
            if (nRc < 0) {
                if (errno == EINTR) continue;
                breakWith("Lost '" + strTarget + "': " + net::errnoText(errno));
                return;
            }
            if (bStopping || apfd[1].revents) return;
            if (nRc == 0) {
                if (reader.inFrame() && net::nowMs() - nFrameStartMs >= timing.nFrameMs) {
                    breakWith("Frame from '" + strTarget + "' stalled");
                    return;
                }
                if (timing.nKeepAliveMs > 0) keepAlive();
                continue;
            }
            std::string strWhy;
            long n = pstream->read(buffer.data(), buffer.size(), strWhy);
            if (n == 0) {
                breakWith("Connection closed by '" + strTarget + "'");
                return;
            }
            if (n == net::Stream::readWouldBlock) continue;
            if (n < 0) {
                breakWith("Lost '" + strTarget + "': " + strWhy);
                return;
            }
            size_t nUsed = 0;
            while (nUsed < size_t(n) && !bStopping) {
                bool bWasInFrame = reader.inFrame();
                nUsed += reader.feed(buffer.data() + nUsed, size_t(n) - nUsed);
                if (!bWasInFrame) nFrameStartMs = net::nowMs();
                if (reader.state() == FrameReader::complete) {
                    Frame frame = reader.take();
                    dispatch(frame);
                    if (bBroken) return;
                } else if (reader.state() != FrameReader::partial) {
                    breakWith("Bad frame from '" + strTarget + "': " + reader.error());
                    return;
                }
            }
        }
    }
};

} // namespace

struct DaemonComm::Impl {
    Callback callback;

    mutable Mutex mx;
    std::string strService CORVEL_GUARDED_BY(mx);
    std::vector<net::Endpoint> endpointS CORVEL_GUARDED_BY(mx);
    net::ServiceName name CORVEL_GUARDED_BY(mx);
    bool bLocated CORVEL_GUARDED_BY(mx) = false;
    DaemonCommTiming timing CORVEL_GUARDED_BY(mx);
    bool bOwnTls CORVEL_GUARDED_BY(mx) = false;  // tls below applies; otherwise the process default
    DaemonCommTls tls CORVEL_GUARDED_BY(mx);
    std::shared_ptr<Link> plink CORVEL_GUARDED_BY(mx);
    std::thread receiver CORVEL_GUARDED_BY(mx);

    std::atomic<uint32_t> uLastId{0};

    uint32_t nextId()
    {
        uint32_t uId = ++uLastId;
        while (uId == 0)  // 0 belongs to unsolicited messages
            uId = ++uLastId;
        return uId;
    }

    std::shared_ptr<Link> link() const
    {
        MutexLock lock(mx);
        return plink;
    }
};

namespace {

// Every link of the process, so that the receive threads are stopped when the process exits: a
// library's statics are destroyed after the program's exit handlers, and a receive thread still
// running then would work on what is being torn down (and keep what TLS holds for it).
Mutex g_mxLinks;
std::set<DaemonComm*> g_linkS CORVEL_GUARDED_BY(g_mxLinks);

void disconnectAllAtExit()
{
    std::set<DaemonComm*> linkS;
    {
        MutexLock lock(g_mxLinks);
        linkS = g_linkS;
    }
    for (DaemonComm* pcomm : linkS)
        pcomm->disconnect();
}

void registerLink(DaemonComm* pcomm)
{
    static std::once_flag s_once;
    // After OpenSSL's own exit handler, so that ours runs first: a thread that used TLS must end
    // while OpenSSL can still free what it keeps for the thread.
    std::call_once(s_once, [] {
        net::tls::initialize();
        std::atexit(disconnectAllAtExit);
    });
    MutexLock lock(g_mxLinks);
    g_linkS.insert(pcomm);
}

void unregisterLink(DaemonComm* pcomm)
{
    MutexLock lock(g_mxLinks);
    g_linkS.erase(pcomm);
}

} // namespace

DaemonComm::DaemonComm(Handler handler) : _pimpl(new Impl)
{
    if (handler) _pimpl->callback = handler;
    registerLink(this);
}

DaemonComm::DaemonComm(Callback callback) : _pimpl(new Impl)
{
    _pimpl->callback = std::move(callback);
    registerLink(this);
}

DaemonComm::~DaemonComm()
{
    unregisterLink(this);
    disconnect();
}

void DaemonComm::locateService(std::string& strScratch1, std::string& strScratch2, std::string& strHost,
                               int& nScratch, const std::string& strService, const std::string& strDaemon)
{
    net::ServiceName name = net::parseServiceName(strService, false);
    std::vector<net::Endpoint> endpointS;
    try {
        endpointS = net::resolve(name, false);
    } catch (const Exception& e) {
        fail(__LINE__, "Cannot locate " + (strDaemon.empty() ? std::string("the service") : strDaemon) + " at '" +
                           strService + "': " + e.legend());
    }
    strHost = name.bUnix ? name.strPath : name.strHost;
    strScratch1 = name.bUnix ? "unix" : name.bTls ? "tls" : "tcp";
    strScratch2 = endpointS.front().strText;
    nScratch = name.bUnix ? 0 : name.nPort;
    MutexLock lock(_pimpl->mx);
    _pimpl->strService = strService;
    _pimpl->name = name;
    _pimpl->endpointS = std::move(endpointS);
    _pimpl->bLocated = true;
}

void DaemonComm::connect()
{
    std::vector<net::Endpoint> endpointS;
    std::string strService;
    net::ServiceName name;
    DaemonCommTiming timing;
    DaemonCommTls tls;
    {
        MutexLock lock(_pimpl->mx);
        if (!_pimpl->bLocated) fail(__LINE__, "connect() called before the service was located");
        endpointS = _pimpl->endpointS;
        strService = _pimpl->strService;
        name = _pimpl->name;
        timing = _pimpl->timing;
        tls = _pimpl->bOwnTls ? _pimpl->tls : defaultTls();
    }
    disconnect();
    auto plink = std::make_shared<Link>();
    plink->callback = _pimpl->callback;
    plink->strTarget = strService;
    plink->timing = timing;
    net::makeWakePipe(plink->afdWake);
    int64_t nDeadline = net::nowMs() + (timing.nConnectMs > 0 ? timing.nConnectMs : 1);
    int fd = net::connectBounded(endpointS, timing.nConnectMs, strService);
    if (name.bTls) {
        // The handshake shares the connect time-out; it closes fd when it throws.
        plink->pstream = net::tls::connect(fd, tls, name.strHost, strService, nDeadline);
    } else {
        plink->pstream = std::make_unique<net::Stream>(fd);
    }
    plink->fd = plink->pstream->fd();
    plink->bProtected = plink->pstream->isTls() || net::isLocalPeer(plink->fd);
    plink->nLastSendMs = net::nowMs();
    MutexLock lock(_pimpl->mx);
    try {
        _pimpl->receiver = std::thread([plink] { plink->receive(); });
    } catch (const std::system_error& e) {
        fail(__LINE__, "Cannot start the receive thread for '" + strService + "': " + e.what());
    }
    _pimpl->plink = plink;
}

void DaemonComm::disconnect()
{
    std::shared_ptr<Link> plink;
    std::thread receiver;
    {
        MutexLock lock(_pimpl->mx);
        plink = std::move(_pimpl->plink);
        receiver = std::move(_pimpl->receiver);
        _pimpl->plink.reset();
    }
    if (!plink) return;
    plink->bStopping = true;
    char c = 0;
    ssize_t nIgnored = write(plink->afdWake[1], &c, 1);
    (void)nIgnored;
    // Also wakes a sender blocked on a daemon that does not read.
    plink->pstream->shutdown(SHUT_RDWR);
    if (receiver.joinable()) {
        if (receiver.get_id() == std::this_thread::get_id())
            receiver.detach();  // the handler disconnected us: the thread ends when it returns
        else
            receiver.join();
    }
}

void DaemonComm::send(const std::string& strMessage)
{
    std::shared_ptr<Link> plink = _pimpl->link();
    if (!plink) fail(__LINE__, "Not connected to any service");
    if (strMessage.size() > nFRM_MaxPayload)
        fail(__LINE__, "Message of " + std::to_string(strMessage.size()) + " bytes for '" + plink->strTarget +
                           "' is over the bound of " + std::to_string(nFRM_MaxPayload) + " bytes");
    MutexLock lock(plink->mxSend);
    if (plink->bStopping) fail(__LINE__, "Not connected to any service");
    if (plink->bBroken) fail(__LINE__, plink->brokenReason());
    uint32_t uId = _pimpl->nextId();
    // Set before writing: the reply may arrive before the write returns.
    plink->uAwaitedId = uId;
    std::string strWhy;
    if (!plink->writeFrame(kindRequest, uId, strMessage, strWhy)) fail(__LINE__, plink->brokenReason());
}

bool DaemonComm::isConnected() const
{
    std::shared_ptr<Link> plink = _pimpl->link();
    return plink && !plink->bBroken;
}

std::string DaemonComm::target() const
{
    MutexLock lock(_pimpl->mx);
    return _pimpl->strService;
}

void DaemonComm::setTiming(const DaemonCommTiming& timing)
{
    MutexLock lock(_pimpl->mx);
    _pimpl->timing = timing;
}

DaemonCommTiming DaemonComm::timing() const
{
    MutexLock lock(_pimpl->mx);
    return _pimpl->timing;
}

namespace {
Mutex g_mxDefaultTls;
DaemonCommTls g_defaultTls CORVEL_GUARDED_BY(g_mxDefaultTls);
} // namespace

void DaemonComm::setTls(const DaemonCommTls& tls)
{
    MutexLock lock(_pimpl->mx);
    _pimpl->tls = tls;
    _pimpl->bOwnTls = true;
}

void DaemonComm::setDefaultTls(const DaemonCommTls& tls)
{
    MutexLock lock(g_mxDefaultTls);
    g_defaultTls = tls;
}

DaemonCommTls DaemonComm::defaultTls()
{
    MutexLock lock(g_mxDefaultTls);
    return g_defaultTls;
}

bool DaemonComm::isPin(const std::string& strPin)
{
    try {
        net::tls::canonicalPin(strPin);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

bool DaemonComm::isProtected() const
{
    std::shared_ptr<Link> plink = _pimpl->link();
    return plink && plink->bProtected;
}

bool DaemonComm::isTls() const
{
    std::shared_ptr<Link> plink = _pimpl->link();
    return plink && plink->pstream->isTls();
}

} // namespace Corvel
