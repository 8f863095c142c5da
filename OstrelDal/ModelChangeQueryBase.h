// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_MODELCHANGEQUERYBASE_H
#define OSTRELDAL_MODELCHANGEQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "ModelChange": one row (Id 1) whose counter every write to the model's tables bumps.
class OSTRELDAL_API ModelChangeQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit ModelChangeQueryBase(const VeskDal::SqlSchema& schema);
    explicit ModelChangeQueryBase(const VeskDal::SqlTable& table);

    // Runs one statement on database (see QueryPattern); the result is rows delivered or affected.
    virtual int select(VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database,
                       VeskDal::SqlQueryBase::QueryType type) = 0;
    virtual int insert(VeskDal::DalDatabase& database) = 0;
    virtual int update(VeskDal::DalDatabase& database) = 0;
    virtual int remove(VeskDal::DalDatabase& database) = 0;
    // Appends column = value for each valid key constraint, in key order.
    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS);

    const VeskDal::SqlColumn& columnId() const { return _colId; }
    VeskDal::SqlColumn& columnId() { return _colId; }
    const VeskDal::SqlColumn& columnCounter() const { return _colCounter; }
    VeskDal::SqlColumn& columnCounter() { return _colCounter; }
    void constrainId(const VeskDal::SqlColumnPtr& value) { _valIdConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbModelChange;
    VeskDal::SqlColumn _colId{this, _tbModelChange, "Id", ""};
    VeskDal::SqlColumn _colCounter{this, _tbModelChange, "Counter", ""};
    VeskDal::SqlColumnPtr _valIdConstraint;
};

} // namespace OstrelDal

#endif
