// The schema files: split as the administration tool splits them, loaded through VeskDal and
// through each engine's own client, keys and references enforced, and the columns the password
// plug-in relies on.

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "DalFixture.h"

using namespace OstrelDal;
using VeskDal::DalDatabase;
using VeskDal::SqlInteger;
using VeskDal::SqlQueryBase;
using VeskDal::SqlText;

namespace {

const std::set<std::string> g_tableS{
    "Customer", "Domain", "User", "Team", "UserTeam", "TeamMap", "Product", "ProductRole", "ProductPermission",
    "ProductRolePermission", "TeamProductRole", "TeamProductPermission", "UserProductRole", "UserProductPermission",
    "CustomerProductRole", "CustomerProductPermission", "Platform", "AuthenticationLibrary", "SharedObject",
    "AuthenticationLibraryParam", "AuthenticatorParam", "Profile", "ProfileHost", "ProductParam", "DBProfile"};

// The table a CREATE TABLE statement makes, without its quotes; empty for any other statement.
std::string createdTable(const std::string& strStatement)
{
    const std::string strCreate = "CREATE TABLE IF NOT EXISTS ";
    size_t nAt = strStatement.find(strCreate);
    if (nAt == std::string::npos) {
        return "";
    }
    size_t nStart = nAt + strCreate.size() + 1;
    return strStatement.substr(nStart, strStatement.find_first_of("\"`", nStart) - nStart);
}

TEST(DalSchemaFile, EveryEngineFileCreatesEveryTableOneStatementPerBlock)
{
    for (const char* pszEngine : {"sqlite", "postgresql", "mysql"}) {
        SCOPED_TRACE(pszEngine);
        std::set<std::string> createdS;
        for (const std::string& strStatement : OstrelDalTest::schemaStatements(OstrelDalTest::schemaFile(pszEngine))) {
            std::string strTable = createdTable(strStatement);
            if (strTable.empty()) {
                EXPECT_NE(std::string::npos, strStatement.find("CREATE INDEX IF NOT EXISTS ")) << strStatement;
            } else {
                EXPECT_TRUE(createdS.insert(strTable).second) << strTable << " twice";
            }
            // Exactly one statement: its only semicolon ends it.
            EXPECT_EQ(strStatement.find(';'), strStatement.rfind(';')) << strStatement;
        }
        EXPECT_EQ(g_tableS, createdS);
    }
}

class DalSchema : public OstrelDalTest::EngineTest {};

TEST_P(DalSchema, LoadingTheSchemaAgainKeepsTheData)
{
    CustomerQuery insert(_schema);
    insert.columnCustomer().setValue(SqlText("C1"));
    ASSERT_EQ(1, insert.insert(db()));
    OstrelDalTest::loadSchema(db(), engine());
    CustomerQuery select(_schema);
    DalDatabase::Result result;
    EXPECT_EQ(1, select.select(result, db(), SqlQueryBase::full));
}

TEST_P(DalSchema, ReferencesAreEnforced)
{
    DomainQuery domain(_schema);
    domain.columnDomain().setValue(SqlText("D1"));
    domain.columnCustomer().setValue(SqlText("nobody"));
    EXPECT_THROW(domain.insert(db()), VeskDal::DalDatabaseException);

    ProductQuery product(_schema);
    product.columnProduct().setValue(SqlInteger(1));
    ASSERT_EQ(1, product.insert(db()));
    ProductRoleQuery role(_schema);
    role.columnProduct().setValue(SqlInteger(1));
    role.columnRole().setValue(SqlInteger(1));
    ASSERT_EQ(1, role.insert(db()));
    role.columnProduct().setValue(SqlInteger(2));
    EXPECT_THROW(role.insert(db()), VeskDal::DalDatabaseException);

    // A product that still has roles stays.
    product.constrainProduct(SqlInteger(1));
    EXPECT_THROW(product.remove(db()), VeskDal::DalDatabaseException);
    DalDatabase::Result result;
    EXPECT_EQ(1, product.select(result, db(), SqlQueryBase::full));
}

TEST_P(DalSchema, UserLockingColumnsDefaultToActive)
{
    CustomerQuery customer(_schema);
    customer.columnCustomer().setValue(SqlText("C1"));
    ASSERT_EQ(1, customer.insert(db()));
    DomainQuery domain(_schema);
    domain.columnDomain().setValue(SqlText("D1"));
    domain.columnCustomer().setValue(SqlText("C1"));
    ASSERT_EQ(1, domain.insert(db()));
    UserQuery user(_schema);
    user.columnDomain().setValue(SqlText("D1"));
    user.columnUserId().setValue(SqlText("u1"));
    ASSERT_EQ(1, user.insert(db()));

    VeskDal::SqlTable table(_schema, "User");
    VeskDal::SqlSelectStatement select(table);
    for (const char* pszColumn : {"Status", "BadLoginCount", "LockedUntil"}) {
        select.addColumn(VeskDal::SqlColumn(table, pszColumn));
    }
    DalDatabase::Result result;
    ASSERT_EQ(1, db().query(result, select, 0));
    EXPECT_EQ(0, result[0].at("Status").asInt());
    EXPECT_EQ(0, result[0].at("BadLoginCount").asInt());
    EXPECT_EQ(0u, result[0].count("LockedUntil"));

    // Seconds since the epoch beyond 2038 fit.
    VeskDal::SqlUpdateStatement update(table);
    update.addColumn(VeskDal::SqlColumn(table, "LockedUntil"), SqlInteger(4102444800LL));
    update.setWhere(VeskDal::SqlCondition(VeskDal::SqlColumn(table, "UserId"), SqlText("u1"), VeskDal::condEqual));
    ASSERT_EQ(1, db().execute(update));
    ASSERT_EQ(1, db().query(result, select, 0));
    EXPECT_EQ(4102444800LL, result[0].at("LockedUntil").asInt64());
}

TEST_P(DalSchema, IdentifyingColumnsAreUnique)
{
    ProductQuery product(_schema);
    product.columnProduct().setValue(SqlInteger(1));
    ASSERT_EQ(1, product.insert(db()));
    ProductPermissionQuery permission(_schema);
    permission.columnProduct().setValue(SqlInteger(1));
    permission.columnPermission().setValue(SqlInteger(1));
    ASSERT_EQ(1, permission.insert(db()));
    EXPECT_THROW(permission.insert(db()), VeskDal::DalDatabaseException);
    permission.columnPermission().setValue(SqlInteger(2));
    EXPECT_EQ(1, permission.insert(db()));
}

// The engine's own client loads the file unchanged into a database of its own.
TEST_P(DalSchema, EngineClientLoadsTheSchemaFile)
{
    OstrelTest::ScratchDatabase scratch(engine());
    DalDatabase::ConnectionParameterMap parameterS = scratch.parameters();
    auto quoted = [](const std::string& str) {
        std::string strQuoted = "'";
        for (char c : str) {
            strQuoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        return strQuoted + "'";
    };
    auto value = [&](const char* pszName) {
        auto it = parameterS.find(pszName);
        return it == parameterS.end() ? std::string() : it->second;
    };
    std::string strFile = quoted(OstrelDalTest::schemaFile(engine()));
    std::string strCommand;
    if (engine() == "sqlite") {
        strCommand = "sqlite3 -bail " + quoted(value("file")) + " < " + strFile;
    } else if (engine() == "postgresql") {
        strCommand = "PGPASSWORD=" + quoted(value("password")) + " PGOPTIONS=" + quoted(value("options")) +
                     " psql -X -q -v ON_ERROR_STOP=1 -h " + quoted(value("host")) + " -p " + quoted(value("port")) +
                     " -U " + quoted(value("user")) + " -d " + quoted(value("database")) + " -f " + strFile;
    } else {
        strCommand = "MYSQL_PWD=" + quoted(value("password")) + " mariadb --no-defaults -h " + quoted(value("host")) +
                     " -P " + quoted(value("port")) + " -u " + quoted(value("user")) + " " +
                     quoted(value("database")) + " < " + strFile;
    }
    ASSERT_EQ(0, std::system((strCommand + " > /dev/null 2>&1").c_str())) << strCommand;

    auto pdb = scratch.open();
    setStatementEcho(echoOff);
    AuthenticationLibraryXQuery join(_schema);
    GenericProductPermissionQuery grants(VeskDal::SqlTable(_schema, "CustomerProductPermission", "PP"));
    UserQuery users(_schema);
    DalDatabase::Result result;
    EXPECT_EQ(0, join.select(result, *pdb, SqlQueryBase::full));
    EXPECT_EQ(0, grants.select(result, *pdb, SqlQueryBase::full));
    EXPECT_EQ(0, users.select(result, *pdb, SqlQueryBase::full));
}

INSTANTIATE_TEST_SUITE_P(Engines, DalSchema, ::testing::ValuesIn(OstrelTest::testEngines()), OstrelTest::engineTestName);

} // namespace
