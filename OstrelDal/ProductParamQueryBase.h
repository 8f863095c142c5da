// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_PRODUCTPARAMQUERYBASE_H
#define OSTRELDAL_PRODUCTPARAMQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "ProductParam": initialisation parameters of a product in a profile.
class OSTRELDAL_API ProductParamQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit ProductParamQueryBase(const VeskDal::SqlSchema& schema);
    explicit ProductParamQueryBase(const VeskDal::SqlTable& table);

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
    const VeskDal::SqlColumn& columnProduct() const { return _colProduct; }
    VeskDal::SqlColumn& columnProduct() { return _colProduct; }
    const VeskDal::SqlColumn& columnParam() const { return _colParam; }
    VeskDal::SqlColumn& columnParam() { return _colParam; }
    const VeskDal::SqlColumn& columnValue() const { return _colValue; }
    VeskDal::SqlColumn& columnValue() { return _colValue; }
    void constrainProfile(const VeskDal::SqlColumnPtr& value) { _valProfileConstraint = value; }
    void constrainProduct(const VeskDal::SqlColumnPtr& value) { _valProductConstraint = value; }
    void constrainParam(const VeskDal::SqlColumnPtr& value) { _valParamConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbProductParam;
    VeskDal::SqlColumn _colProfile{this, _tbProductParam, "Profile", ""};
    VeskDal::SqlColumn _colProduct{this, _tbProductParam, "Product", ""};
    VeskDal::SqlColumn _colParam{this, _tbProductParam, "Param", ""};
    VeskDal::SqlColumn _colValue{this, _tbProductParam, "Value", ""};
    VeskDal::SqlColumnPtr _valProfileConstraint;
    VeskDal::SqlColumnPtr _valProductConstraint;
    VeskDal::SqlColumnPtr _valParamConstraint;
};

} // namespace OstrelDal

#endif
