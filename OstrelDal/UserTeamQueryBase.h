// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_USERTEAMQUERYBASE_H
#define OSTRELDAL_USERTEAMQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "UserTeam": team membership of users.
class OSTRELDAL_API UserTeamQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit UserTeamQueryBase(const VeskDal::SqlSchema& schema);
    explicit UserTeamQueryBase(const VeskDal::SqlTable& table);

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
    const VeskDal::SqlColumn& columnTeam() const { return _colTeam; }
    VeskDal::SqlColumn& columnTeam() { return _colTeam; }
    const VeskDal::SqlColumn& columnIsLead() const { return _colIsLead; }
    VeskDal::SqlColumn& columnIsLead() { return _colIsLead; }
    void constrainDomain(const VeskDal::SqlColumnPtr& value) { _valDomainConstraint = value; }
    void constrainUserId(const VeskDal::SqlColumnPtr& value) { _valUserIdConstraint = value; }
    void constrainTeam(const VeskDal::SqlColumnPtr& value) { _valTeamConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbUserTeam;
    VeskDal::SqlColumn _colDomain{this, _tbUserTeam, "Domain", ""};
    VeskDal::SqlColumn _colUserId{this, _tbUserTeam, "UserId", ""};
    VeskDal::SqlColumn _colTeam{this, _tbUserTeam, "Team", ""};
    VeskDal::SqlColumn _colIsLead{this, _tbUserTeam, "IsLead", ""};
    VeskDal::SqlColumnPtr _valDomainConstraint;
    VeskDal::SqlColumnPtr _valUserIdConstraint;
    VeskDal::SqlColumnPtr _valTeamConstraint;
};

} // namespace OstrelDal

#endif
