// Every query class with a table of its own: insert, select, update and delete round trips, and
// updates and deletes without constraints that run nothing; on every engine.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DalFixture.h"

using namespace OstrelDal;
using OstrelDalTest::capturedStdout;
using OstrelDalTest::lines;
using VeskDal::DalDatabase;
using VeskDal::SqlInteger;
using VeskDal::SqlText;
using VeskDal::SqlValue;

namespace {

using Values = std::map<std::string, SqlValue>;

// One query object of any class, with the class's own key constraints set from values.
class AnyQuery {
public:
    virtual ~AnyQuery() = default;
    virtual VeskDal::SqlQueryBase& query() = 0;
    virtual void constrain(const Values& valueS) = 0;
    virtual int select(DalDatabase::Result& result, DalDatabase& database) = 0;
    virtual int insert(DalDatabase& database) = 0;
    virtual int update(DalDatabase& database) = 0;
    virtual int remove(DalDatabase& database) = 0;
};

template <class Query>
class QueryOf : public AnyQuery {
public:
    using Constrain = std::function<void(Query&, const Values&)>;
    QueryOf(const VeskDal::SqlSchema& schema, Constrain constrain) : _query(schema), _constrain(std::move(constrain)) {}

    VeskDal::SqlQueryBase& query() override { return _query; }
    void constrain(const Values& valueS) override { _constrain(_query, valueS); }
    int select(DalDatabase::Result& result, DalDatabase& database) override
    {
        return _query.select(result, database, VeskDal::SqlQueryBase::full);
    }
    int insert(DalDatabase& database) override { return _query.insert(database); }
    int update(DalDatabase& database) override { return _query.update(database); }
    int remove(DalDatabase& database) override { return _query.remove(database); }

private:
    Query _query;
    Constrain _constrain;
};

struct TableCase {
    std::string strTable;
    std::set<std::string> keyS;
    // Columns that identify a new row of a table the base rows already fill.
    std::set<std::string> freshS;
    std::function<std::unique_ptr<AnyQuery>(const VeskDal::SqlSchema&)> make;
};

template <class Query>
TableCase tableCase(const std::string& strTable, std::set<std::string> keyS, std::set<std::string> freshS,
                    typename QueryOf<Query>::Constrain constrain)
{
    return {strTable, std::move(keyS), std::move(freshS), [constrain](const VeskDal::SqlSchema& schema) {
                return std::unique_ptr<AnyQuery>(new QueryOf<Query>(schema, constrain));
            }};
}

const std::set<std::string> g_integerColumnS{"Team", "Product", "Role", "Permission", "Status",
                                             "AuthenticationLibrary", "BadLoginCount"};
const std::set<std::string> g_flagColumnS{"UserTools", "IsLead", "IsDefault", "AuthenticationTokenDisposition"};
const std::map<std::string, std::string> g_baseTextS{{"Customer", "C1"}, {"Domain", "D1"}, {"UserId", "u1"},
                                                     {"Platform", "P1"}, {"Profile", "PR1"}};

// The value of a column in the base rows, or in a new row when bFresh.
SqlValue columnValue(const std::string& strColumn, bool bFresh)
{
    if (g_integerColumnS.count(strColumn)) {
        return SqlInteger(bFresh ? 2 : 1);
    }
    if (g_flagColumnS.count(strColumn)) {
        return SqlText("Y");
    }
    auto it = g_baseTextS.find(strColumn);
    std::string strText = it != g_baseTextS.end() ? it->second : "v-" + strColumn;
    return SqlText(bFresh ? strText + "-2" : strText);
}

SqlValue changedValue(const std::string& strColumn)
{
    if (g_integerColumnS.count(strColumn)) {
        return SqlInteger(-1);
    }
    return SqlText(g_flagColumnS.count(strColumn) ? "N" : "changed " + strColumn);
}

// In an order that satisfies the references; the first ten make the base rows the others refer to.
std::vector<TableCase> tableCases()
{
    return {
        tableCase<CustomerQuery>("Customer", {"Customer"}, {"Customer"},
                                 [](CustomerQuery& q, const Values& v) { q.constrainCustomer(v.at("Customer")); }),
        tableCase<PlatformQuery>("Platform", {"Platform"}, {"Platform"},
                                 [](PlatformQuery& q, const Values& v) { q.constrainPlatform(v.at("Platform")); }),
        tableCase<AuthenticationLibraryQuery>("AuthenticationLibrary", {"AuthenticationLibrary"},
                                              {"AuthenticationLibrary"},
                                              [](AuthenticationLibraryQuery& q, const Values& v) {
                                                  q.constrainAuthenticationLibrary(v.at("AuthenticationLibrary"));
                                              }),
        tableCase<DomainQuery>("Domain", {"Domain"}, {"Domain"},
                               [](DomainQuery& q, const Values& v) { q.constrainDomain(v.at("Domain")); }),
        tableCase<UserQuery>("User", {"Domain", "UserId"}, {"UserId"},
                             [](UserQuery& q, const Values& v) {
                                 q.constrainDomain(v.at("Domain"));
                                 q.constrainUserId(v.at("UserId"));
                             }),
        tableCase<TeamQuery>("Team", {"Team"}, {"Team"},
                             [](TeamQuery& q, const Values& v) { q.constrainTeam(v.at("Team")); }),
        tableCase<ProductQuery>("Product", {"Product"}, {"Product"},
                                [](ProductQuery& q, const Values& v) { q.constrainProduct(v.at("Product")); }),
        tableCase<ProductRoleQuery>("ProductRole", {"Product", "Role"}, {"Role"},
                                    [](ProductRoleQuery& q, const Values& v) {
                                        q.constrainProduct(v.at("Product"));
                                        q.constrainRole(v.at("Role"));
                                    }),
        tableCase<ProductPermissionQuery>("ProductPermission", {"Product", "Permission"}, {"Permission"},
                                          [](ProductPermissionQuery& q, const Values& v) {
                                              q.constrainProduct(v.at("Product"));
                                              q.constrainPermission(v.at("Permission"));
                                          }),
        tableCase<ProfileQuery>("Profile", {"Profile"}, {"Profile"},
                                [](ProfileQuery& q, const Values& v) { q.constrainProfile(v.at("Profile")); }),
        // Tables the base rows leave empty.
        tableCase<UserTeamQuery>("UserTeam", {"Domain", "UserId", "Team"}, {},
                                 [](UserTeamQuery& q, const Values& v) {
                                     q.constrainDomain(v.at("Domain"));
                                     q.constrainUserId(v.at("UserId"));
                                     q.constrainTeam(v.at("Team"));
                                 }),
        tableCase<TeamMapQuery>("TeamMap", {"Domain", "Team"}, {},
                                [](TeamMapQuery& q, const Values& v) {
                                    q.constrainDomain(v.at("Domain"));
                                    q.constrainTeam(v.at("Team"));
                                }),
        tableCase<ProductRolePermissionQuery>("ProductRolePermission", {"Product", "Role", "Permission"}, {},
                                              [](ProductRolePermissionQuery& q, const Values& v) {
                                                  q.constrainProduct(v.at("Product"));
                                                  q.constrainRole(v.at("Role"));
                                                  q.constrainPermission(v.at("Permission"));
                                              }),
        tableCase<TeamProductRoleQuery>("TeamProductRole", {"Team", "Product", "Role"}, {},
                                        [](TeamProductRoleQuery& q, const Values& v) {
                                            q.constrainTeam(v.at("Team"));
                                            q.constrainProduct(v.at("Product"));
                                            q.constrainRole(v.at("Role"));
                                        }),
        tableCase<TeamProductPermissionQuery>("TeamProductPermission", {"Team", "Product", "Permission"}, {},
                                              [](TeamProductPermissionQuery& q, const Values& v) {
                                                  q.constrainTeam(v.at("Team"));
                                                  q.constrainProduct(v.at("Product"));
                                                  q.constrainPermission(v.at("Permission"));
                                              }),
        tableCase<UserProductRoleQuery>("UserProductRole", {"Domain", "UserId", "Product", "Role"}, {},
                                        [](UserProductRoleQuery& q, const Values& v) {
                                            q.constrainDomain(v.at("Domain"));
                                            q.constrainUserId(v.at("UserId"));
                                            q.constrainProduct(v.at("Product"));
                                            q.constrainRole(v.at("Role"));
                                        }),
        tableCase<UserProductPermissionQuery>("UserProductPermission", {"Domain", "UserId", "Product", "Permission"},
                                              {},
                                              [](UserProductPermissionQuery& q, const Values& v) {
                                                  q.constrainDomain(v.at("Domain"));
                                                  q.constrainUserId(v.at("UserId"));
                                                  q.constrainProduct(v.at("Product"));
                                                  q.constrainPermission(v.at("Permission"));
                                              }),
        tableCase<SharedObjectQuery>("SharedObject", {"Platform", "AuthenticationLibrary"}, {},
                                     [](SharedObjectQuery& q, const Values& v) {
                                         q.constrainPlatform(v.at("Platform"));
                                         q.constrainAuthenticationLibrary(v.at("AuthenticationLibrary"));
                                     }),
        tableCase<AuthenticationLibraryParamQuery>("AuthenticationLibraryParam", {"AuthenticationLibrary", "Param"},
                                                   {},
                                                   [](AuthenticationLibraryParamQuery& q, const Values& v) {
                                                       q.constrainAuthenticationLibrary(v.at("AuthenticationLibrary"));
                                                       q.constrainParam(v.at("Param"));
                                                   }),
        tableCase<AuthenticatorParamQuery>("AuthenticatorParam", {"Domain", "Param"}, {},
                                           [](AuthenticatorParamQuery& q, const Values& v) {
                                               q.constrainDomain(v.at("Domain"));
                                               q.constrainParam(v.at("Param"));
                                           }),
        tableCase<ProfileHostQuery>("ProfileHost", {"Profile", "Host"}, {},
                                    [](ProfileHostQuery& q, const Values& v) {
                                        q.constrainProfile(v.at("Profile"));
                                        q.constrainHost(v.at("Host"));
                                    }),
        tableCase<ProductParamQuery>("ProductParam", {"Profile", "Product", "Param"}, {},
                                     [](ProductParamQuery& q, const Values& v) {
                                         q.constrainProfile(v.at("Profile"));
                                         q.constrainProduct(v.at("Product"));
                                         q.constrainParam(v.at("Param"));
                                     }),
        tableCase<DBProfileQuery>("DBProfile", {"PName"}, {},
                                  [](DBProfileQuery& q, const Values& v) { q.constrainPName(v.at("PName")); }),
    };
}
constexpr size_t g_nBaseTables = 10;

class DalRoundTrip : public OstrelDalTest::EngineTest {
protected:
    // A value for every column of the query's table.
    static Values rowOf(AnyQuery& query, const TableCase& tableCase, bool bFresh)
    {
        Values valueS;
        for (VeskDal::SqlColumn* pcolumn : query.query().registeredColumnS()) {
            valueS[pcolumn->name()] = columnValue(pcolumn->name(), bFresh && tableCase.freshS.count(pcolumn->name()));
        }
        return valueS;
    }

    static void setValues(AnyQuery& query, const Values& valueS)
    {
        for (VeskDal::SqlColumn* pcolumn : query.query().registeredColumnS()) {
            auto it = valueS.find(pcolumn->name());
            pcolumn->setValue(it == valueS.end() ? VeskDal::SqlColumnPtr() : VeskDal::SqlColumnPtr(it->second));
        }
    }

    int insertRow(const TableCase& tableCase, const Values& valueS)
    {
        auto pquery = tableCase.make(_schema);
        setValues(*pquery, valueS);
        return pquery->insert(db());
    }

    // The rows of the key, each column found under its result name.
    DalDatabase::Result rowsOfKey(const TableCase& tableCase, const Values& valueS)
    {
        auto pquery = tableCase.make(_schema);
        pquery->constrain(valueS);
        DalDatabase::Result result;
        int nRows = pquery->select(result, db());
        EXPECT_EQ(static_cast<int>(result.size()), nRows);
        return result;
    }

    void expectRow(const TableCase& tableCase, const Values& valueS)
    {
        DalDatabase::Result result = rowsOfKey(tableCase, valueS);
        ASSERT_EQ(1u, result.size());
        auto pquery = tableCase.make(_schema);
        for (VeskDal::SqlColumn* pcolumn : pquery->query().registeredColumnS()) {
            auto it = result[0].find(pcolumn->resultName());
            ASSERT_NE(result[0].end(), it) << pcolumn->resultName();
            EXPECT_EQ(valueS.at(pcolumn->name()).string(), it->second.string()) << pcolumn->name();
        }
    }
};

TEST_P(DalRoundTrip, EveryTableRoundTripsInsertSelectUpdateAndDelete)
{
    const std::vector<TableCase> caseS = tableCases();
    for (size_t n = 0; n < g_nBaseTables; ++n) {
        auto pquery = caseS[n].make(_schema);
        ASSERT_EQ(1, insertRow(caseS[n], rowOf(*pquery, caseS[n], false))) << caseS[n].strTable;
    }

    for (const TableCase& tableCase : caseS) {
        SCOPED_TRACE(tableCase.strTable);
        auto pquery = tableCase.make(_schema);
        EXPECT_EQ(tableCase.strTable, pquery->query().table().name());
        Values valueS = rowOf(*pquery, tableCase, true);

        std::string strEcho = capturedStdout([&] { EXPECT_EQ(1, insertRow(tableCase, valueS)); });
        ASSERT_EQ(1u, lines(strEcho).size()) << strEcho;
        EXPECT_EQ(0u, strEcho.find("INSERT INTO " + q(tableCase.strTable) + " (")) << strEcho;
        expectRow(tableCase, valueS);

        // The last column outside the key changes; a table of keys only changes its last key column.
        std::string strChanged;
        std::string strLastKey;
        for (VeskDal::SqlColumn* pcolumn : pquery->query().registeredColumnS()) {
            (tableCase.keyS.count(pcolumn->name()) ? strLastKey : strChanged) = pcolumn->name();
        }
        if (strChanged.empty()) {
            strChanged = strLastKey;
        }
        auto pupdate = tableCase.make(_schema);
        setValues(*pupdate, {{strChanged, changedValue(strChanged)}});
        pupdate->constrain(valueS);
        strEcho = capturedStdout([&] { EXPECT_EQ(1, pupdate->update(db())); });
        EXPECT_EQ(0u, strEcho.find("UPDATE " + q(tableCase.strTable) + " SET " + q(strChanged) + " = ")) << strEcho;
        valueS[strChanged] = changedValue(strChanged);
        expectRow(tableCase, valueS);

        // Without a constraint nothing runs, not even the echo.
        auto punconstrained = tableCase.make(_schema);
        setValues(*punconstrained, {{strChanged, columnValue(strChanged, false)}});
        strEcho = capturedStdout([&] {
            EXPECT_EQ(0, punconstrained->update(db()));
            EXPECT_EQ(0, punconstrained->remove(db()));
        });
        EXPECT_EQ("", strEcho);
        expectRow(tableCase, valueS);

        auto premove = tableCase.make(_schema);
        premove->constrain(valueS);
        strEcho = capturedStdout([&] { EXPECT_EQ(1, premove->remove(db())); });
        EXPECT_EQ(0u, strEcho.find("DELETE FROM " + q(tableCase.strTable) + " WHERE ")) << strEcho;
        EXPECT_TRUE(rowsOfKey(tableCase, valueS).empty());
    }
}

TEST_P(DalRoundTrip, SelectWithoutConstraintReadsTheWholeTable)
{
    const std::vector<TableCase> caseS = tableCases();
    const TableCase& customer = caseS[0];
    for (const char* pszCustomer : {"C1", "C2", "C3"}) {
        ASSERT_EQ(1, insertRow(customer, {{"Customer", SqlText(pszCustomer)}, {"Name", SqlText("n")}}));
    }
    auto pquery = customer.make(_schema);
    DalDatabase::Result result;
    std::string strEcho = capturedStdout([&] { EXPECT_EQ(3, pquery->select(result, db())); });
    EXPECT_EQ("SELECT " + q("Customer") + ", " + q("Name") + " FROM " + q("Customer") + "\n", strEcho);
    EXPECT_EQ(3u, result.size());
}

INSTANTIATE_TEST_SUITE_P(Engines, DalRoundTrip, ::testing::ValuesIn(OstrelTest::testEngines()),
                         OstrelTest::engineTestName);

} // namespace
