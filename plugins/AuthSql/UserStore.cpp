#include "AuthSql/UserStore.h"

#include <atomic>
#include <memory>
#include <utility>

#include "OstrelData/Exception.h"
#include "OstrelDal/OstrelDal.h"
#include "VeskDal/SqlException.h"

namespace AuthSql {

namespace {

using VeskDal::SqlInteger;
using VeskDal::SqlText;
using Result = VeskDal::DalDatabase::Result;
using Row = VeskDal::DalDatabase::Row;

// The user query with the lock time when the schema has it (the pattern's statements pick the
// extra column up like the others), and optionally constrained to a status and failure count.
class UserLockQuery : public OstrelDal::UserQuery {
public:
    explicit UserLockQuery(const VeskDal::SqlSchema& schema) : OstrelDal::UserQuery(schema)
    {
        if (UserStore::hasLockedUntil()) _pcolLockedUntil.reset(new VeskDal::SqlColumn(this, table(), "LockedUntil", ""));
    }
    void setLockState(const UserRecord& record)
    {
        columnStatus().setValue(SqlInteger(record.nStatus));
        columnBadLoginCount().setValue(SqlInteger(record.nBadLoginCount));
        if (_pcolLockedUntil) _pcolLockedUntil->setValue(SqlInteger(record.nLockedUntil));
    }
    // The whole lock state, the lock time included: a stale write that matched on status and
    // count alone could put back a lock time that has run out over a lock set meanwhile.
    void constrainLockState(const UserRecord& record)
    {
        _valStatus = SqlInteger(record.nStatus);
        _valBadLoginCount = SqlInteger(record.nBadLoginCount);
        _nLockedUntil = record.nLockedUntil;
        _bLockedUntil = true;
    }
    void addConstraints(VeskDal::SqlCompoundCondition& conditionS, bool bAddBaseConstraints) override
    {
        OstrelDal::UserQuery::addConstraints(conditionS, bAddBaseConstraints);
        OstrelDal::appendEqual(conditionS, table(), "Status", _valStatus);
        OstrelDal::appendEqual(conditionS, table(), "BadLoginCount", _valBadLoginCount);
        if (!_pcolLockedUntil || !_bLockedUntil) return;
        // NULL reads as 0 (see recordOf) and is never written back (a written state holds a
        // number), so a row still NULL there matches any expected time: its status and count
        // decide. One shape for every state, so that the statement tells nothing either.
        const VeskDal::SqlColumn colLockedUntil(table(), "LockedUntil");
        VeskDal::SqlCompoundCondition lockedUntilS(VeskDal::compOr);
        lockedUntilS.addCondition(VeskDal::SqlCondition(colLockedUntil, SqlInteger(_nLockedUntil), VeskDal::condEqual));
        lockedUntilS.addCondition(VeskDal::SqlCondition(colLockedUntil, VeskDal::SqlValue(), VeskDal::condIsNull));
        conditionS.addCondition(lockedUntilS);
    }

private:
    std::unique_ptr<VeskDal::SqlColumn> _pcolLockedUntil;
    VeskDal::SqlColumnPtr _valStatus;
    VeskDal::SqlColumnPtr _valBadLoginCount;
    std::int64_t _nLockedUntil = 0;
    bool _bLockedUntil = false;
};

// Runs one unit of work; the SQL library's failures become 1021 naming what was being done.
template <class F>
auto guarded(const std::string& strWhat, F work) -> decltype(work())
{
    try {
        return work();
    } catch (const VeskDal::DalDatabaseException& e) {
        OSTREL_RAISE(OstrelData::nNAX_DATABASE, strWhat + ": " + e.nativeExplanation());
    } catch (const VeskDal::SqlException& e) {
        OSTREL_RAISE(OstrelData::nNAX_DATABASE, strWhat + ": " + e.what());
    }
}

std::string textOf(const Row& row, const std::string& strColumn)
{
    Row::const_iterator it = row.find(strColumn);
    return it == row.end() ? std::string() : it->second.string();
}

// An integer column; NULL reads as nAbsent, anything that is no integer as nUnreadable.
std::int64_t integerOf(const Row& row, const std::string& strColumn, std::int64_t nAbsent, std::int64_t nUnreadable)
{
    Row::const_iterator it = row.find(strColumn);
    if (it == row.end()) return nAbsent;
    try {
        return it->second.asInt64();
    } catch (const VeskDal::SqlException&) {
        return nUnreadable;
    }
}

UserRecord recordOf(const Row& row)
{
    UserRecord record;
    record.strUserId = textOf(row, "UserId");
    record.strName = textOf(row, "Name");
    record.strHash = textOf(row, "AuthenticationToken");
    record.strContact = textOf(row, "Contact");
    // A status nobody can read keeps the account shut rather than open.
    record.nStatus = static_cast<int>(integerOf(row, "Status", nStatusActive, nStatusDisabled));
    record.nBadLoginCount = static_cast<int>(integerOf(row, "BadLoginCount", 0, 0));
    record.nLockedUntil = integerOf(row, "LockedUntil", 0, 0);
    return record;
}

// Selects the rows of the user query, with the lock time when the schema has it.
int selectUsers(OstrelDal::UserQuery& query, Result& result)
{
    OstrelDal::Connection connection = OstrelDal::connection();
    return query.select(result, connection.db(), VeskDal::SqlQueryBase::full);
}

template <class TQuery>
void constrainUser(TQuery& query, const std::string& strDomain, const std::string& strUserId)
{
    query.constrainDomain(SqlText(strDomain));
    query.constrainUserId(SqlText(strUserId));
}

// 0: not known yet, 1: the column is there, 2: it is not.
std::atomic<int> g_nLockedUntil{0};

} // namespace

bool UserRecord::lockRanOut(time_t tNow) const
{
    return nStatus == nStatusLockedOut && nLockedUntil > 0 && static_cast<std::int64_t>(tNow) >= nLockedUntil;
}

bool UserRecord::isLocked(time_t tNow) const
{
    return nStatus != nStatusActive && !lockRanOut(tNow);
}

UserStore::UserStore(const std::string& strDomain) : _strDomain(strDomain) {}

bool UserStore::hasLockedUntil()
{
    int nState = g_nLockedUntil.load();
    if (nState != 0) return nState == 1;
    // An update of no row that sets the column tells whether it exists (a select would not:
    // SQLite reads a quoted name that is no column as a text). A failure counts only when it is
    // met again right after the same update of a column that is always there succeeded, so that
    // a passing database fault (a lock waited out, a reconnect) decides nothing: what is decided
    // holds for the life of the process.
    auto probe = [](const char* pszColumn) {
        OstrelDal::Connection connection = OstrelDal::connection();
        const char chQuote = connection.db().language() == VeskDal::langMySQL ? '`' : '"';
        connection.db().executeScript(std::string("UPDATE ") + chQuote + "User" + chQuote + " SET " + chQuote +
                                      pszColumn + chQuote + " = NULL WHERE 1 = 0");
        return 0;
    };
    auto found = [&probe] {
        try {
            probe("LockedUntil");
        } catch (const VeskDal::DalDatabaseException&) {
            return false;
        }
        g_nLockedUntil.store(1);
        return true;
    };
    if (found()) return true;
    guarded("Reading users", [&] { return probe("Contact"); });
    if (found()) return true;
    g_nLockedUntil.store(2);
    return false;
}

bool UserStore::read(const std::string& strUserId, UserRecord& record) const
{
    Result result;
    guarded("Reading user " + _strDomain + "/" + strUserId, [&] {
        UserLockQuery query(OstrelDal::schema());
        constrainUser(query, _strDomain, strUserId);
        return selectUsers(query, result);
    });
    if (result.empty()) return false;
    record = recordOf(result.front());
    return true;
}

bool UserStore::readWith(const std::string& strUserId, UserRecord& record, const std::string& strOtherId,
                         UserRecord& other) const
{
    Result result;
    guarded("Reading user " + _strDomain + "/" + strUserId, [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        UserLockQuery query(OstrelDal::schema());
        VeskDal::SqlSelectStatement statement(query.table());
        query.addColumns(statement, VeskDal::SqlQueryBase::invalidToo);
        VeskDal::SqlCompoundCondition conditionS(VeskDal::compAnd);
        OstrelDal::appendEqual(conditionS, query.columnDomain(), SqlText(_strDomain));
        VeskDal::SqlCompoundCondition eitherS(VeskDal::compOr);
        eitherS.addCondition(VeskDal::SqlCondition(query.columnUserId(), SqlText(strUserId), VeskDal::condEqual));
        eitherS.addCondition(VeskDal::SqlCondition(query.columnUserId(), SqlText(strOtherId), VeskDal::condEqual));
        conditionS.addCondition(eitherS);
        return OstrelDal::runSelect(statement, conditionS, result, connection.db());
    });
    bool bFound = false;
    for (const Row& row : result) {
        UserRecord read = recordOf(row);
        if (read.strUserId == strOtherId) other = read;
        if (read.strUserId == strUserId) {
            record = std::move(read);
            bFound = true;
        }
    }
    return bFound;
}

std::vector<UserRecord> UserStore::find(const std::string& strPattern) const
{
    Result result;
    guarded("Finding users of " + _strDomain, [&] {
        OstrelDal::UserQuery query(OstrelDal::schema());
        query.constrainDomain(SqlText(_strDomain));
        if (!strPattern.empty()) query.constrainSearch(SqlText(strPattern));
        return selectUsers(query, result);
    });
    std::vector<UserRecord> recordS;
    recordS.reserve(result.size());
    for (const Row& row : result)
        recordS.push_back(recordOf(row));
    return recordS;
}

bool UserStore::writeLockState(const UserRecord& record) const
{
    return guarded("Recording the logins of " + _strDomain + "/" + record.strUserId, [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        UserLockQuery query(OstrelDal::schema());
        constrainUser(query, _strDomain, record.strUserId);
        query.setLockState(record);
        return query.update(connection.db()) > 0;
    });
}

bool UserStore::swapLockState(const UserRecord& before, const UserRecord& after, const std::string& strNewHash) const
{
    return guarded("Recording the logins of " + _strDomain + "/" + after.strUserId, [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        UserLockQuery query(OstrelDal::schema());
        constrainUser(query, _strDomain, after.strUserId);
        query.constrainLockState(before);
        query.setLockState(after);
        if (!strNewHash.empty()) {
            // Only over the hash the caller checked: a reset stored meanwhile must not be undone by
            // someone holding the old password.
            query.constrainAuthenticationToken(SqlText(before.strHash));
            query.columnAuthenticationToken().setValue(SqlText(strNewHash));
        }
        return query.update(connection.db()) > 0;
    });
}

bool UserStore::readAnyone(UserRecord& record) const
{
    Result result;
    guarded("Reading users of " + _strDomain, [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        for (const std::string& strDomain : {_strDomain, std::string()}) {
            UserLockQuery query(OstrelDal::schema());
            if (!strDomain.empty()) query.constrainDomain(SqlText(strDomain));
            VeskDal::SqlSelectStatement statement(query.table());
            query.addColumns(statement, VeskDal::SqlQueryBase::invalidToo);
            statement.setLimit(1);
            VeskDal::SqlCompoundCondition conditionS(VeskDal::compAnd);
            query.addConstraints(conditionS, true);
            if (OstrelDal::runSelect(statement, conditionS, result, connection.db()) > 0) break;
        }
        return 0;
    });
    if (result.empty()) return false;
    record = recordOf(result.front());
    return true;
}

bool UserStore::replaceHash(const std::string& strUserId, const std::string& strOld, const std::string& strNew) const
{
    return guarded("Storing the password of " + _strDomain + "/" + strUserId, [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        const VeskDal::SqlTable table(OstrelDal::schema(), "User");
        VeskDal::SqlColumn colToken(table, "AuthenticationToken");
        colToken.setValue(SqlText(strNew));
        VeskDal::SqlUpdateStatement update(table);
        update.addColumn(colToken);
        VeskDal::SqlCompoundCondition where;
        where.addCondition(VeskDal::SqlCondition(VeskDal::SqlColumn(table, "Domain"), SqlText(_strDomain),
                                                 VeskDal::condEqual));
        where.addCondition(VeskDal::SqlCondition(VeskDal::SqlColumn(table, "UserId"), SqlText(strUserId),
                                                 VeskDal::condEqual));
        where.addCondition(VeskDal::SqlCondition(VeskDal::SqlColumn(table, "AuthenticationToken"), SqlText(strOld),
                                                 VeskDal::condEqual));
        update.setWhere(where);
        return connection.db().execute(update) > 0;
    });
}

void UserStore::insert(const UserRecord& record) const
{
    guarded("Creating user " + _strDomain + "/" + record.strUserId, [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        OstrelDal::UserQuery query(OstrelDal::schema());
        query.columnDomain().setValue(SqlText(_strDomain));
        query.columnUserId().setValue(SqlText(record.strUserId));
        query.columnName().setValue(SqlText(record.strName));
        query.columnAuthenticationToken().setValue(SqlText(record.strHash));
        query.columnContact().setValue(SqlText(record.strContact));
        query.columnStatus().setValue(SqlInteger(nStatusActive));
        query.columnBadLoginCount().setValue(SqlInteger(0));
        return query.insert(connection.db());
    });
}

bool UserStore::update(const UserRecord& record) const
{
    return guarded("Updating user " + _strDomain + "/" + record.strUserId, [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        OstrelDal::UserQuery query(OstrelDal::schema());
        constrainUser(query, _strDomain, record.strUserId);
        query.columnName().setValue(SqlText(record.strName));
        query.columnContact().setValue(SqlText(record.strContact));
        if (!record.strHash.empty()) query.columnAuthenticationToken().setValue(SqlText(record.strHash));
        return query.update(connection.db()) > 0;
    });
}

bool UserStore::remove(const std::string& strUserId) const
{
    return guarded("Deleting user " + _strDomain + "/" + strUserId, [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        VeskDal::DalDatabase& db = connection.db();
        // Memberships and grants refer to the user's row: when there is none, nothing else was
        // removed either, and the commit writes nothing.
        return VeskDal::inTransaction(db, [&](VeskDal::DalDatabase&) {
            OstrelDal::UserTeamQuery teamQuery(OstrelDal::schema());
            constrainUser(teamQuery, _strDomain, strUserId);
            teamQuery.remove(db);
            OstrelDal::UserProductRoleQuery roleQuery(OstrelDal::schema());
            constrainUser(roleQuery, _strDomain, strUserId);
            roleQuery.remove(db);
            OstrelDal::UserProductPermissionQuery permissionQuery(OstrelDal::schema());
            constrainUser(permissionQuery, _strDomain, strUserId);
            permissionQuery.remove(db);
            OstrelDal::UserQuery userQuery(OstrelDal::schema());
            constrainUser(userQuery, _strDomain, strUserId);
            return userQuery.remove(db) > 0;
        });
    });
}

std::vector<Membership> UserStore::memberships(const std::string& strUserId) const
{
    Result result;
    guarded("Reading the teams of " + _strDomain + "/" + strUserId, [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        OstrelDal::UserTeamQuery query(OstrelDal::schema());
        constrainUser(query, _strDomain, strUserId);
        return query.select(result, connection.db(), VeskDal::SqlQueryBase::full);
    });
    std::vector<Membership> membershipS;
    for (const Row& row : result) {
        std::int64_t nTeam = integerOf(row, "Team", -1, -1);
        if (nTeam < 0 || nTeam > INT32_MAX) continue;
        membershipS.push_back(Membership{static_cast<int>(nTeam), textOf(row, "IsLead") == "Y"});
    }
    return membershipS;
}

std::vector<std::pair<std::string, bool>> UserStore::members(int nTeam) const
{
    Result result;
    guarded("Reading the members of team " + std::to_string(nTeam), [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        OstrelDal::UserTeamQuery query(OstrelDal::schema());
        query.constrainDomain(SqlText(_strDomain));
        query.constrainTeam(SqlInteger(nTeam));
        return query.select(result, connection.db(), VeskDal::SqlQueryBase::full);
    });
    std::vector<std::pair<std::string, bool>> memberS;
    for (const Row& row : result)
        memberS.emplace_back(textOf(row, "UserId"), textOf(row, "IsLead") == "Y");
    return memberS;
}

void UserStore::addMember(const std::string& strUserId, int nTeam, bool bIsLead) const
{
    guarded("Adding " + _strDomain + "/" + strUserId + " to team " + std::to_string(nTeam), [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        OstrelDal::UserTeamQuery query(OstrelDal::schema());
        query.columnDomain().setValue(SqlText(_strDomain));
        query.columnUserId().setValue(SqlText(strUserId));
        query.columnTeam().setValue(SqlInteger(nTeam));
        query.columnIsLead().setValue(SqlText(bIsLead ? "Y" : "N"));
        return query.insert(connection.db());
    });
}

bool UserStore::removeMember(const std::string& strUserId, int nTeam) const
{
    return guarded("Removing " + _strDomain + "/" + strUserId + " from team " + std::to_string(nTeam), [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        OstrelDal::UserTeamQuery query(OstrelDal::schema());
        constrainUser(query, _strDomain, strUserId);
        query.constrainTeam(SqlInteger(nTeam));
        return query.remove(connection.db()) > 0;
    });
}

} // namespace AuthSql
