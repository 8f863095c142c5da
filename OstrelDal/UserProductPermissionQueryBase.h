// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_USERPRODUCTPERMISSIONQUERYBASE_H
#define OSTRELDAL_USERPRODUCTPERMISSIONQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "UserProductPermission": permissions granted to users.
class OSTRELDAL_API UserProductPermissionQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit UserProductPermissionQueryBase(const VeskDal::SqlSchema& schema);
    explicit UserProductPermissionQueryBase(const VeskDal::SqlTable& table);

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
    const VeskDal::SqlColumn& columnUserId() const { return _colUserId; }
    VeskDal::SqlColumn& columnUserId() { return _colUserId; }
    const VeskDal::SqlColumn& columnProduct() const { return _colProduct; }
    VeskDal::SqlColumn& columnProduct() { return _colProduct; }
    const VeskDal::SqlColumn& columnPermission() const { return _colPermission; }
    VeskDal::SqlColumn& columnPermission() { return _colPermission; }
    const VeskDal::SqlColumn& columnStatus() const { return _colStatus; }
    VeskDal::SqlColumn& columnStatus() { return _colStatus; }
    void constrainDomain(const VeskDal::SqlColumnPtr& value) { _valDomainConstraint = value; }
    void constrainUserId(const VeskDal::SqlColumnPtr& value) { _valUserIdConstraint = value; }
    void constrainProduct(const VeskDal::SqlColumnPtr& value) { _valProductConstraint = value; }
    void constrainPermission(const VeskDal::SqlColumnPtr& value) { _valPermissionConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbUserProductPermission;
    VeskDal::SqlColumn _colDomain{this, _tbUserProductPermission, "Domain", ""};
    VeskDal::SqlColumn _colUserId{this, _tbUserProductPermission, "UserId", ""};
    VeskDal::SqlColumn _colProduct{this, _tbUserProductPermission, "Product", ""};
    VeskDal::SqlColumn _colPermission{this, _tbUserProductPermission, "Permission", ""};
    VeskDal::SqlColumn _colStatus{this, _tbUserProductPermission, "Status", ""};
    VeskDal::SqlColumnPtr _valDomainConstraint;
    VeskDal::SqlColumnPtr _valUserIdConstraint;
    VeskDal::SqlColumnPtr _valProductConstraint;
    VeskDal::SqlColumnPtr _valPermissionConstraint;
};

} // namespace OstrelDal

#endif
