// The SQL password plug-in's authenticator in the test process, on a real SQLite or PostgreSQL
// database: hashes, lockout, racing failures, memberships and user administration.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "AuthSql/PasswordHash.h"
#include "AuthSql/SqlAuthenticator.h"
#include "AuthSql/UserStore.h"
#include "daemon/DaemonHarness.h"
#include "OstrelDal/OstrelDal.h"
#include "harness/Failures.h"
#include "harness/WatchedDatabase.h"

namespace {

using namespace AuthSql;
using OstrelData::InitMap;

std::vector<std::string> pluginEngines()
{
    std::vector<std::string> engineS;
    for (const std::string& strEngine : OstrelTest::testEngines())
        if (strEngine != "mysql") engineS.push_back(strEngine);
    return engineS;
}

using OstrelTest::failureOf;

class AuthSqlTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        DaemonTest::admin(_db.connectString(), {"init", "--sql-dir", OSTREL_SQL_DIR});
        DaemonTest::admin(_db.connectString(), {"customer", "add", "ACME", "Acme"});
        DaemonTest::admin(_db.connectString(), {"domain", "add", "EAST", "ACME"});
        OstrelDal::setStatementEcho(OstrelDal::echoOff);
        OstrelDal::connect(_db.connectString());
    }

    // An authenticator of EAST at the lowest cost, locking after three failures for a minute: a lock
    // counted in whole seconds must not run out between a test's steps on a slow machine.
    std::unique_ptr<SqlAuthenticator> authenticator(InitMap initAuthenticator = InitMap())
    {
        InitMap initLibrary{{pszParamOpsLimit, "1"},
                            {pszParamMemLimitKiB, "8"},
                            {pszParamLockoutThreshold, "3"},
                            {pszParamLockoutSeconds, "60"}};
        return std::make_unique<SqlAuthenticator>(initLibrary, initAuthenticator, _domain, "East", 1);
    }

    void createUser(SqlAuthenticator& auth, const std::string& strUserId, const std::string& strPassword)
    {
        auth.createUser(OstrelData::User(_domain, strUserId, "Name of " + strUserId, strPassword, strUserId + "@x"));
    }

    OstrelData::AuthenticatedUser login(SqlAuthenticator& auth, const std::string& strUserId,
                                        const std::string& strPassword)
    {
        return auth.authenticate(OstrelData::User(_domain, strUserId, "", "", ""),
                                 OstrelData::PasswordAuthenticationToken(strPassword), OstrelData::Profile("p"));
    }

    UserRecord record(const std::string& strUserId)
    {
        UserRecord stored;
        EXPECT_TRUE(UserStore("EAST").read(strUserId, stored));
        return stored;
    }

    OstrelTest::ScratchDatabase _db{GetParam()};
    OstrelData::Customer _acme{"ACME", "Acme"};
    OstrelData::Domain _domain{_acme, "EAST"};
};

TEST_P(AuthSqlTest, CreatedUserLogsInWithHisPasswordOnly)
{
    auto pauth = authenticator();
    createUser(*pauth, "alice", "correct horse");
    EXPECT_EQ(0u, record("alice").strHash.find("$argon2id$"));

    OstrelData::AuthenticatedUser alice = login(*pauth, "alice", "correct horse");
    EXPECT_EQ("Name of alice", alice.name());
    EXPECT_EQ("alice@x", alice.contact());
    EXPECT_TRUE(alice.authenticationToken().empty());
    EXPECT_EQ("p", alice.profile().profile());
    EXPECT_EQ(32u, alice.session().str().size());
    EXPECT_NE(alice.session().str(), login(*pauth, "alice", "correct horse").session().str());

    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED,
              failureOf([&] { login(*pauth, "alice", "correct horsE"); }).errorCode());
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { login(*pauth, "alice", ""); }).errorCode());
}

TEST_P(AuthSqlTest, UnknownUserAndUserWithoutPasswordFailLikeAWrongPassword)
{
    auto pauth = authenticator();
    createUser(*pauth, "alice", "pw");
    createUser(*pauth, "nopass", "");
    OstrelData::Exception wrong = failureOf([&] { login(*pauth, "alice", "nope"); });
    // Ids no engine stores (PostgreSQL would refuse the statement) are unknown like any other.
    for (const std::string& strUser : {std::string("nobody"), std::string("nopass"), std::string("\xff"),
                                       std::string("al\xc3"), std::string("a\0b", 3)}) {
        OstrelData::Exception other = failureOf([&] { login(*pauth, strUser, "nope"); });
        EXPECT_EQ(wrong.errorCode(), other.errorCode());
        EXPECT_EQ(wrong.legend(), other.legend());
        EXPECT_EQ(wrong.file(), other.file());
        EXPECT_EQ(wrong.line(), other.line());
    }
}

TEST_P(AuthSqlTest, FailuresLockTheAccountAtTheThresholdUntilTheLockRunsOut)
{
    auto pauth = authenticator();
    createUser(*pauth, "carol", "pw");
    failureOf([&] { login(*pauth, "carol", "x"); });
    failureOf([&] { login(*pauth, "carol", "x"); });
    EXPECT_EQ(2, record("carol").nBadLoginCount);
    login(*pauth, "carol", "pw");
    EXPECT_EQ(0, record("carol").nBadLoginCount) << "a success clears the count";

    for (int i = 0; i < 3; ++i)
        failureOf([&] { login(*pauth, "carol", "x"); });
    UserRecord locked = record("carol");
    EXPECT_EQ(nStatusLockedOut, locked.nStatus);
    EXPECT_NEAR(static_cast<double>(std::time(nullptr) + 60), static_cast<double>(locked.nLockedUntil), 5.0);
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { login(*pauth, "carol", "pw"); }).errorCode());
    // Attempts while locked neither count nor prolong the lock.
    failureOf([&] { login(*pauth, "carol", "x"); });
    EXPECT_EQ(locked.nLockedUntil, record("carol").nLockedUntil);
    EXPECT_EQ(3, record("carol").nBadLoginCount);

    // The lock runs out: its end moves into the past rather than the test waiting for it.
    locked = record("carol");
    locked.nLockedUntil = std::time(nullptr) - 1;
    UserStore("EAST").writeLockState(locked);
    EXPECT_EQ("carol", login(*pauth, "carol", "pw").userId());
    UserRecord open = record("carol");
    EXPECT_EQ(nStatusActive, open.nStatus);
    EXPECT_EQ(0, open.nBadLoginCount);
}

// The account-state interface reads and writes the plug-in's own status values.
TEST_P(AuthSqlTest, LockWithoutExpiryAndAdministratorsLockHoldUntilUnlocked)
{
    using Control = OstrelData::AccountControl;
    auto pauth = authenticator({{pszParamLockoutSeconds, "0"}});
    createUser(*pauth, "dave", "pw");
    Control& control = *pauth;
    for (int i = 0; i < 3; ++i)
        failureOf([&] { login(*pauth, "dave", "x"); });
    EXPECT_EQ(0, record("dave").nLockedUntil);
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { login(*pauth, "dave", "pw"); }).errorCode());
    EXPECT_EQ(Control::lockAfterFailures, control.accountState("dave").lock);
    EXPECT_EQ(3, control.accountState("dave").nFailedLogins);

    control.lock("dave");
    EXPECT_EQ(nStatusDisabled, record("dave").nStatus);
    EXPECT_EQ(Control::lockByAdministrator, control.accountState("dave").lock);
    EXPECT_EQ(0, control.accountState("dave").nFailedLogins);
    EXPECT_EQ("", pauth->credentialStamp("dave"));
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { login(*pauth, "dave", "pw"); }).errorCode());

    control.unlock("dave");
    EXPECT_EQ(Control::lockNone, control.accountState("dave").lock);
    EXPECT_EQ("dave", login(*pauth, "dave", "pw").userId());

    for (auto call : std::initializer_list<std::function<void()>>{[&] { control.accountState("nobody"); },
                                                                  [&] { control.lock("nobody"); },
                                                                  [&] { control.unlock("nobody"); }})
        EXPECT_EQ(OstrelData::nNAX_USERNOTFOUND, failureOf(call).errorCode());
}

TEST_P(AuthSqlTest, RacingFailuresAreAllCounted)
{
    auto pauth = authenticator({{pszParamLockoutThreshold, "1000"}});
    createUser(*pauth, "erin", "pw");
    std::vector<std::thread> threadS;
    std::atomic<int> nRefused{0};
    for (int i = 0; i < 8; ++i)
        threadS.emplace_back([&] {
            for (int j = 0; j < 3; ++j)
                if (failureOf([&] { login(*pauth, "erin", "x"); }).errorCode() == OstrelData::nNAX_AUTHENTICATIONFAILED)
                    ++nRefused;
        });
    for (std::thread& thread : threadS)
        thread.join();
    EXPECT_EQ(24, nRefused.load());
    EXPECT_EQ(24, record("erin").nBadLoginCount);
}

// Logins read as the daemon makes them read, in one batch per thread: a good login that clears the
// count must never hold the database while it waits for a failure's writer, nor the other way round.
TEST_P(AuthSqlTest, GoodAndBadLoginsReadingInBatchesAllGetThrough)
{
    if (GetParam() == "sqlite") OstrelDal::connect(_db.connectString() + ";busy_timeout=5000");
    auto pauth = authenticator({{pszParamLockoutThreshold, "1000"}});
    createUser(*pauth, "erin", "pw");
    std::vector<std::thread> threadS;
    std::atomic<int> nRefused{0}, nIn{0};
    for (int i = 0; i < 6; ++i)
        threadS.emplace_back([&, i] {
            for (int j = 0; j < 8; ++j) {
                OstrelDal::ThreadReads reads;
                if (i % 2 == 0 && failureOf([&] { login(*pauth, "erin", "x"); }).errorCode() ==
                                      OstrelData::nNAX_AUTHENTICATIONFAILED)
                    ++nRefused;
                if (i % 2 == 1 && failureOf([&] { login(*pauth, "erin", "pw"); }).errorCode() == 0) ++nIn;
            }
        });
    for (std::thread& thread : threadS)
        thread.join();
    EXPECT_EQ(24, nRefused.load());
    EXPECT_EQ(24, nIn.load());
}

// What a failed login asked of the database: every statement, with the rows of each write.
std::vector<std::string> failureShape(OstrelTest::WatchPool& pool, const std::function<void()>& fail)
{
    pool.watch().take();
    fail();
    std::vector<std::string> shapeS;
    for (const OstrelTest::StatementWatch::Seen& seen : pool.watch().take())
        shapeS.push_back(seen.strSql.rfind("SELECT", 0) == 0 ? seen.strSql
                                                              : seen.strSql + " -> " + std::to_string(seen.nRows));
    return shapeS;
}

TEST_P(AuthSqlTest, UnknownUsersFailWithTheStatementsAndRowsOfKnownOnes)
{
    auto pauth = authenticator();
    createUser(*pauth, "alice", "pw");
    createUser(*pauth, "nopass", "");
    OstrelTest::WatchPool pool;
    OstrelDal::connect(_db.connectString());
    failureOf([&] { login(*pauth, "warm-up", "x"); });

    const std::vector<std::string> wrongS = failureShape(pool, [&] { failureOf([&] { login(*pauth, "alice", "x"); }); });
    ASSERT_FALSE(wrongS.empty());
    EXPECT_EQ(1u, std::count_if(wrongS.begin(), wrongS.end(), [](const std::string& str) {
                  return str.rfind("UPDATE", 0) == 0 && str.find(" -> 1") != std::string::npos;
              }));
    EXPECT_EQ(wrongS, failureShape(pool, [&] { failureOf([&] { login(*pauth, "nobody", "x"); }); }));
    EXPECT_EQ(wrongS, failureShape(pool, [&] { failureOf([&] { login(*pauth, "nopass", "x"); }); }));
    failureOf([&] { login(*pauth, "alice", "x"); });
    failureOf([&] { login(*pauth, "alice", "x"); });
    ASSERT_EQ(nStatusLockedOut, record("alice").nStatus);
    EXPECT_EQ(wrongS, failureShape(pool, [&] { failureOf([&] { login(*pauth, "alice", "x"); }); }));
    EXPECT_EQ(wrongS, failureShape(pool, [&] { failureOf([&] { login(*pauth, "nobody2", "x"); }); }));
    EXPECT_EQ(nStatusLockedOut, record("alice").nStatus) << "standing in changes nothing";
    EXPECT_EQ(3, record("alice").nBadLoginCount);
    EXPECT_EQ(1, record("nopass").nBadLoginCount);
}

TEST_P(AuthSqlTest, FailuresCountedMeanwhileByAnotherProcessAreKept)
{
    auto pauth = authenticator({{pszParamLockoutThreshold, "1000"}});
    createUser(*pauth, "erin", "pw");
    OstrelTest::WatchPool pool;
    OstrelDal::connect(_db.connectString());
    // Another daemon counts a failure of erin's between this one's read and its write.
    std::atomic<bool> bArmed{true};
    pool.watch().before = [&](const std::string& strSql) {
        if (strSql.rfind("UPDATE", 0) != 0 || !bArmed.exchange(false)) return;
        UserRecord stored = record("erin");
        ++stored.nBadLoginCount;
        UserStore("EAST").writeLockState(stored);
    };
    failureOf([&] { login(*pauth, "erin", "x"); });
    EXPECT_EQ(2, record("erin").nBadLoginCount);
    // And a success does not wipe out a failure counted meanwhile into a lock.
    bArmed = true;
    pool.watch().before = [&](const std::string& strSql) {
        if (strSql.rfind("UPDATE", 0) != 0 || !bArmed.exchange(false)) return;
        UserRecord stored = record("erin");
        stored.nStatus = nStatusLockedOut;
        stored.nLockedUntil = std::time(nullptr) + 60;
        UserStore("EAST").writeLockState(stored);
    };
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { login(*pauth, "erin", "pw"); }).errorCode());
    EXPECT_EQ(nStatusLockedOut, record("erin").nStatus);

    // Nor does a failure read while a lock had run out undo the lock set again meanwhile.
    UserRecord ranOut = record("erin");
    ranOut.nLockedUntil = std::time(nullptr) - 10;
    UserStore("EAST").writeLockState(ranOut);
    const std::int64_t nRelocked = std::time(nullptr) + 60;
    bArmed = true;
    pool.watch().before = [&](const std::string& strSql) {
        if (strSql.rfind("UPDATE", 0) != 0 || !bArmed.exchange(false)) return;
        UserRecord stored = record("erin");
        stored.nLockedUntil = nRelocked;
        UserStore("EAST").writeLockState(stored);
    };
    failureOf([&] { login(*pauth, "erin", "x"); });
    pool.watch().before = nullptr;
    EXPECT_EQ(nStatusLockedOut, record("erin").nStatus);
    EXPECT_EQ(nRelocked, record("erin").nLockedUntil);
}

TEST_P(AuthSqlTest, ChangedCostRehashesAtTheNextLogin)
{
    createUser(*authenticator(), "frank", "pw");
    const std::string strOld = record("frank").strHash;
    auto pdearer = authenticator({{pszParamOpsLimit, "2"}});
    EXPECT_EQ("frank", login(*pdearer, "frank", "pw").userId());
    const std::string strNew = record("frank").strHash;
    EXPECT_NE(strOld, strNew);
    EXPECT_NE(std::string::npos, strNew.find("t=2"));
    EXPECT_FALSE(needsRehash(strNew, pdearer->cost()));
}

TEST_P(AuthSqlTest, RehashReplacesOnlyTheHashItVerified)
{
    auto pauth = authenticator();
    createUser(*pauth, "fiona", "pw");
    const std::string strVerified = record("fiona").strHash;
    // Meanwhile the password was changed, say by an administrator's tool.
    OstrelData::PasswordAuthenticationToken current("pw"), changed("changed");
    ASSERT_TRUE(pauth->passwd(login(*pauth, "fiona", "pw"), current, changed));
    const std::string strChanged = record("fiona").strHash;
    EXPECT_FALSE(UserStore("EAST").replaceHash("fiona", strVerified, strVerified + "x"));
    EXPECT_EQ(strChanged, record("fiona").strHash);
    EXPECT_TRUE(UserStore("EAST").replaceHash("fiona", strChanged, strVerified));
    EXPECT_EQ(strVerified, record("fiona").strHash);
    EXPECT_FALSE(UserStore("EAST").replaceHash("nobody", strVerified, strChanged));
}

// A session is kept on the stamp its login gave: of the hash the password was checked against, or
// of the one a rehash stored, never of a password set while the login ran.
TEST_P(AuthSqlTest, LoginsStampTheCredentialsTheyProved)
{
    auto pauth = authenticator();
    createUser(*pauth, "gina", "pw");
    auto stampedLogin = [&](SqlAuthenticator& auth, const std::string& strUserId) {
        std::string strStamp;
        auth.authenticateStamped(OstrelData::User(_domain, strUserId, "", "", ""),
                                 OstrelData::PasswordAuthenticationToken("pw"), OstrelData::Profile("p"), strStamp);
        return strStamp;
    };
    const std::string strProved = pauth->credentialStamp("gina");
    EXPECT_EQ(strProved, stampedLogin(*pauth, "gina"));

    // Changed after the password was checked, before the login ended.
    OstrelTest::WatchPool pool;
    OstrelDal::connect(_db.connectString());
    std::atomic<bool> bArmed{true};
    pool.watch().before = [&](const std::string& strSql) {
        if (strSql.find("UserTeam") == std::string::npos || !bArmed.exchange(false)) return;
        EXPECT_TRUE(UserStore("EAST").replaceHash("gina", record("gina").strHash, hashPassword("new", pauth->cost())));
    };
    EXPECT_EQ(strProved, stampedLogin(*pauth, "gina"));
    EXPECT_FALSE(bArmed.load());
    EXPECT_NE(strProved, pauth->credentialStamp("gina"));
    pool.watch().before = nullptr;

    auto pdearer = authenticator({{pszParamOpsLimit, "2"}});
    createUser(*pauth, "hugo", "pw");
    const std::string strStamp = stampedLogin(*pdearer, "hugo");
    EXPECT_NE(std::string::npos, record("hugo").strHash.find("t=2"));
    EXPECT_EQ(pdearer->credentialStamp("hugo"), strStamp) << "the rehashed password's stamp";
    // Another login rehashed the same password first.
    createUser(*pauth, "ida", "pw");
    bArmed = true;
    pool.watch().before = [&](const std::string& strSql) {
        if (strSql.find("UserTeam") == std::string::npos || !bArmed.exchange(false)) return;
        EXPECT_TRUE(UserStore("EAST").replaceHash("ida", record("ida").strHash, hashPassword("pw", pdearer->cost())));
    };
    const std::string strAfterOther = stampedLogin(*pdearer, "ida");
    EXPECT_FALSE(bArmed.load());
    EXPECT_EQ(pdearer->credentialStamp("ida"), strAfterOther);
    pool.watch().before = nullptr;
}

// Locked while the password was being checked (by a wrong guess checked beside it, or an
// administrator): the login is judged on the row as it is after the check, not before.
TEST_P(AuthSqlTest, LockRecordedDuringALoginRefusesIt)
{
    auto pauth = authenticator();
    createUser(*pauth, "jan", "pw");
    OstrelTest::WatchPool pool;
    OstrelDal::connect(_db.connectString());
    // Between the account's read before the hash and the one after it (the domain's stand-in
    // row, looked up by the first login, is found first: then each login reads the account twice).
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { login(*pauth, "nobody", "pw"); }).errorCode());
    std::atomic<int> nReads{0};
    std::atomic<bool> bLocking{false};
    pool.watch().before = [&](const std::string& strSql) {
        if (bLocking || strSql.compare(0, 6, "SELECT") != 0 || strSql.find("FROM \"User\"") == std::string::npos)
            return;
        if (++nReads == 2) {
            bLocking = true;
            pauth->lock("jan");
            bLocking = false;
        }
    };
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { login(*pauth, "jan", "pw"); }).errorCode());
    EXPECT_EQ(2, nReads.load()) << "the lock's own reads are not the login's";
    pool.watch().before = nullptr;
    pauth->unlock("jan");
    EXPECT_EQ("jan", login(*pauth, "jan", "pw").userId());
}

TEST_P(AuthSqlTest, PasswdChecksTheCurrentPasswordAndRefusesAnEmptyOne)
{
    auto pauth = authenticator();
    createUser(*pauth, "gina", "old");
    OstrelData::AuthenticatedUser gina = login(*pauth, "gina", "old");
    OstrelData::PasswordAuthenticationToken wrong("bad"), old("old"), empty(""), changed("new");
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { pauth->passwd(gina, wrong, changed); }).errorCode());
    EXPECT_EQ(OstrelData::nNAX_UPDATEFAILED, failureOf([&] { pauth->passwd(gina, old, empty); }).errorCode());
    EXPECT_TRUE(pauth->passwd(gina, old, changed));
    EXPECT_EQ("gina", login(*pauth, "gina", "new").userId());
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { login(*pauth, "gina", "old"); }).errorCode());

    // Stored while a change was hashing: a rehash of the same password lets the change go on, an
    // administrator's reset to another one is not undone by it.
    OstrelTest::WatchPool pool;
    OstrelDal::connect(_db.connectString());
    OstrelData::PasswordAuthenticationToken current("new"), next("next"), stale("stale");
    std::string strMeanwhile;
    auto storeMeanwhile = [&](const std::string& strPassword) {
        strMeanwhile.clear();
        pool.watch().before = [&, strPassword](const std::string& strSql) {
            if (strSql.rfind("UPDATE", 0) != 0 || !strMeanwhile.empty()) return;
            strMeanwhile = hashPassword(strPassword, pauth->cost());
            EXPECT_TRUE(UserStore("EAST").replaceHash("gina", record("gina").strHash, strMeanwhile));
        };
    };
    storeMeanwhile("new");
    EXPECT_TRUE(pauth->passwd(gina, current, next));
    EXPECT_EQ("gina", login(*pauth, "gina", "next").userId());
    storeMeanwhile("reset");
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { pauth->passwd(gina, next, stale); }).errorCode());
    pool.watch().before = nullptr;
    EXPECT_EQ(strMeanwhile, record("gina").strHash);
}

// Every write of the plug-in with the Nth statement (begin, execute, query or commit) failing, for
// every N it reaches: the caller gets 1021, no row changed, and the same write then succeeds.
TEST_P(AuthSqlTest, EveryStatementOfEveryWriteMayFail)
{
    if (GetParam() != "sqlite") GTEST_SKIP() << "the fault comes from the handle, not the engine";
    auto pauth = authenticator({{pszParamLockoutThreshold, "1000"}});
    createUser(*pauth, "alice", "pw");
    createUser(*pauth, "bob", "pw");
    DaemonTest::admin(_db.connectString(), {"team", "add", "7", "ACME", "Ops"});
    OstrelData::Team ops(_acme, 7, "Ops");
    OstrelData::User bob(_domain, "bob", "", "", "");
    OstrelData::User alice(_domain, "alice", "", "", "");
    OstrelData::TeamMember bobInOps(bob, false);
    pauth->createTeamMember(ops, bobInOps);
    auto passwd = [&](const std::string& strFrom, const std::string& strTo) {
        OstrelData::PasswordAuthenticationToken current(strFrom), changed(strTo);
        pauth->passwd(OstrelData::AuthenticatedUser(alice, OstrelData::SessionString("s"), OstrelData::Profile()),
                      current, changed);
    };
    auto setFailures = [&](int nCount) {
        UserRecord stored = record("alice");
        stored.nBadLoginCount = nCount;
        UserStore("EAST").writeLockState(stored);
    };
    // A refused login is the normal outcome here; anything else is the fault's.
    auto refusedLogin = [&](const char* pszUser) {
        try {
            login(*pauth, pszUser, "x");
        } catch (const OstrelData::Exception& e) {
            if (e.errorCode() != OstrelData::nNAX_AUTHENTICATIONFAILED) throw;
        }
    };
    struct Write {
        const char* pszName;
        std::function<void()> run;
        std::function<void()> undo;  // back to the state run starts from
        bool bUndoFirst = false;     // that state is made by undo
    };
    const std::vector<Write> writeS{
        {"create", [&] { createUser(*pauth, "carol", "pw"); },
         [&] { pauth->deleteUser(OstrelData::User(_domain, "carol", "", "", "")); }},
        {"update", [&] { pauth->updateUser(OstrelData::User(_domain, "alice", "Al", "pw2", "al@x")); },
         [&] { pauth->updateUser(OstrelData::User(_domain, "alice", "Name of alice", "pw", "alice@x")); }},
        {"delete with memberships", [&] { pauth->deleteUser(bob); },
         [&] {
             createUser(*pauth, "bob", "pw");
             pauth->createTeamMember(ops, bobInOps);
         }},
        {"add member", [&] { pauth->createTeamMember(ops, alice); }, [&] { pauth->deleteTeamMember(ops, alice); }},
        {"remove member", [&] { pauth->deleteTeamMember(ops, bob); }, [&] { pauth->createTeamMember(ops, bobInOps); }},
        {"passwd", [&] { passwd("pw", "pw3"); }, [&] { passwd("pw3", "pw"); }},
        {"failed login", [&] { refusedLogin("alice"); }, [&] { setFailures(0); }},
        {"unknown user", [&] { refusedLogin("nobody"); }, [] {}},
        {"login after failures", [&] { login(*pauth, "alice", "pw"); }, [&] { setFailures(2); }, true},
    };
    OstrelTest::WatchPool pool;
    OstrelDal::connect(_db.connectString());
    std::unique_ptr<VeskDal::DalDatabase> pdb = _db.open();
    refusedLogin("warm-up");  // the stand-in is looked up once, before anything is counted
    for (const Write& write : writeS) {
        SCOPED_TRACE(write.pszName);
        pool.watch().failAt(0);
        if (write.bUndoFirst) write.undo();
        pool.watch().failAt(0);
        write.run();
        const int nStatements = pool.watch().counted();
        write.undo();
        for (int nFail = 1; nFail <= nStatements; ++nFail) {
            SCOPED_TRACE("statement " + std::to_string(nFail));
            const std::string strBefore = OstrelTest::sqliteRows(*pdb);
            pool.watch().failAt(nFail);
            int nCode = 0;
            try {
                write.run();
            } catch (const OstrelData::Exception& e) {
                nCode = e.errorCode();
            } catch (const std::exception& e) {
                ADD_FAILURE() << "not an Ostrel failure: " << e.what();
            }
            pool.watch().failAt(0);
            EXPECT_EQ(OstrelData::nNAX_DATABASE, nCode);
            EXPECT_EQ(strBefore, OstrelTest::sqliteRows(*pdb));
            write.run();
            write.undo();
        }
    }
}

TEST_P(AuthSqlTest, UsersAreFoundUpdatedAndDeletedWithTheirMemberships)
{
    auto pauth = authenticator();
    createUser(*pauth, "hal", "pw");
    createUser(*pauth, "hank", "pw");
    createUser(*pauth, "ivy", "pw");
    // Nor an id no login could name: not UTF-8.
    for (const char* pszBad : {"bad/name", "caf\xe9", "\xc0\xaf"})
        EXPECT_EQ(OstrelData::nNAX_BADUSERFORMAT, failureOf([&] { createUser(*pauth, pszBad, "pw"); }).errorCode())
            << pszBad;
    // Longer than the id columns of PostgreSQL and MariaDB, which count characters, not bytes.
    EXPECT_EQ(OstrelData::nNAX_BADUSERFORMAT,
              failureOf([&] { createUser(*pauth, std::string(129, 'u'), "pw"); }).errorCode());
    std::string strGreek;
    for (int i = 0; i < 128; ++i)
        strGreek += "\xce\xb1";
    createUser(*pauth, strGreek, "pw");
    pauth->deleteUser(OstrelData::User(_domain, strGreek, "", "", ""));

    OstrelData::UserMap foundS;
    pauth->findUsers(foundS, "ha");
    EXPECT_EQ(2u, foundS.size());
    foundS.clear();
    pauth->findUsers(foundS, "i_y");
    EXPECT_EQ(1u, foundS.size());
    foundS.clear();
    pauth->users(foundS);
    EXPECT_EQ(3u, foundS.size());

    OstrelData::User hal(_domain, "hal", "Hal Again", "", "hal@y");
    pauth->updateUser(hal);
    OstrelData::User completed(_domain, "hal", "", "", "");
    pauth->user(completed, true);
    EXPECT_EQ("Hal Again", completed.name());
    EXPECT_EQ("hal@y", completed.contact());
    EXPECT_TRUE(completed.authenticationToken().empty()) << "the hash is never handed out";
    EXPECT_EQ("hal", login(*pauth, "hal", "pw").userId()) << "an update without token keeps the password";

    DaemonTest::admin(_db.connectString(), {"team", "add", "7", "ACME", "Ops"});
    OstrelData::Team ops(_acme, 7, "Ops");
    OstrelData::TeamMember lead(hal, true);
    pauth->createTeamMember(ops, lead);
    OstrelData::User ivy(_domain, "ivy", "", "", "");
    pauth->createTeamMember(ops, ivy);
    OstrelData::Team loaded(_acme, 7, "Ops");
    pauth->team(loaded);
    const OstrelData::Team& members = loaded;
    ASSERT_EQ(2u, members.members().size());
    EXPECT_TRUE(members.members().at(OstrelData::User::Key("EAST", "hal")).isLead());
    EXPECT_FALSE(members.members().at(OstrelData::User::Key("EAST", "ivy")).isLead());

    pauth->deleteUser(hal);
    EXPECT_EQ(OstrelData::nNAX_USERNOTFOUND, failureOf([&] { pauth->deleteUser(hal); }).errorCode());
    EXPECT_EQ(1u, UserStore("EAST").members(7).size());
    OstrelData::User gone(_domain, "hal", "", "", "");
    EXPECT_EQ(OstrelData::nNAX_USERNOTFOUND, failureOf([&] { pauth->user(gone, false); }).errorCode());
    pauth->deleteTeamMember(ops, ivy);
    EXPECT_EQ(OstrelData::nNAX_USERNOTFOUND, failureOf([&] { pauth->deleteTeamMember(ops, ivy); }).errorCode());
}

INSTANTIATE_TEST_SUITE_P(Engines, AuthSqlTest, ::testing::ValuesIn(pluginEngines()), OstrelTest::engineTestName);

// ---- parameters and hashes, without a database

TEST(AuthSqlParameters, AuthenticatorValuesWinOverTheLibrarysAndBadOnesAreRefused)
{
    PasswordCost standard = costFrom({}, {});
    EXPECT_EQ(2u, standard.nOpsLimit);
    EXPECT_EQ(19u * 1024 * 1024, standard.nMemLimit);
    PasswordCost cost = costFrom({{pszParamOpsLimit, "3"}, {pszParamMemLimitKiB, "1024"}}, {{pszParamOpsLimit, "4"}});
    EXPECT_EQ(4u, cost.nOpsLimit);
    EXPECT_EQ(1024u * 1024, cost.nMemLimit);
    for (const char* pszBad : {"", "-1", "0", "2x", "99999999999999999999999"})
        EXPECT_EQ(OstrelData::nNAX_AUTHENTICATORINITFAILED,
                  failureOf([&] { costFrom({{pszParamOpsLimit, pszBad}}, {}); }).errorCode())
            << pszBad;
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATORINITFAILED,
              failureOf([&] { costFrom({{pszParamMemLimitKiB, "5000000"}}, {}); }).errorCode());

    LockoutPolicy policy = lockoutFrom({{pszParamLockoutThreshold, "7"}}, {{pszParamLockoutSeconds, "0"}});
    EXPECT_EQ(7, policy.nThreshold);
    EXPECT_EQ(0, policy.nSeconds);
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATORINITFAILED,
              failureOf([&] { lockoutFrom({{pszParamLockoutThreshold, "-2"}}, {}); }).errorCode());
}

TEST(AuthSqlHashes, VerifyAcceptsOnlyTheHashedPasswordAndRefusesMangledHashes)
{
    const std::string strHash = hashPassword("pw", PasswordCost::lowest());
    EXPECT_TRUE(verifyPassword(strHash, "pw"));
    EXPECT_FALSE(verifyPassword(strHash, "pW"));
    EXPECT_FALSE(verifyPassword("", "pw"));
    EXPECT_FALSE(verifyPassword("pw", "pw")) << "a stored clear text is no hash";
    EXPECT_FALSE(verifyPassword(strHash + std::string(1, '\0') + "x", "pw"));
    EXPECT_FALSE(verifyPassword(std::string(500, '$'), "pw"));
    EXPECT_FALSE(needsRehash(strHash, PasswordCost::lowest()));
    EXPECT_TRUE(needsRehash(strHash, PasswordCost::standard()));
    EXPECT_TRUE(needsRehash("garbage", PasswordCost::lowest()));
    EXPECT_NE(strHash, hashPassword("pw", PasswordCost::lowest())) << "every hash has its own salt";
}

TEST(AuthSqlSessions, SessionIdsAre128RandomBitsInHex)
{
    std::string strFirst = newSessionId();
    EXPECT_EQ(32u, strFirst.size());
    EXPECT_EQ(std::string::npos, strFirst.find_first_not_of("0123456789abcdef"));
    EXPECT_NE(strFirst, newSessionId());
}

} // namespace
