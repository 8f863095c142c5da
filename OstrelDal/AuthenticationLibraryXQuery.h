#ifndef OSTRELDAL_AUTHENTICATIONLIBRARYXQUERY_H
#define OSTRELDAL_AUTHENTICATIONLIBRARYXQUERY_H

#include "OstrelDal/AuthenticationLibraryQuery.h"

namespace OstrelDal {

// Authentication libraries joined with their shared objects: one row per library and platform,
// carrying the four library columns and the three "SharedObject" columns. Read-only.
class OSTRELDAL_API AuthenticationLibraryXQuery : public AuthenticationLibraryQuery {
public:
    // "SharedObject" is taken from the same schema: the given one, or that of the given table.
    explicit AuthenticationLibraryXQuery(const VeskDal::SqlSchema& schema);
    explicit AuthenticationLibraryXQuery(const VeskDal::SqlTable& table);

    using AuthenticationLibraryQuery::addConstraints;

    // The pattern's select with an inner join of "SharedObject" on the library number.
    int select(Result& result, VeskDal::DalDatabase& database, QueryType type) override;
    // Nothing is written through the join: these run nothing and return 0.
    int insert(VeskDal::DalDatabase& database) override;
    int update(VeskDal::DalDatabase& database) override;
    int remove(VeskDal::DalDatabase& database) override;
    // The library constraint (when bAddBaseConstraints), then SharedObject.Platform = value.
    void addConstraints(VeskDal::SqlCompoundCondition& conditionS, bool bAddBaseConstraints) override;

    // The name (sic) is the one callers use; it is the "Platform" column of "SharedObject".
    const VeskDal::SqlColumn& columnPlaform() const { return _colPlatform; }
    VeskDal::SqlColumn& columnPlaform() { return _colPlatform; }
    const VeskDal::SqlColumn& columnSharedObject() const { return _colSharedObject; }
    VeskDal::SqlColumn& columnSharedObject() { return _colSharedObject; }
    void constrainPlatform(const VeskDal::SqlColumnPtr& value) { _valPlatformConstraint = value; }

protected:
    VeskDal::SqlTable _tbSharedObject;
    VeskDal::SqlColumn _colPlatform;
    VeskDal::SqlColumn _colAuthenticationLibrary1;  // the join column; same value as the library's
    VeskDal::SqlColumn _colSharedObject;
    VeskDal::SqlColumnPtr _valPlatformConstraint;
};

} // namespace OstrelDal

#endif
