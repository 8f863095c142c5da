#ifndef OSTRELDATA_CUSTOMER_H
#define OSTRELDATA_CUSTOMER_H

#include <map>
#include <string>

#include "OstrelData/Base.h"

namespace OstrelData {

class Domain;
class Team;

// Domains by name; the pointers are not owned (they point into the registries).
class OSTRELDATA_API DomainPtrMap : public std::map<std::string, Domain*> {
public:
    using std::map<std::string, Domain*>::map;
};

// Teams by number; the pointers are not owned.
class OSTRELDATA_API TeamPtrMap : public std::map<int, Team*> {
public:
    using std::map<int, Team*>::map;
};

// A customer owns domains and teams (by pointer into the registries).
class OSTRELDATA_API Customer : public Base {
public:
    Customer();
    Customer(const std::string& strCustomer, const std::string& strName);
    Customer(const Customer& other);
    Customer& operator=(const Customer& other);
    ~Customer() override;

    const std::string& customer() const { return _strCustomer; }
    const std::string& name() const { return _strName; }
    const DomainPtrMap& domains() const { return _domainS; }
    DomainPtrMap& domains() { return _domainS; }
    const TeamPtrMap& teams() const { return _teamS; }
    TeamPtrMap& teams() { return _teamS; }
    void setName(const std::string& strName) { _strName = strName; }

    // Stands for any customer where a domain is built from its name alone: "*".
    static const Customer allCustomers;

private:
    std::string _strCustomer;
    std::string _strName;
    DomainPtrMap _domainS;
    TeamPtrMap _teamS;
};

// Customers by identifier.
class OSTRELDATA_API CustomerMap : public std::map<std::string, Customer> {
public:
    using std::map<std::string, Customer>::map;
};

} // namespace OstrelData

#endif
