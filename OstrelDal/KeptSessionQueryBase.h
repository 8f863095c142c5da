// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

#ifndef OSTRELDAL_KEPTSESSIONQUERYBASE_H
#define OSTRELDAL_KEPTSESSIONQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "KeptSession": sessions kept for later, under the digest of their id.
class OSTRELDAL_API KeptSessionQueryBase : public VeskDal::SqlQueryBase {
public:
    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken
    // as it is, the columns keeping their names.
    explicit KeptSessionQueryBase(const VeskDal::SqlSchema& schema);
    explicit KeptSessionQueryBase(const VeskDal::SqlTable& table);

    // Runs one statement on database (see QueryPattern); the result is rows delivered or affected.
    virtual int select(VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database,
                       VeskDal::SqlQueryBase::QueryType type) = 0;
    virtual int insert(VeskDal::DalDatabase& database) = 0;
    virtual int update(VeskDal::DalDatabase& database) = 0;
    virtual int remove(VeskDal::DalDatabase& database) = 0;
    // Appends column = value for each valid key constraint, in key order.
    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS);

    const VeskDal::SqlColumn& columnSessionDigest() const { return _colSessionDigest; }
    VeskDal::SqlColumn& columnSessionDigest() { return _colSessionDigest; }
    const VeskDal::SqlColumn& columnDomain() const { return _colDomain; }
    VeskDal::SqlColumn& columnDomain() { return _colDomain; }
    const VeskDal::SqlColumn& columnUserId() const { return _colUserId; }
    VeskDal::SqlColumn& columnUserId() { return _colUserId; }
    const VeskDal::SqlColumn& columnProfile() const { return _colProfile; }
    VeskDal::SqlColumn& columnProfile() { return _colProfile; }
    const VeskDal::SqlColumn& columnCreated() const { return _colCreated; }
    VeskDal::SqlColumn& columnCreated() { return _colCreated; }
    const VeskDal::SqlColumn& columnLastUsed() const { return _colLastUsed; }
    VeskDal::SqlColumn& columnLastUsed() { return _colLastUsed; }
    const VeskDal::SqlColumn& columnCredentialStamp() const { return _colCredentialStamp; }
    VeskDal::SqlColumn& columnCredentialStamp() { return _colCredentialStamp; }
    void constrainSessionDigest(const VeskDal::SqlColumnPtr& value) { _valSessionDigestConstraint = value; }

protected:
    // The columns are built after the table, which they refer to.
    VeskDal::SqlTable _tbKeptSession;
    VeskDal::SqlColumn _colSessionDigest{this, _tbKeptSession, "SessionDigest", ""};
    VeskDal::SqlColumn _colDomain{this, _tbKeptSession, "Domain", ""};
    VeskDal::SqlColumn _colUserId{this, _tbKeptSession, "UserId", ""};
    VeskDal::SqlColumn _colProfile{this, _tbKeptSession, "Profile", ""};
    VeskDal::SqlColumn _colCreated{this, _tbKeptSession, "Created", ""};
    VeskDal::SqlColumn _colLastUsed{this, _tbKeptSession, "LastUsed", ""};
    VeskDal::SqlColumn _colCredentialStamp{this, _tbKeptSession, "CredentialStamp", ""};
    VeskDal::SqlColumnPtr _valSessionDigestConstraint;
};

} // namespace OstrelDal

#endif
