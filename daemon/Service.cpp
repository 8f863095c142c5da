#include "Service.h"

#include <arpa/inet.h>
#include <malloc.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "Corvel/EventLogger.h"
#include "Corvel/Exception.h"
#include "OstrelData/AccountState.h"
#include "OstrelData/FactoryInternal.h"
#include "OstrelData/OstrelData.h"
#include "OstrelDal/OstrelDB.h"
#include "OstrelDataDB/OstrelFactory.h"
#include "OstrelDataXML/Decoding.h"
#include "OstrelDataXML/Encoding.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "Vesk/XMLDoc.h"
#include "VeskDal/SqlException.h"

namespace Ostreld {

namespace {

using Codec = OstrelDataXML::Factory;
using OstrelData::AuthenticatedUser;
using OstrelData::Factory;
using Vesk::XMLDoc;
using Vesk::XMLNode;

const char* permissionName(int nPermission)
{
    switch (nPermission) {
    case OSROstrel::nOSRP_Maintain_Plugins: return "maintain plug-ins";
    case OSROstrel::nOSRP_Maintain_Authenticators: return "maintain authenticators";
    case OSROstrel::nOSRP_Maintain_Products: return "maintain products";
    case OSROstrel::nOSRP_Administer_Customers: return "administer customers";
    case OSROstrel::nOSRP_Administer_Domains: return "administer domains";
    case OSROstrel::nOSRP_Administer_Teams: return "administer teams";
    case OSROstrel::nOSRP_Administer_Users: return "administer users";
    }
    return "unknown";
}

// Whether the user holds a permission of the framework's own product, granted.
bool holdsPermission(const OstrelData::User& user, int nPermission)
{
    const OstrelData::ProductMap& productS = user.products();
    OstrelData::ProductMap::const_iterator itProduct = productS.find(OSROstrel::nOSRD_Ostrel);
    if (itProduct == productS.end()) return false;
    return itProduct->second.hasPermission(OstrelData::Permission(nPermission, "", OstrelData::PRStatus()));
}

std::string shown(const OstrelData::User::Key& key)
{
    return key.first + "/" + key.second;
}

std::string shown(const OstrelData::User& user)
{
    return (user.hasDomain() ? user.domain().domain() : std::string()) + "/" + user.userId();
}

// The stored token (a password hash) never leaves the daemon: users go out with an empty one.
void withoutToken(OstrelData::User& user)
{
    user.setAuthenticationToken(std::string());
}

void membersWithoutToken(OstrelData::Team& team)
{
    const OstrelData::Team& reading = team;
    bool bAny = false;
    for (const auto& entry : reading.members())
        bAny = bAny || !entry.second.authenticationToken().empty();
    if (!bAny) return;
    for (auto& entry : team.members())
        withoutToken(entry.second);
}

std::string text(const XMLDoc& doc)
{
    return doc.stream().str();
}

std::string emptyReply(const char* pszResponse)
{
    return text(Codec::Envelope::response(pszResponse));
}

// A registry or map sent whole under its response name.
template <class TMapCodec, class TMap>
std::string mapReply(const char* pszResponse, const TMap& map)
{
    XMLDoc doc = Codec::Envelope::response(pszResponse);
    TMapCodec::toXML(doc.rootNode(), map);
    return text(doc);
}

// What "who" shows in place of a session id: no session is ever named so.
const char* const pszHiddenSession = "(hidden)";

std::string failureReply(const OstrelData::Exception& e)
{
    XMLDoc doc = Codec::Envelope::response("exception");
    // The reader of an exception element insists on a file, a non-zero line and code, and a legend.
    // Where in our sources a failure arose is for the log, not for clients.
    std::string strLegend = e.legend();
    if (strLegend.empty()) strLegend = OstrelData::Exception::explainErrorCode(e.errorCode());
    if (strLegend.empty()) strLegend = "unknown";
    OstrelData::Exception sent("ostreld", 1, e.errorCode() != 0 ? e.errorCode() : OstrelData::nNAX_UNKNOWN, strLegend,
                               e.remote());
    Codec::Envelope::addException(doc, sent);
    return text(doc);
}

// The host part of a transport peer ("1.2.3.4:5678", "[::1]:5678"); empty for a unix peer.
std::string peerHost(const std::string& strPeer)
{
    if (strPeer.compare(0, 5, "unix:") == 0) return std::string();
    if (!strPeer.empty() && strPeer[0] == '[') {
        std::string::size_type n = strPeer.find(']');
        return n == std::string::npos ? std::string() : strPeer.substr(1, n - 1);
    }
    std::string::size_type n = strPeer.rfind(':');
    return n == std::string::npos ? strPeer : strPeer.substr(0, n);
}

} // namespace

bool isLoopback(const std::string& strPeer)
{
    if (strPeer.compare(0, 5, "unix:") == 0) return true;
    std::string strHost = strPeer.compare(0, 4, "tls:") == 0 ? strPeer.substr(4) : strPeer;
    bool bBracketed = !strHost.empty() && strHost[0] == '[';
    if (bBracketed || std::count(strHost.begin(), strHost.end(), ':') == 1) strHost = peerHost(strHost);
    unsigned char ab[16];
    if (inet_pton(AF_INET, strHost.c_str(), ab) == 1) return ab[0] == 127;
    if (inet_pton(AF_INET6, strHost.c_str(), ab) != 1) return false;
    static const unsigned char abLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const unsigned char abMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(ab, abLoopback, 16) == 0) return true;
    return std::memcmp(ab, abMapped, 12) == 0 && ab[12] == 127;
}

bool passwordTransportAllowed(const std::string& strPeer, bool bTls, bool bAllowPlaintext)
{
    return bTls || bAllowPlaintext || isLoopback(strPeer);
}

namespace {

// The peer that limits, turns and delays are counted by: its address, or its user id on a unix socket.
std::string peerKey(const Corvel::ConnectionContext& context)
{
    return context.peerGroup().empty() ? peerHost(context.peer()) : context.peerGroup();
}

// The registered domain of a decoded user, and a user on it: decoded users point into the codec's
// caches, the factory works on the registries.
OstrelData::User rebased(const OstrelData::User& decoded)
{
    const std::string& strDomain = decoded.domain().domain();
    OstrelData::DomainMap::const_iterator it = Factory::domains().find(strDomain);
    if (it == Factory::domains().end()) OSTREL_RAISE(OstrelData::nNAX_DOMAINNOTFOUND, strDomain);
    return OstrelData::User(it->second, decoded.userId(), "", "", "");
}

// The registered profile of that name, with its parameters; a name the registry does not know is
// kept as given. An empty name takes the default profile when there is one.
OstrelData::Profile profileNamed(const std::string& strProfile)
{
    const OstrelData::ProfileMap& profileS = Factory::profiles();
    if (strProfile.empty()) {
        for (const auto& entry : profileS)
            if (entry.second.isDefault()) return entry.second;
        return OstrelData::Profile();
    }
    OstrelData::ProfileMap::const_iterator it = profileS.find(strProfile);
    return it != profileS.end() ? it->second : OstrelData::Profile(strProfile, false);
}

// The model's size as the registries hold it now; they must not change meanwhile.
void countModel(Metrics& metrics)
{
    long nUsers = 0;
    for (const auto& entry : Factory::domains())
        nUsers += static_cast<long>(entry.second.users().size());
    metrics.setModelSize(static_cast<long>(Factory::domains().size()), nUsers,
                         static_cast<long>(Factory::teams().size()), static_cast<long>(Factory::products().size()));
}

// What the daemon takes from a client's elements before trusting him: texts, read straight from
// the request's own document. The codec would file every customer, domain and team an element
// names in process-wide caches, which an anonymous client could grow for ever.
std::string requiredText(const XMLNode* pparent, const char* pszChild, const char* pszWhere)
{
    const XMLNode* pchild = pparent != nullptr ? pparent->findChild(pszChild) : nullptr;
    if (pchild == nullptr || pchild->value().isNull())
        OSTREL_RAISE(OstrelData::nNAX_MALFORMEDXML, std::string("No ") + pszChild + " node in " + pszWhere + ".");
    return pchild->value().str();
}

// The (domain, user id) a "user" element names.
OstrelData::User::Key claimedUser(const XMLNode* puser)
{
    const XMLNode* pdomain = puser->findChild("domain");
    if (pdomain == nullptr) OSTREL_RAISE(OstrelData::nNAX_MALFORMEDXML, "No domain node in User.");
    return OstrelData::User::Key(requiredText(pdomain, "domain", "Domain"), requiredText(puser, "userid", "User"));
}

// The user and session an "authenticateduser" element names.
struct ClaimedLogin {
    OstrelData::User::Key key;
    std::string strSession;
};

ClaimedLogin claimedLogin(const XMLNode* pauthenticated)
{
    const XMLNode* puser = pauthenticated->findChild("user");
    if (puser == nullptr) OSTREL_RAISE(OstrelData::nNAX_MALFORMEDXML, "No user node in AuthenticatedUser.");
    const XMLNode* pstring = pauthenticated->findChild("sessionstring");
    const XMLNode* psession = pstring != nullptr ? pstring->findChild("session") : nullptr;
    if (psession == nullptr) OSTREL_RAISE(OstrelData::nNAX_MALFORMEDXML, "No session node in AuthenticatedUser.");
    return ClaimedLogin{claimedUser(puser), requiredText(psession, "sessionid", "SessionString")};
}

} // namespace

// The connection's own state: its login, if any.
struct ConnectionState {
    // Shared with the daemon's list of logins (for "who"): a login's grants are copied once. Only
    // the connection's own thread changes it, and only its session's last use, under _mxLogins.
    std::shared_ptr<AuthenticatedUser> plogin;
    // "DOMAIN/user" of the login, made when it was taken: the login's domain is the registry's,
    // which a reload rewrites, and audit lines are also written outside the reload gate.
    std::string strLogin;
    // What the authenticator said of the credentials at login: a session kept later must be kept
    // on the same ones, not on a password changed meanwhile.
    std::string strStamp;
    // The login was kept, or resumed from a kept session: once that session has ended (killed,
    // grown older than its lifetime, cleaned up), keeping it again would bring it back.
    bool bKept = false;
};

struct Service::Request {
    Corvel::ConnectionContext& context;
    ConnectionState& state;
    const XMLNode* proot;
    std::string strName;
    // When a login was read, before its wait for a turn (set for logins only).
    std::chrono::steady_clock::time_point tArrived{};

    bool loggedIn() const { return state.plogin != nullptr; }
    const AuthenticatedUser& login() const { return *state.plogin; }

    // The payload element; 1011 when the request lacks it.
    const XMLNode* payload(const char* pszChild) const
    {
        const XMLNode* pchild = proot->findChild(pszChild);
        if (pchild == nullptr)
            OSTREL_RAISE(OstrelData::nNAX_MALFORMEDXML,
                         std::string("No ") + pszChild + " node in " + strName + " request.");
        return pchild;
    }
    std::string payloadText(const char* pszChild) const
    {
        Vesk::String strValue = payload(pszChild)->value();
        return strValue.isNull() ? std::string() : strValue.str();
    }
};

const Service::Route Service::s_routeS[] = {
    {"about", true, &Service::about},
    {"initialize", true, &Service::initialize},
    {"authenticate", true, &Service::authenticate},
    {"validate", true, &Service::validate},
    {"retrievesession", true, &Service::retrieveSession},
    {"domains", true, &Service::domains},
    {"profiles", true, &Service::profiles},
    {"reloadfactory", false, &Service::reloadFactory},
    {"authenticateduser", false, &Service::authenticatedUser},
    {"passwd", false, &Service::passwd},
    {"persistsession", false, &Service::persistSession},
    {"killsession", false, &Service::killSession},
    {"user", false, &Service::user},
    {"team", false, &Service::team},
    {"teams", false, &Service::teams},
    {"products", false, &Service::products},
    {"customers", false, &Service::customers},
    {"who", false, &Service::who},
};

std::vector<const char*> Service::requestNames()
{
    std::vector<const char*> nameS;
    for (const Route& route : s_routeS)
        nameS.push_back(route.pszRequest);
    return nameS;
}

Service::Service(const KeyPair& keyPair, const Settings& settings, Metrics* pmetrics)
    : _keyPair(keyPair), _bAllowPlaintextLogins(settings.bAllowPlaintextLogins),
      _nSessionLifetimeSeconds(settings.nSessionLifetimeSeconds), _authSlots(settings.nAuthSlots),
      _failureDelay(settings.nFailureDelayMaxMs),
      _parseBudget(settings.nMaxElements, std::max(settings.nParseBudget, settings.nMaxElements)),
      _pmetrics(pmetrics)
{
    // Made once the model is loaded, before any request or reload.
    if (_pmetrics) countModel(*_pmetrics);
    const long nIdleSeconds = OstrelData::Session::sessionTimeout();
    if (settings.bSessionsInDatabase) {
        _psessions = std::make_unique<DatabaseSessionStore>(nIdleSeconds);
        // A database without the table (made before kept sessions lived there) is told at start,
        // not at the first persistsession.
        KeptSession none;
        try {
            _psessions->find("", none);
        } catch (const OstrelData::Exception& e) {
            OSTREL_RAISE(OstrelData::nNAX_DATABASE, "Kept sessions cannot live in this database (" + e.legend() +
                                                        "): run ostrel-admin upgrade, or start with --sessions memory");
        }
    } else {
        _psessions = std::make_unique<MemorySessionStore>(nIdleSeconds);
    }
}

std::string Service::answer(Corvel::ConnectionContext& context, const std::string& strRequest)
{
    Corvel::EventLogger& logger = Corvel::EventLogger::theLogger();
    // Every way out counts, as an error unless dispatch() returned.
    struct Counted {
        Metrics* pmetrics;
        size_t nRoute;
        bool bOk = false;
        ~Counted()
        {
            if (pmetrics) pmetrics->requestAnswered(nRoute, bOk);
        }
    } counted{_pmetrics, std::size(s_routeS)};
    try {
        std::string strReply = dispatch(context, strRequest, counted.nRoute);
        counted.bOk = true;
        return strReply;
    } catch (const OstrelData::Exception& e) {
        if (e.errorCode() != OstrelData::nNAX_DATABASE) return failureReply(e);
        if (_pmetrics) _pmetrics->databaseFailed();
        // The database's own words (statements, constraint names) are for the operator's eyes.
        logger.logError("Database failure for " + context.peer() + ": " + e.legend(), Corvel::layerDatabase);
        return failureReply(OstrelData::Exception(e.file(), e.line(), e.errorCode(), "Database error.", e.remote()));
    } catch (const Vesk::XMLException& e) {
        return failureReply(OstrelData::Exception(__FILE__, __LINE__, OstrelData::nNAX_MALFORMEDXML,
                                                  std::string("Malformed request: ") + e.what(), false));
    } catch (const VeskDal::DalDatabaseException& e) {
        if (_pmetrics) _pmetrics->databaseFailed();
        logger.logError("Database failure for " + context.peer() + ": " + e.nativeExplanation(), Corvel::layerDatabase);
        return failureReply(
            OstrelData::Exception(__FILE__, __LINE__, OstrelData::nNAX_DATABASE, "Database error.", false));
    } catch (const VeskDal::SqlException& e) {
        if (_pmetrics) _pmetrics->databaseFailed();
        logger.logError("SQL failure for " + context.peer() + ": " + e.what(), Corvel::layerDatabase);
        return failureReply(
            OstrelData::Exception(__FILE__, __LINE__, OstrelData::nNAX_DATABASE, "Database error.", false));
    } catch (const Corvel::Exception& e) {
        return failureReply(
            OstrelData::Exception(__FILE__, __LINE__, OstrelData::nNAX_ALIENEXCEPTION, e.legend(), false));
    } catch (const std::bad_alloc&) {
        logger.logError("Out of memory answering " + context.peer(), Corvel::layerService);
        return failureReply(OstrelData::Exception(__FILE__, __LINE__, OstrelData::nNAX_UNKNOWN, "Out of memory.", false));
    } catch (const std::exception& e) {
        logger.logError("Failure answering " + context.peer() + ": " + e.what(), Corvel::layerService);
        return failureReply(OstrelData::Exception(__FILE__, __LINE__, OstrelData::nNAX_UNKNOWN, "unknown", false));
    } catch (...) {
        logger.logError("Unknown failure answering " + context.peer(), Corvel::layerService);
        return failureReply(OstrelData::Exception(__FILE__, __LINE__, OstrelData::nNAX_UNKNOWN, "unknown", false));
    }
}

std::string Service::dispatch(Corvel::ConnectionContext& context, const std::string& strRequest, size_t& nRoute)
{
    if (!context.state()) context.setState(std::make_shared<ConnectionState>());
    ConnectionState& state = *context.stateAs<ConnectionState>();

    const std::string strPeer = peerKey(context);
    // A peer whose logins keep failing waits before anything of it is read, holding nothing.
    const std::chrono::milliseconds tDelay = _failureDelay.delayFor(strPeer);
    if (tDelay.count() > 0) std::this_thread::sleep_for(tDelay);

    // What parsing may build is bounded before anything is parsed: per request, and for all the
    // larger requests parsed at once (the rest wait their turn). Elements are counted by their
    // tags, attributes by their "=", and text by its bytes.
    const size_t nElements = std::max({static_cast<size_t>(std::count(strRequest.begin(), strRequest.end(), '<')),
                                       static_cast<size_t>(std::count(strRequest.begin(), strRequest.end(), '=')),
                                       strRequest.size() / 64});
    if (nElements > _parseBudget.perRequest())
        OSTREL_RAISE(OstrelData::nNAX_MALFORMEDXML,
                     "Request of more than " + std::to_string(_parseBudget.perRequest()) + " elements.");
    if (!_parseBudget.acquire(strPeer, nElements, std::chrono::seconds(10)))
        OSTREL_RAISE(OstrelData::nNAX_RESPONSETIMEOUT, "The service is busy with large requests; try again.");
    struct BudgetHold {
        ParseBudget& budget;
        const std::string& strPeer;
        size_t nElements;
        ~BudgetHold() { budget.release(strPeer, nElements); }
    } budgetHold{_parseBudget, strPeer, nElements};
    XMLDoc doc = XMLDoc::parse(Vesk::String(strRequest));
    const XMLNode* proot = doc.rootNode();
    if (proot == nullptr) OSTREL_RAISE(OstrelData::nNAX_MALFORMEDXML, "No root node in request.");
    Request request{context, state, proot, proot->attribute("request").str()};
    if (request.strName.empty()) OSTREL_RAISE(OstrelData::nNAX_BADREQUEST, "No request attribute.");

    // A login lasts while it is used: one idle longer than the session time-out is over.
    if (state.plogin && state.plogin->hasSession()) {
        bool bTimedOut = false;
        {
            Corvel::MutexLock logins(_mxLogins);
            try {
                state.plogin->session().access();
            } catch (const OstrelData::Exception&) {
                bTimedOut = true;
            }
        }
        if (bTimedOut) {
            audit(request, "login of " + state.strLogin + " timed out", false);
            clearLogin(request);
        }
    }

    for (const Route& route : s_routeS) {
        if (request.strName != route.pszRequest) continue;
        nRoute = static_cast<size_t>(&route - s_routeS);
        if (!route.bAnonymous && !request.loggedIn()) refuse(request, request.strName + " needs a login");
        // A reload takes the gate whole; everything else reads the registries under it.
        if (route.handler == &Service::reloadFactory) return (this->*route.handler)(request);
        // A login waits for its turn before it takes the gate: a backlog of logins waiting for
        // turns must not hold a reload back, and with it every other request.
        std::optional<FairSlotHold> turn;
        if (route.handler == &Service::authenticate || route.handler == &Service::validate ||
            route.handler == &Service::passwd) {
            if (_pmetrics) request.tArrived = std::chrono::steady_clock::now();
            turn.emplace(_authSlots, strPeer);
        }
        SharedGateLock gate(_gate);
        return (this->*route.handler)(request);
    }
    OSTREL_RAISE(OstrelData::nNAX_BADREQUEST, "Unknown request - " + request.strName + ".");
}

void Service::connectionClosed(Corvel::ConnectionContext& context)
{
    Corvel::MutexLock lock(_mxLogins);
    _loginS.erase(context.id());
}

bool Service::reload(const std::string& strWhy)
{
    Corvel::EventLogger& logger = Corvel::EventLogger::theLogger();
    GateLock gate(_gate);
    Corvel::MutexLock factory(_mxFactory);
    logger.logInfo("Reloading the model (" + strWhy + ")", Corvel::layerService);
    const auto tStart = std::chrono::steady_clock::now();
    bool bOk = false;
    try {
        OstrelDataDB::Factory::reinitialize();
        bOk = true;
        logger.logInfo("Model reloaded: " + std::to_string(Factory::domains().size()) + " domains, " +
                           std::to_string(Factory::products().size()) + " products",
                       Corvel::layerService);
    } catch (const OstrelData::Exception& e) {
        logger.logError("Reload failed, the model is as far as it got: " + e.legend(), Corvel::layerService);
    } catch (const std::exception& e) {
        logger.logError(std::string("Reload failed, the model is as far as it got: ") + e.what(), Corvel::layerService);
    }
    _bModelWhole.store(bOk);
    // The old model was freed piecemeal while the new one was built around it; without this the
    // allocator keeps the freed pages, and a daemon that reloads often would look as if it grew
    // by a model at every reload.
    malloc_trim(0);
    if (_pmetrics) {
        _pmetrics->reloadFinished(bOk, std::chrono::steady_clock::now() - tStart);
        countModel(*_pmetrics);
    }
    return bOk;
}

long Service::keptSessionCount() noexcept
{
    try {
        return _psessions->count(std::time(nullptr) - _nSessionLifetimeSeconds);
    } catch (...) {
        return -1;
    }
}

std::string Service::healthProblem() noexcept
{
    if (!_bModelWhole.load()) return "the last reload of the model failed";
    try {
        OstrelDal::Connection connection = OstrelDal::connection();
        connection.db().executeScript("SELECT 1");
        return std::string();
    } catch (...) {
        // The database's own words (and its connect string) are for the log, not for a prober.
        return "the database does not answer";
    }
}

void Service::setLimits(const Settings& settings)
{
    _parseBudget.setLimits(settings.nMaxElements, std::max(settings.nParseBudget, settings.nMaxElements));
    _failureDelay.setMaxMs(settings.nFailureDelayMaxMs);
    _nSessionLifetimeSeconds.store(settings.nSessionLifetimeSeconds);
    _psessions->setIdleSeconds(OstrelData::Session::sessionTimeout());
}

void Service::cleanUpSessions()
{
    for (const std::string& strSummary : _auditThrottle.flush())
        Corvel::EventLogger::theLogger().logWarning("audit: " + strSummary, Corvel::layerSecurity);
    Corvel::EventLogger& logger = Corvel::EventLogger::theLogger();
    SharedGateLock gate(_gate);
    std::vector<KeptSession> keptS;
    try {
        _psessions->removeExpired(std::time(nullptr) - _nSessionLifetimeSeconds);
        keptS = _psessions->all();
    } catch (const OstrelData::Exception& e) {
        if (_pmetrics) _pmetrics->databaseFailed();
        logger.logError("Cannot clean up kept sessions: " + e.legend(), Corvel::layerDatabase);
        return;  // the store is not answering: try again next round
    }
    // A lock, a removal or a new password ends the account's kept sessions by the next round,
    // whether or not anyone retrieves them meanwhile.
    // Once per user and round, however many sessions he kept.
    std::map<OstrelData::User::Key, std::string> stampS;
    for (const KeptSession& kept : keptS) {
        if (kept.strStamp.empty()) continue;
        std::string strNow;
        try {
            auto itStamp = stampS.find(kept.key);
            if (itStamp == stampS.end()) itStamp = stampS.emplace(kept.key, credentialStamp(kept.key)).first;
            strNow = itStamp->second;
        } catch (const OstrelData::Exception& e) {
            if (e.errorCode() == OstrelData::nNAX_DATABASE) {
                if (_pmetrics) _pmetrics->databaseFailed();
                logger.logError("Cannot check the accounts of kept sessions: " + e.legend(), Corvel::layerDatabase);
                return;
            }
            strNow.clear();  // its domain or authenticator is gone: so is the session
        }
        if (strNow == kept.strStamp) continue;
        try {
            _psessions->end(kept.strDigest);
        } catch (const OstrelData::Exception& e) {
            if (_pmetrics) _pmetrics->databaseFailed();
            logger.logError("Cannot end a kept session: " + e.legend(), Corvel::layerDatabase);
            return;
        }
        logger.logWarning("audit: kept session of " + shown(kept.key) +
                              " ended: the account was locked or removed, or its password changed",
                          Corvel::layerSecurity);
    }
}

// ---- the requests

std::string Service::about(Request&)
{
    XMLDoc doc = Codec::Envelope::response("about");
    XMLNode* pabout = doc.rootNode()->addNode("about");
    pabout->addNode("ostreld:ostreld", OstrelDataDB::Factory::version().text());
    pabout->addNode("OstrelData:Factory", OstrelData::Factory::version().text());
    pabout->addNode("OstrelDataDB:Factory", OstrelDataDB::Factory::version().text());
    pabout->addNode("OstrelDataXML:Factory", OstrelDataXML::Factory::version().text());
    return text(doc);
}

std::string Service::reloadFactory(Request& request)
{
    requirePermission(request, OSROstrel::nOSRP_Maintain_Products, "reloadfactory");
    audit(request, "reload asked by " + request.state.strLogin, false);
    // A failure, not a success: the asker gets a database error, the log the reason.
    if (!reload("asked by " + request.state.strLogin))
        OSTREL_RAISE(OstrelData::nNAX_DATABASE, "The model could not be reloaded whole; the daemon serves what it got.");
    return emptyReply("reloadfactory");
}

std::string Service::initialize(Request& request)
{
    const std::string strVersion = request.proot->attribute("version").str();
    const Corvel::Version ours = OstrelDataDB::Factory::version();
    Corvel::Version theirs;
    try {
        theirs = Corvel::Version::fromText(strVersion);
    } catch (const Corvel::Exception&) {
        OSTREL_RAISE(OstrelData::nNAX_VERSIONMISMATCH,
                     "Client version '" + strVersion + "' is not understood; this service is " + ours.text() + ".");
    }
    if (theirs.major() != ours.major())
        OSTREL_RAISE(OstrelData::nNAX_VERSIONMISMATCH,
                     "Client version " + theirs.text() + " does not work with service version " + ours.text() + ".");
    XMLDoc doc = Codec::Envelope::response("rsa");
    Codec::RsaKey::toXML(doc.rootNode(), _keyPair.publicKey());
    return text(doc);
}

std::string Service::authenticate(Request& request)
{
    return login(request, false);
}

std::string Service::validate(Request& request)
{
    return login(request, true);
}

std::string Service::login(Request& request, bool bValidate)
{
    const char* pszWhat = bValidate ? "validation" : "login";
    requireSafeTransport(request);
    const XMLNode* puser = request.payload("user");
    const std::string strToken = request.payloadText("authenticationtoken");
    const XMLNode* pprofile = bValidate ? nullptr : request.proot->findChild("profile");
    const OstrelData::User::Key claimed = claimedUser(puser);
    const std::string& strDomain = claimed.first;
    const std::string& strUserId = claimed.second;
    // Clients send an empty profile name for "the default".
    std::string strProfile;
    const XMLNode* pname = pprofile != nullptr ? pprofile->findChild("profile") : nullptr;
    if (pname != nullptr && !pname->value().isNull()) strProfile = pname->value().str();
    const std::string strShown = strDomain + "/" + strUserId;

    // The login's work, from the RSA step to the reply, runs in the turn dispatch() took for it:
    // turns go round the peers, so one that floods the daemon waits for its own.
    // Made where the connection keeps it, so that the user's grants are never copied.
    std::shared_ptr<AuthenticatedUser> plogin = std::make_shared<AuthenticatedUser>();
    AuthenticatedUser& authenticated = *plogin;
    std::string strPassword;
    std::string strStamp;
    try {
        if (!_keyPair.decrypt(strToken, strPassword))
            OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATIONFAILED, "Failed to decrypt authentication token.");
        OstrelData::Authenticator& authenticator = OstrelData::internal::registeredAuthenticator(strDomain);
        OstrelData::User user(Factory::domains().at(strDomain), strUserId, "", "", "");
        const OstrelData::PasswordAuthenticationToken token(strPassword);
        // The account, its teams and its grants are read over one pooled
        // connection, on SQLite as one view under one lock of the file instead of one each. The
        // authenticator lets the database go while it hashes.
        OstrelDal::ThreadReads reads;
        // A session kept later rests on the stamp of what this login proved, so it is taken with
        // the login where the authenticator can tell it, and asked for afterwards where not.
        const bool bStamps = !bValidate && dynamic_cast<OstrelData::AccountState*>(&authenticator) != nullptr;
        auto* pstamped = bStamps ? dynamic_cast<OstrelData::StampedLogin*>(&authenticator) : nullptr;
        if (pstamped != nullptr)
            authenticated = pstamped->authenticateStamped(user, token, profileNamed(strProfile), strStamp);
        else
            authenticated = authenticator.authenticate(user, token, profileNamed(strProfile));
        OstrelData::wipePassword(strPassword);
        // Before the grants are read: a directory asked for the stamp is then waited for while
        // this login holds nothing of the database.
        if (bStamps && pstamped == nullptr) strStamp = credentialStamp(authenticated.key());
        // Authorisation only reads the registries and writes into this request's own user:
        // logins are authorised side by side.
        OstrelDataDB::Factory::authorize(authenticated);
    } catch (const OstrelData::Exception& e) {
        OstrelData::wipePassword(strPassword);
        if (e.errorCode() == OstrelData::nNAX_AUTHENTICATIONFAILED) _failureDelay.failed(peerKey(request.context));
        if (_pmetrics)
            _pmetrics->loginFinished(e.errorCode() == OstrelData::nNAX_AUTHENTICATIONFAILED
                                         ? refusedLoginOutcome(claimed)
                                         : Metrics::loginFailed,
                                     std::chrono::steady_clock::now() - request.tArrived);
        audit(request,
              std::string(pszWhat) + " failed: " + Corvel::EventLogger::clip(strShown) + ": " +
                  Corvel::EventLogger::clip(e.legend()) + " (code " + std::to_string(e.errorCode()) + ")",
              true);
        throw;
    } catch (...) {
        OstrelData::wipePassword(strPassword);
        if (_pmetrics)
            _pmetrics->loginFinished(Metrics::loginFailed, std::chrono::steady_clock::now() - request.tArrived);
        audit(request, std::string(pszWhat) + " failed: " + Corvel::EventLogger::clip(strShown) + ": internal failure",
              true);
        throw;
    }
    withoutToken(authenticated);
    audit(request, std::string(pszWhat) + " succeeded: " + shown(authenticated), false);
    if (!bValidate) {
        setLogin(request, std::move(plogin));
        request.state.strStamp = std::move(strStamp);
        request.state.bKept = false;
    }

    // The reply is most of a login's work after the RSA step: written straight as text.
    std::string strReply = OstrelDataXML::encoding::responseText("authenticateduser", authenticated);
    if (_pmetrics)
        _pmetrics->loginFinished(Metrics::loginSucceeded, std::chrono::steady_clock::now() - request.tArrived);
    return strReply;
}

std::string Service::authenticatedUser(Request& request)
{
    return OstrelDataXML::encoding::responseText("authenticateduser", request.login());
}

std::string Service::passwd(Request& request)
{
    requireSafeTransport(request);
    const XMLNode* puser = request.payload("authenticateduser");
    const std::string strCurrent = request.payloadText("authenticationtokencurrent");
    const std::string strNew = request.payloadText("authenticationtokennew");
    const ClaimedLogin claimed = claimedLogin(puser);
    const AuthenticatedUser& own = request.login();
    if (claimed.strSession != own.session().str() || claimed.key != own.key())
        refuse(request, "passwd names another login than this connection's");

    std::string strPasswordCurrent, strPasswordNew;
    try {
        if (!_keyPair.decrypt(strCurrent, strPasswordCurrent) || !_keyPair.decrypt(strNew, strPasswordNew))
            OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATIONFAILED, "Failed to decrypt authentication token.");
        OstrelData::Authenticator& authenticator = OstrelData::internal::registeredAuthenticator(own.domain().domain());
        OstrelData::PasswordAuthenticationToken current(strPasswordCurrent), changed(strPasswordNew);
        OstrelData::wipePassword(strPasswordCurrent);
        OstrelData::wipePassword(strPasswordNew);
        authenticator.passwd(own, current, changed);
    } catch (const OstrelData::Exception& e) {
        OstrelData::wipePassword(strPasswordCurrent);
        OstrelData::wipePassword(strPasswordNew);
        if (e.errorCode() == OstrelData::nNAX_AUTHENTICATIONFAILED) _failureDelay.failed(peerKey(request.context));
        audit(request, "password change failed: " + shown(own) + ": " + Corvel::EventLogger::clip(e.legend()), true);
        throw;
    }
    audit(request, "password changed: " + shown(own), false);
    return emptyReply("passwd");
}

std::string Service::persistSession(Request& request)
{
    const XMLNode* puser = request.payload("authenticateduser");
    const ClaimedLogin claimed = claimedLogin(puser);
    const AuthenticatedUser& own = request.login();
    if (claimed.strSession != own.session().str() || claimed.key != own.key())
        refuse(request, "persistsession names another login than this connection's");
    // What is kept is the connection's own login, by its key and profile: whatever else the
    // element says, its grants included, is ignored (they are found again at retrieval).
    std::string strStamp;
    if (stampsCredentials(own.key())) {
        strStamp = credentialStamp(own.key());
        // A login is kept only on the credentials it proved.
        if (strStamp.empty() || strStamp != request.state.strStamp)
            refuse(request, "persistsession after the account was locked or removed or its password changed");
    }
    if (request.state.bKept) {
        KeptSession already;
        if (!_psessions->find(own.session().str(), already) || already.key != own.key()) {
            // The connection's own login goes on: a kept session also ends by idling, which its
            // login, busy on this connection, need not have done.
            audit(request, "persistsession of an ended session: " + shown(own), true);
            OSTREL_RAISE(OstrelData::nNAX_BADSESSION, "Session ended.");
        }
        audit(request, "session kept already: " + shown(own), false);
        return emptyReply("persistsession");
    }
    try {
        _psessions->keep(own.session().str(), own.key(), own.profile().profile(), strStamp);
        request.state.bKept = true;
    } catch (const OstrelData::Exception& e) {
        // Kept already (this connection resumed it, or keeps it a second time): it stays as it
        // is, its lifetime counted from when it was first kept.
        KeptSession already;
        if (e.errorCode() != OstrelData::nNAX_BADSESSION || !_psessions->find(own.session().str(), already) ||
            already.key != own.key())
            throw;
        request.state.bKept = true;
        audit(request, "session kept already: " + shown(own), false);
        return emptyReply("persistsession");
    }
    audit(request, "session kept: " + shown(own), false);
    return emptyReply("persistsession");
}

std::string Service::retrieveSession(Request& request)
{
    // A session id is as good as a password: it does not cross a network in clear either.
    requireSafeTransport(request);
    const OstrelData::Session session = Codec::Session::fromXML(request.payload("session"));
    KeptSession kept;
    try {
        kept = _psessions->use(session.str());
    } catch (const OstrelData::Exception& e) {
        if (e.errorCode() != OstrelData::nNAX_DATABASE)
            audit(request, "session refused: " + Corvel::EventLogger::clip(e.legend()), true);
        throw;
    }
    const std::string strShown = shown(kept.key);
    // A kept session is only as good as the login it was kept from: it ends when it grows older
    // than its lifetime, or when the account is locked or removed or its password changes.
    std::string strEnded;
    if (std::time(nullptr) - kept.tCreated > _nSessionLifetimeSeconds)
        strEnded = "kept longer than " + std::to_string(_nSessionLifetimeSeconds.load()) + " seconds";
    else if (!kept.strStamp.empty() && credentialStamp(kept.key) != kept.strStamp)
        strEnded = "the account was locked or removed, or its password changed";
    if (!strEnded.empty()) {
        _psessions->end(kept.strDigest);
        audit(request, "session of " + strShown + " ended: " + strEnded, true);
        OSTREL_RAISE(OstrelData::nNAX_BADSESSION, "Session ended.");
    }
    // The grants as they are now, not as they were when the session was kept.
    AuthenticatedUser current;
    try {
        // The account, its teams and its grants are read over one pooled connection, on SQLite as
        // one view under one lock of the file, as a login reads them. Begun before the factory's
        // lock is waited for, it holds nothing yet.
        OstrelDal::ThreadReads reads;
        auto itDomain = Factory::domains().find(kept.key.first);
        if (itDomain == Factory::domains().end()) OSTREL_RAISE(OstrelData::nNAX_USERNOTFOUND, "domain gone");
        OstrelData::User user(itDomain->second, kept.key.second, "", "", "");
        {
            Corvel::MutexLock factory(_mxFactory);
            OstrelData::internal::registeredAuthenticator(user.domain().domain()).user(user, true);
        }
        current = AuthenticatedUser(user, OstrelData::SessionString(session.str()), profileNamed(kept.strProfile));
        OstrelDataDB::Factory::authorize(current);
    } catch (const OstrelData::Exception& e) {
        if (e.errorCode() == OstrelData::nNAX_USERNOTFOUND) {
            _psessions->end(kept.strDigest);
            audit(request, "session of " + strShown + " ended: the user is gone", true);
            OSTREL_RAISE(OstrelData::nNAX_BADSESSION, "Session ended.");
        }
        audit(request, "session refused: " + Corvel::EventLogger::clip(e.legend()), true);
        throw;
    }
    withoutToken(current);
    audit(request, "session resumed: " + shown(current), false);
    setLogin(request, current);
    // The resumed login rests on the credentials the session was kept on (checked above), and may
    // be kept again on them.
    request.state.strStamp = kept.strStamp;
    request.state.bKept = true;
    return OstrelDataXML::encoding::responseText("authenticateduser", current);
}

std::string Service::credentialStamp(const OstrelData::User::Key& key) const
{
    auto* paccount = dynamic_cast<OstrelData::AccountState*>(&OstrelData::internal::registeredAuthenticator(key.first));
    return paccount != nullptr ? paccount->credentialStamp(key.second) : std::string();
}

Metrics::LoginOutcome Service::refusedLoginOutcome(const OstrelData::User::Key& key) const
{
    // The plug-in's refusal says the same of a locked account as of a wrong password, on purpose:
    // only its account state tells them apart, asked only when metrics are on.
    try {
        auto* pcontrol =
            dynamic_cast<OstrelData::AccountControl*>(&OstrelData::internal::registeredAuthenticator(key.first));
        if (pcontrol != nullptr && pcontrol->accountState(key.second).lock != OstrelData::AccountControl::lockNone)
            return Metrics::loginLockedOut;
    } catch (...) {
        // An unknown user or domain, or a store that fails: a plain failure.
    }
    return Metrics::loginFailed;
}

bool Service::stampsCredentials(const OstrelData::User::Key& key) const
{
    return dynamic_cast<OstrelData::AccountState*>(&OstrelData::internal::registeredAuthenticator(key.first)) != nullptr;
}

std::string Service::killSession(Request& request)
{
    const OstrelData::Session session = Codec::Session::fromXML(request.payload("session"));
    const AuthenticatedUser& own = request.login();
    KeptSession kept;
    if (!_psessions->find(session.str(), kept)) OSTREL_RAISE(OstrelData::nNAX_BADSESSION, "No such session.");
    if (kept.key != own.key() && !holdsPermission(own, OSROstrel::nOSRP_Administer_Users))
        refuse(request, "killsession of another user's session needs permission " +
                            std::to_string(OSROstrel::nOSRP_Administer_Users) + " (administer users) of product 0");
    if (!_psessions->end(kept.strDigest)) OSTREL_RAISE(OstrelData::nNAX_BADSESSION, "No such session.");
    audit(request, "session ended: " + shown(kept.key) + " by " + shown(own), false);
    if (own.session().str() == session.str()) clearLogin(request);
    return emptyReply("killsession");
}

std::string Service::user(Request& request)
{
    const XMLNode* puser = request.payload("user");
    const bool bRecurse = request.proot->attribute("recurse") == "Y";
    OstrelData::User user;
    {
        // Decoded into anchors of the request's own, so that nothing the client names outlives it.
        OstrelDataXML::decoding::LocalAnchors anchors;
        OstrelDataXML::decoding::Scope scope(anchors);
        user = rebased(Codec::User::fromXML(puser));
    }
    if (user.key() != request.login().key())
        requirePermission(request, OSROstrel::nOSRP_Administer_Users, "user of another user");
    {
        Corvel::MutexLock factory(_mxFactory);
        OstrelDataDB::Factory::user(user, bRecurse);
    }
    withoutToken(user);
    XMLDoc doc = Codec::Envelope::response("user");
    Codec::User::toXML(doc.rootNode(), user);
    return text(doc);
}

std::string Service::team(Request& request)
{
    const XMLNode* pteam = request.payload("team");
    const bool bReload = request.proot->attribute("reload") == "Y";
    // Only the number counts: the rest of the element is the client's copy, which may be a bare
    // placeholder, and the daemon answers from its own.
    const XMLNode* pnumber = pteam->findChild("team");
    const std::string strNumber = pnumber != nullptr ? pnumber->value().str() : std::string();
    char* pszEnd = nullptr;
    errno = 0;
    const long nNumber = std::strtol(strNumber.c_str(), &pszEnd, 10);
    if (strNumber.empty() || *pszEnd != '\0' || errno == ERANGE || nNumber < INT_MIN || nNumber > INT_MAX)
        OSTREL_RAISE(OstrelData::nNAX_MALFORMEDXML, "No team node in Team.");
    const int nTeam = static_cast<int>(nNumber);
    const OstrelData::User& own = request.login();
    if (own.teams().count(nTeam) == 0)
        requirePermission(request, OSROstrel::nOSRP_Administer_Teams, "team of which the user is no member");
    OstrelData::Team team(OstrelData::Customer::allCustomers, nTeam, "");
    {
        Corvel::MutexLock factory(_mxFactory);
        OstrelData::Factory::team(team, bReload);
    }
    membersWithoutToken(team);
    XMLDoc doc = Codec::Envelope::response("team");
    Codec::Team::toXML(doc.rootNode(), team, true);
    return text(doc);
}

std::string Service::teams(Request&)
{
    return mapReply<Codec::TeamMap>("teams", Factory::teams());
}

std::string Service::products(Request&)
{
    return mapReply<Codec::ProductMap>("products", Factory::products());
}

std::string Service::domains(Request&)
{
    return mapReply<Codec::DomainMap>("domains", Factory::domains());
}

std::string Service::customers(Request&)
{
    return mapReply<Codec::CustomerMap>("customers", Factory::customers());
}

std::string Service::profiles(Request& request)
{
    // The profiles meant for the client's host join the common ones.
    const std::string strHost = peerHost(request.context.peer());
    XMLDoc doc = Codec::Envelope::response("profiles");
    if (strHost.empty()) {
        Codec::ProfileMap::toXML(doc.rootNode(), Factory::profiles());
        return text(doc);
    }
    OstrelData::ProfileMap profileS;
    {
        Corvel::MutexLock factory(_mxFactory);
        profileS = OstrelDataDB::Factory::profiles(strHost);
    }
    Codec::ProfileMap::toXML(doc.rootNode(), profileS);
    return text(doc);
}

std::string Service::who(Request& request)
{
    requirePermission(request, OSROstrel::nOSRP_Administer_Users, "who");
    OstrelDataXML::AuthenticatedUserMap userS;
    {
        Corvel::MutexLock logins(_mxLogins);
        for (const auto& entry : _loginS)
            userS.insert_or_assign(entry.second->key(), *entry.second);
    }
    for (const KeptSession& kept : _psessions->all()) {
        if (userS.count(kept.key) != 0) continue;
        auto itDomain = Factory::domains().find(kept.key.first);
        if (itDomain == Factory::domains().end()) continue;
        userS.insert_or_assign(kept.key, AuthenticatedUser(OstrelData::User(itDomain->second, kept.key.second, "", "", ""),
                                                           OstrelData::SessionString(pszHiddenSession),
                                                           profileNamed(kept.strProfile)));
    }
    // A session id is a bearer credential: with it, retrievesession makes anyone that user. "who"
    // tells who is logged in, never how to become them (clients need some text to read there).
    for (auto& entry : userS) {
        withoutToken(entry.second);
        entry.second.session() = OstrelData::Session(pszHiddenSession);
    }
    XMLDoc doc = Codec::Envelope::response("who");
    Codec::AuthenticatedUserMap::toXML(doc.rootNode(), userS);
    return text(doc);
}

// ---- rules and bookkeeping

void Service::refuse(const Request& request, const std::string& strWhy) const
{
    audit(request, "refused: " + Corvel::EventLogger::clip(strWhy), true);
    OSTREL_RAISE(OstrelData::nNAX_PERMISSIONDENIED, strWhy);
}

void Service::requireSafeTransport(const Request& request) const
{
    if (passwordTransportAllowed(request.context.peer(), request.context.isTls(), _bAllowPlaintextLogins)) return;
    refuse(request, "passwords and session ids are not taken over plain TCP from beyond this machine; connect "
                    "with tls:HOST:PORT (or start ostreld with --allow-plaintext-logins on a protected network)");
}

void Service::requirePermission(const Request& request, int nPermission, const char* pszWhat) const
{
    if (holdsPermission(request.login(), nPermission)) return;
    refuse(request, std::string(pszWhat) + " needs permission " + std::to_string(nPermission) + " (" +
                        permissionName(nPermission) + ") of product 0");
}

void Service::setLogin(Request& request, const AuthenticatedUser& user)
{
    setLogin(request, std::make_shared<AuthenticatedUser>(user));
}

void Service::setLogin(Request& request, std::shared_ptr<AuthenticatedUser> plogin)
{
    request.state.plogin = plogin;
    request.state.strLogin = shown(*plogin);
    request.context.setLoggedIn(true);
    Corvel::MutexLock logins(_mxLogins);
    _loginS.insert_or_assign(request.context.id(), std::move(plogin));
}

void Service::clearLogin(Request& request)
{
    request.state.plogin.reset();
    request.state.strLogin.clear();
    request.state.strStamp.clear();
    request.state.bKept = false;
    request.context.setLoggedIn(false);
    Corvel::MutexLock logins(_mxLogins);
    _loginS.erase(request.context.id());
}

void Service::audit(const Request& request, const std::string& strText, bool bWarning) const
{
    Corvel::EventLogger& logger = Corvel::EventLogger::theLogger();
    if (bWarning) {
        // One peer's stream of failures is summed up rather than let fill the disk.
        std::string strSummary;
        bool bAdmit = _auditThrottle.admit(peerKey(request.context), strSummary);
        if (!strSummary.empty()) logger.logWarning("audit: " + strSummary, Corvel::layerSecurity);
        if (!bAdmit) return;
    }
    std::string strLine = "audit: " + Corvel::EventLogger::clip(request.strName) + " from " + request.context.peer();
    if (request.loggedIn()) strLine += " (" + request.state.strLogin + ")";
    if (!request.context.tlsSubject().empty()) strLine += " [certificate " + request.context.tlsSubject() + "]";
    // The parts a client chose are cut already; this bounds what is left.
    strLine += ": " + (strText.size() <= 1024 ? strText : strText.substr(0, 1024) + "...(cut)");
    if (bWarning)
        logger.logWarning(strLine, Corvel::layerSecurity);
    else
        logger.logInfo(strLine, Corvel::layerSecurity);
}

} // namespace Ostreld
