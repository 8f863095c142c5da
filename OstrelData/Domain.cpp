#include "OstrelData/Domain.h"

#include "OstrelData/Authenticator.h"
#include "OstrelData/Exception.h"

namespace OstrelData {

Domain::Domain() : _pcustomer(nullptr), _pauthenticator(nullptr) {}

Domain::Domain(const Customer& customer, std::string strDomain)
    : _pcustomer(&customer), _strDomain(std::move(strDomain)), _pauthenticator(nullptr)
{
}

// The user cache is not part of a domain's value.
Domain::Domain(const Domain& other)
    : Base(other), _pcustomer(other._pcustomer), _strDomain(other._strDomain),
      _strDescription(other._strDescription), _pauthenticator(other._pauthenticator)
{
}

Domain& Domain::operator=(const Domain& other)
{
    if (this != &other) {
        _pcustomer = other._pcustomer;
        _strDomain = other._strDomain;
        _strDescription = other._strDescription;
        _pauthenticator = other._pauthenticator;
    }
    return *this;
}

Domain::~Domain() = default;

const Customer* Domain::customer() const
{
    if (_pcustomer == nullptr)
        OSTREL_RAISE(nNAX_NOCUSTOMERSET, "Customer pointer is null.");
    return _pcustomer;
}

Authenticator* Domain::authenticator() const
{
    if (_pauthenticator == nullptr)
        OSTREL_RAISE(nNAX_NOAUTHENTICATORSET, "Authenticator pointer is NULL.");
    return _pauthenticator;
}

UserMap& Domain::users(bool bRefresh)
{
    if (bRefresh) {
        _userS.clear();
        authenticator()->users(_userS);
    }
    return _userS;
}

void Domain::createUser(const User& user) const
{
    authenticator()->createUser(user);
}

void Domain::deleteUser(const User& user) const
{
    authenticator()->deleteUser(user);
}

} // namespace OstrelData
