// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_AUTHENTICATORPARAMQUERYBASE_H
#define OSTRELDAL_AUTHENTICATORPARAMQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "AuthenticatorParam" (alias "AP" when built on a schema): parameters of the
// authenticator of a domain, selected under their own names.
class OSTRELDAL_API AuthenticatorParamQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit AuthenticatorParamQueryBase(const VeskDal::SqlSchema& schema);
    explicit AuthenticatorParamQueryBase(const VeskDal::SqlTable& table);

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
    const VeskDal::SqlColumn& columnParam() const { return _colParam; }
    VeskDal::SqlColumn& columnParam() { return _colParam; }
    const VeskDal::SqlColumn& columnValue() const { return _colValue; }
    VeskDal::SqlColumn& columnValue() { return _colValue; }
    void constrainDomain(const VeskDal::SqlColumnPtr& value) { _valDomainConstraint = value; }
    void constrainParam(const VeskDal::SqlColumnPtr& value) { _valParamConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbAuthenticatorParam;
    VeskDal::SqlColumn _colDomain{this, _tbAuthenticatorParam, "Domain", "Domain"};
    VeskDal::SqlColumn _colParam{this, _tbAuthenticatorParam, "Param", "Param"};
    VeskDal::SqlColumn _colValue{this, _tbAuthenticatorParam, "Value", "Value"};
    VeskDal::SqlColumnPtr _valDomainConstraint;
    VeskDal::SqlColumnPtr _valParamConstraint;
};

} // namespace OstrelDal

#endif
