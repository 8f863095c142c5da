#ifndef OSTRELD_SERVICE_H
#define OSTRELD_SERVICE_H

#include <atomic>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Corvel/DaemonServer.h"
#include "Corvel/EventLogger.h"
#include "Gates.h"
#include "KeyPair.h"
#include "Metrics.h"
#include "SessionStore.h"
#include "OstrelData/AuthenticatedUser.h"

namespace Vesk {
class XMLNode;
}

namespace Ostreld {

// Answers the requests of the client protocol from the database-backed factory.
//
// Threads: the transport runs answer() for different connections at once. The factory and its
// registries are single-threaded, so:
//   _gate       shared by every request while it reads the registries; held alone by a reload,
//               which rewrites them.
//   _mxFactory  serialises every call into the factory that may write it (users, teams, the
//               session map, profiles by host). Never held while a password is hashed or a token
//               decrypted. Authorising a login needs only the gate: it reads the registries and
//               writes into the login's own user.
//   _mxLogins   guards _loginS (as marked there, for the compiler to check), and the last use of
//               the logins it shares with the connections, which their threads mark under it.
// Locks are taken in that order only. Authenticators are called under the shared gate alone
// (their hashing takes most of a login's time), at most _authSlots at once, handed out round robin
// between peers, so the plug-ins' authenticate and passwd must be safe to run on several threads
// together. Failed logins slow their address down (_failureDelay), outside the gate.
//
// Every connection has its own login, kept in its context's state and touched only by the
// connection's own thread.
// Whether a password may come over this connection: under TLS, over a unix socket, from loopback,
// or anywhere when bAllowPlaintext.
bool passwordTransportAllowed(const std::string& strPeer, bool bTls, bool bAllowPlaintext);
// Whether a transport peer or address text ("1.2.3.4:5678", "[::1]:5678", "unix:...", "127.0.0.1")
// is this machine's loopback.
bool isLoopback(const std::string& strPeer);

class Service {
public:
    struct Settings {
        int nAuthSlots = 4;  // authenticator calls (and token decryptions) at once, shared fairly by peers
        size_t nMaxElements = 100000;    // elements (counted as '<') one request may hold
        size_t nParseBudget = 400000;    // elements of all the requests parsed at once
        long nSessionLifetimeSeconds = 12 * 3600;  // a kept session ends this long after it was kept
        long nFailureDelayMaxMs = 5000;            // the longest wait for an address that keeps failing; 0: none
        // Take passwords over plain TCP from peers beyond loopback (a protected network).
        bool bAllowPlaintextLogins = false;
        // Kept sessions in the database, shared with every daemon on it and kept over restarts;
        // otherwise in this daemon's memory.
        bool bSessionsInDatabase = true;
    };

    // pmetrics: where requests, logins, reloads and database failures are counted; none when null.
    // Not owned; it must outlive the service.
    Service(const KeyPair& keyPair, const Settings& settings, Metrics* pmetrics = nullptr);
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // The reply to one request: its response, or an "exception" element. Never throws for
    // anything the request holds.
    std::string answer(Corvel::ConnectionContext& context, const std::string& strRequest);
    // Forgets the connection's login.
    void connectionClosed(Corvel::ConnectionContext& context) CORVEL_EXCLUDES(_mxLogins);
    // Reloads the model from the database once the requests in progress are done; new requests
    // wait for it. A failure is logged and leaves what was loaded. Whether the model loaded whole.
    bool reload(const std::string& strWhy) CORVEL_EXCLUDES(_gate, _mxFactory);
    // Whether the last reload loaded the model whole.
    bool modelWhole() const { return _bModelWhole.load(); }
    // Drops the persisted sessions that have timed out.
    void cleanUpSessions() CORVEL_EXCLUDES(_gate);
    // Takes what of settings may change while serving, from any thread, for the requests that come
    // next: the bounds of parsing, the failure delay, the session lifetime, and the idle time-out
    // of kept sessions from OstrelData::Session::sessionTimeout() (set that first). The auth slots,
    // the plain-TCP rule and where sessions live stay as they were made.
    void setLimits(const Settings& settings);

    // The requests of the protocol, by the index under which Metrics counts them.
    static std::vector<const char*> requestNames();
    // The kept sessions not timed out (see SessionStore::count); -1 when the store cannot count.
    long keptSessionCount() noexcept;
    // "" when the model is loaded whole and the database answers a trivial query; else a short
    // reason, never the database's own words. Safe on any thread.
    std::string healthProblem() noexcept;

private:
    struct Request;
    // Every handler but reloadFactory runs under the shared gate, which dispatch() takes; the
    // analysis does not follow a call through a member pointer, so that one call is unchecked.
    typedef std::string (Service::*Handler)(Request& request);
    struct Route {
        const char* pszRequest;
        bool bAnonymous;  // may be asked without a login
        Handler handler;
    };
    static const Route s_routeS[];

    // nRoute: set to the index of the request's route once it is known.
    std::string dispatch(Corvel::ConnectionContext& context, const std::string& strRequest, size_t& nRoute);

    std::string about(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string reloadFactory(Request& request) CORVEL_EXCLUDES(_gate);
    std::string initialize(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string authenticate(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string validate(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string login(Request& request, bool bValidate) CORVEL_REQUIRES_SHARED(_gate);
    std::string authenticatedUser(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string passwd(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string persistSession(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string retrieveSession(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string killSession(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string user(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string team(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string teams(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string products(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string domains(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string customers(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string profiles(Request& request) CORVEL_REQUIRES_SHARED(_gate);
    std::string who(Request& request) CORVEL_REQUIRES_SHARED(_gate);

    // Refuses the request with 6666 and an audit line.
    [[noreturn]] void refuse(const Request& request, const std::string& strWhy) const;
    // Refuses a request that carries a password or session id over plain TCP from beyond loopback,
    // unless allowed.
    void requireSafeTransport(const Request& request) const;
    // What the user's authenticator says of his credentials now ("" when he may not log in, or
    // when it says nothing), and whether it says anything.
    std::string credentialStamp(const OstrelData::User::Key& key) const CORVEL_REQUIRES_SHARED(_gate);
    bool stampsCredentials(const OstrelData::User::Key& key) const CORVEL_REQUIRES_SHARED(_gate);
    // Refuses unless the connection's user holds the permission of product 0.
    void requirePermission(const Request& request, int nPermission, const char* pszWhat) const;
    void setLogin(Request& request, const OstrelData::AuthenticatedUser& user) CORVEL_EXCLUDES(_mxLogins);
    // The same without a copy: the connection takes the login as it is.
    void setLogin(Request& request, std::shared_ptr<OstrelData::AuthenticatedUser> plogin) CORVEL_EXCLUDES(_mxLogins);
    void clearLogin(Request& request) CORVEL_EXCLUDES(_mxLogins);
    void audit(const Request& request, const std::string& strText, bool bWarning) const;
    // What a refused login counts as: locked out when the user's authenticator keeps lock states
    // and says his account is locked now, else failed.
    Metrics::LoginOutcome refusedLoginOutcome(const OstrelData::User::Key& key) const CORVEL_REQUIRES_SHARED(_gate);

    const KeyPair& _keyPair;
    const bool _bAllowPlaintextLogins;
    std::atomic<long> _nSessionLifetimeSeconds;
    ReloadGate _gate;
    Corvel::Mutex _mxFactory CORVEL_ACQUIRED_AFTER(_gate);
    FairSlots _authSlots;
    FailureDelay _failureDelay;
    ParseBudget _parseBudget;
    Corvel::Mutex _mxLogins CORVEL_ACQUIRED_AFTER(_mxFactory);
    // The login of every connection that has one, by connection id (for "who").
    // The connection's own (ConnectionState::plogin), shared.
    std::map<std::uint64_t, std::shared_ptr<const OstrelData::AuthenticatedUser>> _loginS CORVEL_GUARDED_BY(_mxLogins);
    // Failures and refusals, per peer.
    mutable Corvel::LogThrottle _auditThrottle{"failures and refusals"};
    std::unique_ptr<SessionStore> _psessions;
    Metrics* const _pmetrics;  // not owned; null when metrics are off
    // False from a failed reload, which leaves the model as far as it got, to the next good one.
    std::atomic<bool> _bModelWhole{true};
};

} // namespace Ostreld

#endif
