// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_PRODUCTQUERYBASE_H
#define OSTRELDAL_PRODUCTQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "Product": the product catalogue.
class OSTRELDAL_API ProductQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit ProductQueryBase(const VeskDal::SqlSchema& schema);
    explicit ProductQueryBase(const VeskDal::SqlTable& table);

    // Runs one statement on database (see QueryPattern); the result is rows delivered or affected.
    virtual int select(VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database,
                       VeskDal::SqlQueryBase::QueryType type) = 0;
    virtual int insert(VeskDal::DalDatabase& database) = 0;
    virtual int update(VeskDal::DalDatabase& database) = 0;
    virtual int remove(VeskDal::DalDatabase& database) = 0;
    // Appends column = value for each valid key constraint, in key order.
    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS);

    const VeskDal::SqlColumn& columnProduct() const { return _colProduct; }
    VeskDal::SqlColumn& columnProduct() { return _colProduct; }
    const VeskDal::SqlColumn& columnDescription() const { return _colDescription; }
    VeskDal::SqlColumn& columnDescription() { return _colDescription; }
    void constrainProduct(const VeskDal::SqlColumnPtr& value) { _valProductConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbProduct;
    VeskDal::SqlColumn _colProduct{this, _tbProduct, "Product", ""};
    VeskDal::SqlColumn _colDescription{this, _tbProduct, "Description", ""};
    VeskDal::SqlColumnPtr _valProductConstraint;
};

} // namespace OstrelDal

#endif
