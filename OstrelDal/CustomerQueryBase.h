// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_CUSTOMERQUERYBASE_H
#define OSTRELDAL_CUSTOMERQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "Customer": customer id and name.
class OSTRELDAL_API CustomerQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit CustomerQueryBase(const VeskDal::SqlSchema& schema);
    explicit CustomerQueryBase(const VeskDal::SqlTable& table);

    // Runs one statement on database (see QueryPattern); the result is rows delivered or affected.
    virtual int select(VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database,
                       VeskDal::SqlQueryBase::QueryType type) = 0;
    virtual int insert(VeskDal::DalDatabase& database) = 0;
    virtual int update(VeskDal::DalDatabase& database) = 0;
    virtual int remove(VeskDal::DalDatabase& database) = 0;
    // Appends column = value for each valid key constraint, in key order.
    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS);

    const VeskDal::SqlColumn& columnCustomer() const { return _colCustomer; }
    VeskDal::SqlColumn& columnCustomer() { return _colCustomer; }
    const VeskDal::SqlColumn& columnName() const { return _colName; }
    VeskDal::SqlColumn& columnName() { return _colName; }
    void constrainCustomer(const VeskDal::SqlColumnPtr& value) { _valCustomerConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbCustomer;
    VeskDal::SqlColumn _colCustomer{this, _tbCustomer, "Customer", ""};
    VeskDal::SqlColumn _colName{this, _tbCustomer, "Name", ""};
    VeskDal::SqlColumnPtr _valCustomerConstraint;
};

} // namespace OstrelDal

#endif
