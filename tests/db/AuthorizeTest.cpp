// A user's grants merged from the customer, team and user grant tables; the operations around it.

#include "DbFactoryFixture.h"

namespace OstrelDbTest {
namespace {

using namespace OstrelData;

class DbAuthorizing : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        insert("CustomerProductPermission", {{"Customer", "acme"}, {"Product", 5}, {"Permission", 7}, {"Status", 1}});
        insert("UserProductPermission",
               {{"Domain", "acme.local"}, {"UserId", "jdoe"}, {"Product", 5}, {"Permission", 9}, {"Status", -1}});
    }

    // A copy of a user as modeAdmin files him, with his teams.
    User loadedUser(const std::string& strDomain, const std::string& strUserId)
    {
        if (Factory::domains().empty())
            initialize(Factory::modeAdmin);
        return Factory::domains().at(strDomain).users().at(User::Key(strDomain, strUserId));
    }

    static PRStatus permissionStatus(const User& user, int nProduct, int nPermission)
    {
        return user.products().at(nProduct).permissions().at(nPermission).status();
    }
    static PRStatus roleStatus(const User& user, int nProduct, int nRole)
    {
        return user.products().at(nProduct).roles().at(nRole).status();
    }
};

TEST_P(DbAuthorizing, UserWithoutGrantsKeepsOnlyWhatHisMapHeld)
{
    User bwong = loadedUser("globex.local", "bwong");
    bwong.products().emplace(6, Factory::products().at(6));
    OstrelDal::setStatementEcho(OstrelDal::echoStdout);
    ::testing::internal::CaptureStdout();
    Factory::authorize(bwong);
    const std::string strOut = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(1u, bwong.products().size());
    EXPECT_EQ(1u, bwong.products().count(6));
    EXPECT_NE(std::string::npos, strOut.find("Product <6>\n"));
}

TEST_P(DbAuthorizing, GrantsOfCustomerTeamsAndUserAreMergedAndGrantedRolesFolded)
{
    User jdoe = loadedUser("acme.local", "jdoe");
    Factory::authorize(jdoe);
    ASSERT_EQ(1u, jdoe.products().size());
    // His grants' statuses are kept aside from the catalogue's set, and checks read them there.
    const User& held = jdoe;
    const Product& ledger = static_cast<const ProductMap&>(Factory::products()).at(5);
    EXPECT_TRUE(held.products().at(5).readsShared());
    EXPECT_TRUE(held.hasPermission(ledger.permissions().at(7)));
    EXPECT_TRUE(held.hasRole(ledger.roles().at(1)));
    EXPECT_FALSE(held.hasPermission(ledger.permissions().at(9)));
    EXPECT_FALSE(held.hasRole(ledger.roles().at(2)));
    // Customer grant; team grant of the Clerk role, whose role permissions fold in; user revocation.
    EXPECT_EQ(PRStatus::statusGranted, permissionStatus(jdoe, 5, 7));
    EXPECT_EQ(PRStatus::statusGranted, roleStatus(jdoe, 5, 1));
    EXPECT_EQ(PRStatus::statusRevoked, permissionStatus(jdoe, 5, 8));
    EXPECT_EQ(PRStatus::statusRevoked, permissionStatus(jdoe, 5, 9));
    EXPECT_EQ(PRStatus::statusDenied, roleStatus(jdoe, 5, 2));
    EXPECT_TRUE(jdoe.hasPermission(ledger.permissions().at(7)));
    // The user's products are his own copies.
    EXPECT_EQ(&jdoe.products().at(5), &jdoe.products().at(5).roles().at(1).product());
    EXPECT_EQ(PRStatus::statusDenied, ledger.roles().at(1).status());
    // Authorising changes role statuses only: what the roles carry stays shared with the catalogue,
    // and the team's product and the catalogue's go on sharing.
    EXPECT_TRUE(held.products().at(5).roles().at(1).sharesCarriedPermissionsWith(ledger.roles().at(1)));
    const Team& ops = Factory::teams().at(10);
    EXPECT_TRUE(ops.products().at(5).sharesWith(ledger));
    EXPECT_TRUE(Product(ledger).sharesWith(ops.products().at(5)));

    // A second call merges on top of the first.
    Factory::authorize(jdoe);
    EXPECT_EQ(PRStatus::statusRevoked, permissionStatus(jdoe, 5, 9));
}

TEST_P(DbAuthorizing, RevocationForTheCustomerStaysWhateverTeamsAndUserSay)
{
    insert("CustomerProductRole", {{"Customer", "acme"}, {"Product", 5}, {"Role", 1}, {"Status", -1}});
    insert("UserProductRole", {{"Domain", "acme.local"}, {"UserId", "jdoe"}, {"Product", 5}, {"Role", 1}, {"Status", 1}});
    User jdoe = loadedUser("acme.local", "jdoe");
    Factory::authorize(jdoe);
    EXPECT_EQ(PRStatus::statusRevoked, roleStatus(jdoe, 5, 1));
    // A revoked role folds nothing in: permission 8 keeps its catalogue status.
    EXPECT_EQ(PRStatus::statusGranted, permissionStatus(jdoe, 5, 8));
}

TEST_P(DbAuthorizing, DeniedGrantOrUndefinedRoleStillBringsTheProductIn)
{
    insert("UserProductRole", {{"Domain", "acme.local"}, {"UserId", "asmith"}, {"Product", 6}, {"Role", 1}, {"Status", 0}});
    insertUnchecked("UserProductRole",
                    {{"Domain", "acme.local"}, {"UserId", "asmith"}, {"Product", 0}, {"Role", 42}, {"Status", 1}});
    User asmith = loadedUser("acme.local", "asmith");
    Factory::authorize(asmith);
    ASSERT_EQ(3u, asmith.products().size());
    EXPECT_EQ(PRStatus::statusDenied, roleStatus(asmith, 6, 1));
    EXPECT_EQ(2u, asmith.products().at(0).roles().size());
    EXPECT_EQ(0u, asmith.products().at(0).roles().count(42));
}

TEST_P(DbAuthorizing, GrantNamingAnUnknownProductIsLoggedAsWarningAndSkipped)
{
    insertUnchecked("CustomerProductPermission", {{"Customer", "acme"}, {"Product", 77}, {"Permission", 1}, {"Status", 1}});
    User jdoe = loadedUser("acme.local", "jdoe");
    Factory::authorize(jdoe);
    EXPECT_TRUE(logged({"WARNING", "(layer 1)", "Error Code=105", "Legend=\"77\"", "REMOTE: "}));
    EXPECT_EQ(0u, jdoe.products().count(77));
    EXPECT_EQ(PRStatus::statusGranted, permissionStatus(jdoe, 5, 7));
}

TEST_P(DbAuthorizing, FailingGrantStepIsLoggedWhileTheOtherStepsApply)
{
    insert("CustomerProductPermission", {{"Customer", "acme"}, {"Product", 6}, {"Permission", 1}, {"Status", 1}});
    User jdoe = loadedUser("acme.local", "jdoe");
    script("DROP TABLE " + quoted("CustomerProductPermission"));
    Factory::authorize(jdoe);
    EXPECT_EQ(1, loggedCount("ERROR [Ostrel] (layer 1)"));
    EXPECT_EQ(0u, jdoe.products().count(6));
    EXPECT_EQ(PRStatus::statusGranted, roleStatus(jdoe, 5, 1));
    EXPECT_EQ(PRStatus::statusRevoked, permissionStatus(jdoe, 5, 9));
}

TEST_P(DbAuthorizing, FailureInOneTeamSkipsTheRemainingTeamsOnly)
{
    insert("TeamProductRole", {{"Team", 11}, {"Product", 6}, {"Role", 1}, {"Status", 1}});
    User jdoe = loadedUser("acme.local", "jdoe");
    script("DROP TABLE " + quoted("TeamProductPermission"));
    Factory::authorize(jdoe);
    // Team 10's roles were read before its permissions failed; team 11 never was.
    EXPECT_EQ(1, loggedCount("ERROR [Ostrel] (layer 1)"));
    EXPECT_EQ(PRStatus::statusGranted, roleStatus(jdoe, 5, 1));
    EXPECT_EQ(0u, jdoe.products().count(6));
    EXPECT_EQ(PRStatus::statusRevoked, permissionStatus(jdoe, 5, 9));
}

TEST_P(DbAuthorizing, TraceNamesTheProductsMetBeforeTheUserGrantsAndFollowsTheEcho)
{
    insert("UserProductRole", {{"Domain", "acme.local"}, {"UserId", "jdoe"}, {"Product", 6}, {"Role", 1}, {"Status", 1}});
    User jdoe = loadedUser("acme.local", "jdoe");
    User copy(jdoe);

    OstrelDal::setStatementEcho(OstrelDal::echoStdout);
    ::testing::internal::CaptureStdout();
    Factory::authorize(jdoe);
    const std::string strOut = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, strOut.find("\nProduct <5>\n"));
    EXPECT_EQ(std::string::npos, strOut.find("Product <6>"));
    EXPECT_EQ(1u, jdoe.products().count(6));

    OstrelDal::setStatementEcho(OstrelDal::echoOff);
    ::testing::internal::CaptureStdout();
    Factory::authorize(copy);
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
}

TEST_P(DbAuthorizing, UserWithoutDomainIsRefused)
{
    initialize(Factory::modeSimple);
    User nobody;
    EXPECT_OSTREL_THROW(Factory::authorize(nobody), nNAX_NODOMAINSET, "Domain pointer is null.");
}

TEST_P(DbAuthorizing, AuthenticateAuthorizesTheCurrentUserAndSessionsKeepHisGrants)
{
    insert("UserProductPermission",
           {{"Domain", "acme.local"}, {"UserId", "jdoe"}, {"Product", 0}, {"Permission", 3}, {"Status", 1}});
    initialize(Factory::modeAuthenticator);
    const Domain& acme = Factory::domains().at("acme.local");
    EXPECT_FALSE(Factory::hasProductPermission());

    AuthenticatedUser user = Factory::authenticate(User(acme, "jdoe", "", "", ""), PasswordAuthenticationToken("secret"),
                                                   Profile("office"));
    EXPECT_EQ(PRStatus::statusGranted, permissionStatus(user, 0, 3));
    EXPECT_TRUE(Factory::hasProductPermission());

    Factory::persistSession(user);
    const std::string strSession = user.session().str();
    Factory::setAuthenticatedUser(AuthenticatedUser());
    const AuthenticatedUser& back = Factory::retrieveSession(SessionString(strSession));
    EXPECT_EQ(PRStatus::statusGranted, permissionStatus(back, 0, 3));

    EXPECT_OSTREL_THROW(Factory::authenticate(User(acme, "jdoe", "", "", ""), PasswordAuthenticationToken("wrong"),
                                              Profile()),
                        nNAX_AUTHENTICATIONFAILED, "Bad user id or password.");
}

TEST_P(DbAuthorizing, CompletingAUserAlsoAuthorizesHim)
{
    initialize(Factory::modeAuthenticator);
    User jdoe(Factory::domains().at("acme.local"), "jdoe", "", "", "");
    Factory::user(jdoe, false);
    EXPECT_EQ("John Doe", jdoe.name());
    EXPECT_EQ(PRStatus::statusGranted, permissionStatus(jdoe, 5, 7));
}

TEST_P(DbAuthorizing, ProfilesOfAHostAreOverlaidByTheRegistry)
{
    insert("ProfileHost", {{"Profile", "office"}, {"Host", "pc1"}});
    insertUnchecked("ProfileHost", {{"Profile", "travel"}, {"Host", "pc1"}});
    initialize(Factory::modeSimple);

    const ProfileMap profileS = Factory::profiles("pc1");
    ASSERT_EQ(3u, profileS.size());
    EXPECT_FALSE(profileS.at("travel").isDefault());
    // The registry's flag replaces the host row's.
    EXPECT_TRUE(profileS.at("office").isDefault());

    const ProfileMap otherS = Factory::profiles("unknown-host");
    EXPECT_EQ(2u, otherS.size());
    EXPECT_EQ(&OstrelData::Factory::profiles(), &Factory::profiles());
}

INSTANTIATE_TEST_SUITE_P(Engines, DbAuthorizing, ::testing::ValuesIn(OstrelTest::testEngines()),
                         OstrelTest::engineTestName);

} // namespace
} // namespace OstrelDbTest
