// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_DBPROFILEQUERYBASE_H
#define OSTRELDAL_DBPROFILEQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "DBProfile": free name/value pairs.
class OSTRELDAL_API DBProfileQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit DBProfileQueryBase(const VeskDal::SqlSchema& schema);
    explicit DBProfileQueryBase(const VeskDal::SqlTable& table);

    // Runs one statement on database (see QueryPattern); the result is rows delivered or affected.
    virtual int select(VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database,
                       VeskDal::SqlQueryBase::QueryType type) = 0;
    virtual int insert(VeskDal::DalDatabase& database) = 0;
    virtual int update(VeskDal::DalDatabase& database) = 0;
    virtual int remove(VeskDal::DalDatabase& database) = 0;
    // Appends column = value for each valid key constraint, in key order.
    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS);

    const VeskDal::SqlColumn& columnPName() const { return _colPName; }
    VeskDal::SqlColumn& columnPName() { return _colPName; }
    const VeskDal::SqlColumn& columnPValue() const { return _colPValue; }
    VeskDal::SqlColumn& columnPValue() { return _colPValue; }
    void constrainPName(const VeskDal::SqlColumnPtr& value) { _valPNameConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbDBProfile;
    VeskDal::SqlColumn _colPName{this, _tbDBProfile, "PName", ""};
    VeskDal::SqlColumn _colPValue{this, _tbDBProfile, "PValue", ""};
    VeskDal::SqlColumnPtr _valPNameConstraint;
};

} // namespace OstrelDal

#endif
