#ifndef OSTRELDATA_DOMAIN_H
#define OSTRELDATA_DOMAIN_H

#include <map>
#include <string>

#include "OstrelData/Base.h"
#include "OstrelData/Customer.h"
#include "OstrelData/User.h"

namespace OstrelData {

class Authenticator;

// A domain of a customer, served by one authenticator that vouches for its
// users. The user cache belongs to this object alone: copies start with an
// empty cache and assignment keeps the target's.
class OSTRELDATA_API Domain : public Base {
public:
    Domain();
    Domain(const Customer& customer, std::string strDomain);
    Domain(const Domain& other);
    Domain& operator=(const Domain& other);
    ~Domain() override;

    // Equal names.
    bool operator==(const Domain& other) const { return _strDomain == other._strDomain; }
    bool operator!=(const Domain& other) const { return !(*this == other); }

    // Throws 502 when no customer is set.
    const Customer* customer() const;
    const std::string& domain() const { return _strDomain; }
    const std::string& description() const { return _strDescription; }
    // Throws 5021 when no authenticator is set.
    Authenticator* authenticator() const;
    bool hasAuthenticator() const { return _pauthenticator != nullptr; }
    // The cache in its current state.
    const UserMap& users() const { return _userS; }

    void setDescription(const std::string& strDescription) { _strDescription = strDescription; }
    void setAuthenticator(Authenticator& authenticator) { _pauthenticator = &authenticator; }

    // With bRefresh, empties the cache and has the authenticator fill it again.
    UserMap& users(bool bRefresh);
    // Forwarded to the authenticator; the cache is not touched.
    void createUser(const User& user) const;
    void deleteUser(const User& user) const;

private:
    const Customer* _pcustomer;
    std::string _strDomain;
    std::string _strDescription;
    Authenticator* _pauthenticator;
    UserMap _userS;
};

// Domains by name.
class OSTRELDATA_API DomainMap : public std::map<std::string, Domain> {
public:
    using std::map<std::string, Domain>::map;
};

} // namespace OstrelData

#endif
