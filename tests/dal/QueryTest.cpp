// What some query classes do beyond the pattern (search, MAX, the join, the generic grant
// queries, the parameter tables' aliases), the statement echo and its switch, values that must
// reach the database unchanged, and transactions; on every engine.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Corvel/EventLogger.h"
#include "DalFixture.h"

using namespace OstrelDal;
using OstrelDalTest::capturedStdout;
using OstrelDalTest::lines;
using VeskDal::DalDatabase;
using VeskDal::SqlInteger;
using VeskDal::SqlQueryBase;
using VeskDal::SqlText;
using VeskDal::SqlValue;

namespace {

using Values = std::map<std::string, SqlValue>;

std::set<std::string> columnNames(const DalDatabase::Row& row)
{
    std::set<std::string> nameS;
    for (const auto& column : row) {
        nameS.insert(column.first);
    }
    return nameS;
}

// The next free number as the factory computes it from a MAX select.
int nextNumber(const DalDatabase::Result& result)
{
    if (result.empty() || result[0].empty()) {
        return 1;
    }
    return result[0].begin()->second.asInt() + 1;
}

class DalQuery : public OstrelDalTest::EngineTest {
protected:
    // A row written straight through the SQL library, for tables the system only reads.
    void insertRow(const std::string& strTable, const Values& valueS)
    {
        VeskDal::SqlTable table(_schema, strTable);
        VeskDal::SqlInsertStatement insert(table);
        for (const auto& value : valueS) {
            insert.addColumn(VeskDal::SqlColumn(table, value.first), value.second);
        }
        ASSERT_EQ(1, db().execute(insert)) << strTable;
    }

    void addOrganisation()
    {
        insertRow("Customer", {{"Customer", SqlText("C1")}, {"Name", SqlText("First")}});
        insertRow("Customer", {{"Customer", SqlText("C2")}, {"Name", SqlText("Second")}});
        insertRow("AuthenticationLibrary", {{"AuthenticationLibrary", SqlInteger(1)}, {"Description", SqlText("one")},
                                            {"AuthenticationTokenDisposition", SqlText("P")},
                                            {"UserTools", SqlText("Y")}});
        insertRow("AuthenticationLibrary", {{"AuthenticationLibrary", SqlInteger(2)}, {"Description", SqlText("two")},
                                            {"AuthenticationTokenDisposition", SqlText("H")},
                                            {"UserTools", SqlText("N")}});
        insertRow("Domain", {{"Domain", SqlText("D1")}, {"Customer", SqlText("C1")},
                             {"AuthenticationLibrary", SqlInteger(1)}});
        insertRow("Domain", {{"Domain", SqlText("D2")}, {"Customer", SqlText("C2")},
                             {"AuthenticationLibrary", SqlInteger(1)}});
        insertRow("Domain", {{"Domain", SqlText("D3")}, {"Customer", SqlText("C1")}});
        insertRow("Team", {{"Team", SqlInteger(1)}, {"Customer", SqlText("C1")}});
        insertRow("Team", {{"Team", SqlInteger(2)}, {"Customer", SqlText("C2")}});
        addUser("D1", "u1", "User One", "token-1");
        addUser("D2", "u1", "Other One", "token-2");
    }

    void addUser(const char* pszDomain, const char* pszUserId, const char* pszName, const char* pszToken)
    {
        insertRow("User", {{"Domain", SqlText(pszDomain)}, {"UserId", SqlText(pszUserId)},
                           {"Name", SqlText(pszName)}, {"AuthenticationToken", SqlText(pszToken)}});
    }

    void addCatalogue()
    {
        for (int nProduct : {1, 2}) {
            insertRow("Product", {{"Product", SqlInteger(nProduct)}});
        }
        for (auto number : std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {2, 1}}) {
            insertRow("ProductRole", {{"Product", SqlInteger(number.first)}, {"Role", SqlInteger(number.second)}});
            insertRow("ProductPermission",
                      {{"Product", SqlInteger(number.first)}, {"Permission", SqlInteger(number.second)}});
        }
    }

    std::string echoOf(const std::function<void()>& fn)
    {
        std::string strEcho = capturedStdout(fn);
        EXPECT_EQ(1u, lines(strEcho).size()) << strEcho;
        return strEcho;
    }
};

// ---- UserQuery

TEST_P(DalQuery, UserIdAloneConstrainsTheSelectOfAllSevenColumns)
{
    addOrganisation();
    UserQuery query(_schema);
    query.constrainUserId(SqlText("u1"));
    DalDatabase::Result result;
    std::string strEcho = echoOf([&] { EXPECT_EQ(2, query.select(result, db(), SqlQueryBase::full)); });
    EXPECT_EQ("SELECT " + q("Domain") + ", " + q("UserId") + ", " + q("Name") + ", " + q("AuthenticationToken") +
                  ", " + q("Contact") + ", " + q("Status") + ", " + q("BadLoginCount") + " FROM " + q("User") +
                  " WHERE " + q("UserId") + " = " + ph(1) + "\n",
              strEcho);
    std::set<std::string> domainS;
    for (const DalDatabase::Row& row : result) {
        domainS.insert(row.at(query.columnDomain().resultName()).string());
    }
    EXPECT_EQ((std::set<std::string>{"D1", "D2"}), domainS);
}

TEST_P(DalQuery, SearchIsOneOrOfTwoLikesOnUserIdAndName)
{
    addOrganisation();
    addUser("D1", "alice", "alice smith", "t");
    addUser("D1", "bob", "robert alison", "t");
    addUser("D1", "carol", "carol king", "t");
    addUser("D2", "lisa", "lisa two", "t");

    UserQuery query(_schema);
    query.constrainSearch(SqlText("%li%"));
    DalDatabase::Result result;
    std::string strEcho = echoOf([&] { EXPECT_EQ(3, query.select(result, db(), SqlQueryBase::full)); });
    // How the library escapes the pattern is its own business; the shape is ours.
    size_t nWhere = strEcho.find(" WHERE (" + q("UserId") + " LIKE " + ph(1));
    EXPECT_NE(std::string::npos, nWhere) << strEcho;
    EXPECT_NE(std::string::npos, strEcho.find(" OR " + q("Name") + " LIKE " + ph(2), nWhere)) << strEcho;
    EXPECT_EQ(strEcho.size() - 2, strEcho.rfind(")\n")) << strEcho;

    // The search comes after the key constraints and joins them with AND.
    query.constrainDomain(SqlText("D1"));
    strEcho = echoOf([&] { EXPECT_EQ(2, query.select(result, db(), SqlQueryBase::full)); });
    EXPECT_NE(std::string::npos,
              strEcho.find(" WHERE " + q("Domain") + " = " + ph(1) + " AND (" + q("UserId") + " LIKE " + ph(2)))
        << strEcho;
    std::set<std::string> userS;
    for (const DalDatabase::Row& row : result) {
        userS.insert(row.at("UserId").string());
    }
    EXPECT_EQ((std::set<std::string>{"alice", "bob"}), userS);
}

TEST_P(DalQuery, AuthenticationTokenConstraintPicksTheUserWithThatToken)
{
    addOrganisation();
    UserQuery query(_schema);
    query.constrainUserId(SqlText("u1"));
    query.constrainAuthenticationToken(SqlText("token-2"));
    DalDatabase::Result result;
    ASSERT_EQ(1, query.select(result, db(), SqlQueryBase::full));
    EXPECT_EQ("D2", result[0].at("Domain").string());
}

TEST_P(DalQuery, InsertNamesOnlyTheColumnsGivenAValue)
{
    addOrganisation();
    UserQuery query(_schema);
    query.columnDomain().setValue(SqlText("D1"));
    query.columnUserId().setValue(SqlText("u9"));
    query.columnName().setValue(SqlText("Nine"));
    std::string strEcho = echoOf([&] { EXPECT_EQ(1, query.insert(db())); });
    EXPECT_EQ("INSERT INTO " + q("User") + " (" + q("Domain") + ", " + q("UserId") + ", " + q("Name") + ") VALUES (" +
                  ph(1) + ", " + ph(2) + ", " + ph(3) + ")\n",
              strEcho);

    // The values stay on the object: a select on it reads the row back whole.
    query.constrainDomain(SqlText("D1"));
    query.constrainUserId(SqlText("u9"));
    DalDatabase::Result result;
    ASSERT_EQ(1, query.select(result, db(), SqlQueryBase::full));
    EXPECT_EQ((std::set<std::string>{"Domain", "UserId", "Name", "Status", "BadLoginCount"}), columnNames(result[0]));
    EXPECT_EQ(0, result[0].at("Status").asInt());
    EXPECT_EQ(0, result[0].at("BadLoginCount").asInt());
}

TEST_P(DalQuery, UpdateOfConstrainedRowsWithoutAnyValueIsRefused)
{
    addOrganisation();
    UserQuery query(_schema);
    query.constrainUserId(SqlText("u1"));
    EXPECT_THROW(query.update(db()), VeskDal::SqlException);
}

TEST_P(DalQuery, FailedStatementReportsTheDatabasesOwnMessage)
{
    addOrganisation();
    CustomerQuery query(_schema);
    query.columnCustomer().setValue(SqlText("C1"));
    try {
        query.insert(db());
        FAIL() << "a second row with the same key was inserted";
    } catch (const VeskDal::DalDatabaseException& e) {
        EXPECT_EQ(VeskDal::DDBERR_STATEMENT, e.errorCode());
        EXPECT_FALSE(e.nativeExplanation().empty());
    }
}

// ---- DomainQuery

TEST_P(DalQuery, DomainCustomerConstraintFollowsTheKey)
{
    addOrganisation();
    DomainQuery query(_schema);
    query.constrainCustomer(SqlText("C1"));
    DalDatabase::Result result;
    EXPECT_EQ(2, query.select(result, db(), SqlQueryBase::full));

    query.constrainDomain(SqlText("D3"));
    std::string strEcho = echoOf([&] { EXPECT_EQ(1, query.select(result, db(), SqlQueryBase::full)); });
    EXPECT_NE(std::string::npos,
              strEcho.find(" WHERE " + q("Domain") + " = " + ph(1) + " AND " + q("Customer") + " = " + ph(2) + "\n"))
        << strEcho;

    // The customer constraint alone is enough for an update or a delete.
    DomainQuery update(_schema);
    update.columnDescription().setValue(SqlText("of the first customer"));
    update.constrainCustomer(SqlText("C1"));
    EXPECT_EQ(2, update.update(db()));
}

// ---- MAX

TEST_P(DalQuery, MaxOfAProductWithoutRolesGivesNextNumberOne)
{
    addCatalogue();
    insertRow("Product", {{"Product", SqlInteger(7)}});
    ProductRoleQuery query(_schema);
    query.constrainProduct(SqlInteger(7));
    DalDatabase::Result result;
    std::string strEcho = echoOf([&] { query.select(result, db(), SqlQueryBase::max); });
    EXPECT_EQ("SELECT MAX(" + q("Role") + ") AS " + q("MAX") + " FROM " + q("ProductRole") + " WHERE " + q("Product") +
                  " = " + ph(1) + "\n",
              strEcho);
    EXPECT_EQ(1, nextNumber(result));
}

TEST_P(DalQuery, MaxReadsTheHighestNumberOfTheConstrainedProduct)
{
    addCatalogue();
    for (int nNumber : {5, 3}) {
        insertRow("ProductRole", {{"Product", SqlInteger(1)}, {"Role", SqlInteger(nNumber)}});
        insertRow("ProductPermission", {{"Product", SqlInteger(1)}, {"Permission", SqlInteger(nNumber + 10)}});
    }
    insertRow("ProductRole", {{"Product", SqlInteger(2)}, {"Role", SqlInteger(9)}});

    DalDatabase::Result result;
    ProductRoleQuery roles(_schema);
    roles.constrainProduct(SqlInteger(1));
    ASSERT_EQ(1, roles.select(result, db(), SqlQueryBase::max));
    ASSERT_EQ(1u, result[0].size());
    EXPECT_EQ(5, result[0].at("MAX").asInt());
    EXPECT_EQ(6, nextNumber(result));

    ProductPermissionQuery permissions(_schema);
    permissions.constrainProduct(SqlInteger(1));
    permissions.select(result, db(), SqlQueryBase::max);
    EXPECT_EQ(16, nextNumber(result));

    ProductQuery products(_schema);
    products.select(result, db(), SqlQueryBase::max);
    EXPECT_EQ(3, nextNumber(result));

    // Any other type selects the rows of the pattern.
    std::string strEcho = echoOf([&] { EXPECT_EQ(4, roles.select(result, db(), SqlQueryBase::full)); });
    EXPECT_EQ(0u, strEcho.find("SELECT " + q("Product") + ", " + q("Role") + ", " + q("Description") + ", " +
                               q("Status") + " FROM "))
        << strEcho;
    EXPECT_EQ(4, roles.select(result, db(), SqlQueryBase::count));
}

TEST_P(DalQuery, MaxOfAnEmptyProductTableGivesNextNumberOne)
{
    ProductQuery query(_schema);
    DalDatabase::Result result;
    query.select(result, db(), SqlQueryBase::max);
    EXPECT_EQ(1, nextNumber(result));
}

TEST_P(DalQuery, QueryTypeOutsideTheEnumerationSelectsNoColumnAndIsRefused)
{
    ProductQuery query(_schema);
    DalDatabase::Result result;
    EXPECT_THROW(query.select(result, db(), static_cast<SqlQueryBase::QueryType>(42)), VeskDal::SqlException);
}

// ---- generic grant queries

struct GrantTable {
    std::string strTable;
    std::string strNumber;  // "Role" or "Permission"
    Values granteeA;
    Values granteeB;
};

template <class Generic>
void constrainGrantee(Generic& query, const Values& granteeS)
{
    for (const auto& grantee : granteeS) {
        if (grantee.first == "Customer") {
            query.constrainCustomer(grantee.second);
        } else if (grantee.first == "Team") {
            query.constrainTeam(grantee.second);
        } else if (grantee.first == "Domain") {
            query.constrainDomain(grantee.second);
        } else if (grantee.first == "UserId") {
            query.constrainUserId(grantee.second);
        }
    }
}

void constrainNumber(GenericProductRoleQuery& query, int nNumber)
{
    query.constrainRole(SqlInteger(nNumber));
}

void constrainNumber(GenericProductPermissionQuery& query, int nNumber)
{
    query.constrainPermission(SqlInteger(nNumber));
}

class DalGrantQuery : public DalQuery {
protected:
    void addGrant(const GrantTable& grant, const Values& granteeS, int nProduct, int nNumber, int nStatus)
    {
        Values valueS = granteeS;
        valueS["Product"] = SqlInteger(nProduct);
        valueS[grant.strNumber] = SqlInteger(nNumber);
        valueS["Status"] = SqlInteger(nStatus);
        insertRow(grant.strTable, valueS);
    }

    template <class Generic>
    void checkGrants(const GrantTable& grant, const std::string& strAlias)
    {
        SCOPED_TRACE(grant.strTable);
        addGrant(grant, grant.granteeA, 1, 1, 1);
        addGrant(grant, grant.granteeA, 1, 2, -1);
        addGrant(grant, grant.granteeA, 2, 1, 0);
        addGrant(grant, grant.granteeB, 1, 1, 0);

        Generic query(VeskDal::SqlTable(_schema, grant.strTable, strAlias));
        constrainGrantee(query, grant.granteeA);
        DalDatabase::Result result;
        std::string strEcho = echoOf([&] { EXPECT_EQ(3, query.select(result, db(), SqlQueryBase::full)); });
        for (const auto& grantee : grant.granteeA) {
            EXPECT_NE(std::string::npos, strEcho.find(q(strAlias) + "." + q(grantee.first) + " = ")) << strEcho;
        }
        for (const DalDatabase::Row& row : result) {
            EXPECT_EQ((std::set<std::string>{"Product", grant.strNumber, "Status"}), columnNames(row));
        }

        query.constrainProduct(SqlInteger(1));
        constrainNumber(query, 2);
        ASSERT_EQ(1, query.select(result, db(), SqlQueryBase::full));
        EXPECT_EQ(-1, result[0].at(query.columnStatus().resultName()).asInt());

        Generic other(VeskDal::SqlTable(_schema, grant.strTable, strAlias));
        constrainGrantee(other, grant.granteeB);
        ASSERT_EQ(1, other.select(result, db(), SqlQueryBase::full));
        EXPECT_EQ(0, result[0].at("Status").asInt());
    }
};

TEST_P(DalGrantQuery, GenericQueriesReadEveryGrantTableByGrantee)
{
    addOrganisation();
    addCatalogue();
    const Values customerA{{"Customer", SqlText("C1")}};
    const Values customerB{{"Customer", SqlText("C2")}};
    const Values teamA{{"Team", SqlInteger(1)}};
    const Values teamB{{"Team", SqlInteger(2)}};
    // The same user id in two domains: both constraints must hold.
    const Values userA{{"Domain", SqlText("D1")}, {"UserId", SqlText("u1")}};
    const Values userB{{"Domain", SqlText("D2")}, {"UserId", SqlText("u1")}};

    checkGrants<GenericProductRoleQuery>({"CustomerProductRole", "Role", customerA, customerB}, "PR");
    checkGrants<GenericProductPermissionQuery>({"CustomerProductPermission", "Permission", customerA, customerB}, "PP");
    checkGrants<GenericProductRoleQuery>({"TeamProductRole", "Role", teamA, teamB}, "PR");
    checkGrants<GenericProductPermissionQuery>({"TeamProductPermission", "Permission", teamA, teamB}, "PP");
    checkGrants<GenericProductRoleQuery>({"UserProductRole", "Role", userA, userB}, "PR");
    checkGrants<GenericProductPermissionQuery>({"UserProductPermission", "Permission", userA, userB}, "PP");
}

TEST_P(DalGrantQuery, GenericColumnsCarryTheirOwnNamesWhateverTheTableAlias)
{
    GenericProductRoleQuery query(VeskDal::SqlTable(_schema, "TeamProductRole", "X"));
    EXPECT_EQ("Product", query.columnProduct().resultName());
    EXPECT_EQ("Role", query.columnRole().resultName());
    EXPECT_EQ("Status", query.columnStatus().resultName());
    EXPECT_EQ("X", query.table().alias());
}

// ---- the join of libraries and shared objects

TEST_P(DalQuery, LibraryJoinGivesOneRowPerLibraryAndSharedObject)
{
    addOrganisation();
    insertRow("Platform", {{"Platform", SqlText("P1")}});
    insertRow("Platform", {{"Platform", SqlText("P2")}});
    insertRow("SharedObject", {{"Platform", SqlText("P1")}, {"AuthenticationLibrary", SqlInteger(1)},
                               {"SharedObject", SqlText("one-p1.so")}});
    insertRow("SharedObject", {{"Platform", SqlText("P2")}, {"AuthenticationLibrary", SqlInteger(1)},
                               {"SharedObject", SqlText("one-p2.so")}});
    insertRow("SharedObject", {{"Platform", SqlText("P1")}, {"AuthenticationLibrary", SqlInteger(2)},
                               {"SharedObject", SqlText("two-p1.so")}});

    AuthenticationLibraryXQuery query(_schema);
    DalDatabase::Result result;
    std::string strEcho = echoOf([&] { EXPECT_EQ(3, query.select(result, db(), SqlQueryBase::full)); });
    EXPECT_NE(std::string::npos,
              strEcho.find(" INNER JOIN " + q("SharedObject") + " ON " + q("AuthenticationLibrary") + "." +
                           q("AuthenticationLibrary") + " = " + q("SharedObject") + "." + q("AuthenticationLibrary")))
        << strEcho;
    EXPECT_EQ((std::set<std::string>{"AuthenticationLibrary", "Description", "AuthenticationTokenDisposition",
                                     "UserTools", "Platform", "SharedObject"}),
              columnNames(result[0]));

    query.constrainAuthenticationLibrary(SqlInteger(1));
    EXPECT_EQ(2, query.select(result, db(), SqlQueryBase::full));
    query.constrainPlatform(SqlText("P1"));
    ASSERT_EQ(1, query.select(result, db(), SqlQueryBase::full));
    EXPECT_EQ("one-p1.so", result[0].at(query.columnSharedObject().resultName()).string());
    EXPECT_EQ("P1", result[0].at(query.columnPlaform().resultName()).string());
    EXPECT_EQ("one", result[0].at(query.columnDescription().resultName()).string());
    EXPECT_EQ("P", result[0].at(query.columnAuthenticationTokenDisposition().resultName()).string());

    AuthenticationLibraryXQuery platformOnly(_schema);
    platformOnly.constrainPlatform(SqlText("P1"));
    EXPECT_EQ(2, platformOnly.select(result, db(), SqlQueryBase::full));
}

TEST_P(DalQuery, LibraryJoinWritesNothing)
{
    addOrganisation();
    AuthenticationLibraryXQuery query(_schema);
    query.columnAuthenticationLibrary().setValue(SqlInteger(3));
    query.columnDescription().setValue(SqlText("three"));
    query.constrainAuthenticationLibrary(SqlInteger(1));
    std::string strEcho = capturedStdout([&] {
        EXPECT_EQ(0, query.insert(db()));
        EXPECT_EQ(0, query.update(db()));
        EXPECT_EQ(0, query.remove(db()));
    });
    EXPECT_EQ("", strEcho);
    AuthenticationLibraryQuery libraries(_schema);
    DalDatabase::Result result;
    EXPECT_EQ(2, libraries.select(result, db(), SqlQueryBase::full));
}

// ---- tables under an alias

TEST_P(DalQuery, ParameterTablesAreReadUnderTheirAliasWithColumnsUnderTheirNames)
{
    addOrganisation();
    insertRow("AuthenticatorParam", {{"Domain", SqlText("D1")}, {"Param", SqlText("server")}, {"Value", SqlText("ldap")}});
    insertRow("AuthenticatorParam", {{"Domain", SqlText("D2")}, {"Param", SqlText("server")}, {"Value", SqlText("x")}});
    insertRow("AuthenticationLibraryParam",
              {{"AuthenticationLibrary", SqlInteger(1)}, {"Param", SqlText("rounds")}, {"Value", SqlText("12")}});

    AuthenticatorParamQuery authenticator(_schema);
    EXPECT_EQ("AP", authenticator.table().alias());
    authenticator.constrainDomain(SqlText("D1"));
    DalDatabase::Result result;
    std::string strEcho = echoOf([&] { EXPECT_EQ(1, authenticator.select(result, db(), SqlQueryBase::full)); });
    EXPECT_NE(std::string::npos, strEcho.find(q("AP") + "." + q("Param") + " AS " + q("Param"))) << strEcho;
    EXPECT_NE(std::string::npos, strEcho.find(" FROM " + q("AuthenticatorParam") + " AS " + q("AP"))) << strEcho;
    EXPECT_EQ("ldap", result[0].at(authenticator.columnValue().resultName()).string());

    AuthenticationLibraryParamQuery library(_schema);
    library.constrainAuthenticationLibrary(SqlInteger(1));
    ASSERT_EQ(1, library.select(result, db(), SqlQueryBase::full));
    EXPECT_EQ("rounds", result[0].at("Param").string());
    EXPECT_EQ(12, result[0].at("Value").asInt());

    // Writes go to the table itself.
    library.columnValue().setValue(SqlText("14"));
    EXPECT_EQ(1, library.update(db()));
    library.columnValue().clearValue();
    EXPECT_EQ(1, library.remove(db()));
}

TEST_P(DalQuery, QueryOnASuppliedTableUsesItsAlias)
{
    addOrganisation();
    UserQuery query(VeskDal::SqlTable(_schema, "User", "U"));
    query.constrainDomain(SqlText("D1"));
    DalDatabase::Result result;
    std::string strEcho = echoOf([&] { EXPECT_EQ(1, query.select(result, db(), SqlQueryBase::full)); });
    EXPECT_NE(std::string::npos, strEcho.find(" FROM " + q("User") + " AS " + q("U") + " WHERE " + q("U") + "." +
                                              q("Domain") + " = "))
        << strEcho;
    EXPECT_EQ("User One", result[0].at("Name").string());
}

// ---- values

TEST_P(DalQuery, HostileTextRoundTripsUnchanged)
{
    const std::vector<std::string> textS{
        "O'Brien \"the\" `quoted`", "a; DROP TABLE \"Customer\"; --", "-- comment", "/* block */ x", "back\\slash\\\\",
        "100% _under_", "Grüße, 漢字, 🙂", "trailing space "};
    int nIndex = 0;
    for (const std::string& strText : textS) {
        SCOPED_TRACE(strText);
        std::string strKey = "key " + std::to_string(++nIndex) + " " + strText;
        CustomerQuery insert(_schema);
        insert.columnCustomer().setValue(SqlText(strKey));
        insert.columnName().setValue(SqlText(strText));
        ASSERT_EQ(1, insert.insert(db()));

        CustomerQuery select(_schema);
        select.constrainCustomer(SqlText(strKey));
        DalDatabase::Result result;
        ASSERT_EQ(1, select.select(result, db(), SqlQueryBase::full));
        EXPECT_EQ(strKey, result[0].at("Customer").string());
        EXPECT_EQ(strText, result[0].at("Name").string());
    }
    CustomerQuery all(_schema);
    DalDatabase::Result result;
    EXPECT_EQ(static_cast<int>(textS.size()), all.select(result, db(), SqlQueryBase::full));
}

TEST_P(DalQuery, RollbackUndoesAnInsertThroughAQuery)
{
    db().begin();
    CustomerQuery insert(_schema);
    insert.columnCustomer().setValue(SqlText("C9"));
    EXPECT_EQ(1, insert.insert(db()));
    db().rollback();

    CustomerQuery select(_schema);
    DalDatabase::Result result;
    EXPECT_EQ(0, select.select(result, db(), SqlQueryBase::full));

    db().begin();
    EXPECT_EQ(1, insert.insert(db()));
    db().commit();
    EXPECT_EQ(1, select.select(result, db(), SqlQueryBase::full));
}

// ---- the echo switch

TEST_P(DalQuery, EchoOffRunsStatementsSilently)
{
    setStatementEcho(echoOff);
    CustomerQuery insert(_schema);
    insert.columnCustomer().setValue(SqlText("C1"));
    std::string strEcho = capturedStdout([&] {
        EXPECT_EQ(1, insert.insert(db()));
        trace("Product <1>");
    });
    EXPECT_EQ("", strEcho);
    CustomerQuery select(_schema);
    DalDatabase::Result result;
    EXPECT_EQ(1, select.select(result, db(), SqlQueryBase::full));
}

TEST_P(DalQuery, EchoThroughTheLoggerLeavesStandardOutputAlone)
{
    std::mutex mxLines;
    std::vector<std::string> loggedS;
    Corvel::EventLogger::setSink([&](const std::string& strLine) {
        std::lock_guard<std::mutex> lock(mxLines);
        loggedS.push_back(strLine);
    });
    setStatementEcho(echoLogger);
    CustomerQuery insert(_schema);
    insert.columnCustomer().setValue(SqlText("C1"));
    std::string strEcho = capturedStdout([&] {
        EXPECT_EQ(1, insert.insert(db()));
        trace("Product <1>");
    });
    Corvel::EventLogger::setSink(Corvel::EventLogger::Sink());
    EXPECT_EQ("", strEcho);
    ASSERT_EQ(2u, loggedS.size());
    EXPECT_NE(std::string::npos, loggedS[0].find("INSERT INTO " + q("Customer"))) << loggedS[0];
    EXPECT_NE(std::string::npos, loggedS[1].find("Product <1>")) << loggedS[1];
}

TEST_P(DalQuery, TraceWritesOneLineToStandardOutputByDefault)
{
    EXPECT_EQ(echoStdout, statementEcho());
    EXPECT_EQ("Product <3>\n", capturedStdout([] { trace("Product <3>"); }));
}

INSTANTIATE_TEST_SUITE_P(Engines, DalQuery, ::testing::ValuesIn(OstrelTest::testEngines()), OstrelTest::engineTestName);
INSTANTIATE_TEST_SUITE_P(Engines, DalGrantQuery, ::testing::ValuesIn(OstrelTest::testEngines()),
                         OstrelTest::engineTestName);

} // namespace
