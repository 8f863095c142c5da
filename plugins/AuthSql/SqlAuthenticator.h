#ifndef AUTHSQL_SQLAUTHENTICATOR_H
#define AUTHSQL_SQLAUTHENTICATOR_H

#include <mutex>
#include <string>

#include "AuthSql/PasswordHash.h"
#include "AuthSql/UserStore.h"
#include "Corvel/Mutex.h"
#include "OstrelData/AccountState.h"
#include "OstrelData/AuthenticationLibrary.h"
#include "OstrelData/Authenticator.h"

namespace AuthSql {

// Lockout parameter names (library or authenticator parameters; the authenticator's win):
// failed logins in a row that lock an account (0: never), and seconds until such a lock ends by
// itself (0: only an administrator ends it).
constexpr const char* pszParamLockoutThreshold = "lockout_threshold";
constexpr const char* pszParamLockoutSeconds = "lockout_seconds";

struct LockoutPolicy {
    int nThreshold = 5;
    long nSeconds = 900;
};

// Reads the lockout parameters; throws 5012 naming a parameter that is no whole number in range.
LockoutPolicy lockoutFrom(const OstrelData::InitMap& initLibrary, const OstrelData::InitMap& initAuthenticator);

// Vouches for the users of one domain from the "User" table: Argon2id password hashes, failed-login
// counting with lockout, memberships from "UserTeam".
//
// Every operation may run on several threads at once (the daemon calls authenticate and passwd
// outside its own locks, since hashing is slow). The only state shared between calls is fixed at
// construction; the failure counter's read-change-write is serialised per user.
//
// Refused logins all fail alike, with code 1 and one legend, whether the user is unknown, the
// password wrong or the account locked, and an unknown user costs a hash like any other; the
// reason goes to the event log.
class SqlAuthenticator : public OstrelData::Authenticator,
                         public OstrelData::AccountState,
                         public OstrelData::StampedLogin,
                         public OstrelData::AccountControl {
public:
    // Throws 5012 for bad cost or lockout parameters.
    SqlAuthenticator(const OstrelData::InitMap& initLibrary, const OstrelData::InitMap& initAuthenticator,
                     const OstrelData::Domain& domain, const std::string& strDescription, int nAuthenticationLibrary);

    OstrelData::AuthenticatedUser authenticate(const OstrelData::User& user,
                                               const OstrelData::AuthenticationToken& authToken,
                                               const OstrelData::Profile& profile) override;
    // Name and contact (never the hash) and, with bRecurse, the teams; throws 101 for an unknown user.
    void user(OstrelData::User& user, bool bRecurse) override;
    // Adds the members of this domain (leads flagged).
    void team(OstrelData::Team& team) override;
    // Users whose id or name matches: a text with % or _ is a LIKE pattern, any other is looked
    // for anywhere in them.
    void findUsers(OstrelData::UserMap& userS, const std::string& strText) override;
    void users(OstrelData::UserMap& userS) override;
    // Checks the current password as a login does (a wrong one counts as a failed login), then
    // stores a hash of the new one; throws 1 when the current one is refused and 600 for an empty
    // or overlong new one.
    bool passwd(const OstrelData::AuthenticatedUser& user, OstrelData::AuthenticationToken& authTokenCurrent,
                OstrelData::AuthenticationToken& authTokenNew) override;
    // The user's token is taken as his password in clear and stored hashed (none when empty).
    void createUser(const OstrelData::User& user) override;
    // Name and contact; the password too when the token is not empty. Throws 101 for an unknown user.
    void updateUser(const OstrelData::User& user) override;
    // Throws 101 for an unknown user.
    void deleteUser(const OstrelData::User& user) override;
    // A TeamMember given as the user keeps its lead flag; the team's member map follows.
    void createTeamMember(OstrelData::Team& team, OstrelData::User& user) override;
    void deleteTeamMember(OstrelData::Team& team, OstrelData::User& user) override;

    // A digest of the stored hash (which changes with every new password); empty for an unknown,
    // locked or password-less user.
    std::string credentialStamp(const std::string& strUserId) override;
    // The stamp is of the hash the password was checked against, or of the one stored in its place
    // when the login rehashed it: never of a password set while the login ran.
    OstrelData::AuthenticatedUser authenticateStamped(const OstrelData::User& user,
                                                      const OstrelData::AuthenticationToken& authToken,
                                                      const OstrelData::Profile& profile,
                                                      std::string& strStamp) override;

    // The "Status" column read through the plug-in's own values; throws 101 for an unknown user.
    State accountState(const std::string& strUserId) override;
    // Status nStatusDisabled (nStatusActive), no failures and no lock time; 101 for an unknown user.
    void lock(const std::string& strUserId) override;
    void unlock(const std::string& strUserId) override;

    const PasswordCost& cost() const { return _cost; }
    const LockoutPolicy& lockout() const { return _lockout; }

private:
    // The user's record when the token is his password and the account open (nothing written:
    // the caller records the success); otherwise records the failure and throws 1.
    UserRecord checkLogin(const std::string& strUserId, const std::string& strPassword);
    // Counts a failure against the user's row as read into record, or, when record is another
    // user's, does the same work on that stand-in row.
    void recordFailure(const std::string& strUserId, UserRecord record);
    // The lock state one more failure gives.
    UserRecord afterFailure(const UserRecord& record) const;
    // Clears the failure count of the user read as record, storing strNewHash as his hash in the
    // same statement when given; false when the account is locked (or was locked meanwhile) or gone,
    // or, with strNewHash, when the stored hash changed to one that *pstrCurrent (the password
    // the caller proved) does not match.
    bool recordSuccess(UserRecord record, const std::string& strNewHash = std::string(),
                       const std::string* pstrCurrent = nullptr);
    // The user whose row stands in for unknown users: looked up once, and again after it was
    // forgotten; empty while the database has no users.
    std::string standInId() const;
    void forgetStandIn() const;
    void refuse(const std::string& strUserId, const std::string& strReason) const;
    std::string hashNewPassword(const std::string& strPassword) const;
    // The registered domain of this authenticator's name, so that users point into the registry.
    const OstrelData::Domain& servedDomain() const;
    OstrelData::User userOf(const UserRecord& record) const;
    void addTeams(OstrelData::User& user) const;

    // A hash of a random password at the current cost, made at the first login rather than at
    // construction, so that loading the model (in every administration run too) costs no hash.
    const std::string& dummyHash() const;

    UserStore _store;
    PasswordCost _cost;
    LockoutPolicy _lockout;
    mutable std::once_flag _onceDummyHash;
    mutable std::string _strDummyHash;  // written once, under _onceDummyHash
    mutable Corvel::Mutex _mxStandIn;
    mutable std::string _strStandInId;  // under _mxStandIn
};

// The library object of the plug-in: makes a SqlAuthenticator for every domain.
class SqlLibrary : public OstrelData::AuthenticationLibrary {
public:
    explicit SqlLibrary(const OstrelData::AuthenticationLibrary* ptemplate);
    OstrelData::Authenticator* authenticator(const OstrelData::Domain& domain, const std::string& strDescription,
                                             const OstrelData::InitMap& initAuthenticator) override;
};

// 128 random bits from the operating system, as 32 lower-case hexadecimal digits.
std::string newSessionId();

} // namespace AuthSql

#endif
