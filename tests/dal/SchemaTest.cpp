// The schema files: split as the administration tool splits them, loaded through VeskDal and
// through each engine's own client, keys and references enforced, the columns the password
// plug-in relies on, and the same columns and keys as the lists the query classes are made from.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <regex>
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
    "AuthenticationLibraryParam", "AuthenticatorParam", "Profile", "ProfileHost", "ProductParam", "DBProfile", "KeptSession", "ModelChange"};

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

// Besides tables and indexes, a file holds the change counter's seed row and its triggers (whose
// bodies have semicolons of their own); every table the daemons load has a trigger, or a change to
// it would not reach them.
TEST(DalSchemaFile, EveryEngineFileCreatesEveryTableOneStatementPerBlock)
{
    const std::set<std::string> notModelS{"KeptSession", "ModelChange"};
    for (const char* pszEngine : {"sqlite", "postgresql", "mysql"}) {
        SCOPED_TRACE(pszEngine);
        std::set<std::string> createdS;
        std::set<std::string> triggeredS;
        static const std::regex s_trigger("TRIGGER .* ON [\"`](\\w+)[\"`]");
        for (const std::string& strStatement : OstrelDalTest::schemaStatements(OstrelDalTest::schemaFile(pszEngine))) {
            std::string strTable = createdTable(strStatement);
            std::smatch trigger;
            if (!strTable.empty()) {
                EXPECT_TRUE(createdS.insert(strTable).second) << strTable << " twice";
            } else if (std::regex_search(strStatement, trigger, s_trigger)) {
                triggeredS.insert(trigger[1]);
            } else {
                EXPECT_TRUE(strStatement.find("CREATE INDEX IF NOT EXISTS ") != std::string::npos ||
                            strStatement.find("\"ModelChange\"") != std::string::npos ||
                            strStatement.find("`ModelChange`") != std::string::npos)
                    << strStatement;
            }
            // Exactly one statement: its only semicolon ends it, or it ends a body that has more.
            if (strStatement.find(" BEGIN ") == std::string::npos) {
                EXPECT_EQ(strStatement.find(';'), strStatement.rfind(';')) << strStatement;
            }
        }
        EXPECT_EQ(g_tableS, createdS);
        std::set<std::string> modelS;
        for (const std::string& strTable : g_tableS)
            if (notModelS.count(strTable) == 0) modelS.insert(strTable);
        EXPECT_EQ(modelS, triggeredS);
    }
}

using ColumnList = std::vector<std::string>;

// What a CREATE TABLE statement lists: its columns in order, and its primary key.
struct CreatedTable {
    ColumnList columnS;
    ColumnList keyS;
};

// The quoted names of text, in order ("name" or `name`).
ColumnList quotedNames(const std::string& strText)
{
    ColumnList nameS;
    static const std::regex s_name("[\"`](\\w+)[\"`]");
    for (std::sregex_iterator it(strText.begin(), strText.end(), s_name), end; it != end; ++it) {
        nameS.push_back((*it)[1]);
    }
    return nameS;
}

std::map<std::string, CreatedTable> createdTables(const std::string& strEngine)
{
    std::map<std::string, CreatedTable> tableS;
    for (const std::string& strStatement : OstrelDalTest::schemaStatements(OstrelDalTest::schemaFile(strEngine))) {
        std::string strTable = createdTable(strStatement);
        if (strTable.empty()) {
            continue;
        }
        std::istringstream lines(strStatement.substr(strStatement.find('(', strStatement.find("CREATE TABLE")) + 1));
        std::string strLine;
        while (std::getline(lines, strLine)) {
            size_t nFirst = strLine.find_first_not_of(" \t");
            if (nFirst == std::string::npos) {
                continue;
            }
            if (strLine[nFirst] == '"' || strLine[nFirst] == '`') {
                tableS[strTable].columnS.push_back(quotedNames(strLine).at(0));
            } else if (strLine.compare(nFirst, 11, "PRIMARY KEY") == 0) {
                tableS[strTable].keyS = quotedNames(strLine);
            }
        }
    }
    return tableS;
}

// The lists of QueryTables.h as written there: per table, its (kind, name) entries.
std::map<std::string, std::vector<std::pair<std::string, std::string>>> queryTableLists()
{
    std::ifstream in(OSTRELDAL_QUERY_TABLES);
    std::stringstream text;
    text << in.rdbuf();
    std::string strText = std::regex_replace(text.str(), std::regex("\\\\\n"), " ");
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> listS;
    static const std::regex s_list("#define OSTRELDAL_TABLE_(\\w+)\\(X\\)([^\n]*)");
    static const std::regex s_entry("X\\((\\w+), *(\\w+)\\)");
    for (std::sregex_iterator it(strText.begin(), strText.end(), s_list), end; it != end; ++it) {
        std::string strEntries = (*it)[2];
        auto& entryS = listS[(*it)[1]];
        for (std::sregex_iterator e(strEntries.begin(), strEntries.end(), s_entry); e != end; ++e) {
            entryS.emplace_back((*e)[1], (*e)[2]);
        }
    }
    return listS;
}

ColumnList without(const ColumnList& nameS, const std::set<std::string>& leftOutS)
{
    ColumnList keptS;
    for (const std::string& strName : nameS) {
        if (!leftOutS.count(strName)) {
            keptS.push_back(strName);
        }
    }
    return keptS;
}

// Every column of a table is in its list, in table order (a plug-in's own columns marked as such),
// and the keys are its primary key. A list with table keys stands for the customer, team and user
// grant tables alike: each of them is the list's columns after the grantee's.
TEST(DalSchemaFile, QueryTableListsMatchTheColumnsAndKeysOfEveryEngine)
{
    const auto listS = queryTableLists();
    // The lists were read at all: the user table's is among them.
    ASSERT_EQ(1u, listS.count("User"));
    for (const char* pszEngine : {"sqlite", "postgresql", "mysql"}) {
        SCOPED_TRACE(pszEngine);
        const auto tableS = createdTables(pszEngine);
        for (const auto& [strStem, entryS] : listS) {
            SCOPED_TRACE(strStem);
            ColumnList columnS;
            ColumnList keyS;
            std::set<std::string> granteeS;
            for (const auto& [strKind, strName] : entryS) {
                if (strKind == "COLUMN" || strKind == "NAMED_COLUMN" || strKind == "PLUGIN_COLUMN") {
                    columnS.push_back(strName);
                } else if (strKind == "KEY") {
                    keyS.push_back(strName);
                } else if (strKind == "TABLE_KEY") {
                    granteeS.insert(strName);
                }
            }
            if (granteeS.empty()) {
                ASSERT_EQ(1u, tableS.count(strStem));
                EXPECT_EQ(tableS.at(strStem).columnS, columnS);
                EXPECT_EQ(tableS.at(strStem).keyS, keyS);
                continue;
            }
            const std::string strGranted = strStem.substr(std::string("Generic").size());
            for (const char* pszGrantee : {"Customer", "Team", "User"}) {
                SCOPED_TRACE(pszGrantee);
                ASSERT_EQ(1u, tableS.count(pszGrantee + strGranted));
                const CreatedTable& table = tableS.at(pszGrantee + strGranted);
                EXPECT_LT(without(table.columnS, granteeS).size(), table.columnS.size());
                EXPECT_EQ(without(table.columnS, granteeS), columnS);
                EXPECT_EQ(without(table.keyS, granteeS), keyS);
            }
        }
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
