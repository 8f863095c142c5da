// Connect strings, engine choice and opening failures that need no running server.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "VeskDal/VeskDal.h"

using namespace VeskDal;

namespace {

using Map = DalDatabase::ConnectionParameterMap;

int connectStringError(const std::string& strConnect, std::string* pstrText = nullptr)
{
    Map parameterS;
    try {
        DalDatabase::connectStringToMap(parameterS, strConnect, 0);
    } catch (const DalDatabaseException& e) {
        if (pstrText) {
            *pstrText = e.nativeExplanation();
        }
        return e.errorCode();
    }
    return 0;
}

TEST(ConnectString, PairsAreSplitAndTrimmed)
{
    Map parameterS;
    DalDatabase::connectStringToMap(parameterS, " engine = sqlite ;database=ostrel ;; file=/tmp/a b.db;", 0);
    EXPECT_EQ((Map{{"engine", "sqlite"}, {"database", "ostrel"}, {"file", "/tmp/a b.db"}}), parameterS);
}

TEST(ConnectString, QuotedValuesKeepSemicolonsBlanksAndQuotes)
{
    Map parameterS;
    DalDatabase::connectStringToMap(parameterS, "password=\" p;w \"\"x\"\" \" ; user=\"\"", 0);
    EXPECT_EQ(" p;w \"x\" ", parameterS["password"]);
    EXPECT_EQ("", parameterS["user"]);
}

TEST(ConnectString, MergeKeepsOtherNamesAndClearStartsAfresh)
{
    Map parameterS{{"engine", "mysql"}, {"host", "db1"}};
    DalDatabase::connectStringToMap(parameterS, "host=db2;host=db3", DalDatabase::csMerge);
    EXPECT_EQ((Map{{"engine", "mysql"}, {"host", "db3"}}), parameterS);
    DalDatabase::connectStringToMap(parameterS, "database=x", DalDatabase::csClearMap);
    EXPECT_EQ((Map{{"database", "x"}}), parameterS);
}

TEST(ConnectString, MapRoundTripsThroughText)
{
    Map parameterS{{"a", ""}, {"b", " lead"}, {"c", "x;y"}, {"d", "q\"q"}, {"e", "plain"}};
    Map parsedS;
    DalDatabase::connectStringToMap(parsedS, DalDatabase::mapToConnectString(parameterS), 0);
    EXPECT_EQ(parameterS, parsedS);
}

TEST(ConnectString, MalformedStringsAreRefusedWithoutTouchingTheMap)
{
    for (const char* psz : {"engine", "=x", "engine=sqlite;database", "password=\"abc", "password=\"a\"b",
                            "pass word=x", "a=b\"c"}) {
        EXPECT_EQ(DDBERR_CONNECTSTRING, connectStringError(psz)) << psz;
    }
    Map parameterS{{"keep", "me"}};
    EXPECT_THROW(DalDatabase::connectStringToMap(parameterS, "x=1;broken", DalDatabase::csClearMap),
                 DalDatabaseException);
    EXPECT_EQ((Map{{"keep", "me"}}), parameterS);
}

TEST(ConnectString, ErrorsNameTheParameterButNotItsValue)
{
    std::string strText;
    connectStringError("user=u;password=\"s3cret", &strText);
    EXPECT_NE(std::string::npos, strText.find("password")) << strText;
    EXPECT_EQ(std::string::npos, strText.find("s3cret")) << strText;
}

TEST(ConnectString, EmptyStringGivesNoParameters)
{
    Map parameterS;
    DalDatabase::connectStringToMap(parameterS, "  ;  ", 0);
    EXPECT_TRUE(parameterS.empty());
}

// ---- engines and drivers

TEST(DalDynamicTest, UnknownEngineIsNamed)
{
    try {
        delete DalDynamic::dalDatabase("oracle");
        FAIL() << "no exception";
    } catch (const DalDatabaseException& e) {
        EXPECT_EQ(DDBERR_UNKNOWNENGINE, e.errorCode());
        EXPECT_NE(std::string::npos, e.nativeExplanation().find("oracle"));
    }
    // Names are looked up, never turned into paths.
    EXPECT_THROW(delete DalDynamic::dalDatabase("../sqlite"), DalDatabaseException);
    EXPECT_THROW(delete DalDynamic::dalDatabase(""), DalDatabaseException);
}

TEST(DalDynamicTest, EachEngineLoadsItsDriverAndDialect)
{
    std::unique_ptr<DalDatabase> psqlite(DalDynamic::dalDatabase("sqlite"));
    std::unique_ptr<DalDatabase> ppg(DalDynamic::dalDatabase("postgresql"));
    std::unique_ptr<DalDatabase> pmysql(DalDynamic::dalDatabase("mysql"));
    EXPECT_EQ(langSQLite, psqlite->language());
    EXPECT_EQ(langPostgreSQL, ppg->language());
    EXPECT_EQ(langMySQL, pmysql->language());
    EXPECT_EQ("postgresql", ppg->engine());
    EXPECT_FALSE(pmysql->isOpen());
    EXPECT_EQ("libVeskDalSqlite.so", DalDynamic::moduleName("sqlite"));
}

int openError(const std::string& strEngine, const std::string& strConnect, std::string* pstrText = nullptr)
{
    std::unique_ptr<DalDatabase> pdatabase(DalDynamic::dalDatabase(strEngine));
    Map parameterS;
    DalDatabase::connectStringToMap(parameterS, strConnect, 0);
    try {
        pdatabase->open(parameterS);
    } catch (const DalDatabaseException& e) {
        if (pstrText) {
            *pstrText = e.nativeExplanation();
        }
        EXPECT_FALSE(pdatabase->isOpen());
        return e.errorCode();
    }
    return 0;
}

TEST(DriverOpen, BadParametersAreRefusedBeforeConnecting)
{
    EXPECT_EQ(DDBERR_PARAMETER, openError("sqlite", "engine=sqlite"));
    EXPECT_EQ(DDBERR_PARAMETER, openError("sqlite", "database=/tmp/x.db;mode=append"));
    EXPECT_EQ(DDBERR_PARAMETER, openError("sqlite", "database=/tmp/x.db;busy_timeout=-1"));
    EXPECT_EQ(DDBERR_PARAMETER, openError("sqlite", "database=/tmp/x.db;cache_kib=-1"));
    EXPECT_EQ(DDBERR_PARAMETER, openError("sqlite", "database=/tmp/x.db;mmap_mib=1048577"));
    std::string strText;
    EXPECT_EQ(DDBERR_PARAMETER, openError("mysql", "database=x;pasword=y", &strText));
    EXPECT_NE(std::string::npos, strText.find("pasword"));
    EXPECT_EQ(DDBERR_PARAMETER, openError("mysql", "database=x;port=70000"));
    EXPECT_EQ(DDBERR_PARAMETER, openError("mysql", "database=x;port=12ab"));
    EXPECT_EQ(DDBERR_PARAMETER, openError("postgresql", "dbname=x"));
}

// The mode a file is in, from its header: 2 in write-ahead-log mode, 1 in a rollback-journal mode.
int sqliteFormatVersion(const std::string& strFile)
{
    std::ifstream in(strFile, std::ios::binary);
    char acHeader[19] = {};
    in.read(acHeader, sizeof acHeader);
    return in ? acHeader[18] : -1;
}

TEST(DriverOpen, SqliteJournalModeIsKeptInTheFileOrRefused)
{
    EXPECT_EQ(DDBERR_PARAMETER, openError("sqlite", "database=/tmp/x.db;journal_mode=off"));
    EXPECT_EQ(DDBERR_PARAMETER, openError("sqlite", "database=/tmp/x.db;mode=ro;journal_mode=wal"));
    char szPath[] = "/tmp/ostrel-journal-XXXXXX";
    const int fd = mkstemp(szPath);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string strFile = szPath;
    struct Removed {
        std::string strFile;
        ~Removed()
        {
            for (const char* pszSuffix : {"", "-wal", "-shm", "-journal"})
                std::remove((strFile + pszSuffix).c_str());
        }
    } removed{strFile};
    EXPECT_EQ(0, openError("sqlite", "file=" + strFile + ";journal_mode=wal"));
    EXPECT_EQ(2, sqliteFormatVersion(strFile));
    EXPECT_EQ(0, openError("sqlite", "file=" + strFile + ";journal_mode=delete"));
    EXPECT_EQ(1, sqliteFormatVersion(strFile));
    // SQLite answers a mode it does not take with the one it keeps ("memory" here): no silent success.
    std::string strText;
    EXPECT_EQ(DDBERR_CONNECT, openError("sqlite", "file=:memory:;journal_mode=wal", &strText));
    EXPECT_NE(std::string::npos, strText.find("stays in memory")) << strText;
}

TEST(DriverOpen, UnreachableServersAndMissingFilesFailToConnect)
{
    // Port 1 on loopback has nobody listening: refused at once.
    EXPECT_EQ(DDBERR_CONNECT, openError("postgresql", "host=127.0.0.1;port=1;database=x;user=u;connect_timeout=2"));
    EXPECT_EQ(DDBERR_CONNECT, openError("mysql", "host=127.0.0.1;port=1;database=x;user=u;connect_timeout=2"));
    EXPECT_EQ(DDBERR_CONNECT, openError("sqlite", "file=/nonexistent-dir/x.db"));
    EXPECT_EQ(DDBERR_CONNECT, openError("sqlite", "file=/tmp/ostrel-never-made.db;mode=rw"));
    std::string strText;
    EXPECT_EQ(DDBERR_CONNECT, openError("postgresql", "host=127.0.0.1;port=1;database=x;nonsense=1", &strText));
    EXPECT_NE(std::string::npos, strText.find("nonsense")) << strText;
}

TEST(DriverOpen, StatementsOnAClosedHandleAreRefused)
{
    SqlTable table(SqlSchema("s"), "T");
    SqlColumn column(table, "C");
    column.setValue(SqlInteger(1));
    SqlInsertStatement insert(table);
    insert.addColumn(column);
    for (const char* pszEngine : {"sqlite", "postgresql", "mysql"}) {
        std::unique_ptr<DalDatabase> pdatabase(DalDynamic::dalDatabase(pszEngine));
        try {
            pdatabase->execute(insert);
            ADD_FAILURE() << pszEngine;
        } catch (const DalDatabaseException& e) {
            EXPECT_EQ(DDBERR_NOTOPEN, e.errorCode()) << pszEngine;
        }
        EXPECT_THROW(pdatabase->begin(), DalDatabaseException) << pszEngine;
        EXPECT_THROW(pdatabase->commit(), DalDatabaseException) << pszEngine;
    }
}

} // namespace
