// Loading the registries from the database in each mode, rows that cannot be filed, reloading.

#include "DbFactoryFixture.h"

namespace OstrelDbTest {
namespace {

using namespace OstrelData;

class DbLoading : public EngineFixture {};

TEST_P(DbLoading, SimpleModeLoadsCatalogueAndOrganisationButNoUsersOrPlugins)
{
    initialize(Factory::modeSimple);

    const ProductMap& productS = Factory::products();
    ASSERT_EQ(3u, productS.size());
    const Product& ledger = productS.at(5);
    EXPECT_EQ("Ledger", ledger.description());
    EXPECT_EQ("write", ledger.permissions().at(8).description());
    EXPECT_EQ(PRStatus::statusGranted, ledger.permissions().at(8).status());
    EXPECT_EQ(&ledger, &ledger.permissions().at(8).product());
    const Role& clerk = ledger.roles().at(1);
    EXPECT_EQ("Clerk", clerk.description());
    EXPECT_EQ(&ledger, &clerk.product());
    ASSERT_EQ(2u, clerk.permissions().size());
    // Role permissions take the product permission's description and their own status.
    EXPECT_EQ("read", clerk.permissions().at(7).description());
    EXPECT_EQ(PRStatus::statusGranted, clerk.permissions().at(7).status());
    EXPECT_EQ(PRStatus::statusRevoked, clerk.permissions().at(8).status());
    // The catalogue's roles share what they carry with every copy: the permissions' role is the
    // role's frozen twin.
    EXPECT_EQ(1, clerk.permissions().at(7).role().role());
    EXPECT_EQ("Clerk", clerk.permissions().at(7).role().description());
    const Product copy(ledger);
    EXPECT_TRUE(copy.roles().at(1).sharesCarriedPermissionsWith(clerk));
    EXPECT_EQ("fast", ledger.productInit().at("office").at("mode"));
    EXPECT_TRUE(productS.at(6).productInit().empty());

    EXPECT_TRUE(Factory::profiles().at("office").isDefault());
    EXPECT_FALSE(Factory::profiles().at("home").isDefault());
    EXPECT_EQ("Acme Ltd", Factory::customers().at("acme").name());

    const Domain& acme = Factory::domains().at("acme.local");
    EXPECT_EQ("Acme staff", acme.description());
    EXPECT_EQ(&Factory::customers().at("acme"), acme.customer());
    EXPECT_TRUE(acme.users().empty());

    ASSERT_EQ(3u, Factory::teams().size());
    const Team& ops = Factory::teams().at(10);
    EXPECT_EQ("Ops", ops.name());
    EXPECT_EQ(&Factory::customers().at("acme"), &ops.customer());
    ASSERT_EQ(1u, ops.products().size());
    EXPECT_EQ(2u, ops.products().at(5).roles().size());
    EXPECT_TRUE(ops.products().at(5).roles().at(1).sharesCarriedPermissionsWith(clerk));
    EXPECT_TRUE(ops.products().at(5).sharesWith(ledger));
    EXPECT_TRUE(static_cast<const Team&>(Factory::teams().at(11)).products().empty());
    EXPECT_EQ(&ops, Factory::customers().at("acme").teams().at(10));

    const AlienKey keyAlien("acme.local", "ops-group");
    ASSERT_EQ(1u, Factory::aliens().at(keyAlien).size());
    const XTeam* pxteam = Factory::aliens().at(keyAlien).begin()->second;
    EXPECT_EQ(&Factory::xteams().at(AlienMapKey(keyAlien, 10)), pxteam);
    EXPECT_EQ("ops-leads", pxteam->alienGroupLeadGroup());
    EXPECT_EQ(pxteam, Factory::raliens().at(10).begin()->second);

    EXPECT_TRUE(Factory::platforms().empty());
    EXPECT_TRUE(Factory::authenticationLibraryTemplates().empty());
}

TEST_P(DbLoading, AdminModeFilesUsersInTheirDomainsWithTeamsSharingProducts)
{
    initialize(Factory::modeAdmin);

    const UserMap& userS = Factory::domains().at("acme.local").users();
    ASSERT_EQ(2u, userS.size());
    const User& jdoe = userS.at(User::Key("acme.local", "jdoe"));
    EXPECT_EQ("Name of jdoe", jdoe.name());
    EXPECT_EQ("somewhere", jdoe.contact());
    EXPECT_EQ(&Factory::domains().at("acme.local"), &jdoe.domain());
    ASSERT_EQ(2u, jdoe.teams().size());
    // Every member's copy of a team reads the registry team's one product map.
    const Team& ops = Factory::teams().at(10);
    EXPECT_EQ(&ops.products(), &jdoe.teams().at(10).products());
    EXPECT_EQ(&ops.products(), &userS.at(User::Key("acme.local", "asmith")).teams().at(10).products());
    EXPECT_EQ(1u, Factory::domains().at("globex.local").users().size());
}

TEST_P(DbLoading, AllModeRegistersPluginsButLeavesDomainsWithoutAuthenticators)
{
    initialize(Factory::modeAll);

    EXPECT_EQ("Linux", Factory::platforms().at("LNX").description());
    const AuthenticationLibrary& library = Factory::authenticationLibraryTemplates().at(1);
    EXPECT_EQ("Table", library.description());
    EXPECT_EQ(AuthenticationLibrary::dispositionClearPassword, library.authenticationTokenDisposition());
    EXPECT_TRUE(library.userTools());
    EXPECT_EQ("x", library.libraryInit().at("opt"));
    const SharedObject& sharedObject = Factory::sharedObjects().at(SharedObject::Key("LNX", 1));
    EXPECT_EQ(&sharedObject, library.sharedObjects().at("LNX"));
    EXPECT_EQ(testPlugin(), sharedObject.sharedObject());
    EXPECT_EQ(&Factory::platforms().at("LNX"), &sharedObject.platform());
    EXPECT_TRUE(Factory::authenticationLibraries().empty());

    for (const char* pszDomain : {"acme.local", "globex.local"}) {
        const Domain& domain = Factory::domains().at(pszDomain);
        EXPECT_FALSE(domain.hasAuthenticator()) << pszDomain;
        EXPECT_EQ(0u, domain.customer()->domains().count(pszDomain)) << pszDomain;
    }
    EXPECT_EQ(2, loggedCount("(layer 5) 1"));
    EXPECT_TRUE(logged({"ERROR", "(layer 5) 1"}));
    EXPECT_TRUE(Factory::domains().at("acme.local").users().empty());
}

TEST_P(DbLoading, AuthenticatorModeGivesDomainsWorkingAuthenticators)
{
    initialize(Factory::modeAuthenticator);

    ASSERT_EQ(1u, Factory::authenticationLibraries().count(1));
    const Domain& acme = Factory::domains().at("acme.local");
    ASSERT_TRUE(acme.hasAuthenticator());
    EXPECT_EQ(acme.authenticator(), Factory::authenticators().at("acme.local"));
    EXPECT_EQ(&acme, Factory::customers().at("acme").domains().at("acme.local"));
    EXPECT_EQ("ldap1", acme.authenticator()->authenticatorInit().at("server"));
    EXPECT_EQ("Acme staff", acme.authenticator()->description());
    EXPECT_TRUE(acme.authenticator()->userTools());
    // Only "Y" turns user tools on.
    EXPECT_FALSE(Factory::domains().at("globex.local").authenticator()->userTools());

    const AuthenticatedUser user =
        Factory::authenticate(User(acme, "jdoe", "", "", ""), PasswordAuthenticationToken("secret"), Profile("office"));
    EXPECT_EQ("John Doe", user.name());
    EXPECT_TRUE(_plogS->empty()) << _plogS->front();
}

TEST_P(DbLoading, RowsNamingUnknownCustomersPlatformsOrLibrariesAreLoggedAndSkipped)
{
    insertUnchecked("Domain", {{"Domain", "lost.local"}, {"Description", "Lost"}, {"Customer", "nobody"},
                               {"AuthenticationLibrary", 1}, {"UserTools", "N"}});
    insertUnchecked("Team", {{"Team", 40}, {"Customer", "nobody"}, {"Name", "Orphans"}});
    insert("Platform", {{"Platform", "WIN"}, {"Description", "Windows"}});
    insertUnchecked("SharedObject", {{"Platform", "SOL"}, {"AuthenticationLibrary", 1}, {"SharedObject", "x.so"}});
    insertUnchecked("SharedObject", {{"Platform", "WIN"}, {"AuthenticationLibrary", 9}, {"SharedObject", "y.dll"}});
    insertUnchecked("User", {{"Domain", "ghost.local"}, {"UserId", "casper"}, {"Name", "Casper"},
                             {"AuthenticationToken", ""}, {"Contact", "nowhere"}});

    initialize(Factory::modeAll);
    EXPECT_TRUE(logged({"ERROR", "(layer 5) nobody"}));
    EXPECT_EQ(2, loggedCount("(layer 5) nobody"));
    EXPECT_TRUE(logged({"(layer 5) SOL"}));
    EXPECT_TRUE(logged({"(layer 5) 9"}));
    EXPECT_EQ(0u, Factory::domains().count("lost.local"));
    EXPECT_EQ(0u, Factory::teams().count(40));
    EXPECT_EQ(1u, Factory::sharedObjects().size());
    EXPECT_EQ(2u, Factory::domains().size());
    EXPECT_EQ(3u, Factory::teams().size());

    // Users of an unknown domain are dropped without a word.
    resetRegistries();
    _plogS->clear();
    initialize(Factory::modeAdmin);
    EXPECT_EQ(0u, Factory::domains().count("ghost.local"));
    EXPECT_FALSE(logged({"casper"}));
}

TEST_P(DbLoading, RolePermissionNamingAnUndefinedPermissionIsSkipped)
{
    insertUnchecked("ProductRolePermission", {{"Product", 5}, {"Role", 2}, {"Permission", 99}, {"Status", 1}});
    initialize(Factory::modeSimple);
    const Role& auditor = Factory::products().at(5).roles().at(2);
    EXPECT_EQ(1u, auditor.permissions().size());
    EXPECT_EQ(0u, auditor.permissions().count(99));
}

TEST_P(DbLoading, NonNumericStoredNumberFailsTheRowNotTheProcess)
{
    if (engine() != "sqlite")
        GTEST_SKIP() << "only SQLite stores text in an integer column";
    insertUnchecked("TeamProductRole", {{"Team", 11}, {"Product", "five"}, {"Role", 1}, {"Status", 1}});
    initialize(Factory::modeSimple);
    EXPECT_TRUE(logged({"(layer 5) Product is not an integer: five"}));
    EXPECT_EQ(0u, Factory::teams().count(11));
    EXPECT_EQ(2u, Factory::teams().size());
}

TEST_P(DbLoading, DatabaseFailureEndsTheLoadAsAlienException)
{
    script("DROP TABLE " + quoted("TeamMap"));
    try {
        initialize(Factory::modeSimple);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(nNAX_ALIENEXCEPTION, e.errorCode());
        EXPECT_TRUE(e.remote());
        EXPECT_FALSE(e.legend().empty());
    }
    // What was loaded before the failure stays.
    EXPECT_EQ(3u, Factory::products().size());
    EXPECT_EQ(3u, Factory::teams().size());
}

TEST_P(DbLoading, ReinitializeKeepsLoadedLibrariesAndTheAddressesOfSurvivingEntries)
{
    initialize(Factory::modeAuthenticator);
    AuthenticationLibrary* plibrary = Factory::authenticationLibraries().at(1);
    const Customer* pacme = &Factory::customers().at("acme");
    const Domain* pacmeDomain = &Factory::domains().at("acme.local");
    User jdoe(*pacmeDomain, "jdoe", "", "", "");
    const size_t nAuthenticators = Factory::authenticators().size();

    // The library goes from the database; a product comes, a domain and a team go.
    removeUnchecked("SharedObject", {{"AuthenticationLibrary", 1}});
    removeUnchecked("AuthenticationLibraryParam", {{"AuthenticationLibrary", 1}});
    removeUnchecked("AuthenticationLibrary", {{"AuthenticationLibrary", 1}});
    insert("Product", {{"Product", 7}, {"Description", "Wiki"}});
    removeUnchecked("UserTeam", {{"Team", 12}});
    removeUnchecked("Team", {{"Team", 12}});
    removeUnchecked("User", {{"Domain", "globex.local"}});
    removeUnchecked("Domain", {{"Domain", "globex.local"}});

    Factory::reinitialize();

    EXPECT_EQ(plibrary, Factory::authenticationLibraries().at(1));
    EXPECT_EQ(1u, Factory::authenticationLibraryTemplates().count(1));
    EXPECT_EQ(1u, Factory::products().count(7));
    EXPECT_EQ(0u, Factory::domains().count("globex.local"));
    EXPECT_EQ(0u, Factory::teams().count(12));
    EXPECT_EQ(0u, Factory::customers().at("globex").domains().size());
    // Entries still in the database are the same objects, so the user made before still works.
    EXPECT_EQ(pacme, &Factory::customers().at("acme"));
    EXPECT_EQ(pacmeDomain, &Factory::domains().at("acme.local"));
    EXPECT_EQ(pacme, jdoe.domain().customer());
    ASSERT_TRUE(pacmeDomain->hasAuthenticator());
    EXPECT_EQ(pacmeDomain, Factory::customers().at("acme").domains().at("acme.local"));
    EXPECT_EQ("John Doe", Factory::authenticate(jdoe, PasswordAuthenticationToken("secret"), Profile()).name());
    // Authenticators are not cleared: the acme domain has a new one under the old name.
    EXPECT_EQ(nAuthenticators, Factory::authenticators().size());
}

// A load makes every new catalogue entry before it fills the first: those it had not filled when a
// product failed must not stay behind, empty.
TEST_P(DbLoading, FailedProductLoadLeavesNoEntryForTheProductsAfterIt)
{
    if (engine() != "sqlite")
        GTEST_SKIP() << "only SQLite stores text in an integer column";
    initialize(Factory::modeSimple);
    insert("Product", {{"Product", 7}, {"Description", "Wiki"}});
    insert("Product", {{"Product", 8}, {"Description", "Chat"}});
    insertUnchecked("ProductPermission", {{"Product", 7}, {"Permission", "one"}, {"Description", "view"}, {"Status", 0}});

    EXPECT_THROW(Factory::reinitialize(), Exception);
    EXPECT_EQ(3u, Factory::products().size());
    EXPECT_EQ(0u, Factory::products().count(8));
    // The products before the failure still offer their copies a set that answers as before.
    const Product copy(Factory::products().at(5));
    EXPECT_TRUE(copy.sharesWith(Factory::products().at(5)));
    EXPECT_TRUE(copy.hasPermission(Permission(8, "write", PRStatus())));
    EXPECT_FALSE(copy.hasPermission(Permission(7, "read", PRStatus())));

    resetRegistries();
    EXPECT_THROW(initialize(Factory::modeSimple), Exception);
    EXPECT_EQ(0u, Factory::products().count(7));
    EXPECT_EQ(0u, Factory::products().count(8));
    EXPECT_EQ("Ledger", Factory::products().at(5).description());
}

TEST_P(DbLoading, ReinitializeReloadsUsersOnlyInAdminMode)
{
    initialize(Factory::modeAdmin);
    insert("User", {{"Domain", "acme.local"}, {"UserId", "newbie"}, {"Name", "New"}, {"AuthenticationToken", ""},
                    {"Contact", "here"}});
    Factory::reinitialize();
    EXPECT_EQ(3u, Factory::domains().at("acme.local").users().size());

    resetRegistries();
    initialize(Factory::modeSimple);
    Factory::reinitialize();
    EXPECT_TRUE(Factory::domains().at("acme.local").users().empty());
}

INSTANTIATE_TEST_SUITE_P(Engines, DbLoading, ::testing::ValuesIn(OstrelTest::testEngines()), OstrelTest::engineTestName);

} // namespace
} // namespace OstrelDbTest
