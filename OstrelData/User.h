#ifndef OSTRELDATA_USER_H
#define OSTRELDATA_USER_H

#include <map>
#include <string>
#include <utility>

#include "OstrelData/Base.h"
#include "OstrelData/CopyOnWrite.h"
#include "OstrelData/Product.h"

namespace OstrelData {

class Domain;
class Team;
class TeamMap;

// A user of one domain, with the products he is authorised for and the teams
// he belongs to.
//
// Copies are independent values, but a copy shares the product map and the team
// map of its source until either side asks for a modifiable map (products(),
// teams() on a non-const user). Read through a const user (or a const
// reference) to avoid cloning; hasRole, hasPermission and isMemberOf never
// clone. A modifiable reference taken from products() or teams() is this
// user's own only until the user is next copied: take it again after copying.
class OSTRELDATA_API User : public Base {
public:
    // (domain name, user id).
    typedef std::pair<std::string, std::string> Key;

    User();
    User(const Domain& domain, const std::string& strUserId, const std::string& strName,
         const std::string& strAuthenticationToken, const std::string& strContact);
    User(const User& other);
    User& operator=(const User& other);
    ~User() override;

    // Same domain name and user id; throws 503 when either user has no domain.
    bool operator==(const User& other) const;
    bool operator!=(const User& other) const { return !(*this == other); }

    // The user's domain; throws 503 when none is set.
    const Domain& domain() const;
    bool hasDomain() const { return _pdomain != nullptr; }
    const std::string& userId() const { return _strUserId; }
    const std::string& name() const { return _strName; }
    const std::string& authenticationToken() const { return _strAuthenticationToken; }
    const std::string& contact() const { return _strContact; }
    const ProductMap& products() const { return _pproductS.read(); }
    ProductMap& products() { return _pproductS.write(); }
    const TeamMap& teams() const { return _pteamS.read(); }
    TeamMap& teams() { return _pteamS.write(); }
    // Made by the constructors only: setUserId leaves it as it was.
    const Key& key() const { return _key; }

    void setUserId(const std::string& strUserId) { _strUserId = strUserId; }
    void setName(const std::string& strName) { _strName = strName; }
    void setAuthenticationToken(const std::string& strToken) { _strAuthenticationToken = strToken; }
    void setContact(const std::string& strContact) { _strContact = strContact; }

    // Forwarded to the domain's authenticator (503, 5021 or the authenticator's own failure).
    void update() const;
    // The authenticator first; only when it returns is the team map changed.
    void addTeam(Team& team);
    void deleteTeam(Team& team);

    // Whether the user's product of the role's (permission's) product holds it
    // granted; throws 5022 when the argument has no product.
    bool hasRole(const Role& role) const;
    bool hasPermission(const Permission& permission) const;
    bool isMemberOf(const Team& team) const;
    // Member of at least one team of the map.
    bool isMemberOf(const TeamMap& teamS) const;

    // "domain/userid", "domain\userid" or "userid@domain" (separators tried in
    // that order) against the factory's domain registry; throws 6151 for bad
    // text and 103 with the domain name for an unregistered domain.
    static User fromText(const std::string& strText);

private:
    const Domain* _pdomain;
    std::string _strUserId;
    std::string _strName;
    std::string _strAuthenticationToken;
    std::string _strContact;
    CopyOnWrite<ProductMap> _pproductS;
    CopyOnWrite<TeamMap> _pteamS;
    Key _key;
};

// Users by (domain name, user id).
class OSTRELDATA_API UserMap : public std::map<User::Key, User> {
public:
    using std::map<User::Key, User>::map;
};

} // namespace OstrelData

#endif
