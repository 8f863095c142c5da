#include "TestSupport.h"

using namespace OstrelData;
using ostreltest::RecordingAuthenticator;
using ostreltest::registerTemplate;

namespace {

// Reaches the session registry, which has no public accessor.
struct FactorySessions : Factory {
    static SessionMap& sessionS() { return _sessionS; }
};

// The customer "acme-corp" with the registered domain "acme".
class FactoryTest : public ostreltest::RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        customer = &(Factory::customers()["acme-corp"] = Customer("acme-corp", "Acme"));
        domain = &(Factory::domains()["acme"] = Domain(*customer, "acme"));
        customer->domains()["acme"] = domain;
    }

    // The test plug-in's authenticator, registered for the acme domain.
    Authenticator& registerPluginAuthenticator()
    {
        AuthenticationLibrary* plibrary = registerTemplate(1, OSTREL_TEST_PLUGIN).load();
        Authenticator* pauthenticator = plibrary->authenticator(*domain, "table", InitMap());
        if (pauthenticator == nullptr)
            throw std::runtime_error("the plug-in made no authenticator");
        domain->setAuthenticator(*pauthenticator);
        Factory::authenticators()["acme"] = pauthenticator;
        return *pauthenticator;
    }

    Customer* customer = nullptr;
    Domain* domain = nullptr;
};

} // namespace

TEST(FactoryVersion, IsTheProjectVersion)
{
    EXPECT_EQ(OSTREL_PROJECT_VERSION, Factory::version().text());
}

TEST(FactoryConstants, ModesAndFrameworkNumbers)
{
    EXPECT_EQ(0, Factory::modeSimple);
    EXPECT_EQ(1, Factory::modeAdmin);
    EXPECT_EQ(2, Factory::modeAuthenticator);
    EXPECT_EQ(3, Factory::modeSignoff);
    EXPECT_EQ(4, Factory::modeAll);
    EXPECT_EQ(0, OSROstrel::nOSRD_Ostrel);
    EXPECT_EQ(2, OSROstrel::nOSRR_Administrator);
    EXPECT_EQ(3, OSROstrel::nOSRP_Maintain_Products);
    EXPECT_EQ(7, OstrelData::OSROstrel::nOSRP_Administer_Users);
}

TEST_F(FactoryTest, AuthenticatingInAnUnknownDomainFailsWithCodeOne)
{
    Domain elsewhere(*customer, "beta");
    User user(elsewhere, "jdoe", "", "", "");
    EXPECT_OSTREL_THROW(Factory::authenticate(user, PasswordAuthenticationToken("secret"), Profile()),
                        nNAX_AUTHENTICATIONFAILED, "No such Domain - beta.");
    EXPECT_OSTREL_THROW(Factory::authenticate(User(), PasswordAuthenticationToken("secret"), Profile()),
                        nNAX_NODOMAINSET, "Domain pointer is null.");
}

TEST_F(FactoryTest, OnlyTheAuthenticatorRegistryCounts)
{
    RecordingAuthenticator authenticator(*domain);
    domain->setAuthenticator(authenticator);
    User user(*domain, "jdoe", "", "", "");
    EXPECT_OSTREL_THROW(Factory::authenticate(user, PasswordAuthenticationToken("right"), Profile()),
                        nNAX_AUTHENTICATIONFAILED, "No such Authenticator - acme.");
    Factory::authenticators()["acme"] = nullptr;
    EXPECT_OSTREL_THROW(Factory::authenticate(user, PasswordAuthenticationToken("right"), Profile()),
                        nNAX_AUTHENTICATIONFAILED, "No such Authenticator - acme.");
    EXPECT_TRUE(authenticator.callS.empty());
}

TEST_F(FactoryTest, AuthenticatedUserBeforeAnyLoginIsANullSession)
{
    EXPECT_OSTREL_THROW(Factory::authenticatedUser(), nNAX_BADSESSION, "Null session.");
    Factory::setAuthenticatedUser(AuthenticatedUser(User(*domain, "jdoe", "", "", ""), SessionString(""), Profile()));
    EXPECT_OSTREL_THROW(Factory::authenticatedUser(), nNAX_AUTHENTICATIONFAILED, "No user authenticated.");
    Factory::setAuthenticatedUser(AuthenticatedUser(User(*domain, "jdoe", "", "", ""), SessionString("s"), Profile()));
    EXPECT_EQ("jdoe", Factory::authenticatedUser().userId());
}

TEST_F(FactoryTest, AuthenticationThroughThePluginMakesTheCurrentUser)
{
    registerPluginAuthenticator();
    User user = User::fromText("acme/jdoe");
    AuthenticatedUser& userAuth = Factory::authenticate(user, PasswordAuthenticationToken("secret"), Profile("dev"));
    EXPECT_EQ(&userAuth, &Factory::authenticatedUser());
    EXPECT_EQ("John Doe", userAuth.name());
    EXPECT_EQ(domain, &userAuth.domain());
    EXPECT_EQ(32u, userAuth.session().str().size());
    EXPECT_EQ("dev", userAuth.profile().profile());

    const std::string strSession = userAuth.session().str();
    EXPECT_OSTREL_THROW(Factory::authenticate(User::fromText("asmith@acme"), PasswordAuthenticationToken("bad"),
                                              Profile()),
                        nNAX_AUTHENTICATIONFAILED, "Bad user id or password.");
    EXPECT_EQ("jdoe", Factory::authenticatedUser().userId());
    EXPECT_EQ(strSession, Factory::authenticatedUser().session().str());
}

TEST_F(FactoryTest, PasswordChangeUsesTheRegisteredAuthenticator)
{
    Domain beta(*customer, "beta");
    AuthenticatedUser stranger(User(beta, "x", "", "", ""), SessionString("s"), Profile());
    PasswordAuthenticationToken current("secret"), fresh("n3w");
    EXPECT_OSTREL_THROW(Factory::passwd(stranger, current, fresh), nNAX_AUTHENTICATIONFAILED,
                        "No such Domain - beta.");
    AuthenticatedUser user(User(*domain, "jdoe", "", "", ""), SessionString("s"), Profile());
    EXPECT_OSTREL_THROW(Factory::passwd(user, current, fresh), nNAX_AUTHENTICATIONFAILED,
                        "No such Authenticator - acme.");

    RecordingAuthenticator plain(*domain);
    Factory::authenticators()["acme"] = &plain;
    EXPECT_OSTREL_THROW(Factory::passwd(user, current, fresh), nNAX_NOTIMPLEMENTED, "passwd");

    registerPluginAuthenticator();
    EXPECT_TRUE(Factory::passwd(user, current, fresh));
    EXPECT_NO_THROW(Factory::authenticate(user, fresh, Profile()));
}

TEST_F(FactoryTest, SessionsArePersistedRetrievedAndKilled)
{
    registerPluginAuthenticator();
    AuthenticatedUser& first = Factory::authenticate(User::fromText("acme/jdoe"), PasswordAuthenticationToken("secret"),
                                                     Profile());
    const SessionString session(first.session().str());
    Factory::persistSession(first);
    EXPECT_OSTREL_THROW(Factory::persistSession(Factory::authenticatedUser()), nNAX_BADSESSION,
                        "Session already exists.");

    Factory::authenticate(User::fromText("acme/asmith"), PasswordAuthenticationToken("pa55word"), Profile());
    AuthenticatedUser& retrieved = Factory::retrieveSession(session);
    EXPECT_EQ(&retrieved, &Factory::authenticatedUser());
    EXPECT_EQ("jdoe", retrieved.userId());
    EXPECT_NE(-1, FactorySessions::sessionS().at(session.str()).session().accessed());

    Factory::killSession(session);
    EXPECT_OSTREL_THROW(Factory::retrieveSession(session), nNAX_BADSESSION, "No such session.");
    EXPECT_OSTREL_THROW(Factory::killSession(session), nNAX_BADSESSION, "No such session.");
    EXPECT_EQ("jdoe", Factory::authenticatedUser().userId());
}

TEST_F(FactoryTest, ExpiredPersistedSessionIsGone)
{
    Factory::setAuthenticatedUser(AuthenticatedUser(User(*domain, "jdoe", "", "", ""), SessionString("s1"), Profile()));
    Factory::persistSession(Factory::authenticatedUser());
    Factory::retrieveSession(SessionString("s1"));
    Session::setSessionTimeout(-1);
    EXPECT_OSTREL_THROW(Factory::retrieveSession(SessionString("s1")), nNAX_BADSESSION, "Session timed out.");
    EXPECT_TRUE(FactorySessions::sessionS().empty());
}

TEST_F(FactoryTest, CompletingAUserNeedsARegisteredDomainWithAnAuthenticator)
{
    Domain beta(*customer, "beta");
    User stranger(beta, "x", "", "", "");
    EXPECT_OSTREL_THROW(Factory::user(stranger, false), nNAX_DOMAINNOTFOUND, "beta");
    User user(*domain, "jdoe", "", "", "");
    EXPECT_OSTREL_THROW(Factory::user(user, false), nNAX_NOAUTHENTICATORSET, "Authenticator pointer is NULL.");
    // The registered domain's own authenticator is used, not the user's domain object.
    Domain twin(*customer, "acme");
    RecordingAuthenticator authenticator(*domain);
    domain->setAuthenticator(authenticator);
    User viaTwin(twin, "jdoe", "", "", "");
    Factory::user(viaTwin, true);
    EXPECT_EQ("Completed jdoe", viaTwin.name());
}

TEST_F(FactoryTest, TeamIsFilledFromTheRegistryAndLoadedWhenEmptyOrAsked)
{
    RecordingAuthenticator authenticator(*domain);
    domain->setAuthenticator(authenticator);
    Team& registered = Factory::teams()[7] = Team(*customer, 7, "Seven");

    Team team(*customer, 42, "");
    EXPECT_OSTREL_THROW(Factory::team(team, false), nNAX_TEAMNOTFOUND, "42");

    Team seven(*customer, 7, "");
    Factory::team(seven, false);
    EXPECT_EQ("Seven", seven.name());
    EXPECT_EQ(1u, static_cast<const Team&>(seven).members().size());
    EXPECT_EQ(1u, authenticator.callS.size());
    EXPECT_TRUE(static_cast<const Team&>(registered).members().empty());

    User member(*domain, "lead", "", "", "");
    registered.members().emplace(member.key(), TeamMember(member, true));
    Team cached(*customer, 7, "");
    Factory::team(cached, false);
    EXPECT_EQ(1u, authenticator.callS.size());
    EXPECT_EQ(1u, static_cast<const Team&>(cached).members().count(member.key()));

    Factory::team(cached, true);
    EXPECT_EQ(2u, authenticator.callS.size());
    EXPECT_EQ(0u, static_cast<const Team&>(cached).members().count(member.key()));
    EXPECT_EQ(1u, static_cast<const Team&>(registered).members().count(member.key()));
}

TEST_F(FactoryTest, OutsideGroupLookUpsGiveEmptyMapsWithoutAddingAnything)
{
    const AlienKey keyAlien("acme", "staff");
    EXPECT_TRUE(Factory::teams(keyAlien).empty());
    EXPECT_EQ(0u, Factory::aliens().count(keyAlien));
    EXPECT_TRUE(Factory::teams(Team(*customer, 7, "")).empty());
    EXPECT_EQ(0u, Factory::raliens().count(7));

    XTeam& xteam = Factory::xteams()[AlienMapKey(keyAlien, 7)] = XTeam("acme", "staff", "leads", 7);
    Factory::aliens()[keyAlien][xteam.keyAlienMap()] = &xteam;
    Factory::raliens()[7][xteam.keyAlienMap()] = &xteam;
    EXPECT_EQ(&xteam, Factory::teams(keyAlien).at(xteam.keyAlienMap()));
    EXPECT_EQ(&xteam, Factory::teams(Team(*customer, 7, "")).at(xteam.keyAlienMap()));
    EXPECT_TRUE(Factory::teams(AlienKey("acme", "other")).empty());
}

TEST_F(FactoryTest, CatalogueEntriesAreFoundOrAdded)
{
    Product& product = Factory::createProduct(5);
    product.setDescription("Five");
    EXPECT_EQ(&product, &Factory::createProduct(5));
    EXPECT_EQ("Five", Factory::products().at(5).description());

    Role& role = Factory::createRole(product, 4);
    EXPECT_EQ(&product, &role.product());
    EXPECT_EQ(PRStatus::statusDenied, role.status());
    role.setDescription("Editor");
    role.setStatus(PRStatus::statusGranted);
    Role& again = Factory::createRole(product, 4);
    EXPECT_EQ(&role, &again);
    EXPECT_EQ("Editor", again.description());
    EXPECT_EQ(PRStatus::statusGranted, again.status());

    Permission& permission = Factory::createPermission(product, 9);
    EXPECT_EQ(&product, &permission.product());
    permission.setDescription("Publish");
    permission.setStatus(PRStatus::statusGranted);
    EXPECT_EQ(&permission, &Factory::createPermission(product, 9));

    Permission& linked = Factory::createRolePermission(role, permission);
    EXPECT_EQ("Publish", linked.description());
    EXPECT_EQ(PRStatus::statusDenied, linked.status());
    EXPECT_EQ(&role, &linked.role());
    EXPECT_OSTREL_THROW(linked.product(), nNAX_NOPRODUCTSET, "Permission 9 - Publish");
    linked.setStatus(PRStatus::statusGranted);
    EXPECT_EQ(&linked, &Factory::createRolePermission(role, Permission(product, 9, "Other", PRStatus::statusDenied)));
    EXPECT_EQ(PRStatus::statusGranted, linked.status());
}

TEST_F(FactoryTest, GrantedRolesFoldTheirPermissionsIntoTheProduct)
{
    ProductMap productS;
    Product& product = productS[5] = Product(5);
    Role& granted = product.roles()[1] = Role(product, 1, "", PRStatus::statusGranted);
    granted.permissions()[7] = Permission(granted, 7, "", PRStatus::statusGranted);
    granted.permissions()[8] = Permission(granted, 8, "", PRStatus::statusRevoked);
    granted.permissions()[9] = Permission(granted, 9, "", PRStatus::statusGranted);
    Role& denied = product.roles()[2] = Role(product, 2, "", PRStatus::statusDenied);
    denied.permissions()[10] = Permission(denied, 10, "", PRStatus::statusGranted);
    Role& revoked = product.roles()[3] = Role(product, 3, "", PRStatus::statusRevoked);
    revoked.permissions()[10] = Permission(revoked, 10, "", PRStatus::statusRevoked);
    product.permissions()[7] = Permission(product, 7, "", PRStatus::statusDenied);
    product.permissions()[8] = Permission(product, 8, "", PRStatus::statusGranted);
    product.permissions()[10] = Permission(product, 10, "", PRStatus::statusDenied);

    Factory::mergeRolePermissionsIntoPermissions(productS);
    EXPECT_EQ(PRStatus::statusGranted, product.permissions().at(7).status());
    EXPECT_EQ(PRStatus::statusRevoked, product.permissions().at(8).status());
    EXPECT_EQ(0u, product.permissions().count(9));
    EXPECT_EQ(PRStatus::statusDenied, product.permissions().at(10).status());
}

TEST_F(FactoryTest, ProductMaintenanceNeedsPermissionThreeOfProductZero)
{
    EXPECT_FALSE(Factory::hasProductPermission());

    AuthenticatedUser userAuth(User(*domain, "admin", "", "", ""), SessionString("s"), Profile());
    Product& own = userAuth.products()[OSROstrel::nOSRD_Ostrel] = Product(OSROstrel::nOSRD_Ostrel);
    own.permissions()[OSROstrel::nOSRP_Maintain_Products] =
        Permission(own, OSROstrel::nOSRP_Maintain_Products, "", PRStatus::statusGranted);
    Factory::setAuthenticatedUser(userAuth);
    // Product 0 is not registered.
    EXPECT_FALSE(Factory::hasProductPermission());

    Factory::createProduct(OSROstrel::nOSRD_Ostrel);
    EXPECT_TRUE(Factory::hasProductPermission());

    // A fresh reference: the one taken before copying the user belongs to both copies.
    userAuth.products()[OSROstrel::nOSRD_Ostrel].permissions()[OSROstrel::nOSRP_Maintain_Products].setStatus(
        PRStatus::statusRevoked);
    EXPECT_TRUE(Factory::hasProductPermission());
    Factory::setAuthenticatedUser(userAuth);
    EXPECT_FALSE(Factory::hasProductPermission());
}

TEST_F(FactoryTest, ExporterIsOnlyKept)
{
    EXPECT_EQ(nullptr, Factory::exporter());
    int nAnything = 0;
    Exporter* pexporter = reinterpret_cast<Exporter*>(&nAnything);
    Factory::setExporter(pexporter);
    EXPECT_EQ(pexporter, Factory::exporter());
}
