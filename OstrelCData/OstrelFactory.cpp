#include "OstrelCData/OstrelFactory.h"

#include <cstring>
#include <exception>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "Corvel/DaemonComm.h"
#include "Corvel/EventLogger.h"
#include "Corvel/Mutex.h"
#include "OstrelData/OstrelData.h"
#include "OstrelDataXML/OstrelFactory.h"

namespace {

using OstrelData::AuthenticatedUser;

// The token travels RSA-encrypted as one number of fewer than 4096 bytes.
constexpr std::size_t nMaxPasswordBytes = 4095;

// Every call's body runs under this one lock, so callers on several threads are
// served one at a time: the client link carries one request at a time and
// matches a reply to no caller, and the maps below, the shared domain registry
// and the client factory's state are shared by every caller. guarded() takes
// it, so each map below is touched only with it held.
Corvel::Mutex g_mxLibrary;

// Built in this order when the library is loaded, destroyed in reverse.
const std::string strOstrelCData = "OstrelCData";
Corvel::EventLogger g_logger(strOstrelCData);
// The users handed out: one entry per (domain name, user id); a handle is the
// address of an entry's value, stable until the entry is erased.
std::map<OstrelData::User::Key, AuthenticatedUser> g_userS;
// Each handle handed out (the address of a g_userS value) with the key of its
// entry, so that a handle is checked before it is used.
std::map<const void*, OstrelData::User::Key> g_handleS;
// The nodes of closed entries, emptied, kept by key and put back when the same
// user comes again. Freeing them would let the allocator give a closed user's
// address to the next user stored, and his stale handle would then pass the
// check as the other user's. So one address only ever names one user; what
// this keeps is one empty entry per user closed.
std::map<OstrelData::User::Key, AuthenticatedUser> g_closedS;

// The caller's text, refused when null.
std::string text(const char* psz, const char* pszWhat)
{
    if (!psz)
        OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, std::string("Null ") + pszWhat + ".");
    return psz;
}

// The caller's password as a token, with no other copy of it left behind.
OstrelData::PasswordAuthenticationToken passwordToken(const char* pszPassword)
{
    std::string strPassword = text(pszPassword, "password");
    OstrelData::PasswordAuthenticationToken token(strPassword);
    OstrelData::wipePassword(strPassword);
    return token;
}

AuthenticatedUser& entryOf(USER user)
{
    if (!user)
        OSTREL_RAISE(OstrelData::nNAX_USERNOTFOUND, "Null user handle.");
    if (g_handleS.find(user) == g_handleS.end())
        OSTREL_RAISE(OstrelData::nNAX_USERNOTFOUND, "Unknown user handle (closed or never handed out).");
    return *static_cast<AuthenticatedUser*>(user);
}

// Stores the user as the entry of his (domain, user id), replacing one there in place.
USER store(const AuthenticatedUser& user)
{
    const OstrelData::User::Key key(user.domain().domain(), user.userId());
    auto it = g_userS.find(key);
    if (it != g_userS.end()) {
        it->second = user;
        return &it->second;
    }
    auto node = g_closedS.extract(key);
    if (node.empty()) {
        it = g_userS.emplace(key, user).first;
    } else {
        node.mapped() = user;
        it = g_userS.insert(std::move(node)).position;
    }
    g_handleS.emplace(&it->second, key);
    return &it->second;
}

void print(const OstrelData::Exception& e)
{
    std::cerr << e << std::endl;
}

// Runs body under the library's lock and returns its result. Any failure is
// written to standard error and turned into the function's failure value by
// failed(exception): nothing may leave a function that C code calls. Every
// exported function goes through here once, and body never calls one of them.
template <class Body, class Failed>
auto guarded(Body body, Failed failed) -> decltype(body())
{
    Corvel::MutexLock lock(g_mxLibrary);
    try {
        return body();
    } catch (const OstrelData::Exception& e) {
        print(e);
        return failed(e);
    } catch (const std::exception& e) {
        OstrelData::Exception alien(__FILE__, __LINE__, OstrelData::nNAX_ALIENEXCEPTION, e.what(), false);
        print(alien);
        return failed(alien);
    } catch (...) {
        OstrelData::Exception unknown(__FILE__, __LINE__, OstrelData::nNAX_UNKNOWN, "Unknown Error.", false);
        print(unknown);
        return failed(unknown);
    }
}

int errorCodeOf(const OstrelData::Exception& e)
{
    return e.errorCode();
}
int minusOne(const OstrelData::Exception&)
{
    return -1;
}
int zero(const OstrelData::Exception&)
{
    return 0;
}
USER nullUser(const OstrelData::Exception&)
{
    return nullptr;
}

USER authenticate(const OstrelData::User& user, const OstrelData::PasswordAuthenticationToken& token,
                  const std::string& strProfile)
{
    if (token.str().size() > nMaxPasswordBytes)
        OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATIONFAILED, "Password too long (4096 bytes or more).");
    const OstrelData::Profile profile(strProfile, false);
    const AuthenticatedUser authenticated = OstrelDataXML::Factory::authenticate(user, token, profile);
    return store(authenticated);
}

// The shared domain registry takes the service's domain list. Entries are
// updated in place and none is removed, so that nothing pointing into the
// registry is left dangling by a refresh.
void refreshDomains()
{
    const OstrelData::DomainMap domainS = OstrelDataXML::Factory::domains();
    OstrelData::DomainMap& registry = OstrelData::Factory::domains();
    for (const auto& entry : domainS) {
        auto it = registry.find(entry.first);
        if (it == registry.end())
            registry.emplace(entry.first, entry.second);
        else
            it->second = entry.second;
    }
}

// One text of the user into the caller's buffer; the text is had first, so a
// failure leaves the buffer untouched.
template <class Get>
int copyText(char* pszBuffer, int nMaxLen, USER user, Get get)
{
    return guarded(
        [&]() {
            if (!pszBuffer || nMaxLen < 1)
                OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, "No room for the text (null buffer or length below 1).");
            const std::string strText = get(static_cast<const AuthenticatedUser&>(entryOf(user)));
            const std::size_t nCopy = std::min(strText.size(), static_cast<std::size_t>(nMaxLen - 1));
            std::memcpy(pszBuffer, strText.data(), nCopy);
            std::memset(pszBuffer + nCopy, 0, static_cast<std::size_t>(nMaxLen) - nCopy);
            return static_cast<int>(std::strlen(pszBuffer));
        },
        minusOne);
}

} // namespace

extern "C" {

int ostrel_init(const char* pszInit)
{
    return guarded(
        [&]() {
            OstrelDataXML::Factory::initialize(text(pszInit, "service"));
            return 0;
        },
        errorCodeOf);
}

int ostrel_tls(const char* pszCAFile, const char* pszPin, const char* pszCertFile, const char* pszKeyFile)
{
    return guarded(
        [&]() {
            Corvel::DaemonCommTls tls;
            tls.strCAFile = pszCAFile ? pszCAFile : "";
            tls.strPin = pszPin ? pszPin : "";
            tls.strCertFile = pszCertFile ? pszCertFile : "";
            tls.strKeyFile = pszKeyFile ? pszKeyFile : "";
            if (!tls.strPin.empty() && !Corvel::DaemonComm::isPin(tls.strPin))
                OSTREL_RAISE(OstrelData::nNAX_BADCONFIG,
                             "A TLS pin is the SHA-256 of a public key: 64 hex digits, or sha256// and Base64.");
            if (tls.strCertFile.empty() && !tls.strKeyFile.empty())
                OSTREL_RAISE(OstrelData::nNAX_BADCONFIG, "A TLS client key without its certificate.");
            Corvel::DaemonComm::setDefaultTls(tls);
            return 0;
        },
        errorCodeOf);
}

USER ostrel_authenticate(const char* pszUserId, const char* pszPassword, const char* pszProfile)
{
    return guarded(
        [&]() {
            const std::string strUserId = text(pszUserId, "user id");
            const OstrelData::PasswordAuthenticationToken password = passwordToken(pszPassword);
            const std::string strProfile = text(pszProfile, "profile");
            refreshDomains();
            return authenticate(OstrelData::User::fromText(strUserId), password, strProfile);
        },
        nullUser);
}

USER ostrel_authenticateD(const char* pszDomain, const char* pszUserId, const char* pszPassword,
                          const char* pszProfile)
{
    return guarded(
        [&]() {
            const OstrelData::Domain domain(OstrelData::Customer::allCustomers, text(pszDomain, "domain"));
            const OstrelData::User user(domain, text(pszUserId, "user id"), "", "", "");
            const OstrelData::PasswordAuthenticationToken password = passwordToken(pszPassword);
            return authenticate(user, password, text(pszProfile, "profile"));
        },
        nullUser);
}

int ostrel_persistSession(USER user)
{
    return guarded(
        [&]() {
            OstrelDataXML::Factory::persistSession(entryOf(user));
            return 0;
        },
        minusOne);
}

USER ostrel_retrieveSession(const char* pszSession)
{
    return guarded(
        [&]() {
            const OstrelData::SessionString session(text(pszSession, "session"));
            const AuthenticatedUser retrieved = OstrelDataXML::Factory::retrieveSession(session);
            return store(retrieved);
        },
        nullUser);
}

int ostrel_killSession(const char* pszSession)
{
    return guarded(
        [&]() {
            OstrelDataXML::Factory::killSession(OstrelData::SessionString(text(pszSession, "session")));
            return 0;
        },
        errorCodeOf);
}

int ostrel_session(char* pszSession, int nMaxLen, USER user)
{
    return copyText(pszSession, nMaxLen, user, [](const AuthenticatedUser& u) { return u.session().str(); });
}

int ostrel_customer(char* pszCustomer, int nMaxLen, USER user)
{
    return copyText(pszCustomer, nMaxLen, user,
                    [](const AuthenticatedUser& u) { return u.domain().customer()->customer(); });
}

int ostrel_domain(char* pszDomain, int nMaxLen, USER user)
{
    return copyText(pszDomain, nMaxLen, user, [](const AuthenticatedUser& u) { return u.domain().domain(); });
}

int ostrel_userId(char* pszId, int nMaxLen, USER user)
{
    return copyText(pszId, nMaxLen, user, [](const AuthenticatedUser& u) { return u.userId(); });
}

int ostrel_userName(char* pszName, int nMaxLen, USER user)
{
    return copyText(pszName, nMaxLen, user, [](const AuthenticatedUser& u) { return u.name(); });
}

int ostrel_userContact(char* pszContact, int nMaxLen, USER user)
{
    return copyText(pszContact, nMaxLen, user, [](const AuthenticatedUser& u) { return u.contact(); });
}

int ostrel_isMemberOf(int nTeam, USER user)
{
    return guarded(
        [&]() {
            const AuthenticatedUser& u = entryOf(user);
            const OstrelData::Team team(*u.domain().customer(), nTeam, "");
            return u.isMemberOf(team) ? 1 : 0;
        },
        zero);
}

int ostrel_hasRole(int nProduct, int nRole, USER user)
{
    return guarded(
        [&]() {
            const AuthenticatedUser& u = entryOf(user);
            const OstrelData::Product product(nProduct);
            const OstrelData::Role role(product, nRole, "", OstrelData::PRStatus(OstrelData::PRStatus::statusDenied));
            return u.hasRole(role) ? 1 : 0;
        },
        zero);
}

int ostrel_hasPermission(int nProduct, int nPermission, USER user)
{
    return guarded(
        [&]() {
            const AuthenticatedUser& u = entryOf(user);
            const OstrelData::Product product(nProduct);
            const OstrelData::Permission permission(product, nPermission, "",
                                                    OstrelData::PRStatus(OstrelData::PRStatus::statusDenied));
            return u.hasPermission(permission) ? 1 : 0;
        },
        zero);
}

void ostrel_close(USER user)
{
    guarded(
        [&]() {
            entryOf(user);
            std::cerr << "Deleting user\n";
            auto it = g_handleS.find(user);
            auto node = g_userS.extract(it->second);
            g_handleS.erase(it);
            if (!node.empty()) {
                node.mapped() = AuthenticatedUser();
                g_closedS.insert(std::move(node));
            }
            return 0;
        },
        zero);
}

} // extern "C"
