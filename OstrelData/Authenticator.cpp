#include "OstrelData/Authenticator.h"

#include "OstrelData/Exception.h"
#include "OstrelData/KeptObjects.h"

namespace OstrelData {

Authenticator::Authenticator(const InitMap& initAuthenticator, const Domain& domain,
                             const std::string& strDescription, int nAuthenticationLibrary)
    : _domain(domain), _strDescription(strDescription), _nAuthenticationLibrary(nAuthenticationLibrary),
      _initAuthenticator(initAuthenticator), _bUserTools(false)
{
    keepObject(this);
}

Authenticator::Authenticator(const Authenticator& other)
    : Base(other), _domain(other._domain), _strDescription(other._strDescription),
      _nAuthenticationLibrary(other._nAuthenticationLibrary), _initAuthenticator(other._initAuthenticator),
      _bUserTools(other._bUserTools)
{
    keepObject(this);
}

Authenticator& Authenticator::operator=(const Authenticator& other)
{
    if (this != &other) {
        _domain = other._domain;
        _strDescription = other._strDescription;
        _nAuthenticationLibrary = other._nAuthenticationLibrary;
        _initAuthenticator = other._initAuthenticator;
        _bUserTools = other._bUserTools;
    }
    return *this;
}

Authenticator::~Authenticator()
{
    releaseObject(this);
}

void Authenticator::users(UserMap&)
{
    OSTREL_RAISE(nNAX_NOTIMPLEMENTED, "users");
}

bool Authenticator::passwd(const AuthenticatedUser&, AuthenticationToken&, AuthenticationToken&)
{
    OSTREL_RAISE(nNAX_NOTIMPLEMENTED, "passwd");
}

void Authenticator::createUser(const User&)
{
    OSTREL_RAISE(nNAX_NOTIMPLEMENTED, "createUser");
}

void Authenticator::updateUser(const User&)
{
    OSTREL_RAISE(nNAX_NOTIMPLEMENTED, "updateUser");
}

void Authenticator::deleteUser(const User&)
{
    OSTREL_RAISE(nNAX_NOTIMPLEMENTED, "deleteUser");
}

void Authenticator::createTeamMember(Team&, User&)
{
    OSTREL_RAISE(nNAX_NOTIMPLEMENTED, "createTeamMember");
}

void Authenticator::deleteTeamMember(Team&, User&)
{
    OSTREL_RAISE(nNAX_NOTIMPLEMENTED, "deleteTeamMember");
}

} // namespace OstrelData
