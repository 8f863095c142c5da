// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_AUTHENTICATIONLIBRARYQUERYBASE_H
#define OSTRELDAL_AUTHENTICATIONLIBRARYQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "AuthenticationLibrary": the authentication plug-in libraries.
class OSTRELDAL_API AuthenticationLibraryQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit AuthenticationLibraryQueryBase(const VeskDal::SqlSchema& schema);
    explicit AuthenticationLibraryQueryBase(const VeskDal::SqlTable& table);

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
    const VeskDal::SqlColumn& columnDescription() const { return _colDescription; }
    VeskDal::SqlColumn& columnDescription() { return _colDescription; }
    const VeskDal::SqlColumn& columnAuthenticationTokenDisposition() const { return _colAuthenticationTokenDisposition; }
    VeskDal::SqlColumn& columnAuthenticationTokenDisposition() { return _colAuthenticationTokenDisposition; }
    const VeskDal::SqlColumn& columnUserTools() const { return _colUserTools; }
    VeskDal::SqlColumn& columnUserTools() { return _colUserTools; }
    void constrainAuthenticationLibrary(const VeskDal::SqlColumnPtr& value) { _valAuthenticationLibraryConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbAuthenticationLibrary;
    VeskDal::SqlColumn _colAuthenticationLibrary{this, _tbAuthenticationLibrary, "AuthenticationLibrary", ""};
    VeskDal::SqlColumn _colDescription{this, _tbAuthenticationLibrary, "Description", ""};
    VeskDal::SqlColumn _colAuthenticationTokenDisposition{this, _tbAuthenticationLibrary, "AuthenticationTokenDisposition", ""};
    VeskDal::SqlColumn _colUserTools{this, _tbAuthenticationLibrary, "UserTools", ""};
    VeskDal::SqlColumnPtr _valAuthenticationLibraryConstraint;
};

} // namespace OstrelDal

#endif
