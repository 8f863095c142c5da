// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_SHAREDOBJECTQUERYBASE_H
#define OSTRELDAL_SHAREDOBJECTQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "SharedObject": the file implementing each authentication library on each platform.
class OSTRELDAL_API SharedObjectQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit SharedObjectQueryBase(const VeskDal::SqlSchema& schema);
    explicit SharedObjectQueryBase(const VeskDal::SqlTable& table);

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
    const VeskDal::SqlColumn& columnAuthenticationLibrary() const { return _colAuthenticationLibrary; }
    VeskDal::SqlColumn& columnAuthenticationLibrary() { return _colAuthenticationLibrary; }
    const VeskDal::SqlColumn& columnSharedObject() const { return _colSharedObject; }
    VeskDal::SqlColumn& columnSharedObject() { return _colSharedObject; }
    void constrainPlatform(const VeskDal::SqlColumnPtr& value) { _valPlatformConstraint = value; }
    void constrainAuthenticationLibrary(const VeskDal::SqlColumnPtr& value) { _valAuthenticationLibraryConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbSharedObject;
    VeskDal::SqlColumn _colPlatform{this, _tbSharedObject, "Platform", ""};
    VeskDal::SqlColumn _colAuthenticationLibrary{this, _tbSharedObject, "AuthenticationLibrary", ""};
    VeskDal::SqlColumn _colSharedObject{this, _tbSharedObject, "SharedObject", ""};
    VeskDal::SqlColumnPtr _valPlatformConstraint;
    VeskDal::SqlColumnPtr _valAuthenticationLibraryConstraint;
};

} // namespace OstrelDal

#endif
