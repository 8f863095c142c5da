#include "TestSupport.h"

using namespace OstrelData;
using ostreltest::RecordingAuthenticator;

namespace {

// A customer with one domain served by a recording authenticator.
class OrganisationTest : public ostreltest::RegistryTest {
protected:
    OrganisationTest() : customer("acme-corp", "Acme"), domain(customer, "acme"), authenticator(domain) {}

    void SetUp() override
    {
        RegistryTest::SetUp();
        domain.setAuthenticator(authenticator);
    }

    Customer customer;
    Domain domain;
    RecordingAuthenticator authenticator;
};

// The products of a user: product 5 with role 1 granted, role 2 denied,
// permission 7 granted and permission 8 revoked.
ProductMap grantedProducts()
{
    ProductMap productS;
    Product& product = productS[5] = Product(5);
    product.roles().emplace(1, Role(product, 1, "", PRStatus::statusGranted));
    product.roles().emplace(2, Role(product, 2, "", PRStatus::statusDenied));
    product.permissions().emplace(7, Permission(product, 7, "", PRStatus::statusGranted));
    product.permissions().emplace(8, Permission(product, 8, "", PRStatus::statusRevoked));
    return productS;
}

} // namespace

TEST(Customer, AllCustomersIsTheStar)
{
    EXPECT_EQ("*", Customer::allCustomers.customer());
    EXPECT_EQ("", Customer::allCustomers.name());
}

TEST(Customer, CopyCarriesItsPointerMaps)
{
    Customer customer("c", "C");
    Domain domain(customer, "d");
    Team team(customer, 3, "t");
    customer.domains()["d"] = &domain;
    customer.teams()[3] = &team;
    Customer copy(customer);
    EXPECT_EQ(&domain, copy.domains().at("d"));
    EXPECT_EQ(&team, copy.teams().at(3));
    copy.setName("Other");
    EXPECT_EQ("C", customer.name());
}

TEST_F(OrganisationTest, DomainWithoutLinksFails)
{
    Domain bare;
    EXPECT_OSTREL_THROW(bare.customer(), nNAX_NOCUSTOMERSET, "Customer pointer is null.");
    EXPECT_OSTREL_THROW(bare.authenticator(), nNAX_NOAUTHENTICATORSET, "Authenticator pointer is NULL.");
    EXPECT_OSTREL_THROW(bare.createUser(User()), nNAX_NOAUTHENTICATORSET, "Authenticator pointer is NULL.");
    EXPECT_OSTREL_THROW(bare.deleteUser(User()), nNAX_NOAUTHENTICATORSET, "Authenticator pointer is NULL.");
    EXPECT_OSTREL_THROW(bare.users(true), nNAX_NOAUTHENTICATORSET, "Authenticator pointer is NULL.");
    EXPECT_EQ(&customer, domain.customer());
    EXPECT_EQ(&authenticator, domain.authenticator());
}

TEST_F(OrganisationTest, DomainCopyStartsWithEmptyCacheAndAssignmentKeepsTargets)
{
    domain.setDescription("Acme domain");
    authenticator.setUserTools(true);
    RecordingAuthenticator offering(domain, true);
    domain.setAuthenticator(offering);
    ASSERT_EQ(1u, domain.users(true).size());

    Domain copy(domain);
    EXPECT_TRUE(copy.users().empty());
    EXPECT_EQ("Acme domain", copy.description());
    EXPECT_EQ(&offering, copy.authenticator());
    EXPECT_TRUE(copy == domain);

    Domain target(customer, "other");
    target.setAuthenticator(offering);
    target.users(true);
    target = copy;
    EXPECT_EQ("acme", target.domain());
    EXPECT_EQ(1u, target.users().size());
    domain.setAuthenticator(authenticator);
}

TEST_F(OrganisationTest, UsersRefreshEmptiesTheCacheEvenWhenTheAuthenticatorFails)
{
    RecordingAuthenticator offering(domain, true);
    domain.setAuthenticator(offering);
    domain.users(true);
    ASSERT_EQ(1u, domain.users().size());
    EXPECT_EQ(1u, domain.users(false).size());
    domain.setAuthenticator(authenticator);
    EXPECT_OSTREL_THROW(domain.users(true), nNAX_NOTIMPLEMENTED, "users");
    EXPECT_TRUE(domain.users().empty());
}

TEST_F(OrganisationTest, DomainForwardsUserAdministrationAndPassesFailuresOn)
{
    User user(domain, "jdoe", "", "", "");
    EXPECT_OSTREL_THROW(domain.createUser(user), nNAX_NOTIMPLEMENTED, "createUser");
    EXPECT_OSTREL_THROW(domain.deleteUser(user), nNAX_NOTIMPLEMENTED, "deleteUser");
    EXPECT_OSTREL_THROW(user.update(), nNAX_NOTIMPLEMENTED, "updateUser");
}

TEST_F(OrganisationTest, UserConstructionSetsTheKeyOnce)
{
    User user(domain, "jdoe", "John", "tok", "addr");
    EXPECT_EQ(User::Key("acme", "jdoe"), user.key());
    user.setUserId("john");
    EXPECT_EQ("john", user.userId());
    EXPECT_EQ(User::Key("acme", "jdoe"), user.key());
    EXPECT_EQ(User::Key("", ""), User().key());
    EXPECT_OSTREL_THROW(User().domain(), nNAX_NODOMAINSET, "Domain pointer is null.");
}

TEST_F(OrganisationTest, UsersAreEqualByDomainNameAndUserId)
{
    Domain twin(Customer::allCustomers, "acme");
    Domain other(customer, "beta");
    EXPECT_TRUE(User(domain, "jdoe", "A", "", "") == User(twin, "jdoe", "B", "", ""));
    EXPECT_FALSE(User(domain, "jdoe", "", "", "") == User(other, "jdoe", "", "", ""));
    EXPECT_FALSE(User(domain, "jdoe", "", "", "") == User(domain, "jane", "", "", ""));
    EXPECT_OSTREL_THROW((void)(User() == User(domain, "jdoe", "", "", "")), nNAX_NODOMAINSET,
                        "Domain pointer is null.");
}

TEST_F(OrganisationTest, CopiedUserOwnsASeparateTeamMap)
{
    RecordingAuthenticator offering(domain, true);
    domain.setAuthenticator(offering);
    Team teamA(customer, 1, "A");
    Team teamB(customer, 2, "B");
    User source(domain, "jdoe", "", "", "");
    source.addTeam(teamA);

    User copy(source);
    copy.addTeam(teamB);
    EXPECT_TRUE(copy.isMemberOf(teamB));
    EXPECT_FALSE(source.isMemberOf(teamB));
    EXPECT_EQ(1u, static_cast<const User&>(source).teams().size());

    User assigned;
    assigned = source;
    source.deleteTeam(teamA);
    EXPECT_TRUE(assigned.isMemberOf(teamA));
    EXPECT_FALSE(source.isMemberOf(teamA));
    domain.setAuthenticator(authenticator);
}

TEST_F(OrganisationTest, FailedTeamMembershipChangeLeavesTeamMapAlone)
{
    Team team(customer, 1, "A");
    User user(domain, "jdoe", "", "", "");
    EXPECT_OSTREL_THROW(user.addTeam(team), nNAX_NOTIMPLEMENTED, "createTeamMember");
    EXPECT_FALSE(user.isMemberOf(team));

    RecordingAuthenticator offering(domain, true);
    domain.setAuthenticator(offering);
    user.addTeam(team);
    offering.failNext = true;
    EXPECT_OSTREL_THROW(user.deleteTeam(team), nNAX_UPDATEFAILED, "refused");
    EXPECT_TRUE(user.isMemberOf(team));
    EXPECT_OSTREL_THROW(User().addTeam(team), nNAX_NODOMAINSET, "Domain pointer is null.");
    domain.setAuthenticator(authenticator);
}

TEST_F(OrganisationTest, AddTeamReplacesAnEarlierCopy)
{
    RecordingAuthenticator offering(domain, true);
    domain.setAuthenticator(offering);
    Team team(customer, 1, "Old");
    User user(domain, "jdoe", "", "", "");
    user.addTeam(team);
    team.setName("New");
    user.addTeam(team);
    const User& reader = user;
    EXPECT_EQ("New", reader.teams().at(1).name());
    domain.setAuthenticator(authenticator);
}

TEST_F(OrganisationTest, MembershipOfAMapNeedsOneCommonTeam)
{
    User user(domain, "jdoe", "", "", "");
    user.teams()[2] = Team(customer, 2, "B");
    TeamMap teamS;
    teamS[1] = Team(customer, 1, "A");
    EXPECT_FALSE(user.isMemberOf(teamS));
    teamS[2] = Team(customer, 2, "B");
    EXPECT_TRUE(user.isMemberOf(teamS));
    EXPECT_FALSE(user.isMemberOf(TeamMap()));
}

TEST_F(OrganisationTest, RolesAndPermissionsAreHeldOnlyWhenGranted)
{
    User user(domain, "jdoe", "", "", "");
    user.products() = grantedProducts();
    Product catalogue(5);
    Product elsewhere(6);
    EXPECT_TRUE(user.hasRole(Role(catalogue, 1, "", PRStatus::statusDenied)));
    EXPECT_FALSE(user.hasRole(Role(catalogue, 2, "", PRStatus::statusGranted)));
    EXPECT_FALSE(user.hasRole(Role(elsewhere, 1, "", PRStatus::statusGranted)));
    EXPECT_TRUE(user.hasPermission(Permission(catalogue, 7, "", PRStatus::statusDenied)));
    EXPECT_FALSE(user.hasPermission(Permission(catalogue, 8, "", PRStatus::statusGranted)));
    EXPECT_FALSE(user.hasPermission(Permission(elsewhere, 7, "", PRStatus::statusGranted)));
    Role detached(1, "Lead", PRStatus::statusGranted);
    EXPECT_OSTREL_THROW(user.hasRole(detached), nNAX_NOPRODUCTSET, "Role 1 - Lead");
    EXPECT_OSTREL_THROW(user.hasPermission(Permission(detached, 7, "Edit", PRStatus::statusGranted)),
                        nNAX_NOPRODUCTSET, "Permission 7 - Edit");
}

TEST_F(OrganisationTest, CopiesShareProductsUntilOneSideWrites)
{
    User source(domain, "jdoe", "", "", "");
    source.products() = grantedProducts();
    User copy(source);
    const User& reader = copy;
    EXPECT_EQ(&static_cast<const User&>(source).products(), &reader.products());
    EXPECT_TRUE(copy.hasPermission(Permission(Product(5), 7, "", PRStatus::statusDenied)));
    EXPECT_EQ(&static_cast<const User&>(source).products(), &reader.products()) << "a const check cloned";

    copy.products().at(5).permissions().at(7).setStatus(PRStatus::statusRevoked);
    EXPECT_NE(&static_cast<const User&>(source).products(), &reader.products());
    EXPECT_FALSE(copy.hasPermission(Permission(Product(5), 7, "", PRStatus::statusDenied)));
    EXPECT_TRUE(source.hasPermission(Permission(Product(5), 7, "", PRStatus::statusDenied)));

    // The clone's roles and permissions belong to the clone.
    const Product& cloned = reader.products().at(5);
    EXPECT_EQ(&cloned, &cloned.roles().at(1).product());
    EXPECT_EQ(&cloned, &cloned.permissions().at(7).product());
}

TEST_F(OrganisationTest, WritingTheSourceLeavesEarlierCopiesAlone)
{
    User source(domain, "jdoe", "", "", "");
    source.products() = grantedProducts();
    source.teams()[1] = Team(customer, 1, "A");
    User copy(source);
    source.products().erase(5);
    source.teams().clear();
    EXPECT_EQ(1u, static_cast<const User&>(copy).products().size());
    EXPECT_TRUE(copy.isMemberOf(Team(customer, 1, "A")));
    const Product& kept = static_cast<const User&>(copy).products().at(5);
    EXPECT_EQ(&kept, &kept.roles().at(1).product());
}

TEST_F(OrganisationTest, TeamsShareMembersAndProductsUntilWritten)
{
    Team team(customer, 4, "T");
    User member(domain, "jdoe", "", "", "");
    team.members().emplace(member.key(), TeamMember(member, true));
    team.products() = grantedProducts();
    Team copy(team);
    copy.members().clear();
    copy.products().at(5).setDescription("changed");
    EXPECT_EQ(1u, static_cast<const Team&>(team).members().size());
    EXPECT_TRUE(static_cast<const Team&>(team).members().at(member.key()).isLead());
    EXPECT_EQ("", static_cast<const Team&>(team).products().at(5).description());
    const Product& own = static_cast<const Team&>(copy).products().at(5);
    EXPECT_EQ(&own, &own.permissions().at(7).product());
}

TEST_F(OrganisationTest, TeamWithoutCustomerFails)
{
    Team bare;
    EXPECT_EQ(-1, bare.team());
    EXPECT_OSTREL_THROW(bare.customer(), nNAX_NOCUSTOMERSET, "The customer has not been set.");
    EXPECT_OSTREL_THROW(bare.loadMembers(), nNAX_NOCUSTOMERSET, "The customer has not been set.");
}

TEST_F(OrganisationTest, LoadMembersAsksEveryDomainInNameOrder)
{
    Domain beta(customer, "beta");
    RecordingAuthenticator betaAuthenticator(beta);
    beta.setAuthenticator(betaAuthenticator);
    customer.domains()["beta"] = &beta;
    customer.domains()["acme"] = &domain;

    Team team(customer, 4, "T");
    User stale(domain, "stale", "", "", "");
    team.members().emplace(stale.key(), TeamMember(stale, false));
    team.loadMembers();
    const TeamMemberMap& memberS = static_cast<const Team&>(team).members();
    EXPECT_EQ(2u, memberS.size());
    EXPECT_EQ(0u, memberS.count(stale.key()));
    EXPECT_EQ(std::vector<std::string>{"team:acme"}, authenticator.callS);
    EXPECT_EQ(std::vector<std::string>{"team:beta"}, betaAuthenticator.callS);

    Domain bare(customer, "zulu");
    customer.domains()["zulu"] = &bare;
    EXPECT_OSTREL_THROW(team.loadMembers(), nNAX_NOAUTHENTICATORSET, "Authenticator pointer is NULL.");
}

TEST(TeamMember, CarriesTheLeadFlag)
{
    Domain domain(Customer::allCustomers, "acme");
    TeamMember lead(User(domain, "jdoe", "John", "", ""), true);
    EXPECT_TRUE(lead.isLead());
    EXPECT_EQ("John", lead.name());
    TeamMember copy(lead);
    copy.setLead(false);
    EXPECT_TRUE(lead.isLead());
    EXPECT_FALSE(copy.isLead());
}

TEST(XTeam, KeysAreMadeAtConstruction)
{
    EXPECT_EQ(-1, XTeam().team());
    XTeam xteam("acme", "staff", "leads", 12);
    EXPECT_EQ(AlienKey("acme", "staff"), xteam.keyAlien());
    EXPECT_EQ(AlienMapKey(AlienKey("acme", "staff"), 12), xteam.keyAlienMap());
    XTeam copy;
    copy = xteam;
    EXPECT_EQ("leads", copy.alienGroupLeadGroup());
    EXPECT_EQ(xteam.keyAlienMap(), copy.keyAlienMap());
}

class UserFromText : public ostreltest::RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        Factory::domains()["acme"] = Domain(Customer::allCustomers, "acme");
        Factory::domains()["a@b"] = Domain(Customer::allCustomers, "a@b");
    }
};

TEST_F(UserFromText, ThreeFormsGiveTheSameUser)
{
    for (const char* pszText : {"acme/jdoe", "acme\\jdoe", "jdoe@acme"}) {
        User user = User::fromText(pszText);
        EXPECT_EQ(User::Key("acme", "jdoe"), user.key()) << pszText;
        EXPECT_EQ(&Factory::domains().at("acme"), &user.domain()) << pszText;
        EXPECT_EQ("", user.name());
        EXPECT_EQ("", user.authenticationToken());
        EXPECT_EQ("", user.contact());
    }
}

TEST_F(UserFromText, SlashWinsOverTheOtherSeparators)
{
    EXPECT_EQ(User::Key("a@b", "jdoe"), User::fromText("a@b/jdoe").key());
    EXPECT_EQ(User::Key("acme", "x@y"), User::fromText("acme\\x@y").key());
    EXPECT_EQ(User::Key("acme", "jdoe"), User::fromText("acme/jdoe/extra").key());
}

TEST_F(UserFromText, BadTextFailsWithTheFormats)
{
    const std::string strFormats = "Expected one of 'domain/userid', 'domain\\userid' or 'userid@domain'";
    for (const char* pszText : {"", "jdoe", "/jdoe", "acme/", "acme//jdoe", "\\jdoe", "jdoe@", "@acme", "/"})
        EXPECT_OSTREL_THROW(User::fromText(pszText), nNAX_BADUSERFORMAT, strFormats);
}

TEST_F(UserFromText, UnknownDomainIsNamed)
{
    EXPECT_OSTREL_THROW(User::fromText("jdoe@nowhere"), nNAX_DOMAINNOTFOUND, "nowhere");
    EXPECT_OSTREL_THROW(User::fromText("Acme/jdoe"), nNAX_DOMAINNOTFOUND, "Acme");
}
