// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_AUTHENTICATIONLIBRARYPARAMQUERYBASE_H
#define OSTRELDAL_AUTHENTICATIONLIBRARYPARAMQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "AuthenticationLibraryParam" (alias "AP" when built on a schema): parameters of a
// library, selected under their own names.
class OSTRELDAL_API AuthenticationLibraryParamQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit AuthenticationLibraryParamQueryBase(const VeskDal::SqlSchema& schema);
    explicit AuthenticationLibraryParamQueryBase(const VeskDal::SqlTable& table);

    // Runs one statement on database (see QueryPattern); the result is rows delivered or affected.
    virtual int select(VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database,
                       VeskDal::SqlQueryBase::QueryType type) = 0;
    virtual int insert(VeskDal::DalDatabase& database) = 0;
    virtual int update(VeskDal::DalDatabase& database) = 0;
    virtual int remove(VeskDal::DalDatabase& database) = 0;
    // Appends column = value for each valid key constraint, in key order.
    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS);

    const VeskDal::SqlColumn& columnAuthenticationLibrary() const { return _colAuthenticationLibrary; }
    VeskDal::SqlColumn& columnAuthenticationLibrary() { return _colAuthenticationLibrary; }
    const VeskDal::SqlColumn& columnParam() const { return _colParam; }
    VeskDal::SqlColumn& columnParam() { return _colParam; }
    const VeskDal::SqlColumn& columnValue() const { return _colValue; }
    VeskDal::SqlColumn& columnValue() { return _colValue; }
    void constrainAuthenticationLibrary(const VeskDal::SqlColumnPtr& value) { _valAuthenticationLibraryConstraint = value; }
    void constrainParam(const VeskDal::SqlColumnPtr& value) { _valParamConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbAuthenticationLibraryParam;
    VeskDal::SqlColumn _colAuthenticationLibrary{this, _tbAuthenticationLibraryParam, "AuthenticationLibrary", "AuthenticationLibrary"};
    VeskDal::SqlColumn _colParam{this, _tbAuthenticationLibraryParam, "Param", "Param"};
    VeskDal::SqlColumn _colValue{this, _tbAuthenticationLibraryParam, "Value", "Value"};
    VeskDal::SqlColumnPtr _valAuthenticationLibraryConstraint;
    VeskDal::SqlColumnPtr _valParamConstraint;
};

} // namespace OstrelDal

#endif
