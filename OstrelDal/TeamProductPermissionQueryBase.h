// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_TEAMPRODUCTPERMISSIONQUERYBASE_H
#define OSTRELDAL_TEAMPRODUCTPERMISSIONQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "TeamProductPermission": permissions granted to teams.
class OSTRELDAL_API TeamProductPermissionQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit TeamProductPermissionQueryBase(const VeskDal::SqlSchema& schema);
    explicit TeamProductPermissionQueryBase(const VeskDal::SqlTable& table);

    // Runs one statement on database (see QueryPattern); the result is rows delivered or affected.
    virtual int select(VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database,
                       VeskDal::SqlQueryBase::QueryType type) = 0;
    virtual int insert(VeskDal::DalDatabase& database) = 0;
    virtual int update(VeskDal::DalDatabase& database) = 0;
    virtual int remove(VeskDal::DalDatabase& database) = 0;
    // Appends column = value for each valid key constraint, in key order.
    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS);

    const VeskDal::SqlColumn& columnTeam() const { return _colTeam; }
    VeskDal::SqlColumn& columnTeam() { return _colTeam; }
    const VeskDal::SqlColumn& columnProduct() const { return _colProduct; }
    VeskDal::SqlColumn& columnProduct() { return _colProduct; }
    const VeskDal::SqlColumn& columnPermission() const { return _colPermission; }
    VeskDal::SqlColumn& columnPermission() { return _colPermission; }
    const VeskDal::SqlColumn& columnStatus() const { return _colStatus; }
    VeskDal::SqlColumn& columnStatus() { return _colStatus; }
    void constrainTeam(const VeskDal::SqlColumnPtr& value) { _valTeamConstraint = value; }
    void constrainProduct(const VeskDal::SqlColumnPtr& value) { _valProductConstraint = value; }
    void constrainPermission(const VeskDal::SqlColumnPtr& value) { _valPermissionConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbTeamProductPermission;
    VeskDal::SqlColumn _colTeam{this, _tbTeamProductPermission, "Team", ""};
    VeskDal::SqlColumn _colProduct{this, _tbTeamProductPermission, "Product", ""};
    VeskDal::SqlColumn _colPermission{this, _tbTeamProductPermission, "Permission", ""};
    VeskDal::SqlColumn _colStatus{this, _tbTeamProductPermission, "Status", ""};
    VeskDal::SqlColumnPtr _valTeamConstraint;
    VeskDal::SqlColumnPtr _valProductConstraint;
    VeskDal::SqlColumnPtr _valPermissionConstraint;
};

} // namespace OstrelDal

#endif
