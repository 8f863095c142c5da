// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_DOMAINQUERYBASE_H
#define OSTRELDAL_DOMAINQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "Domain": a domain, its customer and the authentication library that serves it.
class OSTRELDAL_API DomainQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit DomainQueryBase(const VeskDal::SqlSchema& schema);
    explicit DomainQueryBase(const VeskDal::SqlTable& table);

    // Runs one statement on database (see QueryPattern); the result is rows delivered or affected.
    virtual int select(VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database,
                       VeskDal::SqlQueryBase::QueryType type) = 0;
    virtual int insert(VeskDal::DalDatabase& database) = 0;
    virtual int update(VeskDal::DalDatabase& database) = 0;
    virtual int remove(VeskDal::DalDatabase& database) = 0;
    // Appends column = value for each valid key constraint, in key order.
    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS);

    const VeskDal::SqlColumn& columnDomain() const { return _colDomain; }
    VeskDal::SqlColumn& columnDomain() { return _colDomain; }
    const VeskDal::SqlColumn& columnDescription() const { return _colDescription; }
    VeskDal::SqlColumn& columnDescription() { return _colDescription; }
    const VeskDal::SqlColumn& columnCustomer() const { return _colCustomer; }
    VeskDal::SqlColumn& columnCustomer() { return _colCustomer; }
    const VeskDal::SqlColumn& columnAuthenticationLibrary() const { return _colAuthenticationLibrary; }
    VeskDal::SqlColumn& columnAuthenticationLibrary() { return _colAuthenticationLibrary; }
    const VeskDal::SqlColumn& columnUserTools() const { return _colUserTools; }
    VeskDal::SqlColumn& columnUserTools() { return _colUserTools; }
    void constrainDomain(const VeskDal::SqlColumnPtr& value) { _valDomainConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbDomain;
    VeskDal::SqlColumn _colDomain{this, _tbDomain, "Domain", ""};
    VeskDal::SqlColumn _colDescription{this, _tbDomain, "Description", ""};
    VeskDal::SqlColumn _colCustomer{this, _tbDomain, "Customer", ""};
    VeskDal::SqlColumn _colAuthenticationLibrary{this, _tbDomain, "AuthenticationLibrary", ""};
    VeskDal::SqlColumn _colUserTools{this, _tbDomain, "UserTools", ""};
    VeskDal::SqlColumnPtr _valDomainConstraint;
};

} // namespace OstrelDal

#endif
