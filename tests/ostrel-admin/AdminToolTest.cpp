// ostrel-admin as an operator runs it: the schema, the commands of every family, and clear
// refusals with the exit statuses it promises.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "daemon/DaemonHarness.h"
#include "VeskDal/DalDatabase.h"
#include "VeskDal/SqlStatement.h"

namespace {

using namespace DaemonTest;

ProgramResult runAdmin(const std::string& strConnect, const std::vector<std::string>& argS,
                       const std::string& strInput = std::string())
{
    std::vector<std::string> commandS{OSTREL_TEST_ADMIN, "--connect", strConnect};
    commandS.insert(commandS.end(), argS.begin(), argS.end());
    return runProgram(commandS, strInput);
}

// The stored text of one user's token column.
std::string storedToken(const OstrelTest::ScratchDatabase& db, const std::string& strUserId)
{
    std::unique_ptr<VeskDal::DalDatabase> pdb = db.open();
    VeskDal::SqlTable table(VeskDal::SqlSchema(), "User");
    VeskDal::SqlSelectStatement statement(table);
    statement.addColumn(VeskDal::SqlColumn(table, "AuthenticationToken"));
    statement.setWhere(VeskDal::SqlCondition(VeskDal::SqlColumn(table, "UserId"), VeskDal::SqlText(strUserId),
                                             VeskDal::condEqual));
    VeskDal::DalDatabase::Result result;
    pdb->query(result, statement, 0);
    return result.empty() ? std::string() : result.front()["AuthenticationToken"].string();
}

class AdminToolTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        ProgramResult result = admin({"init", "--sql-dir", OSTREL_SQL_DIR, "--plugin", OSTREL_TEST_AUTHSQL_PLUGIN});
        ASSERT_EQ(0, result.nExitCode) << result.strErr;
        for (const std::vector<std::string>& argS :
             std::vector<std::vector<std::string>>{{"param", "set", "library", "1", "argon2_opslimit", "1"},
                                                   {"param", "set", "library", "1", "argon2_memlimit_kib", "8"},
                                                   {"customer", "add", "ACME", "Acme Ltd"},
                                                   {"domain", "add", "EAST", "ACME"}}) {
            result = admin(argS);
            ASSERT_EQ(0, result.nExitCode) << result.strErr;
        }
    }
    ProgramResult admin(const std::vector<std::string>& argS, const std::string& strInput = std::string())
    {
        return runAdmin(_db.connectString(), argS, strInput);
    }

    OstrelTest::ScratchDatabase _db{GetParam()};
};

TEST_P(AdminToolTest, InitTwiceChangesNothing)
{
    ProgramResult before = admin({"product", "show", "0"});
    ProgramResult again = admin({"init", "--sql-dir", OSTREL_SQL_DIR, "--plugin", OSTREL_TEST_AUTHSQL_PLUGIN});
    ASSERT_EQ(0, again.nExitCode) << again.strErr;
    EXPECT_EQ(before.strOut, admin({"product", "show", "0"}).strOut);
    EXPECT_NE(std::string::npos, before.strOut.find("role:       2 denied Administrator"));
    EXPECT_NE(std::string::npos, before.strOut.find("permission: 7 denied Administer users"));
    ProgramResult libraries = admin({"library", "list"});
    EXPECT_NE(std::string::npos, libraries.strOut.find("1\tSQL password\tP\t" OSTREL_TEST_AUTHSQL_PLUGIN "\tloaded"))
        << libraries.strOut;
}

TEST_P(AdminToolTest, UpgradeBringsAnEarlierSchemaUpToDateKeepingItsRows)
{
    ASSERT_EQ(0, admin({"user", "add", "EAST/bob", "--no-password"}).nExitCode);
    {
        // As a database made before kept sessions and lock times lived in it.
        std::unique_ptr<VeskDal::DalDatabase> pdb = _db.open();
        const char chQuote = GetParam() == "mysql" ? '`' : '"';
        const std::string strUser = std::string(1, chQuote) + "User" + chQuote;
        pdb->executeScript("DROP TABLE " + std::string(1, chQuote) + "KeptSession" + chQuote);
        pdb->executeScript("ALTER TABLE " + strUser + " DROP COLUMN " + chQuote + "LockedUntil" + chQuote);
    }
    ProgramResult first = admin({"upgrade", "--sql-dir", OSTREL_SQL_DIR});
    ASSERT_EQ(0, first.nExitCode) << first.strErr;
    EXPECT_NE(std::string::npos, first.strOut.find("1 column(s) added")) << first.strOut;
    ProgramResult second = admin({"upgrade", "--sql-dir", OSTREL_SQL_DIR});
    ASSERT_EQ(0, second.nExitCode) << second.strErr;
    EXPECT_NE(std::string::npos, second.strOut.find("0 column(s) added")) << second.strOut;
    EXPECT_NE(std::string::npos, admin({"user", "list", "EAST"}).strOut.find("bob"));
    DaemonProcess daemon(_db.connectString(), {"--sessions", "database"});
    EXPECT_EQ(0, daemon.stop());
}

TEST_P(AdminToolTest, PasswordsAreReadFromStandardInputAndStoredHashed)
{
    ProgramResult result = admin({"user", "add", "EAST/alice", "--name", "Alice", "--password-stdin"}, "s3cret\n");
    ASSERT_EQ(0, result.nExitCode) << result.strErr;
    std::string strToken = storedToken(_db, "alice");
    EXPECT_EQ(0u, strToken.find("$argon2id$")) << strToken;
    EXPECT_EQ(std::string::npos, strToken.find("s3cret"));

    EXPECT_EQ(0, admin({"user", "change", "EAST/alice", "--password-stdin"}, "other\n").nExitCode);
    EXPECT_NE(strToken, storedToken(_db, "alice"));

    // A client sends a password as one number below a 2048-bit modulus: 255 bytes always fit.
    strToken = storedToken(_db, "alice");
    for (size_t nLength : {size_t(256), size_t(4096)}) {
        ProgramResult tooLong = admin({"user", "change", "EAST/alice", "--password-stdin"}, std::string(nLength, 'p') + "\n");
        EXPECT_EQ(1, tooLong.nExitCode);
        EXPECT_NE(std::string::npos, tooLong.strErr.find("longer than 255 bytes")) << tooLong.strErr;
    }
    // Input that never ends its line is not read to its end (timeout only ends a tool that would).
    ProgramResult endless = runProgram({"/usr/bin/timeout", "60", "/bin/sh", "-c",
                                        "exec \"$0\" --connect \"$1\" user change EAST/alice --password-stdin </dev/zero",
                                        OSTREL_TEST_ADMIN, _db.connectString()});
    EXPECT_EQ(1, endless.nExitCode) << endless.strErr;
    EXPECT_EQ(strToken, storedToken(_db, "alice"));
    EXPECT_EQ(0, admin({"user", "change", "EAST/alice", "--password-stdin"}, std::string(255, 'p') + "\r\n").nExitCode);
    EXPECT_EQ(1, admin({"user", "change", "EAST/alice", "--password-stdin"}, std::string("a\0b\n", 4)).nExitCode);

    ProgramResult empty = admin({"user", "add", "EAST/bob", "--password-stdin"}, "");
    EXPECT_EQ(1, empty.nExitCode);
    EXPECT_NE(std::string::npos, empty.strErr.find("no password on standard input"));
    ProgramResult noTerminal = admin({"user", "add", "EAST/bob"});
    EXPECT_EQ(1, noTerminal.nExitCode);
    EXPECT_NE(std::string::npos, noTerminal.strErr.find("--password-stdin")) << noTerminal.strErr;
}

TEST_P(AdminToolTest, EveryFamilyAddsListsChangesAndRemoves)
{
    ASSERT_EQ(0, admin({"user", "add", "EAST/bob", "--no-password", "--name", "Bob"}).nExitCode);
    EXPECT_EQ("10\n", admin({"product", "add", "Widgets", "--number", "10"}).strOut);
    EXPECT_EQ("1\n", admin({"role", "add", "10", "Operator"}).strOut);
    EXPECT_EQ("2\n", admin({"role", "add", "10", "Auditor"}).strOut);
    EXPECT_EQ("1\n", admin({"permission", "add", "10", "Start"}).strOut);
    EXPECT_EQ(0, admin({"rolepermission", "add", "10", "1", "1"}).nExitCode);
    EXPECT_EQ("1\tgranted\tStart\n", admin({"rolepermission", "list", "10", "1"}).strOut);
    EXPECT_EQ(0, admin({"role", "change", "10", "2", "--description", "Checker"}).nExitCode);
    EXPECT_EQ("1\tdenied\tOperator\t1\n2\tdenied\tChecker\t\n", admin({"role", "list", "10"}).strOut);

    EXPECT_EQ(0, admin({"team", "add", "7", "ACME", "Ops"}).nExitCode);
    EXPECT_EQ(0, admin({"member", "add", "7", "EAST/bob", "--lead"}).nExitCode);
    EXPECT_EQ("EAST/bob\tBob\tlead\n", admin({"member", "list", "7"}).strOut);
    EXPECT_EQ(0, admin({"grant", "add", "team", "7", "10", "role", "1"}).nExitCode);
    EXPECT_EQ(0, admin({"grant", "add", "customer", "ACME", "10", "permission", "1", "--status", "revoked"}).nExitCode);
    EXPECT_EQ("customer\tACME\t10\tpermission\t1\trevoked\n", admin({"grant", "list", "customer", "ACME"}).strOut);
    ProgramResult shown = admin({"user", "show", "EAST/bob"});
    EXPECT_NE(std::string::npos, shown.strOut.find("role:    10:1 granted Operator")) << shown.strOut;
    EXPECT_NE(std::string::npos, shown.strOut.find("permission: 10:1 revoked Start")) << shown.strOut;

    EXPECT_EQ(0, admin({"profile", "add", "default", "--default"}).nExitCode);
    EXPECT_EQ(0, admin({"profile", "host-add", "default", "10.0.0.1"}).nExitCode);
    EXPECT_EQ(0, admin({"profile", "param-set", "default", "10", "colour", "blue"}).nExitCode);
    EXPECT_EQ(0, admin({"profile", "param-set", "default", "10", "colour", "red"}).nExitCode);
    EXPECT_NE(std::string::npos, admin({"product", "show", "10"}).strOut.find("param:      default colour=red"));
    EXPECT_EQ("default\tdefault\t10.0.0.1\n", admin({"profile", "list"}).strOut);

    EXPECT_EQ(0, admin({"grant", "remove", "team", "7", "10", "role", "1"}).nExitCode);
    // Customer and user grants outlive a cascade: the database refuses while one is left.
    EXPECT_EQ(1, admin({"product", "remove", "10", "--cascade"}).nExitCode);
    EXPECT_EQ(0, admin({"grant", "remove", "customer", "ACME", "10", "permission", "1"}).nExitCode);
    EXPECT_EQ(0, admin({"member", "remove", "7", "EAST/bob"}).nExitCode);
    EXPECT_EQ(0, admin({"team", "remove", "7", "--cascade"}).nExitCode);
    EXPECT_EQ(0, admin({"user", "remove", "EAST/bob"}).nExitCode);
    EXPECT_EQ("", admin({"user", "list", "EAST"}).strOut);
    EXPECT_EQ(0, admin({"product", "remove", "10", "--cascade"}).nExitCode);
    EXPECT_EQ(std::string::npos, admin({"product", "list"}).strOut.find("Widgets"));
}

TEST_P(AdminToolTest, LockedUserShowsLockedUntilUnlocked)
{
    ASSERT_EQ(0, admin({"user", "add", "EAST/bob", "--no-password"}).nExitCode);
    EXPECT_EQ(0, admin({"user", "lock", "EAST/bob"}).nExitCode);
    EXPECT_EQ("EAST/bob\t\t\tlocked\n", admin({"user", "list", "EAST"}).strOut);
    EXPECT_EQ(0, admin({"user", "unlock", "EAST/bob"}).nExitCode);
    EXPECT_EQ("EAST/bob\t\t\tactive\n", admin({"user", "list", "EAST"}).strOut);
    EXPECT_EQ(1, admin({"user", "unlock", "EAST/nobody"}).nExitCode);
}

TEST_P(AdminToolTest, BadCommandLinesExitTwoWithAHint)
{
    for (const std::vector<std::string>& argS : std::vector<std::vector<std::string>>{
             {"frobnicate"},
             {"customer"},
             {"customer", "add", "ONLYID"},
             {"customer", "add", "A", "B", "C"},
             {"customer", "list", "--colour", "red"},
             {"team", "add", "seven", "ACME", "Ops"},
             {"role", "add", "0", "X", "--status", "maybe"},
             {"grant", "add", "planet", "X", "10", "role", "1"},
             {"user", "show", "bob"},
         }) {
        ProgramResult result = admin(argS);
        EXPECT_EQ(2, result.nExitCode) << argS[0];
        EXPECT_NE(std::string::npos, result.strErr.find("ostrel-admin: ")) << result.strErr;
    }
}

TEST_P(AdminToolTest, FailuresExitOneAndSayWhy)
{
    ProgramResult noDomain = admin({"user", "add", "NORTH/bob", "--no-password"});
    EXPECT_EQ(1, noDomain.nExitCode);
    EXPECT_NE(std::string::npos, noDomain.strErr.find("no domain 'NORTH'"));
    ProgramResult twice = admin({"customer", "add", "ACME", "Again"});
    EXPECT_EQ(1, twice.nExitCode);
    EXPECT_NE(std::string::npos, twice.strErr.find("customer 'ACME' exists"));
    ProgramResult inUse = admin({"customer", "remove", "ACME"});
    EXPECT_EQ(1, inUse.nExitCode);
    EXPECT_FALSE(inUse.strErr.empty());
    ProgramResult badCost = admin({"param", "set", "library", "1", "argon2_opslimit", "many"});
    EXPECT_EQ(0, badCost.nExitCode) << "stored as given; the plug-in refuses it when it loads";
    ProgramResult refused = admin({"user", "list", "EAST"});
    EXPECT_EQ(1, refused.nExitCode);
    EXPECT_NE(std::string::npos, refused.strErr.find("argon2_opslimit")) << refused.strErr;
    ProgramResult noDatabase = runAdmin("engine=sqlite;database=/nonexistent/dir/x.db", {"customer", "list"});
    EXPECT_EQ(1, noDatabase.nExitCode);
}

TEST_P(AdminToolTest, RefusedChangesLeaveNothingHalfDone)
{
    ASSERT_EQ(0, admin({"param", "set", "domain", "EAST", "lockout_threshold", "5"}).nExitCode);
    // A secret kept off the command line; the value comes one way only.
    EXPECT_EQ(0, admin({"param", "set", "domain", "EAST", "bind_password", "--value-stdin"}, "s3 cret\n").nExitCode);
    EXPECT_NE(std::string::npos, admin({"param", "list", "domain", "EAST"}).strOut.find("bind_password\ts3 cret\n"));
    EXPECT_EQ(2, admin({"param", "set", "domain", "EAST", "x", "v", "--value-stdin"}, "w\n").nExitCode);
    EXPECT_EQ(2, admin({"param", "set", "domain", "EAST", "x"}).nExitCode);
    ASSERT_EQ(0, admin({"user", "add", "EAST/bob", "--no-password"}).nExitCode);
    EXPECT_EQ(1, admin({"domain", "remove", "EAST"}).nExitCode);
    EXPECT_NE(std::string::npos, admin({"param", "list", "domain", "EAST"}).strOut.find("lockout_threshold"));

    ProgramResult noLibrary = admin({"domain", "add", "WEST", "ACME", "--library", "9"});
    EXPECT_EQ(1, noLibrary.nExitCode);
    EXPECT_NE(std::string::npos, noLibrary.strErr.find("no library 9")) << noLibrary.strErr;
    EXPECT_EQ(std::string::npos, admin({"domain", "list"}).strOut.find("WEST"));
    EXPECT_EQ(1, admin({"param", "list", "domain", "WEST"}).nExitCode);
    EXPECT_EQ(1, admin({"param", "list", "library", "9"}).nExitCode);

    // A client could not read a login's reply naming a team without a name, nor any reply naming
    // a customer or domain without an id; nobody could log in to a domain whose name holds a
    // separator.
    for (const std::vector<std::string>& argS : std::vector<std::vector<std::string>>{
             {"customer", "add", "", "Nobody"}, {"domain", "add", "", "ACME"}, {"domain", "add", "NORTH/X", "ACME"},
             {"domain", "add", "x@NORTH", "ACME"}, {"profile", "add", ""}})
        EXPECT_EQ(2, admin(argS).nExitCode) << argS[2];
    EXPECT_EQ("ACME\tAcme Ltd\n", admin({"customer", "list"}).strOut);
    EXPECT_EQ(2, admin({"team", "add", "5", "ACME", ""}).nExitCode);
    ASSERT_EQ(0, admin({"team", "add", "5", "ACME", "Ops"}).nExitCode);
    EXPECT_EQ(2, admin({"team", "change", "5", "--name", ""}).nExitCode);
}

TEST_P(AdminToolTest, EveryCommandHasItsOwnHelp)
{
    ProgramResult all = admin({"--help"});
    EXPECT_EQ(0, all.nExitCode);
    for (const char* pszCommand : {"customer add", "domain add", "user add", "team remove", "member add",
                                   "product add", "role change", "permission remove", "rolepermission add",
                                   "grant add", "profile param-set", "param set", "library list"}) {
        std::string strCommand = pszCommand;
        std::string::size_type n = strCommand.find(' ');
        ProgramResult help = admin({strCommand.substr(0, n), strCommand.substr(n + 1), "--help"});
        EXPECT_EQ(0, help.nExitCode) << pszCommand;
        EXPECT_EQ(0u, help.strOut.find(std::string("usage: ostrel-admin ") + pszCommand)) << help.strOut;
        EXPECT_NE(std::string::npos, all.strOut.find(pszCommand)) << pszCommand;
    }
    ProgramResult init = runProgram({OSTREL_TEST_ADMIN, "init", "--help"});
    EXPECT_EQ(0u, init.strOut.find("usage: ostrel-admin init"));
}

// The file holds the password hashes; SQLite alone would make it with the umask's mode.
TEST(AdminToolSqliteFile, InitAndUpgradeMakeTheDatabaseFileForItsOwnerOnly)
{
    for (const char* pszCommand : {"init", "upgrade"}) {
        char szDir[] = "/tmp/ostrel-admin-mode-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(szDir));
        const std::string strFile = std::string(szDir) + "/new.db";
        const mode_t nSavedMask = ::umask(022);
        ProgramResult result = runAdmin("engine=sqlite;database=ostrel;file=" + strFile,
                                        {pszCommand, "--sql-dir", OSTREL_SQL_DIR});
        ::umask(nSavedMask);
        struct stat st {};
        const bool bMade = ::stat(strFile.c_str(), &st) == 0;
        for (const char* pszSuffix : {"", "-journal", "-wal", "-shm"})
            std::remove((strFile + pszSuffix).c_str());
        ::rmdir(szDir);
        ASSERT_EQ(0, result.nExitCode) << pszCommand << ": " << result.strErr;
        ASSERT_TRUE(bMade) << pszCommand;
        EXPECT_EQ(0600u, st.st_mode & 07777) << pszCommand;
    }
}

// A schema file that is missing, empty or not a file, and a parameter whose new value the
// database refuses: a failure, and nothing lost.
TEST(AdminToolSqliteFile, UnreadableSchemaAndRefusedParameterFailKeepingWhatWasThere)
{
    char szDir[] = "/tmp/ostrel-admin-schema-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(szDir));
    const std::string strDir = szDir;
    const std::string strConnect = "engine=sqlite;database=ostrel;file=" + strDir + "/x.db";
    std::ofstream(strDir + "/sqlite.sql").flush();
    ProgramResult empty = runAdmin(strConnect, {"upgrade", "--sql-dir", strDir});
    std::remove((strDir + "/sqlite.sql").c_str());
    ::mkdir((strDir + "/sqlite.sql").c_str(), 0700);
    ProgramResult directory = runAdmin(strConnect, {"init", "--sql-dir", strDir});
    ::rmdir((strDir + "/sqlite.sql").c_str());
    EXPECT_EQ(1, empty.nExitCode);
    EXPECT_NE(std::string::npos, empty.strErr.find("holds no statements")) << empty.strErr;
    EXPECT_EQ(1, directory.nExitCode) << directory.strOut;

    OstrelTest::ScratchDatabase db("sqlite");
    const std::string strDb = db.connectString();
    ASSERT_EQ(0, runAdmin(strDb, {"init", "--sql-dir", OSTREL_SQL_DIR, "--plugin", OSTREL_TEST_AUTHSQL_PLUGIN}).nExitCode);
    for (const std::vector<std::string>& argS : std::vector<std::vector<std::string>>{
             {"product", "add", "Widgets", "--number", "10"}, {"profile", "add", "day"},
             {"profile", "param-set", "day", "10", "colour", "blue"}})
        ASSERT_EQ(0, runAdmin(strDb, argS).nExitCode) << argS[0];
    for (const char* pszWhen : {"INSERT", "UPDATE"})
        db.open()->executeScript(std::string("CREATE TRIGGER refuse_") + pszWhen + " BEFORE " + pszWhen +
                                 " ON \"ProductParam\" BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_EQ(1, runAdmin(strDb, {"profile", "param-set", "day", "10", "colour", "red"}).nExitCode);
    EXPECT_NE(std::string::npos, runAdmin(strDb, {"product", "show", "10"}).strOut.find("day colour=blue"));
    for (const char* pszName : {"/x.db", "/x.db-journal"})
        std::remove((strDir + pszName).c_str());
    ::rmdir(szDir);
}

// The connect string (a password, often) kept off the command line: in a file of the operator's
// alone, or in the environment.
class AdminToolConnectTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(nullptr, ::mkdtemp(_szDir)); }
    void TearDown() override
    {
        ::unsetenv("OSTREL_CONNECT");
        std::remove(path().c_str());
        ::rmdir(_szDir);
    }
    std::string path() const { return std::string(_szDir) + "/connect"; }
    void writeConnectFile(const std::string& strText, mode_t nMode)
    {
        std::ofstream(path(), std::ios::trunc) << strText;
        ASSERT_EQ(0, ::chmod(path().c_str(), nMode));
    }
    static ProgramResult init(const std::vector<std::string>& connectS)
    {
        std::vector<std::string> argS{OSTREL_TEST_ADMIN};
        argS.insert(argS.end(), connectS.begin(), connectS.end());
        for (const char* psz : {"init", "--sql-dir", OSTREL_SQL_DIR, "--plugin", OSTREL_TEST_AUTHSQL_PLUGIN})
            argS.push_back(psz);
        return runProgram(argS);
    }

    OstrelTest::ScratchDatabase _db{"sqlite"};
    char _szDir[32] = "/tmp/ostrel-connect-XXXXXX";
};

TEST_F(AdminToolConnectTest, ConnectFileIsReadOnlyWhenItIsTheOwnersAloneAndSmall)
{
    writeConnectFile(_db.connectString() + "\nsecond line\n", 0644);
    ProgramResult open = init({"--connect-file", path()});
    EXPECT_EQ(1, open.nExitCode);
    EXPECT_NE(std::string::npos, open.strErr.find(path() + ": readable or writable by group or others"))
        << open.strErr;
    EXPECT_EQ(std::string::npos, open.strErr.find("engine=")) << "the file's text leaked: " << open.strErr;

    ASSERT_EQ(0, ::chmod(path().c_str(), 0600));
    ProgramResult ownerOnly = init({"--connect-file", path()});
    EXPECT_EQ(0, ownerOnly.nExitCode) << ownerOnly.strErr;

    writeConnectFile(_db.connectString() + ";" + std::string(64 * 1024, ' '), 0600);
    ProgramResult oversized = init({"--connect-file", path()});
    EXPECT_EQ(1, oversized.nExitCode);
    EXPECT_NE(std::string::npos, oversized.strErr.find("larger than 64 KiB")) << oversized.strErr;

    EXPECT_EQ(2, init({"--connect", _db.connectString(), "--connect-file", path()}).nExitCode);
}

TEST_F(AdminToolConnectTest, EnvironmentGivesTheConnectStringWhenNoOptionDoes)
{
    ASSERT_EQ(0, ::setenv("OSTREL_CONNECT", _db.connectString().c_str(), 1));
    ProgramResult fromEnvironment = init({});
    ASSERT_EQ(0, fromEnvironment.nExitCode) << fromEnvironment.strErr;
    EXPECT_EQ(0, runAdmin(_db.connectString(), {"customer", "add", "ACME", "Acme Ltd"}).nExitCode);

    // An option goes before the environment.
    ASSERT_EQ(0, ::setenv("OSTREL_CONNECT", "engine=nonesuch", 1));
    EXPECT_EQ(0, init({"--connect", _db.connectString()}).nExitCode);
    writeConnectFile(_db.connectString() + "\n", 0600);
    EXPECT_EQ(0, init({"--connect-file", path()}).nExitCode);
    EXPECT_EQ(1, init({}).nExitCode);
}

INSTANTIATE_TEST_SUITE_P(Engines, AdminToolTest, ::testing::ValuesIn(OstrelTest::testEngines()),
                         OstrelTest::engineTestName);

} // namespace
