// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_PLATFORMQUERYBASE_H
#define OSTRELDAL_PLATFORMQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "Platform": the platforms plug-ins are built for.
class OSTRELDAL_API PlatformQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit PlatformQueryBase(const VeskDal::SqlSchema& schema);
    explicit PlatformQueryBase(const VeskDal::SqlTable& table);

    // Runs one statement on database (see QueryPattern); the result is rows delivered or affected.
    virtual int select(VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database,
                       VeskDal::SqlQueryBase::QueryType type) = 0;
    virtual int insert(VeskDal::DalDatabase& database) = 0;
    virtual int update(VeskDal::DalDatabase& database) = 0;
    virtual int remove(VeskDal::DalDatabase& database) = 0;
    // Appends column = value for each valid key constraint, in key order.
    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS);

    const VeskDal::SqlColumn& columnPlatform() const { return _colPlatform; }
    VeskDal::SqlColumn& columnPlatform() { return _colPlatform; }
    const VeskDal::SqlColumn& columnDescription() const { return _colDescription; }
    VeskDal::SqlColumn& columnDescription() { return _colDescription; }
    void constrainPlatform(const VeskDal::SqlColumnPtr& value) { _valPlatformConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbPlatform;
    VeskDal::SqlColumn _colPlatform{this, _tbPlatform, "Platform", ""};
    VeskDal::SqlColumn _colDescription{this, _tbPlatform, "Description", ""};
    VeskDal::SqlColumnPtr _valPlatformConstraint;
};

} // namespace OstrelDal

#endif
