// Row and result conversions on rows made by hand: fallbacks, failure codes and legends, merges.

#include "DbFactoryFixture.h"

namespace OstrelDbTest {
namespace {

using namespace OstrelData;
using Row = Factory::Row;
using Result = Factory::Result;
using VeskDal::SqlInteger;
using VeskDal::SqlText;

class DbConversions : public RegistryFixture {
protected:
    // Registers customer "acme" and product 5 with role 1 (carrying permission 7) and permissions
    // 7 and 8, all denied.
    void registerLedger()
    {
        Factory::customers().emplace("acme", Customer("acme", "Acme Ltd"));
        Product& ledger = Factory::createProduct(5);
        Permission& read = Factory::createPermission(ledger, 7);
        Factory::createPermission(ledger, 8);
        Role& clerk = Factory::createRole(ledger, 1);
        Factory::createRolePermission(clerk, read);
    }
};

TEST_F(DbConversions, RowsWithoutTheirKeyColumnsGiveFallbacksAndStoreNothing)
{
    Row row{{"Description", SqlText("orphan")}, {"Name", SqlText("n")}};
    EXPECT_EQ(-1, Factory::productFromRow(row).product());
    EXPECT_EQ("", Factory::customerFromRow(row).customer());
    EXPECT_EQ("", Factory::userFromRow(row).userId());
    EXPECT_EQ("", Factory::platformFromRow(row).platform());
    EXPECT_EQ("", Factory::sharedObjectFromRow(row).sharedObject());
    EXPECT_EQ(-1, Factory::authenticationLibraryFromRow(row).authenticationLibrary());
    Row platformOnly{{"Platform", SqlText("LNX")}};
    EXPECT_EQ("", Factory::platformFromRow(platformOnly).platform());

    EXPECT_TRUE(Factory::products().empty());
    EXPECT_TRUE(Factory::customers().empty());
    EXPECT_TRUE(Factory::platforms().empty());
    EXPECT_TRUE(Factory::sharedObjects().empty());
    EXPECT_TRUE(Factory::authenticationLibraryTemplates().empty());
}

TEST_F(DbConversions, DomainRowIsCheckedColumnByColumnInOrder)
{
    Row row;
    EXPECT_OSTREL_THROW(Factory::domainFromRow(row), nNAX_MISSINGDATA, "Customer column missing.");
    row["Customer"] = SqlText("acme");
    EXPECT_OSTREL_THROW(Factory::domainFromRow(row), nNAX_MISSINGDATA, "Description column missing.");
    row["Description"] = SqlText("Acme staff");
    EXPECT_OSTREL_THROW(Factory::domainFromRow(row), nNAX_CUSTOMERNOTFOUND, "acme");
    registerLedger();
    EXPECT_OSTREL_THROW(Factory::domainFromRow(row), nNAX_MISSINGDATA, "Domain column missing.");
    row["Domain"] = SqlText("acme.local");
    EXPECT_OSTREL_THROW(Factory::domainFromRow(row), nNAX_MISSINGDATA, "AuthenticationLibrary column missing.");
    row["AuthenticationLibrary"] = SqlInteger(3);
    EXPECT_OSTREL_THROW(Factory::domainFromRow(row), nNAX_LIBRARYNOTLOADED, "3");
    row["AuthenticationLibrary"] = SqlText("three");
    EXPECT_OSTREL_THROW(Factory::domainFromRow(row), nNAX_LIBRARYNOTLOADED, "three");

    // A domain that fails at its authenticator stays registered, out of its customer's map.
    const Domain& domain = Factory::domains().at("acme.local");
    EXPECT_EQ("Acme staff", domain.description());
    EXPECT_EQ(&Factory::customers().at("acme"), domain.customer());
    EXPECT_FALSE(domain.hasAuthenticator());
    EXPECT_TRUE(Factory::customers().at("acme").domains().empty());
}

TEST_F(DbConversions, TeamRowNeedsTeamAndRegisteredCustomer)
{
    Row row{{"Team", SqlInteger(10)}};
    EXPECT_OSTREL_THROW(Factory::teamFromRow(row), nNAX_MISSINGDATA, "Customer/Team");
    Row customerOnly{{"Customer", SqlText("acme")}};
    EXPECT_OSTREL_THROW(Factory::teamFromRow(customerOnly), nNAX_MISSINGDATA, "Customer/Team");
    row["Customer"] = SqlText("nobody");
    EXPECT_OSTREL_THROW(Factory::teamFromRow(row), nNAX_CUSTOMERNOTFOUND, "nobody");
    EXPECT_TRUE(Factory::teams().empty());
}

TEST_F(DbConversions, ProfileRowsNeedTheProfileColumnAndOnlyYMeansDefault)
{
    Row row{{"IsDefault", SqlText("Y")}};
    EXPECT_OSTREL_THROW(Factory::profileFromRowNI(row), nNAX_MISSINGDATA, "Profile column missing.");
    EXPECT_OSTREL_THROW(Factory::profileFromRow(row), nNAX_MISSINGDATA, "Profile column missing.");
    row["Profile"] = SqlText("office");
    EXPECT_TRUE(Factory::profileFromRowNI(row).isDefault());
    EXPECT_TRUE(Factory::profiles().empty());
    row["IsDefault"] = SqlText("y");
    EXPECT_FALSE(Factory::profileFromRow(row).isDefault());
    EXPECT_EQ(1u, Factory::profiles().count("office"));
}

TEST_F(DbConversions, ParameterResultsNameTheMissingColumnAndKeepTheLastValue)
{
    const Result params{Row{{"Param", SqlText("a")}, {"Value", SqlText("1")}},
                        Row{{"Param", SqlText("a")}, {"Value", SqlText("2")}}};
    EXPECT_EQ("2", Factory::initMapFromResult(params).at("a"));
    EXPECT_OSTREL_THROW(Factory::initMapFromResult(Result{Row{{"Value", SqlText("1")}}}), nNAX_MISSINGDATA, "Param");
    EXPECT_OSTREL_THROW(Factory::initMapFromResult(Result{Row{{"Param", SqlText("a")}}}), nNAX_MISSINGDATA, "Value");

    const Result productParams{Row{{"Profile", SqlText("office")}, {"Param", SqlText("a")}, {"Value", SqlText("1")}},
                               Row{{"Profile", SqlText("home")}, {"Param", SqlText("a")}, {"Value", SqlText("2")}}};
    const InitMapMap initS = Factory::initMapMapFromResult(productParams);
    EXPECT_EQ("1", initS.at("office").at("a"));
    EXPECT_EQ("2", initS.at("home").at("a"));
    EXPECT_OSTREL_THROW(Factory::initMapMapFromResult(Result{Row{{"Param", SqlText("a")}}}), nNAX_MISSINGDATA,
                        "Profile");
    EXPECT_OSTREL_THROW(Factory::initMapMapFromResult(Result{Row{{"Profile", SqlText("p")}, {"Param", SqlText("a")}}}),
                        nNAX_MISSINGDATA, "Value");
}

TEST_F(DbConversions, PermissionResultSkipsRowsWithoutNumberAndReadsStatuses)
{
    const Product product(5);
    const Result result{Row{{"Permission", SqlInteger(1)}, {"Status", SqlInteger(1)}, {"Description", SqlText("a")}},
                        Row{{"Permission", SqlInteger(2)}, {"Status", SqlInteger(-1)}},
                        Row{{"Permission", SqlInteger(3)}, {"Status", SqlInteger(7)}},
                        Row{{"Status", SqlInteger(1)}}};
    const PermissionMap permissionS = Factory::permissionMapFromResult(product, result);
    ASSERT_EQ(3u, permissionS.size());
    EXPECT_EQ("a", permissionS.at(1).description());
    EXPECT_EQ(PRStatus::statusGranted, permissionS.at(1).status());
    EXPECT_EQ(PRStatus::statusRevoked, permissionS.at(2).status());
    EXPECT_EQ(PRStatus::statusDenied, permissionS.at(3).status());
    EXPECT_EQ(&product, &permissionS.at(1).product());

    const Result bad{Row{{"Permission", SqlText("seven")}}};
    EXPECT_OSTREL_THROW(Factory::permissionMapFromResult(product, bad), nNAX_MISSINGDATA,
                        "Permission is not an integer: seven");
}

TEST_F(DbConversions, GrantRowsCopyTheRegistryProductAndMergeStatuses)
{
    registerLedger();
    ProductMap productS;
    Factory::productRoleMapFromResult(productS, Result{Row{{"Product", SqlInteger(5)}, {"Role", SqlInteger(1)},
                                                           {"Status", SqlInteger(1)}},
                                                       Row{{"Product", SqlInteger(5)}, {"Role", SqlInteger(9)},
                                                           {"Status", SqlInteger(1)}},
                                                       Row{{"Product", SqlInteger(5)}, {"Status", SqlInteger(1)}}});
    ASSERT_EQ(1u, productS.size());
    EXPECT_EQ(PRStatus::statusGranted, productS.at(5).roles().at(1).status());
    EXPECT_EQ(0u, productS.at(5).roles().count(9));
    EXPECT_EQ(PRStatus::statusDenied, Factory::products().at(5).roles().at(1).status());

    Factory::productPermissionMapFromResult(
        productS, Result{Row{{"Product", SqlInteger(5)}, {"Permission", SqlInteger(8)}, {"Status", SqlInteger(-1)}},
                         Row{{"Product", SqlInteger(5)}, {"Permission", SqlInteger(8)}, {"Status", SqlInteger(1)}},
                         Row{{"Product", SqlInteger(77)}, {"Permission", SqlInteger(1)}, {"Status", SqlInteger(1)}}});
    EXPECT_EQ(PRStatus::statusRevoked, productS.at(5).permissions().at(8).status());
    EXPECT_EQ(0u, productS.count(77));
    EXPECT_TRUE(logged({"WARNING", "(layer 1)", "Error Code=105", "Legend=\"77\""}));
}

TEST_F(DbConversions, TeamMapAndSharedObjectRows)
{
    Row partial{{"Domain", SqlText("d")}, {"AlienGroup", SqlText("g")}, {"Team", SqlInteger(1)}};
    Factory::teamMapFromRow(partial);
    EXPECT_TRUE(Factory::xteams().empty());
    EXPECT_TRUE(Factory::aliens().empty());

    Row sharedObject{{"Platform", SqlText("WIN")}, {"AuthenticationLibrary", SqlInteger(9)},
                     {"SharedObject", SqlText("lib.dll")}};
    EXPECT_OSTREL_THROW(Factory::sharedObjectFromRow(sharedObject), nNAX_PLATFORMNOTFOUND, "WIN");
    Factory::platforms().emplace("WIN", Platform("WIN", "Windows"));
    EXPECT_OSTREL_THROW(Factory::sharedObjectFromRow(sharedObject), nNAX_AUTHENTICATIONLIBRARYNOTFOUND, "9");
    EXPECT_TRUE(Factory::sharedObjects().empty());
}

TEST_F(DbConversions, VersionIsTheFrameworks)
{
    EXPECT_EQ(OSTREL_PROJECT_VERSION, Factory::version().text());
}

} // namespace
} // namespace OstrelDbTest
