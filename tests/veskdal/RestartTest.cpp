// A server restarted between two statements is reached again. Restarting drops every session of
// the server, so these tests run alone (RUN_SERIAL).

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "VeskDal/VeskDal.h"
#include "harness/TestDatabases.h"

using namespace VeskDal;

namespace {

class DalRestart : public ::testing::TestWithParam<std::string> {
protected:
    void serverAction(const char* pszAction)
    {
        std::string strCommand = std::string("bash '") + OSTREL_DBSERVERS_SCRIPT + "' " + pszAction + " '" +
                                 OstrelTest::dbserversDirectory() + "' " + GetParam() + " >/dev/null";
        ASSERT_EQ(0, std::system(strCommand.c_str())) << strCommand;
    }

    void restartServer() { serverAction("restart"); }

    int count(DalDatabase& db)
    {
        SqlSelectStatement select(_tbNote);
        select.addColumn(SqlFunction("COUNT", "n"));
        DalDatabase::Result result;
        db.query(result, select, 0);
        return result.at(0)["n"].asInt();
    }

    void insert(DalDatabase& db, int nId)
    {
        SqlColumn colId(_tbNote, "Id");
        colId.setValue(SqlInteger(nId));
        SqlInsertStatement statement(_tbNote);
        statement.addColumn(colId);
        EXPECT_EQ(1, db.execute(statement));
    }

    // A handle on the scratch database, whose table Note holds the row 1.
    std::unique_ptr<DalDatabase> withOneNote(OstrelTest::ScratchDatabase& scratch)
    {
        std::unique_ptr<DalDatabase> pdb = scratch.open();
        pdb->executeScript(GetParam() == "mysql" ? "CREATE TABLE `Note` (`Id` INTEGER PRIMARY KEY)"
                                                 : "CREATE TABLE \"Note\" (\"Id\" INTEGER PRIMARY KEY)");
        insert(*pdb, 1);
        return pdb;
    }

    SqlTable _tbNote{SqlSchema("ostrel_test"), "Note"};
};

TEST_P(DalRestart, HandleReachesARestartedServer)
{
    OstrelTest::ScratchDatabase scratch(GetParam());
    std::unique_ptr<DalDatabase> pdb = withOneNote(scratch);

    restartServer();
    EXPECT_EQ(1, count(*pdb));
    insert(*pdb, 2);

    restartServer();
    insert(*pdb, 3);  // a write is the first statement after this restart
    EXPECT_EQ(3, count(*pdb));
}

// Statements while the server is away fail, each with an error (an open transaction is reported
// lost); the handle is still usable after it returns, however many reconnects failed meanwhile.
TEST_P(DalRestart, HandleOutlivesAnOutage)
{
    OstrelTest::ScratchDatabase scratch(GetParam());
    std::unique_ptr<DalDatabase> pdb = withOneNote(scratch);

    pdb->begin();
    serverAction("halt");
    auto resumeServer = [this] { serverAction("resume"); };
    struct Resume {
        decltype(resumeServer)* presume;
        ~Resume()
        {
            if (presume) (*presume)();
        }
    } resume{&resumeServer};
    try {
        insert(*pdb, 5);
        ADD_FAILURE() << "a write inside a transaction outlived the server";
    } catch (const DalDatabaseException& e) {
        EXPECT_EQ(DDBERR_CONNECTIONLOST, e.errorCode()) << e.nativeExplanation();
    }
    EXPECT_FALSE(pdb->inTransaction());
    for (int n = 0; n < 2; ++n) {
        EXPECT_THROW(count(*pdb), DalDatabaseException);
        EXPECT_THROW(pdb->begin(), DalDatabaseException);
    }
    EXPECT_TRUE(pdb->isOpen());
    resume.presume = nullptr;
    resumeServer();

    insert(*pdb, 2);
    EXPECT_EQ(2, count(*pdb));
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DalRestart);
INSTANTIATE_TEST_SUITE_P(Servers, DalRestart, ::testing::ValuesIn(OstrelTest::serverEngines()), OstrelTest::engineTestName);

} // namespace
