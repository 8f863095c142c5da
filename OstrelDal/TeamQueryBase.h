// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_TEAMQUERYBASE_H
#define OSTRELDAL_TEAMQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "Team": a team of a customer.
class OSTRELDAL_API TeamQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit TeamQueryBase(const VeskDal::SqlSchema& schema);
    explicit TeamQueryBase(const VeskDal::SqlTable& table);

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
    const VeskDal::SqlColumn& columnCustomer() const { return _colCustomer; }
    VeskDal::SqlColumn& columnCustomer() { return _colCustomer; }
    const VeskDal::SqlColumn& columnName() const { return _colName; }
    VeskDal::SqlColumn& columnName() { return _colName; }
    void constrainTeam(const VeskDal::SqlColumnPtr& value) { _valTeamConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbTeam;
    VeskDal::SqlColumn _colTeam{this, _tbTeam, "Team", ""};
    VeskDal::SqlColumn _colCustomer{this, _tbTeam, "Customer", ""};
    VeskDal::SqlColumn _colName{this, _tbTeam, "Name", ""};
    VeskDal::SqlColumnPtr _valTeamConstraint;
};

} // namespace OstrelDal

#endif
