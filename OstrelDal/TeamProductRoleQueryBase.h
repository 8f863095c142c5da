// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_TEAMPRODUCTROLEQUERYBASE_H
#define OSTRELDAL_TEAMPRODUCTROLEQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "TeamProductRole": roles granted to teams.
class OSTRELDAL_API TeamProductRoleQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit TeamProductRoleQueryBase(const VeskDal::SqlSchema& schema);
    explicit TeamProductRoleQueryBase(const VeskDal::SqlTable& table);

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
    const VeskDal::SqlColumn& columnRole() const { return _colRole; }
    VeskDal::SqlColumn& columnRole() { return _colRole; }
    const VeskDal::SqlColumn& columnStatus() const { return _colStatus; }
    VeskDal::SqlColumn& columnStatus() { return _colStatus; }
    void constrainTeam(const VeskDal::SqlColumnPtr& value) { _valTeamConstraint = value; }
    void constrainProduct(const VeskDal::SqlColumnPtr& value) { _valProductConstraint = value; }
    void constrainRole(const VeskDal::SqlColumnPtr& value) { _valRoleConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbTeamProductRole;
    VeskDal::SqlColumn _colTeam{this, _tbTeamProductRole, "Team", ""};
    VeskDal::SqlColumn _colProduct{this, _tbTeamProductRole, "Product", ""};
    VeskDal::SqlColumn _colRole{this, _tbTeamProductRole, "Role", ""};
    VeskDal::SqlColumn _colStatus{this, _tbTeamProductRole, "Status", ""};
    VeskDal::SqlColumnPtr _valTeamConstraint;
    VeskDal::SqlColumnPtr _valProductConstraint;
    VeskDal::SqlColumnPtr _valRoleConstraint;
};

} // namespace OstrelDal

#endif
