// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_PROFILEHOSTQUERYBASE_H
#define OSTRELDAL_PROFILEHOSTQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "ProfileHost": the hosts that belong to each profile.
class OSTRELDAL_API ProfileHostQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit ProfileHostQueryBase(const VeskDal::SqlSchema& schema);
    explicit ProfileHostQueryBase(const VeskDal::SqlTable& table);

    // Runs one statement on database (see QueryPattern); the result is rows delivered or affected.
    virtual int select(VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database,
                       VeskDal::SqlQueryBase::QueryType type) = 0;
    virtual int insert(VeskDal::DalDatabase& database) = 0;
    virtual int update(VeskDal::DalDatabase& database) = 0;
    virtual int remove(VeskDal::DalDatabase& database) = 0;
    // Appends column = value for each valid key constraint, in key order.
    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS);

    const VeskDal::SqlColumn& columnProfile() const { return _colProfile; }
    VeskDal::SqlColumn& columnProfile() { return _colProfile; }
    const VeskDal::SqlColumn& columnHost() const { return _colHost; }
    VeskDal::SqlColumn& columnHost() { return _colHost; }
    void constrainProfile(const VeskDal::SqlColumnPtr& value) { _valProfileConstraint = value; }
    void constrainHost(const VeskDal::SqlColumnPtr& value) { _valHostConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbProfileHost;
    VeskDal::SqlColumn _colProfile{this, _tbProfileHost, "Profile", ""};
    VeskDal::SqlColumn _colHost{this, _tbProfileHost, "Host", ""};
    VeskDal::SqlColumnPtr _valProfileConstraint;
    VeskDal::SqlColumnPtr _valHostConstraint;
};

} // namespace OstrelDal

#endif
