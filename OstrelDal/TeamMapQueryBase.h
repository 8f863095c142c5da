// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_TEAMMAPQUERYBASE_H
#define OSTRELDAL_TEAMMAPQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "TeamMap": which team an outside directory group of a domain stands for.
class OSTRELDAL_API TeamMapQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit TeamMapQueryBase(const VeskDal::SqlSchema& schema);
    explicit TeamMapQueryBase(const VeskDal::SqlTable& table);

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
    const VeskDal::SqlColumn& columnAlienGroup() const { return _colAlienGroup; }
    VeskDal::SqlColumn& columnAlienGroup() { return _colAlienGroup; }
    const VeskDal::SqlColumn& columnAlienGroupLeadGroup() const { return _colAlienGroupLeadGroup; }
    VeskDal::SqlColumn& columnAlienGroupLeadGroup() { return _colAlienGroupLeadGroup; }
    const VeskDal::SqlColumn& columnTeam() const { return _colTeam; }
    VeskDal::SqlColumn& columnTeam() { return _colTeam; }
    void constrainDomain(const VeskDal::SqlColumnPtr& value) { _valDomainConstraint = value; }
    void constrainTeam(const VeskDal::SqlColumnPtr& value) { _valTeamConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbTeamMap;
    VeskDal::SqlColumn _colDomain{this, _tbTeamMap, "Domain", ""};
    VeskDal::SqlColumn _colAlienGroup{this, _tbTeamMap, "AlienGroup", ""};
    VeskDal::SqlColumn _colAlienGroupLeadGroup{this, _tbTeamMap, "AlienGroupLeadGroup", ""};
    VeskDal::SqlColumn _colTeam{this, _tbTeamMap, "Team", ""};
    VeskDal::SqlColumnPtr _valDomainConstraint;
    VeskDal::SqlColumnPtr _valTeamConstraint;
};

} // namespace OstrelDal

#endif
