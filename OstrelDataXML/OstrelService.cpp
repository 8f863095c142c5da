#include "OstrelDataXML/OstrelService.h"

#include <sstream>

#include "Corvel/Exception.h"
#include "OstrelData/Exception.h"
#include "OstrelDataXML/TestHooks.h"

namespace OstrelDataXML {

namespace {

constexpr int nMaxWaits = 10;
constexpr long nProductWaitMs = 1000;

// Only the test suite changes it (TestHooks.h).
std::atomic<long> g_nWaitMs{nProductWaitMs};

} // namespace

namespace testhooks {

void setResponseWaitMs(long nMs)
{
    g_nWaitMs = nMs > 0 ? nMs : nProductWaitMs;
}

} // namespace testhooks

std::atomic<bool> OstrelService::_bIsConnected{false};
std::atomic<OstrelService::UsmCallback> OstrelService::_usmCallback{nullptr};
Corvel::Semaphore OstrelService::_semaphore;
Corvel::Mutex OstrelService::_mxResponse;
Vesk::XMLDoc OstrelService::_docResponse;
std::atomic<bool> OstrelService::_bInTransaction{false};
std::string OstrelService::_strHost;
std::unique_ptr<Corvel::DaemonComm> OstrelService::_pcomm;

bool OstrelService::connect(const std::string& strService)
{
    if (_bIsConnected) disconnect();
    // A link left by a failed connect is reused.
    if (!_pcomm) _pcomm.reset(new Corvel::DaemonComm(&OstrelService::usmCallback));
    std::string strScratch1;
    std::string strScratch2;
    int nScratch = 0;
    _pcomm->locateService(strScratch1, strScratch2, _strHost, nScratch, strService, "ostreld");
    _pcomm->connect();
    _bIsConnected = true;
    return _bIsConnected;
}

void OstrelService::disconnect()
{
    if (!_bIsConnected) return;
    if (_pcomm) {
        _pcomm->disconnect();
        _pcomm.reset();
    }
    _bIsConnected = false;
}

Corvel::DaemonComm& OstrelService::comm()
{
    if (!_pcomm) throw Corvel::Exception(__FILE__, __LINE__, Corvel::CVLX_SEELEGEND, false, "Daemon Comm pointer is null");
    return *_pcomm;
}

void OstrelService::transact(Vesk::XMLDoc& docResponse, const Vesk::XMLDoc& docRequest)
{
    if (!isConnected())
        OSTREL_RAISE(OstrelData::nNAX_NOSERVERCONNECT, "Not connected to any Ostrel service provider.");

    // Signals left from an earlier request (one that timed out and was answered
    // late) must not cut this wait short.
    {
        Corvel::MutexLock lock(_mxResponse);
        _semaphore.reset();
        _bInTransaction = true;
    }
    try {
        Corvel::DaemonComm& link = comm();
        link.send(docRequest.stream().str());
        const long nWaitMs = g_nWaitMs;
        for (int nWaits = 0; _bInTransaction && nWaits < nMaxWaits; ++nWaits) {
            _semaphore.wait(nWaitMs);
            // A broken link will never answer: say so now rather than after the
            // remaining waits, and say why.
            if (_bInTransaction && !link.isConnected())
                throw Corvel::Exception(__FILE__, __LINE__, Corvel::CVLX_SEELEGEND, false,
                                        "The connection to the Ostrel service provider broke before the response came.");
        }
    } catch (const Corvel::Exception& e) {
        std::ostringstream os;
        os << e;
        OSTREL_RAISE(OstrelData::nNAX_ALIENEXCEPTION, os.str());
    }

    if (_bInTransaction) OSTREL_RAISE(OstrelData::nNAX_RESPONSETIMEOUT, "Request sent with no response (timeout).");

    Corvel::MutexLock lock(_mxResponse);
    docResponse = _docResponse;
}

void OstrelService::usmCallback(Corvel::DaemonComm::Status status, const std::string& strMessage)
{
    try {
        Vesk::XMLDoc doc = Vesk::XMLDoc::parse(strMessage);
        const Vesk::XMLNode* proot = doc.rootNode();
        if (proot != nullptr && proot->attribute("type") != "usm") {
            Corvel::MutexLock lock(_mxResponse);
            if (_bInTransaction) {
                _docResponse = std::move(doc);
                // The response is in place before the waiter can see the flag clear.
                _bInTransaction = false;
                _semaphore.signal(false);
                return;
            }
        }
    } catch (...) {
        // Text that is no XML document goes on to the handler unchanged.
    }

    // The link says once when it breaks: wake a waiting request so that it
    // fails at once instead of waiting out its time.
    if (status == Corvel::DaemonComm::error && _bInTransaction) _semaphore.signal(false);

    UsmCallback usmCallbackApp = _usmCallback;
    if (usmCallbackApp != nullptr) usmCallbackApp(status, strMessage);
}

} // namespace OstrelDataXML
