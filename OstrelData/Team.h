#ifndef OSTRELDATA_TEAM_H
#define OSTRELDATA_TEAM_H

#include <map>
#include <string>

#include "OstrelData/Base.h"
#include "OstrelData/CopyOnWrite.h"
#include "OstrelData/Customer.h"
#include "OstrelData/Product.h"
#include "OstrelData/TeamMember.h"

namespace OstrelData {

// A team of a customer: its members and the products granted to it.
//
// Like a user's maps, the member and product maps are shared between copies
// until one side asks for a modifiable map; read through a const team to avoid
// cloning. As with a user, take a modifiable reference again after copying.
class OSTRELDATA_API Team : public Base {
public:
    // A placeholder to be assigned over (number -1).
    Team();
    Team(const Customer& customer, int nTeam, const std::string& strName);
    Team(const Team& other);
    Team& operator=(const Team& other);
    ~Team() override;

    int team() const { return _nTeam; }
    // Throws 502 when no customer is set.
    const Customer& customer() const;
    bool hasCustomer() const { return _pcustomer != nullptr; }
    const std::string& name() const { return _strName; }
    const TeamMemberMap& members() const { return _pmemberS.read(); }
    TeamMemberMap& members() { return _pmemberS.write(); }
    const ProductMap& products() const { return _pproductS.read(); }
    ProductMap& products() { return _pproductS.write(); }
    void setCustomer(const Customer& customer) { _pcustomer = &customer; }
    void setName(const std::string& strName) { _strName = strName; }

    // Empties the member map, then lets the authenticator of each of the
    // customer's domains (in name order) add the members it knows.
    void loadMembers();

private:
    int _nTeam;
    const Customer* _pcustomer;
    std::string _strName;
    CopyOnWrite<TeamMemberMap> _pmemberS;
    CopyOnWrite<ProductMap> _pproductS;
};

// Teams by number.
class OSTRELDATA_API TeamMap : public std::map<int, Team> {
public:
    using std::map<int, Team>::map;
};

} // namespace OstrelData

#endif
