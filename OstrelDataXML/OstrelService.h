#ifndef OSTRELDATAXML_OSTRELSERVICE_H
#define OSTRELDATAXML_OSTRELSERVICE_H

#include <atomic>
#include <memory>
#include <string>

#include "Corvel/DaemonComm.h"
#include "Corvel/Mutex.h"
#include "Corvel/Semaphore.h"
#include "OstrelDataXML/Export.h"
#include "Vesk/XMLDoc.h"

namespace OstrelDataXML {

// The process's one link to the ostreld daemon: one request document in, one
// response document out, and every message the daemon sends on its own handed to
// the application's handler. Static members only; never instantiated.
//
// Threads: the application thread blocks in transact() while the link's receive
// thread runs usmCallback(). Only one request may be in flight per process:
// callers serialise transact(), connect() and disconnect().
class OSTRELDATAXML_API OstrelService {
public:
    typedef void (*UsmCallback)(Corvel::DaemonComm::Status status, const std::string& strMessage);

    OstrelService() = delete;

    // Connects to the service named by strService ("host:port", "[v6addr]:port",
    // "host", "unix:/path"), disconnecting first when connected. Returns true;
    // throws Corvel::Exception from the transport (then not connected).
    static bool connect(const std::string& strService);
    // Closes and destroys the link; harmless when not connected.
    static void disconnect();
    // The host (or socket path) found by the last connect().
    static const std::string& host() { return _strHost; }
    static bool isConnected() { return _bIsConnected; }
    // The link; throws Corvel::Exception "Daemon Comm pointer is null" when there is none.
    static Corvel::DaemonComm& comm();

    // Sends docRequest and copies its response into docResponse. Throws
    // OstrelData::Exception: 1022 when not connected, 100 for a transport failure
    // (the link breaking while waiting included), 20 when no response comes
    // within ten waits.
    static void transact(Vesk::XMLDoc& docResponse, const Vesk::XMLDoc& docRequest);

    // Installs the handler of unsolicited messages (null removes it). It runs on
    // the link's receive thread.
    static void setCallback(UsmCallback usmCallback) { _usmCallback = usmCallback; }
    // The handler given to the link: completes the pending request, or passes
    // the message on to the application's handler. Never throws.
    static void usmCallback(Corvel::DaemonComm::Status status, const std::string& strMessage);

private:
    static std::atomic<bool> _bIsConnected;
    static std::atomic<UsmCallback> _usmCallback;
    static Corvel::Semaphore _semaphore;
    static Corvel::Mutex _mxResponse;        // guards _docResponse
    static Vesk::XMLDoc _docResponse;
    // Set by transact(), cleared by usmCallback() once _docResponse holds the answer.
    static std::atomic<bool> _bInTransaction;
    static std::string _strHost;
    // Declared last so that it goes first when the library is unloaded: its
    // receive thread is joined while the members it touches still exist.
    static std::unique_ptr<Corvel::DaemonComm> _pcomm;
};

} // namespace OstrelDataXML

#endif
