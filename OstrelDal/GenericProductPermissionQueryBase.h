// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_GENERICPRODUCTPERMISSIONQUERYBASE_H
#define OSTRELDAL_GENERICPRODUCTPERMISSIONQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// Any permission grant table (customer, team or user grants) on a table the caller supplies; the
// columns are selected under their own names whatever the alias of the table.
class OSTRELDAL_API GenericProductPermissionQueryBase : public VeskDal::SqlQueryBase {
public:
    explicit GenericProductPermissionQueryBase(const VeskDal::SqlTable& table);

    // Runs one statement on database (see QueryPattern); the result is rows delivered or affected.
    virtual int select(VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database,
                       VeskDal::SqlQueryBase::QueryType type) = 0;
    virtual int insert(VeskDal::DalDatabase& database) = 0;
    virtual int update(VeskDal::DalDatabase& database) = 0;
    virtual int remove(VeskDal::DalDatabase& database) = 0;
    // Appends column = value for each valid key constraint, in key order.
    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS);

    const VeskDal::SqlColumn& columnProduct() const { return _colProduct; }
    VeskDal::SqlColumn& columnProduct() { return _colProduct; }
    const VeskDal::SqlColumn& columnPermission() const { return _colPermission; }
    VeskDal::SqlColumn& columnPermission() { return _colPermission; }
    const VeskDal::SqlColumn& columnStatus() const { return _colStatus; }
    VeskDal::SqlColumn& columnStatus() { return _colStatus; }
    void constrainCustomer(const VeskDal::SqlColumnPtr& value) { _valCustomerConstraint = value; }
    void constrainTeam(const VeskDal::SqlColumnPtr& value) { _valTeamConstraint = value; }
    void constrainDomain(const VeskDal::SqlColumnPtr& value) { _valDomainConstraint = value; }
    void constrainUserId(const VeskDal::SqlColumnPtr& value) { _valUserIdConstraint = value; }
    void constrainProduct(const VeskDal::SqlColumnPtr& value) { _valProductConstraint = value; }
    void constrainPermission(const VeskDal::SqlColumnPtr& value) { _valPermissionConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbGrant;
    VeskDal::SqlColumn _colProduct{this, _tbGrant, "Product", "Product"};
    VeskDal::SqlColumn _colPermission{this, _tbGrant, "Permission", "Permission"};
    VeskDal::SqlColumn _colStatus{this, _tbGrant, "Status", "Status"};
    VeskDal::SqlColumnPtr _valCustomerConstraint;
    VeskDal::SqlColumnPtr _valTeamConstraint;
    VeskDal::SqlColumnPtr _valDomainConstraint;
    VeskDal::SqlColumnPtr _valUserIdConstraint;
    VeskDal::SqlColumnPtr _valProductConstraint;
    VeskDal::SqlColumnPtr _valPermissionConstraint;
};

} // namespace OstrelDal

#endif
