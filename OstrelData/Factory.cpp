#include "OstrelData/Factory.h"

#include "OstrelData/Exception.h"
#include "OstrelData/FactoryInternal.h"
#include "OstrelData/OSROstrel.h"

namespace OstrelData {

// One translation unit, so the order of definition is the order of construction.
ProductMap Factory::_productS;
DomainMap Factory::_domainS;
ProfileMap Factory::_profileS;
CustomerMap Factory::_customerS;
TeamMap Factory::_teamS;
XTeamMap Factory::_xteamS;
XTeamPtrAlienMap Factory::_alienS;
XTeamPtrAlienRevMap Factory::_ralienS;
PlatformMap Factory::_platformS;
SharedObjectMap Factory::_sharedObjectS;
AuthenticationLibraryMap Factory::_authenticationLibraryTemplateS;
AuthenticationLibraryPtrMap Factory::_authenticationLibraryS;
AuthenticatorPtrMap Factory::_authenticatorS;
AuthenticatedUser Factory::_userAuth;
SessionMap Factory::_sessionS;
Exporter* Factory::_pexporter = nullptr;

namespace {

// The one place outside the class that reaches its registries.
struct Registries : Factory {
    static const DomainMap& domains() { return _domainS; }
    static const AuthenticatorPtrMap& authenticators() { return _authenticatorS; }
};

} // namespace

Authenticator& internal::registeredAuthenticator(const std::string& strDomain)
{
    if (Registries::domains().find(strDomain) == Registries::domains().end())
        OSTREL_RAISE(nNAX_AUTHENTICATIONFAILED, "No such Domain - " + strDomain + ".");
    AuthenticatorPtrMap::const_iterator it = Registries::authenticators().find(strDomain);
    if (it == Registries::authenticators().end() || it->second == nullptr)
        OSTREL_RAISE(nNAX_AUTHENTICATIONFAILED, "No such Authenticator - " + strDomain + ".");
    return *it->second;
}

AuthenticatedUser& Factory::authenticate(const User& user, const AuthenticationToken& authToken,
                                         const Profile& profile)
{
    Authenticator& authenticator = internal::registeredAuthenticator(user.domain().domain());
    AuthenticatedUser userAuth = authenticator.authenticate(user, authToken, profile);
    _userAuth = userAuth;
    return _userAuth;
}

AuthenticatedUser& Factory::authenticatedUser()
{
    if (_userAuth.session().str().empty())
        OSTREL_RAISE(nNAX_AUTHENTICATIONFAILED, "No user authenticated.");
    return _userAuth;
}

void Factory::setAuthenticatedUser(const AuthenticatedUser& user)
{
    _userAuth = user;
}

bool Factory::passwd(const AuthenticatedUser& user, AuthenticationToken& authTokenCurrent,
                     AuthenticationToken& authTokenNew)
{
    Authenticator& authenticator = internal::registeredAuthenticator(user.domain().domain());
    authenticator.passwd(user, authTokenCurrent, authTokenNew);
    return true;
}

void Factory::persistSession(AuthenticatedUser& user)
{
    _sessionS.addSession(user);
}

AuthenticatedUser& Factory::retrieveSession(const Session& s)
{
    const AuthenticatedUser& stored = _sessionS.session(s);
    _userAuth = stored;
    return _userAuth;
}

void Factory::killSession(const Session& s)
{
    _sessionS.kill(s);
}

void Factory::user(User& userF, bool bRecurse)
{
    const std::string strDomain = userF.domain().domain();
    DomainMap::iterator it = _domainS.find(strDomain);
    if (it == _domainS.end())
        OSTREL_RAISE(nNAX_DOMAINNOTFOUND, strDomain);
    it->second.authenticator()->user(userF, bRecurse);
}

void Factory::team(Team& teamF, bool bReload)
{
    TeamMap::const_iterator it = _teamS.find(teamF.team());
    if (it == _teamS.end())
        OSTREL_RAISE(nNAX_TEAMNOTFOUND, std::to_string(teamF.team()));
    teamF = it->second;
    if (bReload || static_cast<const Team&>(teamF).members().empty())
        teamF.loadMembers();
}

const XTeamPtrMap& Factory::teams(const AlienKey& keyAlien)
{
    static const XTeamPtrMap s_emptyS;
    XTeamPtrAlienMap::const_iterator it = _alienS.find(keyAlien);
    return it != _alienS.end() ? it->second : s_emptyS;
}

const XTeamPtrMap& Factory::teams(const Team& team)
{
    static const XTeamPtrMap s_emptyS;
    XTeamPtrAlienRevMap::const_iterator it = _ralienS.find(team.team());
    return it != _ralienS.end() ? it->second : s_emptyS;
}

Product& Factory::createProduct(int nProduct)
{
    return _productS.try_emplace(nProduct, nProduct).first->second;
}

Role& Factory::createRole(Product& product, int nRole)
{
    return product.roles()
        .try_emplace(nRole, product, nRole, std::string(), PRStatus(PRStatus::statusDenied))
        .first->second;
}

Permission& Factory::createPermission(Product& product, int nPermission)
{
    return product.permissions()
        .try_emplace(nPermission, product, nPermission, std::string(), PRStatus(PRStatus::statusDenied))
        .first->second;
}

Permission& Factory::createRolePermission(Role& role, const Permission& permission)
{
    const Role& roleLink = role;
    return role.permissions()
        .try_emplace(permission.permission(), roleLink, permission.permission(), permission.description(),
                     PRStatus(PRStatus::statusDenied))
        .first->second;
}

void Factory::mergeRolePermissionsIntoPermissions(ProductMap& productS)
{
    for (auto& entryProduct : productS)
        entryProduct.second.mergeGrantedRolePermissions();
}

bool Factory::hasProductPermission()
{
    ProductMap::const_iterator it = _productS.find(OSROstrel::nOSRD_Ostrel);
    if (it == _productS.end())
        return false;
    const Permission permission(it->second, OSROstrel::nOSRP_Maintain_Products, std::string(),
                                PRStatus(PRStatus::statusDenied));
    return _userAuth.hasPermission(permission);
}

Corvel::Version Factory::version()
{
    return Corvel::Version(OSTREL_VERSION_MAJOR, OSTREL_VERSION_MINOR, OSTREL_VERSION_PATCH, OSTREL_VERSION_TWEAK);
}

} // namespace OstrelData
