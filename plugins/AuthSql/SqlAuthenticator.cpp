#include "AuthSql/SqlAuthenticator.h"

#include <algorithm>
#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>

#include <sodium.h>

#include "Corvel/EventLogger.h"
#include "OstrelData/Exception.h"
#include "OstrelData/Factory.h"
#include "OstrelData/SessionString.h"
#include "OstrelData/TeamMember.h"
#include "OstrelDal/OstrelDB.h"

namespace AuthSql {

using OstrelData::nNAX_AUTHENTICATIONFAILED;

namespace {

// The legend of every refused login: it must not tell an unknown user from a wrong password or a
// locked account.
const char* const pszRefused = "Bad user id or password.";

// The width of the user id columns on PostgreSQL and MariaDB: a longer id would fail there, or be
// cut short by a server not in strict mode.
constexpr size_t nMaxUserIdLength = 128;

// Tries of a compare-and-set that another process keeps beating; each lost try means that
// process's change went in, so only a wedged peer reaches the bound.
constexpr int nMaxSwapTries = 32;

// The lock state of a user is changed under one of these, chosen by the user, so that logins of
// this process racing each other take turns instead of retrying; the database's compare-and-set
// (UserStore::swapLockState) is what keeps daemons sharing a database from undercounting.
Corvel::Mutex& stripeOf(const std::string& strDomain, const std::string& strUserId)
{
    static Corvel::Mutex s_mxStripeS[64];
    size_t nHash = std::hash<std::string>()(strDomain + '\n' + strUserId);
    return s_mxStripeS[nHash % 64];
}

long lockoutNumber(const OstrelData::InitMap& initLibrary, const OstrelData::InitMap& initAuthenticator,
                   const char* pszName, long nDefault, long nMax)
{
    OstrelData::InitMap::const_iterator it = initAuthenticator.find(pszName);
    if (it == initAuthenticator.end()) {
        it = initLibrary.find(pszName);
        if (it == initLibrary.end()) return nDefault;
    }
    const std::string& strValue = it->second;
    char* pszEnd = nullptr;
    errno = 0;
    long n = std::strtol(strValue.c_str(), &pszEnd, 10);
    if (strValue.empty() || *pszEnd != '\0' || errno == ERANGE || n < 0 || n > nMax)
        OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATORINITFAILED, std::string(pszName) +
                                                                 " must be a whole number from 0 to " +
                                                                 std::to_string(nMax) + ", not '" + strValue + "'");
    return n;
}

void logSecurity(const std::string& strText)
{
    Corvel::EventLogger::theLogger().logWarning(strText, Corvel::layerSecurity);
}

// Whether an account could be stored under the id on every engine: text in UTF-8 without a NUL
// byte (PostgreSQL refuses anything else in a statement, and the failure would not read as the
// refusal every other unknown id gets).
bool storableUserId(const std::string& strUserId)
{
    for (size_t i = 0; i < strUserId.size();) {
        const unsigned char ch = static_cast<unsigned char>(strUserId[i]);
        size_t nMore = 0;
        if (ch == 0) return false;
        if (ch >= 0xf0 && ch <= 0xf4) nMore = 3;
        else if (ch >= 0xe0 && ch <= 0xef) nMore = 2;
        else if (ch >= 0xc2 && ch <= 0xdf) nMore = 1;
        else if (ch >= 0x80) return false;
        if (i + nMore >= strUserId.size() && nMore != 0) return false;
        const unsigned char second = static_cast<unsigned char>(nMore != 0 ? strUserId[i + 1] : 0x80);
        // No overlong forms, no surrogates, nothing beyond U+10FFFF.
        if ((ch == 0xe0 && second < 0xa0) || (ch == 0xed && second > 0x9f) || (ch == 0xf0 && second < 0x90) ||
            (ch == 0xf4 && second > 0x8f))
            return false;
        for (size_t k = 1; k <= nMore; ++k)
            if ((static_cast<unsigned char>(strUserId[i + k]) & 0xc0) != 0x80) return false;
        i += nMore + 1;
    }
    return true;
}

void checkUserId(const std::string& strUserId)
{
    // Characters as the columns count them: bytes that do not continue a UTF-8 sequence.
    const size_t nCharacters = static_cast<size_t>(std::count_if(
        strUserId.begin(), strUserId.end(), [](char ch) { return (static_cast<unsigned char>(ch) & 0xC0) != 0x80; }));
    bool bBad = strUserId.empty() || nCharacters > nMaxUserIdLength;
    for (unsigned char ch : strUserId)
        bBad = bBad || ch < 0x20 || ch == 0x7f || ch == '/' || ch == '\\' || ch == '@';
    // An id no login could give (the login takes any other for an unknown user's) is no account.
    if (bBad || !storableUserId(strUserId))
        OSTREL_RAISE(OstrelData::nNAX_BADUSERFORMAT,
                     "A user id is 1 to 128 characters of UTF-8 text without control characters, '/', '\\' or '@'.");
}

std::string hexOf(const unsigned char* pb, size_t n)
{
    static const char acHex[] = "0123456789abcdef";
    std::string strHex;
    strHex.reserve(2 * n);
    for (const unsigned char* pbEnd = pb + n; pb != pbEnd; ++pb) {
        strHex += acHex[*pb >> 4];
        strHex += acHex[*pb & 15];
    }
    return strHex;
}

// A digest of a stored hash: it changes with every new password, and tells nothing of it.
std::string stampOf(const std::string& strHash)
{
    unsigned char abDigest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(abDigest, reinterpret_cast<const unsigned char*>(strHash.data()), strHash.size());
    return hexOf(abDigest, sizeof abDigest);
}

} // namespace

LockoutPolicy lockoutFrom(const OstrelData::InitMap& initLibrary, const OstrelData::InitMap& initAuthenticator)
{
    LockoutPolicy policy;
    policy.nThreshold =
        static_cast<int>(lockoutNumber(initLibrary, initAuthenticator, pszParamLockoutThreshold, 5, 1000000));
    policy.nSeconds = lockoutNumber(initLibrary, initAuthenticator, pszParamLockoutSeconds, 900, 366L * 24 * 3600);
    return policy;
}

std::string newSessionId()
{
    unsigned char abRandom[16];
    size_t nHave = 0;
    while (nHave < sizeof abRandom) {
        ssize_t nGot = getrandom(abRandom + nHave, sizeof abRandom - nHave, 0);
        if (nGot < 0) {
            if (errno == EINTR) continue;
            OSTREL_RAISE(nNAX_AUTHENTICATIONFAILED, std::string("No random session id: ") + std::strerror(errno));
        }
        nHave += static_cast<size_t>(nGot);
    }
    return hexOf(abRandom, sizeof abRandom);
}

SqlAuthenticator::SqlAuthenticator(const OstrelData::InitMap& initLibrary,
                                   const OstrelData::InitMap& initAuthenticator, const OstrelData::Domain& domain,
                                   const std::string& strDescription, int nAuthenticationLibrary)
    : OstrelData::Authenticator(initAuthenticator, domain, strDescription, nAuthenticationLibrary),
      _store(domain.domain()),
      _cost(costFrom(initLibrary, initAuthenticator)),
      _lockout(lockoutFrom(initLibrary, initAuthenticator))
{
    setUserTools(true);
}

OstrelData::AuthenticatedUser SqlAuthenticator::authenticate(const OstrelData::User& user,
                                                             const OstrelData::AuthenticationToken& authToken,
                                                             const OstrelData::Profile& profile)
{
    std::string strStamp;
    return authenticateStamped(user, authToken, profile, strStamp);
}

OstrelData::AuthenticatedUser SqlAuthenticator::authenticateStamped(const OstrelData::User& user,
                                                                    const OstrelData::AuthenticationToken& authToken,
                                                                    const OstrelData::Profile& profile,
                                                                    std::string& strStamp)
{
    const std::string& strPassword = authToken.str();
    UserRecord record = checkLogin(user.userId(), strPassword);
    // Everything the login reads comes before what it writes: a login that fails on a read has
    // changed nothing.
    OstrelData::User found = userOf(record);
    addTeams(found);
    if (!recordSuccess(record)) refuse(user.userId(), "account locked");
    std::string strProved = record.strHash;
    if (needsRehash(record.strHash, _cost)) {
        // The cost was changed since the password was set: store it at the new one. The login
        // stands even when that fails. Only the hash just verified is replaced, so that a password
        // changed since (here or by another process) is never put back.
        try {
            std::string strHash;
            {
                OstrelDal::ReadsPause pause;
                strHash = hashPassword(strPassword, _cost);
            }
            if (_store.replaceHash(record.strUserId, record.strHash, strHash)) {
                strProved = std::move(strHash);
            } else {
                // Another login of his may have rehashed the same password first: what it stored
                // is proved as well, or a session kept now would end as if the password had changed.
                UserRecord now;
                if (_store.read(record.strUserId, now) && !now.strHash.empty() && now.strHash != record.strHash) {
                    OstrelDal::ReadsPause pause;
                    if (verifyPassword(now.strHash, strPassword)) strProved = now.strHash;
                }
            }
        } catch (const OstrelData::Exception& e) {
            logSecurity("Could not store a new hash for " + _store.domain() + "/" + record.strUserId + ": " +
                        e.legend());
        }
    }
    strStamp = stampOf(strProved);
    return OstrelData::AuthenticatedUser(found, OstrelData::SessionString(newSessionId()), profile);
}

void SqlAuthenticator::user(OstrelData::User& user, bool)
{
    UserRecord record;
    if (!_store.read(user.userId(), record))
        OSTREL_RAISE(OstrelData::nNAX_USERNOTFOUND, _store.domain() + "/" + user.userId());
    user.setName(record.strName);
    user.setContact(record.strContact);
    // The teams decide the user's team grants, so they are always completed.
    user.teams().clear();
    addTeams(user);
}

void SqlAuthenticator::team(OstrelData::Team& team)
{
    for (const std::pair<std::string, bool>& member : _store.members(team.team())) {
        UserRecord record;
        if (!_store.read(member.first, record)) continue;
        OstrelData::User user = userOf(record);
        team.members().insert_or_assign(user.key(), OstrelData::TeamMember(user, member.second));
    }
}

void SqlAuthenticator::findUsers(OstrelData::UserMap& userS, const std::string& strText)
{
    const bool bPattern = strText.find_first_of("%_") != std::string::npos;
    for (const UserRecord& record : _store.find(bPattern ? strText : "%" + strText + "%")) {
        OstrelData::User user = userOf(record);
        userS.insert_or_assign(user.key(), user);
    }
}

void SqlAuthenticator::users(OstrelData::UserMap& userS)
{
    for (const UserRecord& record : _store.find("")) {
        OstrelData::User user = userOf(record);
        userS.insert_or_assign(user.key(), user);
    }
}

bool SqlAuthenticator::passwd(const OstrelData::AuthenticatedUser& user,
                              OstrelData::AuthenticationToken& authTokenCurrent,
                              OstrelData::AuthenticationToken& authTokenNew)
{
    const std::string& strNew = authTokenNew.str();
    if (strNew.empty()) OSTREL_RAISE(OstrelData::nNAX_UPDATEFAILED, "The new password is empty.");
    if (strNew.size() > nMaxPasswordLength)
        OSTREL_RAISE(OstrelData::nNAX_UPDATEFAILED,
                     "The new password is longer than " + std::to_string(nMaxPasswordLength) + " characters.");
    UserRecord record = checkLogin(user.userId(), authTokenCurrent.str());
    // The new hash and the cleared failure count go in by one statement: both or neither.
    if (!recordSuccess(record, hashPassword(strNew, _cost), &authTokenCurrent.str()))
        refuse(user.userId(), "account locked or password changed meanwhile");
    logSecurity("Password changed for " + _store.domain() + "/" + record.strUserId);
    return true;
}

void SqlAuthenticator::createUser(const OstrelData::User& user)
{
    checkUserId(user.userId());
    UserRecord record;
    record.strUserId = user.userId();
    record.strName = user.name();
    record.strContact = user.contact();
    record.strHash = user.authenticationToken().empty() ? std::string() : hashNewPassword(user.authenticationToken());
    _store.insert(record);
}

void SqlAuthenticator::updateUser(const OstrelData::User& user)
{
    UserRecord record;
    record.strUserId = user.userId();
    record.strName = user.name();
    record.strContact = user.contact();
    record.strHash = user.authenticationToken().empty() ? std::string() : hashNewPassword(user.authenticationToken());
    if (!_store.update(record)) OSTREL_RAISE(OstrelData::nNAX_USERNOTFOUND, _store.domain() + "/" + user.userId());
}

void SqlAuthenticator::deleteUser(const OstrelData::User& user)
{
    if (!_store.remove(user.userId()))
        OSTREL_RAISE(OstrelData::nNAX_USERNOTFOUND, _store.domain() + "/" + user.userId());
}

void SqlAuthenticator::createTeamMember(OstrelData::Team& team, OstrelData::User& user)
{
    const OstrelData::TeamMember* pmember = dynamic_cast<const OstrelData::TeamMember*>(&user);
    const bool bIsLead = pmember != nullptr && pmember->isLead();
    _store.addMember(user.userId(), team.team(), bIsLead);
    team.members().insert_or_assign(user.key(), OstrelData::TeamMember(user, bIsLead));
}

void SqlAuthenticator::deleteTeamMember(OstrelData::Team& team, OstrelData::User& user)
{
    if (!_store.removeMember(user.userId(), team.team()))
        OSTREL_RAISE(OstrelData::nNAX_USERNOTFOUND,
                     _store.domain() + "/" + user.userId() + " is no member of team " + std::to_string(team.team()));
    team.members().erase(user.key());
}

std::string SqlAuthenticator::credentialStamp(const std::string& strUserId)
{
    // A lock an administrator set ends the account's sessions; a lockout after failed logins does
    // not (or anyone who can type wrong passwords could end anyone's sessions).
    UserRecord record;
    if (!_store.read(strUserId, record) || record.strHash.empty() ||
        (record.nStatus != nStatusActive && record.nStatus != nStatusLockedOut))
        return std::string();
    return stampOf(record.strHash);
}

OstrelData::AccountControl::State SqlAuthenticator::accountState(const std::string& strUserId)
{
    UserRecord record;
    if (!_store.read(strUserId, record)) OSTREL_RAISE(OstrelData::nNAX_USERNOTFOUND, _store.domain() + "/" + strUserId);
    State state;
    state.lock = record.nStatus == nStatusActive      ? lockNone
                 : record.nStatus == nStatusLockedOut ? lockAfterFailures
                                                      : lockByAdministrator;
    state.nFailedLogins = record.nBadLoginCount;
    state.nLockedUntil = record.nLockedUntil;
    return state;
}

namespace {

// Sets the account's status; an administrator's word starts the failure count and any lock time
// afresh.
void writeStatus(const UserStore& store, const std::string& strUserId, int nStatus)
{
    UserRecord record;
    record.strUserId = strUserId;
    record.nStatus = nStatus;
    if (!store.writeLockState(record)) OSTREL_RAISE(OstrelData::nNAX_USERNOTFOUND, store.domain() + "/" + strUserId);
}

} // namespace

void SqlAuthenticator::lock(const std::string& strUserId)
{
    writeStatus(_store, strUserId, nStatusDisabled);
}

void SqlAuthenticator::unlock(const std::string& strUserId)
{
    writeStatus(_store, strUserId, nStatusActive);
}

UserRecord SqlAuthenticator::checkLogin(const std::string& strUserId, const std::string& strPassword)
{
    // Made before anything is looked up, so that no login's time depends on who asked first.
    const std::string& strDummyHash = dummyHash();
    // The stand-in's row is read with the user's by the same statement, so that it is fresh when an
    // unknown user's failure needs it (see recordFailure).
    UserRecord record;
    UserRecord standIn;
    // Its lock is waited for before anything is read: a caller's batch holds nothing of the database yet.
    const std::string strStandInId = standInId();
    // An id no account can have is looked up as the empty one and found in no case: the same
    // statements, and the same refusal.
    const bool bStorable = storableUserId(strUserId);
    const std::string& strLookedUp = bStorable ? strUserId : std::string();
    bool bFound = _store.readWith(strLookedUp, record, strStandInId, standIn) && bStorable;
    const bool bHasPassword = bFound && !record.strHash.empty();
    // Exactly one verification at the current cost on every path, the dummy hash standing in for
    // a user without one, so that the time taken tells nothing.
    bool bMatch;
    {
        // The hash is the slowest step of a login: a caller's batch of reads does not hold the
        // database through it.
        OstrelDal::ReadsPause pause;
        bMatch = verifyPassword(bHasPassword ? record.strHash : strDummyHash, strPassword) && bHasPassword;
    }
    // The login is judged on the row as it stands after the hash, which is slow on purpose: a lock
    // recorded meanwhile, by a wrong guess checked beside this one or by an administrator, refuses
    // a right password too, or guesses sent side by side would each be judged on the row from
    // before the lock. Read again on every path, so that a right password refused so costs the
    // same statements as a wrong one.
    UserRecord recordAfter;
    bFound = _store.readWith(strLookedUp, recordAfter, strStandInId, standIn) && bFound;
    if (bFound) {
        // The hash checked stays the one read first (a password changed meanwhile is the stamp's
        // concern); the lock state is the one read now.
        recordAfter.strHash = record.strHash;
        record = std::move(recordAfter);
    }
    const bool bLocked = bFound && record.isLocked(std::time(nullptr));
    if (!bMatch || !bFound || bLocked) {
        // Failures are recorded for every refusal, so that all of them cost the same statements.
        recordFailure(strUserId, bFound ? record : standIn);
        if (!bFound) refuse(strUserId, "no such user");
        if (bLocked) refuse(strUserId, "account locked");
        refuse(strUserId, bHasPassword ? "wrong password" : "no password set");
    }
    return record;
}

UserRecord SqlAuthenticator::afterFailure(const UserRecord& record) const
{
    UserRecord after = record;
    const time_t tNow = std::time(nullptr);
    if (after.lockRanOut(tNow)) {
        after.nStatus = nStatusActive;
        after.nBadLoginCount = 0;
        after.nLockedUntil = 0;
    }
    // A locked account stays as it is: attempts while it is locked neither count nor prolong the
    // lock.
    if (after.isLocked(tNow)) return after;
    ++after.nBadLoginCount;
    if (_lockout.nThreshold > 0 && after.nBadLoginCount >= _lockout.nThreshold) {
        after.nStatus = nStatusLockedOut;
        after.nLockedUntil = _lockout.nSeconds > 0 ? static_cast<std::int64_t>(tNow) + _lockout.nSeconds : 0;
    }
    return after;
}

void SqlAuthenticator::recordFailure(const std::string& strUserId, UserRecord record)
{
    // The stripe's holder may be writing, and on SQLite waiting for this thread's reads to end.
    OstrelDal::ReadsPause pause;
    // The stripe of the row written, the stand-in's for an unknown user.
    Corvel::MutexLock lock(stripeOf(_store.domain(), record.strUserId));
    // An unknown user's failure does a known user's work on a stand-in row, whose lock state is
    // written back as it is: the same statements touching as many rows, so that neither the time
    // taken nor the database's load tells an unknown user from a real one.
    const bool bStandIn = record.strUserId != strUserId;
    if (bStandIn && record.strUserId.empty()) {
        // The stand-in is gone (or there was none): choose another for the next time.
        forgetStandIn();
        return;
    }
    for (int nTry = 0; nTry < nMaxSwapTries; ++nTry) {
        const UserRecord after = bStandIn ? record : afterFailure(record);
        if (_store.swapLockState(record, after)) {
            if (!bStandIn && after.nStatus == nStatusLockedOut && record.nStatus != nStatusLockedOut) {
                std::string strUntil = _lockout.nSeconds > 0 && UserStore::hasLockedUntil()
                                           ? "for " + std::to_string(_lockout.nSeconds) + " seconds"
                                           : "until an administrator unlocks it";
                logSecurity("Account " + _store.domain() + "/" + strUserId + " locked after " +
                            std::to_string(after.nBadLoginCount) + " failed logins, " + strUntil);
            }
            return;
        }
        // Changed meanwhile, most likely by another daemon: count again on what is stored now.
        if (!_store.read(record.strUserId, record)) {
            if (bStandIn) forgetStandIn();
            return;  // removed meanwhile; nothing left to count on
        }
    }
    logSecurity("Could not record a failed login of " + _store.domain() + "/" +
                Corvel::EventLogger::clip(strUserId) + ": its row kept changing");
}

bool SqlAuthenticator::recordSuccess(UserRecord record, const std::string& strNewHash,
                                     const std::string* pstrCurrent)
{
    auto settled = [&strNewHash](const UserRecord& stored) {
        return strNewHash.empty() && stored.nStatus == nStatusActive && stored.nBadLoginCount == 0 &&
               stored.nLockedUntil == 0;
    };
    // Mostly there is nothing to write, and so nothing to wait for.
    if (record.isLocked(std::time(nullptr))) return false;
    if (settled(record)) return true;
    // As for a failure: the stripe's holder may be waiting for this thread's reads to end.
    OstrelDal::ReadsPause pause;
    Corvel::MutexLock lock(stripeOf(_store.domain(), record.strUserId));
    std::string strChecked = record.strHash;
    for (int nTry = 0; nTry < nMaxSwapTries; ++nTry) {
        if (record.isLocked(std::time(nullptr))) return false;
        // Stored meanwhile: a rehash of the same password goes on, a reset to another one wins.
        if (!strNewHash.empty() && record.strHash != strChecked) {
            if (pstrCurrent == nullptr || !verifyPassword(record.strHash, *pstrCurrent)) return false;
            strChecked = record.strHash;
        }
        if (settled(record)) return true;
        UserRecord after = record;
        after.nStatus = nStatusActive;
        after.nBadLoginCount = 0;
        after.nLockedUntil = 0;
        if (_store.swapLockState(record, after, strNewHash)) return true;
        if (!_store.read(record.strUserId, record)) return false;
    }
    return false;
}

std::string SqlAuthenticator::standInId() const
{
    Corvel::MutexLock lock(_mxStandIn);
    if (_strStandInId.empty()) {
        UserRecord anyone;
        if (_store.readAnyone(anyone)) _strStandInId = anyone.strUserId;
    }
    return _strStandInId;
}

void SqlAuthenticator::forgetStandIn() const
{
    Corvel::MutexLock lock(_mxStandIn);
    _strStandInId.clear();
}

void SqlAuthenticator::refuse(const std::string& strUserId, const std::string& strReason) const
{
    // The user id is the client's text; a stream of refusals is summed up, not logged line by line.
    static Corvel::LogThrottle s_throttle("refused logins");
    std::string strSummary;
    const bool bLog = s_throttle.admit(_store.domain() + "/" + Corvel::EventLogger::clip(strUserId), strSummary);
    if (!strSummary.empty()) logSecurity(strSummary);
    if (bLog)
        logSecurity("Login refused for " + _store.domain() + "/" + Corvel::EventLogger::clip(strUserId) + ": " +
                    strReason);
    OSTREL_RAISE(nNAX_AUTHENTICATIONFAILED, pszRefused);
}

std::string SqlAuthenticator::hashNewPassword(const std::string& strPassword) const
{
    if (strPassword.size() > nMaxPasswordLength)
        OSTREL_RAISE(OstrelData::nNAX_UPDATEFAILED,
                     "The password is longer than " + std::to_string(nMaxPasswordLength) + " characters.");
    return hashPassword(strPassword, _cost);
}

const std::string& SqlAuthenticator::dummyHash() const
{
    std::call_once(_onceDummyHash, [this] { _strDummyHash = hashPassword(newSessionId(), _cost); });
    return _strDummyHash;
}

const OstrelData::Domain& SqlAuthenticator::servedDomain() const
{
    OstrelData::DomainMap::const_iterator it = OstrelData::Factory::domains().find(domain().domain());
    return it != OstrelData::Factory::domains().end() ? it->second : domain();
}

OstrelData::User SqlAuthenticator::userOf(const UserRecord& record) const
{
    return OstrelData::User(servedDomain(), record.strUserId, record.strName, "", record.strContact);
}

void SqlAuthenticator::addTeams(OstrelData::User& user) const
{
    const OstrelData::TeamMap& teamS = OstrelData::Factory::teams();
    for (const Membership& membership : _store.memberships(user.userId())) {
        OstrelData::TeamMap::const_iterator it = teamS.find(membership.nTeam);
        if (it != teamS.end()) user.teams().insert_or_assign(membership.nTeam, it->second);
    }
}

SqlLibrary::SqlLibrary(const OstrelData::AuthenticationLibrary* ptemplate) : OstrelData::AuthenticationLibrary(ptemplate)
{
}

OstrelData::Authenticator* SqlLibrary::authenticator(const OstrelData::Domain& domain,
                                                     const std::string& strDescription,
                                                     const OstrelData::InitMap& initAuthenticator)
{
    return new SqlAuthenticator(libraryInit(), initAuthenticator, domain, strDescription, authenticationLibrary());
}

} // namespace AuthSql
