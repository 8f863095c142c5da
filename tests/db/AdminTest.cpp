// Customers and domains written with the registries in step; grants at every level; the catalogue
// written in transactions behind the product-maintenance permission; number allocation.

#include <functional>

#include "DbFactoryFixture.h"

namespace OstrelDbTest {
namespace {

using namespace OstrelData;
using OstrelDataDB::Grant;
using OstrelDataDB::Grantee;

// ---- customers and domains

class DbOrganisation : public EngineFixture {};

TEST_P(DbOrganisation, CustomersAreWrittenAndTheRegistryFollows)
{
    initialize(Factory::modeSimple);
    Customer initech("initech", "Initech");
    Factory::createCustomer(initech);
    EXPECT_EQ(1, count("Customer", {{"Customer", "initech"}, {"Name", "Initech"}}));
    EXPECT_EQ("Initech", Factory::customers().at("initech").name());

    // The row holds only the name; the registered customer keeps its teams.
    Customer renamed("acme", "Acme Group");
    Factory::updateCustomer(renamed);
    EXPECT_EQ(1, count("Customer", {{"Customer", "acme"}, {"Name", "Acme Group"}}));
    EXPECT_EQ("Acme Group", Factory::customers().at("acme").name());
    EXPECT_EQ(2u, Factory::customers().at("acme").teams().size());

    Factory::deleteCustomer(initech);
    EXPECT_EQ(0, count("Customer", {{"Customer", "initech"}}));
    EXPECT_EQ(0u, Factory::customers().count("initech"));
}

TEST_P(DbOrganisation, DatabaseRefusalIsReportedAndLeavesTheRegistryAlone)
{
    initialize(Factory::modeSimple);
    Customer duplicate("acme", "Impostor");
    try {
        Factory::createCustomer(duplicate);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(nNAX_DATABASE, e.errorCode());
        EXPECT_TRUE(e.remote());
    }
    EXPECT_EQ("Acme Ltd", Factory::customers().at("acme").name());

    // An update of nothing registers nothing.
    Customer missing("initech", "Initech");
    EXPECT_OSTREL_THROW(Factory::updateCustomer(missing), nNAX_CUSTOMERNOTFOUND, "initech");
    EXPECT_EQ(0u, Factory::customers().count("initech"));
    Domain nowhere(Factory::customers().at("acme"), "nowhere.local");
    EXPECT_OSTREL_THROW(Factory::updateDomain(nowhere), nNAX_DOMAINNOTFOUND, "nowhere.local");
    EXPECT_EQ(0u, Factory::domains().count("nowhere.local"));
    EXPECT_EQ(0u, Factory::customers().at("acme").domains().count("nowhere.local"));

    // Domains and teams still refer to the customer.
    Customer acme("acme", "");
    EXPECT_THROW(Factory::deleteCustomer(acme), Exception);
    EXPECT_EQ(1u, Factory::customers().count("acme"));
}

TEST_P(DbOrganisation, CreatedDomainPointsAtTheRegisteredCustomer)
{
    initialize(Factory::modeSimple);
    const Customer temporary("acme", "a copy");
    Domain domain(temporary, "new.local");
    domain.setDescription("New");
    Factory::createDomain(domain);

    EXPECT_EQ(1, count("Domain", {{"Domain", "new.local"}, {"Customer", "acme"}, {"Description", "New"}}));
    const Domain& entry = Factory::domains().at("new.local");
    EXPECT_EQ(&Factory::customers().at("acme"), entry.customer());
    EXPECT_EQ(&entry, Factory::customers().at("acme").domains().at("new.local"));
}

TEST_P(DbOrganisation, DomainOfAnUnregisteredCustomerIsInNoCustomersMap)
{
    initialize(Factory::modeSimple);
    insert("Customer", {{"Customer", "initech"}, {"Name", "Initech"}});
    const Customer initech("initech", "Initech");
    Domain domain(initech, "initech.local");
    Factory::createDomain(domain);
    EXPECT_EQ(1u, Factory::domains().count("initech.local"));
    for (const auto& entry : Factory::customers())
        EXPECT_EQ(0u, entry.second.domains().count("initech.local")) << entry.first;
}

TEST_P(DbOrganisation, UpdatedDomainKeepsItsAuthenticatorAndDeletedOneLeavesEverywhere)
{
    insert("Domain", {{"Domain", "spare.local"}, {"Description", "Spare"}, {"Customer", "acme"},
                      {"AuthenticationLibrary", 1}, {"UserTools", "N"}});
    initialize(Factory::modeAuthenticator);
    Authenticator* pauthenticator = Factory::domains().at("acme.local").authenticator();

    Domain changed(Factory::customers().at("acme"), "acme.local");
    changed.setDescription("Acme people");
    Factory::updateDomain(changed);
    EXPECT_EQ(1, count("Domain", {{"Domain", "acme.local"}, {"Description", "Acme people"}}));
    const Domain& acme = Factory::domains().at("acme.local");
    EXPECT_EQ("Acme people", acme.description());
    EXPECT_EQ(pauthenticator, acme.authenticator());
    EXPECT_EQ(&acme, Factory::customers().at("acme").domains().at("acme.local"));

    Factory::deleteDomain(Factory::domains().at("spare.local"));
    EXPECT_EQ(0, count("Domain", {{"Domain", "spare.local"}}));
    EXPECT_EQ(0u, Factory::domains().count("spare.local"));
    EXPECT_EQ(0u, Factory::customers().at("acme").domains().count("spare.local"));
}

INSTANTIATE_TEST_SUITE_P(Engines, DbOrganisation, ::testing::ValuesIn(OstrelTest::testEngines()),
                         OstrelTest::engineTestName);

// ---- grants

class DbGrants : public EngineFixture {};

// Each write addresses the grantee's row alone: another grantee's row of the same role or
// permission is neither updated nor removed with it.
TEST_P(DbGrants, GrantsAreWrittenListedAndRemovedPerGrantee)
{
    initialize(Factory::modeSimple);
    const Grantee jdoe = Grantee::user("acme.local", "jdoe");
    const Grantee asmith = Grantee::user("acme.local", "asmith");
    Grant role{5, true, 2, PRStatus::statusGranted};
    Grant permission{5, false, 9, PRStatus::statusDenied};

    Factory::writeGrant(jdoe, permission);
    Factory::writeGrant(jdoe, role);
    Factory::writeGrant(asmith, role);
    role.status = PRStatus::statusRevoked;
    Factory::writeGrant(jdoe, role);
    EXPECT_EQ(1, count("UserProductRole", {{"UserId", "jdoe"}, {"Role", 2}, {"Status", -1}}));
    EXPECT_EQ(1, count("UserProductRole", {{"UserId", "asmith"}, {"Role", 2}, {"Status", 1}}));

    const std::vector<Grant> grantS = Factory::grants(jdoe);
    ASSERT_EQ(2u, grantS.size());
    EXPECT_TRUE(grantS[0].bRole);
    EXPECT_EQ(2, grantS[0].nNumber);
    EXPECT_EQ(PRStatus::statusRevoked, grantS[0].status);
    EXPECT_FALSE(grantS[1].bRole);
    EXPECT_EQ(9, grantS[1].nNumber);
    EXPECT_EQ(PRStatus::statusDenied, grantS[1].status);
    ASSERT_EQ(1u, Factory::grants(Grantee::team(10)).size());
    EXPECT_TRUE(Factory::grants(Grantee::customer("globex")).empty());

    EXPECT_TRUE(Factory::removeGrant(jdoe, role));
    EXPECT_FALSE(Factory::removeGrant(jdoe, role));
    EXPECT_EQ(1, count("UserProductRole", {{"UserId", "asmith"}, {"Role", 2}}));

    Factory::writeGrant(Grantee::customer("acme"), permission);
    Factory::writeGrant(Grantee::team(11), permission);
    EXPECT_EQ(1, count("CustomerProductPermission", {{"Customer", "acme"}, {"Permission", 9}, {"Status", 0}}));
    EXPECT_EQ(1, count("TeamProductPermission", {{"Team", 11}, {"Permission", 9}, {"Status", 0}}));

    // A role the product lacks: the database refuses, the caller gets 1021 and nothing is written.
    try {
        Factory::writeGrant(jdoe, Grant{5, true, 77, PRStatus::statusGranted});
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(nNAX_DATABASE, e.errorCode());
        EXPECT_TRUE(e.remote());
    }
    EXPECT_EQ(0, count("UserProductRole", {{"Role", 77}}));
}

INSTANTIATE_TEST_SUITE_P(Engines, DbGrants, ::testing::ValuesIn(OstrelTest::testEngines()), OstrelTest::engineTestName);

// ---- the catalogue

class DbCatalogue : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        initialize(Factory::modeSimple);
        actAsMaintainer(true);
    }

    const Product& ledger() { return Factory::products().at(5); }

    // Rows of every catalogue table, to see that nothing was written.
    int catalogueRows()
    {
        int n = 0;
        for (const char* pszTable : {"Product", "ProductParam", "ProductPermission", "ProductRole",
                                     "ProductRolePermission", "TeamProductRole"})
            n += count(pszTable);
        return n;
    }
};

TEST_P(DbCatalogue, EveryOperationIsRefusedWithoutThePermissionAndWritesNothing)
{
    const Product& product = ledger();
    const Role& role = product.roles().at(1);
    const Permission& permission = product.permissions().at(7);
    const Permission& rolePermission = role.permissions().at(7);
    const std::vector<std::function<void()>> operationS = {
        [&]() { Factory::insertProduct(product); },
        [&]() { Factory::insertProductParam(product, "home", "k", "v"); },
        [&]() { Factory::insertPermission(permission, product); },
        [&]() { Factory::insertRole(role, product); },
        [&]() { Factory::insertRolePermission(permission, role, product); },
        [&]() { Factory::deleteProduct(product, true); },
        [&]() { Factory::deleteProductParam(product, "", "", true); },
        [&]() { Factory::deletePermission(permission, true); },
        [&]() { Factory::deleteRole(role, true); },
        [&]() { Factory::deleteRolePermission(rolePermission, true); },
    };
    const int nRows = catalogueRows();
    for (bool bWithUser : {false, true}) {
        if (bWithUser)
            actAsMaintainer(false);
        else
            Factory::setAuthenticatedUser(AuthenticatedUser());
        for (size_t n = 0; n < operationS.size(); ++n) {
            SCOPED_TRACE("operation " + std::to_string(n));
            EXPECT_OSTREL_THROW(operationS[n](), nNAX_PERMISSIONDENIED, "unauthorized action");
        }
    }
    EXPECT_EQ(nRows, catalogueRows());
}

TEST_P(DbCatalogue, InsertProductWritesANewProductWithEverythingItHolds)
{
    Product wiki(9, InitMapMap{{"office", InitMap{{"theme", "dark"}}}}, "Wiki");
    wiki.permissions().emplace(1, Permission(wiki, 1, "view", PRStatus(PRStatus::statusDenied)));
    Role reader(wiki, 1, "Reader", PRStatus(PRStatus::statusDenied));
    reader.permissions().emplace(1, Permission(reader, 1, "view", PRStatus(PRStatus::statusGranted)));
    wiki.roles().emplace(1, reader);

    Factory::insertProduct(wiki);
    EXPECT_EQ(1, count("Product", {{"Product", 9}, {"Description", "Wiki"}}));
    EXPECT_EQ(1, count("ProductParam", {{"Product", 9}, {"Profile", "office"}, {"Param", "theme"}, {"Value", "dark"}}));
    EXPECT_EQ(1, count("ProductPermission", {{"Product", 9}, {"Permission", 1}, {"Description", "view"}, {"Status", 0}}));
    EXPECT_EQ(1, count("ProductRole", {{"Product", 9}, {"Role", 1}, {"Description", "Reader"}}));
    EXPECT_EQ(1, count("ProductRolePermission", {{"Product", 9}, {"Role", 1}, {"Permission", 1}, {"Status", 1}}));
    // The registry is not touched.
    EXPECT_EQ(0u, Factory::products().count(9));

    // Again, renamed and without parameters: the row is updated and the parameters go.
    Product renamed(wiki);
    renamed.setDescription("Knowledge");
    renamed.setProductInit(InitMapMap());
    Factory::insertProduct(renamed);
    EXPECT_EQ(1, count("Product", {{"Product", 9}, {"Description", "Knowledge"}}));
    EXPECT_EQ(0, count("ProductParam", {{"Product", 9}}));
    EXPECT_EQ(1, count("ProductRolePermission", {{"Product", 9}}));
}

TEST_P(DbCatalogue, InsertingAPermissionOrRoleTwiceUpdatesItsRow)
{
    Permission permission(ledger().permissions().at(7));
    permission.setDescription("read all");
    permission.setStatus(PRStatus(PRStatus::statusGranted));
    Factory::insertPermission(permission, ledger());
    Factory::insertPermission(permission, ledger());
    EXPECT_EQ(1, count("ProductPermission", {{"Product", 5}, {"Permission", 7}}));
    EXPECT_EQ(1, count("ProductPermission", {{"Product", 5}, {"Permission", 7}, {"Description", "read all"},
                                             {"Status", 1}}));

    // A role's role permissions become exactly those it holds.
    Role clerk(ledger().roles().at(1));
    clerk.setDescription("Senior clerk");
    clerk.permissions().clear();
    clerk.permissions().emplace(9, Permission(clerk, 9, "audit", PRStatus(PRStatus::statusRevoked)));
    Factory::insertRole(clerk, ledger());
    EXPECT_EQ(1, count("ProductRole", {{"Product", 5}, {"Role", 1}, {"Description", "Senior clerk"}}));
    EXPECT_EQ(1, count("ProductRolePermission", {{"Product", 5}, {"Role", 1}}));
    EXPECT_EQ(1, count("ProductRolePermission", {{"Product", 5}, {"Role", 1}, {"Permission", 9}, {"Status", -1}}));
    EXPECT_EQ(1, count("ProductRolePermission", {{"Product", 5}, {"Role", 2}}));
}

// Two administrators who took the same number: the second add fails and the first one's rows
// (a role's role permissions included) stay as they were.
TEST_P(DbCatalogue, AddingUnderATakenNumberOverwritesNothing)
{
    const int nRows = catalogueRows();
    auto codeOf = [](const std::function<void()>& add) {
        try {
            add();
        } catch (const Exception& e) {
            return e.errorCode();
        }
        return 0;
    };
    const PRStatus granted(PRStatus::statusGranted);
    EXPECT_EQ(nNAX_DATABASE, codeOf([&] { Factory::addProduct(Product(5, InitMapMap(), "Impostor")); }));
    EXPECT_EQ(nNAX_DATABASE, codeOf([&] { Factory::addRole(Role(ledger(), 1, "Impostor", granted), ledger()); }));
    EXPECT_EQ(nNAX_DATABASE,
              codeOf([&] { Factory::addPermission(Permission(ledger(), 7, "Impostor", granted), ledger()); }));
    EXPECT_EQ(nRows, catalogueRows());
    EXPECT_EQ(0, count("ProductRole", {{"Description", "Impostor"}}));
    EXPECT_EQ(0, count("ProductPermission", {{"Description", "Impostor"}}));

    Factory::addRole(Role(ledger(), 30, "New", PRStatus(PRStatus::statusDenied)), ledger());
    EXPECT_EQ(1, count("ProductRole", {{"Product", 5}, {"Role", 30}, {"Description", "New"}}));
}

TEST_P(DbCatalogue, DeleteWithoutCascadeRemovesOnlyTheRowTheDatabaseAllows)
{
    // Roles and permissions still refer to product 6.
    EXPECT_THROW(Factory::deleteProduct(Factory::products().at(6), false), Exception);
    EXPECT_EQ(1, count("Product", {{"Product", 6}}));

    EXPECT_OSTREL_THROW(Factory::deleteProduct(Product(42), false), nNAX_DATABASE, "Did not select exactly one row");

    insert("Product", {{"Product", 8}, {"Description", "Bare"}});
    Factory::deleteProduct(Product(8), false);
    EXPECT_EQ(0, count("Product", {{"Product", 8}}));

    // A role permission still refers to permission 9.
    EXPECT_THROW(Factory::deletePermission(ledger().permissions().at(9), false), Exception);
    Factory::deletePermission(ledger().permissions().at(9), true);
    EXPECT_EQ(0, count("ProductPermission", {{"Product", 5}, {"Permission", 9}}));
    EXPECT_EQ(0, count("ProductRolePermission", {{"Product", 5}, {"Permission", 9}}));
}

TEST_P(DbCatalogue, DeleteProductWithCascadeRemovesEverythingOfIt)
{
    Factory::deleteProduct(ledger(), true);
    for (const char* pszTable : {"Product", "ProductParam", "ProductPermission", "ProductRole",
                                 "ProductRolePermission", "TeamProductRole"})
        EXPECT_EQ(0, count(pszTable, {{"Product", 5}})) << pszTable;
    EXPECT_EQ(1, count("Product", {{"Product", 6}}));
}

TEST_P(DbCatalogue, RolePermissionDeletesCountTheirRows)
{
    const Role& sender = Factory::products().at(6).roles().at(1);
    Factory::deleteRolePermission(Permission(sender, 0, "", PRStatus(PRStatus::statusDenied)), true);

    const Role& auditor = ledger().roles().at(2);
    EXPECT_OSTREL_THROW(Factory::deleteRolePermission(Permission(auditor, 7, "", PRStatus(PRStatus::statusDenied)), false),
                        nNAX_DATABASE, "Did not select exactly one row");
    Factory::deleteRolePermission(auditor.permissions().at(9), false);
    EXPECT_EQ(0, count("ProductRolePermission", {{"Product", 5}, {"Role", 2}}));
}

TEST_P(DbCatalogue, WrongRowCountRollsBackWhatTheOperationWrote)
{
    // Grants and parameters left behind by rows that are gone.
    insertUnchecked("TeamProductRole", {{"Team", 10}, {"Product", 5}, {"Role", 3}, {"Status", 1}});
    insertUnchecked("ProductParam", {{"Profile", "office"}, {"Product", 42}, {"Param", "p"}, {"Value", "v"}});

    Product product(ledger());
    const Role ghost(product, 3, "", PRStatus(PRStatus::statusDenied));
    EXPECT_OSTREL_THROW(Factory::deleteRole(ghost, true), nNAX_DATABASE, "Did not select exactly one row");
    EXPECT_EQ(1, count("TeamProductRole", {{"Team", 10}, {"Product", 5}, {"Role", 3}}));

    EXPECT_OSTREL_THROW(Factory::deleteProduct(Product(42), true), nNAX_DATABASE, "Did not select exactly one row");
    EXPECT_EQ(1, count("ProductParam", {{"Product", 42}}));

    EXPECT_OSTREL_THROW(Factory::deleteProductParam(ledger(), "office", "absent", false), nNAX_DATABASE,
                        "Did not select exactly one row");
    Factory::deleteProductParam(ledger(), "office", "url", false);
    EXPECT_EQ(1, count("ProductParam", {{"Product", 5}}));
}

TEST_P(DbCatalogue, StatementFailureIsConvertedAndRolledBack)
{
    const Role& clerk = ledger().roles().at(1);
    const Permission undefined(99, "", PRStatus(PRStatus::statusGranted));
    try {
        Factory::insertRolePermission(undefined, clerk, ledger());
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(nNAX_DATABASE, e.errorCode());
        EXPECT_FALSE(e.remote());
        EXPECT_FALSE(e.legend().empty());
    }
    EXPECT_EQ(0, count("ProductRolePermission", {{"Permission", 99}}));
    // The handle is usable again afterwards.
    Factory::insertProductParam(ledger(), "home", "k", "v");
    EXPECT_EQ(1, count("ProductParam", {{"Product", 5}, {"Profile", "home"}}));
}

TEST_P(DbCatalogue, NextNumbersFollowTheHighestNumberOrStartAtOne)
{
    EXPECT_EQ(7, Factory::nextProduct());
    Product ledgerCopy(ledger());
    EXPECT_EQ(3, Factory::nextRole(ledgerCopy));
    EXPECT_EQ(10, Factory::nextPermission(ledgerCopy));
    Product unknown(8);
    EXPECT_EQ(1, Factory::nextRole(unknown));
    EXPECT_EQ(1, Factory::nextPermission(unknown));

    for (const char* pszTable : {"ProductRolePermission", "TeamProductRole", "ProductRole", "ProductPermission",
                                 "ProductParam", "Product"})
        script("DELETE FROM " + quoted(pszTable));
    EXPECT_EQ(1, Factory::nextProduct());
    EXPECT_EQ(1, Factory::nextRole(ledgerCopy));
}

INSTANTIATE_TEST_SUITE_P(Engines, DbCatalogue, ::testing::ValuesIn(OstrelTest::testEngines()),
                         OstrelTest::engineTestName);

} // namespace
} // namespace OstrelDbTest
