// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_USERQUERYBASE_H
#define OSTRELDAL_USERQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "User": the users of each domain. The password plug-in keeps its lockout's end in a
// column of its own.
class OSTRELDAL_API UserQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit UserQueryBase(const VeskDal::SqlSchema& schema);
    explicit UserQueryBase(const VeskDal::SqlTable& table);

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
    const VeskDal::SqlColumn& columnUserId() const { return _colUserId; }
    VeskDal::SqlColumn& columnUserId() { return _colUserId; }
    const VeskDal::SqlColumn& columnName() const { return _colName; }
    VeskDal::SqlColumn& columnName() { return _colName; }
    const VeskDal::SqlColumn& columnAuthenticationToken() const { return _colAuthenticationToken; }
    VeskDal::SqlColumn& columnAuthenticationToken() { return _colAuthenticationToken; }
    const VeskDal::SqlColumn& columnContact() const { return _colContact; }
    VeskDal::SqlColumn& columnContact() { return _colContact; }
    const VeskDal::SqlColumn& columnStatus() const { return _colStatus; }
    VeskDal::SqlColumn& columnStatus() { return _colStatus; }
    const VeskDal::SqlColumn& columnBadLoginCount() const { return _colBadLoginCount; }
    VeskDal::SqlColumn& columnBadLoginCount() { return _colBadLoginCount; }
    void constrainDomain(const VeskDal::SqlColumnPtr& value) { _valDomainConstraint = value; }
    void constrainUserId(const VeskDal::SqlColumnPtr& value) { _valUserIdConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbUser;
    VeskDal::SqlColumn _colDomain{this, _tbUser, "Domain", ""};
    VeskDal::SqlColumn _colUserId{this, _tbUser, "UserId", ""};
    VeskDal::SqlColumn _colName{this, _tbUser, "Name", ""};
    VeskDal::SqlColumn _colAuthenticationToken{this, _tbUser, "AuthenticationToken", ""};
    VeskDal::SqlColumn _colContact{this, _tbUser, "Contact", ""};
    VeskDal::SqlColumn _colStatus{this, _tbUser, "Status", ""};
    VeskDal::SqlColumn _colBadLoginCount{this, _tbUser, "BadLoginCount", ""};
    VeskDal::SqlColumnPtr _valDomainConstraint;
    VeskDal::SqlColumnPtr _valUserIdConstraint;
};

} // namespace OstrelDal

#endif
