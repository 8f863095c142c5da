#ifndef AUTHSQL_USERSTORE_H
#define AUTHSQL_USERSTORE_H

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace AuthSql {

// Values of the "Status" column: 0 active; 1 locked after failed logins, until "LockedUntil" when
// that holds a time (seconds since the epoch, above 0); anything else locked by an administrator
// until he unlocks it.
constexpr int nStatusActive = 0;
constexpr int nStatusLockedOut = 1;
constexpr int nStatusDisabled = 2;

// One row of "User" as the plug-in reads it. Columns the database holds as NULL read as empty or 0.
struct UserRecord {
    std::string strUserId;
    std::string strName;
    std::string strHash;  // "AuthenticationToken": an Argon2id hash, or empty when no password is set
    std::string strContact;
    int nStatus = nStatusActive;
    int nBadLoginCount = 0;
    std::int64_t nLockedUntil = 0;  // 0 when the schema has no "LockedUntil" or it holds nothing

    // Whether the account refuses logins at tNow.
    bool isLocked(time_t tNow) const;
    // Whether a lock after failed logins has run out at tNow (the account counts as active again).
    bool lockRanOut(time_t tNow) const;
};

// One "UserTeam" row of a user.
struct Membership {
    int nTeam;
    bool bIsLead;
};

// The rows of one domain in "User" and "UserTeam", through the query classes on pooled connections.
// Safe to use from several threads: each call takes its own connection. Database failures become
// OstrelData::Exception 1021 with the database's explanation.
class UserStore {
public:
    explicit UserStore(const std::string& strDomain);

    const std::string& domain() const { return _strDomain; }

    // The user's row; false when there is none.
    bool read(const std::string& strUserId, UserRecord& record) const;
    // The user's row and, in the same statement, the row of strOtherId (left as it is when there is
    // none); false when the user has none.
    bool readWith(const std::string& strUserId, UserRecord& record, const std::string& strOtherId,
                  UserRecord& other) const;
    // Every user of the domain whose user id or name matches the LIKE pattern; all of them for an
    // empty pattern.
    std::vector<UserRecord> find(const std::string& strPattern) const;

    // Writes status, failure count and (when the schema has it) lock time; false when the row is gone.
    bool writeLockState(const UserRecord& record) const;
    // Writes the lock state of after only while the stored status and failure count are still
    // those of before; false when they are not (another login changed them meanwhile, in this
    // process or in another one on the database) or the row is gone.
    // With strNewHash, the same statement stores it as the user's hash too.
    bool swapLockState(const UserRecord& before, const UserRecord& after,
                       const std::string& strNewHash = std::string()) const;
    // Some user's row: of this domain when it has users, else of any domain; false when there are
    // none.
    bool readAnyone(UserRecord& record) const;
    // Stores strNew only while the stored hash is still strOld; false when it is not (the password
    // was changed meanwhile, by this process or another) or the user is gone.
    bool replaceHash(const std::string& strUserId, const std::string& strOld, const std::string& strNew) const;

    // New row, active, no failures; the hash may be empty. Throws 1021 when the database refuses it
    // (a user id that exists already, for instance).
    void insert(const UserRecord& record) const;
    // Name and contact, and the hash unless it is empty; false when the row is gone.
    bool update(const UserRecord& record) const;
    // The user's memberships and his own grants, then his row, in one transaction; false (nothing
    // removed) when there is no such row.
    bool remove(const std::string& strUserId) const;

    std::vector<Membership> memberships(const std::string& strUserId) const;
    // The (user id, lead flag) pairs of the domain's members of a team.
    std::vector<std::pair<std::string, bool>> members(int nTeam) const;
    void addMember(const std::string& strUserId, int nTeam, bool bIsLead) const;
    // False when the user was no member.
    bool removeMember(const std::string& strUserId, int nTeam) const;

    // Whether the "User" table has the "LockedUntil" column; found out once per process.
    static bool hasLockedUntil();

private:
    std::string _strDomain;
};

} // namespace AuthSql

#endif
