// Every model type written with toXML, sent through text and read back with
// fromXML, and what the caches hold afterwards.

#include <gtest/gtest.h>

#include <climits>

#include "OstrelData/OstrelData.h"
#include "OstrelDataXML/Encoding.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "Vesk/XMLDoc.h"

using OstrelDataXML::Factory;
using S = OstrelData::PRStatus;

namespace {

// Writes with fn under a scratch root, goes through text, and returns the parsed
// document; its root's first child is the element written.
template <class Fn>
Vesk::XMLDoc throughText(Fn fn)
{
    Vesk::XMLDoc doc("scratch");
    fn(doc.rootNode());
    return Vesk::XMLDoc::parse(doc.stream());
}

const Vesk::XMLNode* written(const Vesk::XMLDoc& doc)
{
    return doc.rootNode()->nextChild();
}

class CodecRoundTrip : public ::testing::Test {
protected:
    CodecRoundTrip()
        : _customer("RT-CUST", "Round Trip Ltd"), _domain(_customer, "RT-DOMAIN"), _team(_customer, 31, "Night shift")
    {
        _domain.setDescription("The round trip domain");
        _product = OstrelData::Product(12);
        _product.setDescription("Ledger");
        OstrelData::InitMapMap initS;
        initS["night"]["colour"] = "dark";
        initS["night"]["font"] = "mono";
        initS["day"]["colour"] = "light";
        _product.setProductInit(initS);
        OstrelData::Role role(_product, 2, "clerk", S(S::statusGranted));
        role.permissions().emplace(7, OstrelData::Permission(role, 7, "post", S(S::statusGranted)));
        role.permissions().emplace(8, OstrelData::Permission(role, 8, "void", S(S::statusRevoked)));
        _product.roles().emplace(2, role);
        _product.roles().emplace(3, OstrelData::Role(_product, 3, "auditor", S(S::statusDenied)));
        _product.permissions().emplace(7, OstrelData::Permission(_product, 7, "post", S(S::statusGranted)));
        _product.permissions().emplace(9, OstrelData::Permission(_product, 9, "close", S(S::statusRevoked)));
        _product.resetPR();

        _user = OstrelData::User(_domain, "alice", "Alice Example", "tok", "alice@example.org");
        _user.products().emplace(12, _product);
        _user.teams().emplace(31, _team);
    }

    OstrelData::Customer _customer;
    OstrelData::Domain _domain;
    OstrelData::Team _team;
    OstrelData::Product _product;
    OstrelData::User _user;
};

void expectSameProduct(const OstrelData::Product& expected, const OstrelData::Product& actual)
{
    EXPECT_EQ(expected.product(), actual.product());
    EXPECT_EQ(expected.description(), actual.description());
    EXPECT_EQ(expected.productInit(), actual.productInit());
    ASSERT_EQ(expected.roles().size(), actual.roles().size());
    for (const auto& entry : expected.roles()) {
        const OstrelData::Role& role = actual.roles().at(entry.first);
        EXPECT_EQ(entry.second.description(), role.description());
        EXPECT_EQ(entry.second.status(), role.status());
        EXPECT_EQ(&actual, &role.product()) << "a decoded product owns its roles";
        ASSERT_EQ(entry.second.permissions().size(), role.permissions().size());
        for (const auto& permission : entry.second.permissions()) {
            EXPECT_EQ(permission.second.description(), role.permissions().at(permission.first).description());
            EXPECT_EQ(permission.second.status(), role.permissions().at(permission.first).status());
        }
    }
    ASSERT_EQ(expected.permissions().size(), actual.permissions().size());
    for (const auto& entry : expected.permissions()) {
        const OstrelData::Permission& permission = actual.permissions().at(entry.first);
        EXPECT_EQ(entry.second.description(), permission.description());
        EXPECT_EQ(entry.second.status(), permission.status());
        EXPECT_EQ(&actual, &permission.product());
    }
}

} // namespace

TEST_F(CodecRoundTrip, ExceptionKeepsEverythingAndComesBackRemote)
{
    OstrelData::Exception e("Factory.cpp", 311, OstrelData::nNAX_USERNOTFOUND, "EAST/bob <&> \"quoted\"", false);
    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) { Factory::Exception::toXML(p, e); });
    EXPECT_EQ("n", written(doc)->findChild("remote")->value());
    OstrelData::Exception back = Factory::Exception::fromXML(written(doc));
    EXPECT_EQ("Factory.cpp", back.file());
    EXPECT_EQ(311, back.line());
    EXPECT_EQ(OstrelData::nNAX_USERNOTFOUND, back.errorCode());
    EXPECT_EQ("EAST/bob <&> \"quoted\"", back.legend());
    EXPECT_TRUE(back.remote());
}

TEST_F(CodecRoundTrip, ExceptionWithoutLegendStillArrivesAsItself)
{
    OstrelData::Exception e("Factory.cpp", 5, OstrelData::nNAX_PERMISSIONDENIED, "", true);
    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) { Factory::Exception::toXML(p, e); });
    EXPECT_EQ("y", written(doc)->findChild("remote")->value());
    OstrelData::Exception back = Factory::Exception::fromXML(written(doc));
    EXPECT_EQ(OstrelData::nNAX_PERMISSIONDENIED, back.errorCode());
    EXPECT_EQ("", back.legend());
}

TEST_F(CodecRoundTrip, ProductKeepingStatusesAsideIsWrittenAsItsOwnMapsWouldBe)
{
    OstrelData::Product catalogue(_product);
    catalogue.shareWithCopies();
    OstrelData::Product held(catalogue);
    held.mergeRoleStatus(3, S(S::statusGranted));
    held.mergePermissionStatus(7, S(S::statusRevoked));
    held.mergePermissionStatus(9, S(S::statusGranted));
    OstrelData::Product owned(held);
    owned.roles();  // writable: maps of its own
    auto text = [](const OstrelData::Product& product) {
        Vesk::XMLDoc doc("scratch");
        Factory::Product::toXML(doc.rootNode(), product);
        return std::string(doc.stream());
    };
    EXPECT_EQ(text(owned), text(held));
    EXPECT_NE(text(catalogue), text(held));
}

TEST_F(CodecRoundTrip, UserKeepsIdentityTeamsAndGrants)
{
    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) { Factory::User::toXML(p, _user); });
    OstrelData::User back = Factory::User::fromXML(written(doc));
    EXPECT_EQ("RT-DOMAIN", back.domain().domain());
    EXPECT_EQ("The round trip domain", back.domain().description());
    EXPECT_EQ("RT-CUST", back.domain().customer()->customer());
    EXPECT_EQ("Round Trip Ltd", back.domain().customer()->name());
    EXPECT_EQ("alice", back.userId());
    EXPECT_EQ("Alice Example", back.name());
    EXPECT_EQ("tok", back.authenticationToken());
    EXPECT_EQ("alice@example.org", back.contact());
    EXPECT_EQ(_user.key(), back.key());
    const OstrelData::User& constBack = back;
    ASSERT_EQ(1u, constBack.teams().size());
    EXPECT_EQ("Night shift", constBack.teams().at(31).name());
    ASSERT_EQ(1u, constBack.products().size());
    expectSameProduct(_product, constBack.products().at(12));
    // Grants answer as they did before the trip.
    EXPECT_TRUE(back.hasRole(_product.roles().at(2)));
    EXPECT_FALSE(back.hasRole(_product.roles().at(3)));
    EXPECT_TRUE(back.hasPermission(_product.permissions().at(7)));
    EXPECT_FALSE(back.hasPermission(_product.permissions().at(9)));
}

TEST_F(CodecRoundTrip, DecodedUserStandsOnTheCachedDomain)
{
    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) { Factory::User::toXML(p, _user); });
    OstrelData::User back = Factory::User::fromXML(written(doc));
    ASSERT_EQ(1u, Factory::cachedDomains().count("RT-DOMAIN"));
    EXPECT_EQ(&Factory::cachedDomains().at("RT-DOMAIN"), &back.domain());
    EXPECT_EQ(&Factory::cachedCustomers().at("RT-CUST"), back.domain().customer());
}

TEST_F(CodecRoundTrip, AuthenticatedUserKeepsSessionAndProfile)
{
    OstrelData::Profile profile("night", true);
    OstrelData::ProductInitMap initS;
    initS[12]["colour"] = "dark";
    initS[4]["lang"] = "fr";
    profile.setProducts(initS);
    OstrelData::AuthenticatedUser user(_user, OstrelData::SessionString("S-0001"), profile);

    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) { Factory::AuthenticatedUser::toXML(p, user); });
    OstrelData::AuthenticatedUser back = Factory::AuthenticatedUser::fromXML(written(doc));
    EXPECT_EQ("alice", back.userId());
    EXPECT_EQ("S-0001", back.session().str());
    EXPECT_EQ("night", back.profile().profile());
    EXPECT_FALSE(back.profile().isDefault()) << "the default flag does not travel";
    EXPECT_EQ(initS, back.profile().products());
}

TEST_F(CodecRoundTrip, AuthenticatedUserWithUnnamedProfileReadsBack)
{
    OstrelData::AuthenticatedUser user(_user, OstrelData::SessionString("S-0002"), OstrelData::Profile());
    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) { Factory::AuthenticatedUser::toXML(p, user); });
    EXPECT_EQ(nullptr, written(doc)->findChild("profile"));
    OstrelData::AuthenticatedUser back = Factory::AuthenticatedUser::fromXML(written(doc));
    EXPECT_EQ("", back.profile().profile());
    EXPECT_EQ("S-0002", back.session().str());
}

TEST_F(CodecRoundTrip, AuthenticatedUserMapIsKeyedByUser)
{
    OstrelDataXML::AuthenticatedUserMap userS;
    OstrelData::User bob(_domain, "bob", "Bob", "", "bob@example.org");
    userS.emplace(_user.key(), OstrelData::AuthenticatedUser(_user, OstrelData::SessionString("S-1"), {}));
    userS.emplace(bob.key(), OstrelData::AuthenticatedUser(bob, OstrelData::SessionString("S-2"), {}));
    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) { Factory::AuthenticatedUserMap::toXML(p, userS); });
    OstrelDataXML::AuthenticatedUserMap back = Factory::AuthenticatedUserMap::fromXML(written(doc));
    ASSERT_EQ(2u, back.size());
    EXPECT_EQ("S-2", back.at(bob.key()).session().str());
    EXPECT_EQ("S-1", back.at(_user.key()).session().str());
}

TEST_F(CodecRoundTrip, SessionAndSessionStringCarryTheIdentifier)
{
    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) {
        Factory::Session::toXML(p, OstrelData::Session("plain-1"));
        Factory::SessionString::toXML(p, OstrelData::SessionString("string-2"));
    });
    const Vesk::XMLNode* psession = written(doc);
    EXPECT_EQ("plain-1", Factory::Session::fromXML(psession).str());
    EXPECT_EQ("string-2", Factory::SessionString::fromXML(doc.rootNode()->nextChild(psession)).str());
}

TEST_F(CodecRoundTrip, ProfileMapKeepsEveryProfileAndItsParameters)
{
    OstrelData::ProfileMap profileS;
    OstrelData::Profile night("night", false);
    OstrelData::ProductInitMap initS;
    initS[1]["a"] = "b";
    night.setProducts(initS);
    profileS.emplace("night", night);
    profileS.emplace("day", OstrelData::Profile("day", true));
    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) { Factory::ProfileMap::toXML(p, profileS); });
    OstrelData::ProfileMap back = Factory::ProfileMap::fromXML(written(doc));
    ASSERT_EQ(2u, back.size());
    EXPECT_EQ(initS, back.at("night").products());
    EXPECT_TRUE(back.at("day").products().empty());
}

TEST_F(CodecRoundTrip, DomainMapAndCustomerMapKeepEveryEntry)
{
    OstrelData::Customer other("RT-OTHER", "");
    OstrelData::DomainMap domainS;
    domainS.emplace("RT-DOMAIN", _domain);
    domainS.emplace("RT-SECOND", OstrelData::Domain(other, "RT-SECOND"));
    OstrelData::CustomerMap customerS;
    customerS.emplace("RT-CUST", _customer);
    customerS.emplace("RT-OTHER", other);

    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) {
        Factory::DomainMap::toXML(p, domainS);
        Factory::CustomerMap::toXML(p, customerS);
    });
    OstrelData::DomainMap domainsBack = Factory::DomainMap::fromXML(written(doc));
    OstrelData::CustomerMap customersBack = Factory::CustomerMap::fromXML(doc.rootNode()->findChild("customers"));
    ASSERT_EQ(2u, domainsBack.size());
    EXPECT_EQ("RT-OTHER", domainsBack.at("RT-SECOND").customer()->customer());
    EXPECT_EQ("", domainsBack.at("RT-SECOND").description());
    ASSERT_EQ(2u, customersBack.size());
    EXPECT_EQ("Round Trip Ltd", customersBack.at("RT-CUST").name());
    EXPECT_EQ("", customersBack.at("RT-OTHER").name());
}

TEST_F(CodecRoundTrip, RecursiveTeamCarriesMembersAndProductsOneLevelDeep)
{
    OstrelData::User bob(_domain, "bob", "Bob", "", "bob@example.org");
    bob.teams().emplace(31, _team);
    _team.members().emplace(bob.key(), OstrelData::TeamMember(bob, true));
    _team.members().emplace(_user.key(), OstrelData::TeamMember(_user, false));
    _team.products().emplace(12, _product);

    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) { Factory::Team::toXML(p, _team, true); });
    const Vesk::XMLNode* pteam = written(doc);
    ASSERT_NE(nullptr, pteam->findChild("teammembers"));
    ASSERT_NE(nullptr, pteam->findChild("products"));
    // The members' own teams are written without members.
    const Vesk::XMLNode* pmember = pteam->findChild("teammembers")->findChild("teammember");
    const Vesk::XMLNode* pinner = pmember->findChild("user")->findChild("teams")->findChild("team");
    ASSERT_NE(nullptr, pinner);
    EXPECT_EQ(nullptr, pinner->findChild("teammembers"));
    EXPECT_EQ(nullptr, pinner->findChild("products"));

    OstrelData::Team back = Factory::Team::fromXML(pteam);
    const OstrelData::Team& constBack = back;
    EXPECT_EQ(31, back.team());
    EXPECT_EQ("Night shift", back.name());
    EXPECT_EQ("RT-CUST", back.customer().customer());
    ASSERT_EQ(2u, constBack.members().size());
    EXPECT_TRUE(constBack.members().at(bob.key()).isLead());
    EXPECT_FALSE(constBack.members().at(_user.key()).isLead());
    expectSameProduct(_product, constBack.products().at(12));
}

TEST_F(CodecRoundTrip, PlainTeamAndTeamMapNeverCarryMembers)
{
    _team.members().emplace(_user.key(), OstrelData::TeamMember(_user, false));
    OstrelData::TeamMap teamS;
    teamS.emplace(31, _team);
    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) {
        Factory::Team::toXML(p, _team, false);
        Factory::TeamMap::toXML(p, teamS, true);
    });
    EXPECT_EQ(nullptr, written(doc)->findChild("teammembers"));
    const Vesk::XMLNode* pteams = doc.rootNode()->findChild("teams");
    EXPECT_EQ(nullptr, pteams->findChild("team")->findChild("teammembers"));
    EXPECT_EQ(1u, Factory::TeamMap::fromXML(pteams).size());
}

TEST_F(CodecRoundTrip, RecursiveCustomerPointsIntoTheCoreRegistry)
{
    OstrelData::DomainMap& registryDomainS = OstrelData::Factory::domains();
    OstrelData::TeamMap& registryTeamS = OstrelData::Factory::teams();
    registryDomainS.emplace("RT-REGISTERED", OstrelData::Domain(_customer, "RT-REGISTERED"));
    registryTeamS.emplace(4401, OstrelData::Team(_customer, 4401, "Registered team"));
    OstrelData::Domain unregistered(_customer, "RT-UNREGISTERED");
    OstrelData::Team unregisteredTeam(_customer, 4402, "Unregistered team");
    _customer.domains()["RT-REGISTERED"] = &registryDomainS.at("RT-REGISTERED");
    _customer.domains()["RT-UNREGISTERED"] = &unregistered;
    _customer.domains()["RT-NULL"] = nullptr;
    _customer.teams()[4401] = &registryTeamS.at(4401);
    _customer.teams()[4402] = &unregisteredTeam;

    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) { Factory::Customer::toXML(p, _customer, true); });
    OstrelData::Customer back = Factory::Customer::fromXML(written(doc));
    ASSERT_EQ(1u, back.domains().size()) << "unregistered and null entries are left out";
    EXPECT_EQ(&registryDomainS.at("RT-REGISTERED"), back.domains().at("RT-REGISTERED"));
    ASSERT_EQ(1u, back.teams().size());
    EXPECT_EQ(&registryTeamS.at(4401), back.teams().at(4401));

    Vesk::XMLDoc plain = throughText([&](Vesk::XMLNode* p) { Factory::Customer::toXML(p, _customer, false); });
    EXPECT_EQ(nullptr, written(plain)->findChild("domainptrs"));
    EXPECT_EQ(nullptr, written(plain)->findChild("teamptrs"));
}

TEST_F(CodecRoundTrip, StandaloneRolesAndPermissionsHaveNoProduct)
{
    const OstrelData::Role& role = _product.roles().at(2);
    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) {
        Factory::Role::toXML(p, role);
        Factory::Permission::toXML(p, _product.permissions().at(9));
    });
    OstrelData::Role roleBack = Factory::Role::fromXML(written(doc));
    EXPECT_EQ(2, roleBack.role());
    EXPECT_EQ("clerk", roleBack.description());
    EXPECT_EQ(S::statusGranted, roleBack.status());
    EXPECT_EQ(2u, roleBack.permissions().size());
    EXPECT_THROW(roleBack.product(), OstrelData::Exception);
    OstrelData::Permission permissionBack = Factory::Permission::fromXML(doc.rootNode()->findChild("permission"));
    EXPECT_EQ(S::statusRevoked, permissionBack.status());
    EXPECT_EQ("close", permissionBack.description());
    EXPECT_THROW(permissionBack.product(), OstrelData::Exception);
}

TEST_F(CodecRoundTrip, ParameterMapsKeepEveryEntry)
{
    OstrelData::InitMap initS{{"colour", "dark"}, {"size", "12"}};
    OstrelData::InitMapMap initMapS;
    initMapS["night"] = initS;
    initMapS["day"] = OstrelData::InitMap{{"colour", "light"}};
    OstrelData::ProductInitMap productInitS;
    productInitS[-3] = initS;
    productInitS[40] = OstrelData::InitMap();
    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) {
        Factory::InitMap::toXML(p, initS);
        Factory::InitMapMap::toXML(p, initMapS);
        Factory::ProductInitMap::toXML(p, productInitS);
    });
    EXPECT_EQ(initS, Factory::InitMap::fromXML(written(doc)));
    EXPECT_EQ(initMapS, Factory::InitMapMap::fromXML(doc.rootNode()->findChild("initmapmap")));
    EXPECT_EQ(productInitS, Factory::ProductInitMap::fromXML(doc.rootNode()->findChild("productinitmap")));
}

TEST_F(CodecRoundTrip, UserMapAndTeamMemberMapAreKeyedByUser)
{
    OstrelData::User bob(_domain, "bob", "Bob", "", "b@x");
    OstrelData::UserMap userS{{_user.key(), _user}, {bob.key(), bob}};
    OstrelData::TeamMemberMap memberS{{bob.key(), OstrelData::TeamMember(bob, true)}};
    Vesk::XMLDoc doc = throughText([&](Vesk::XMLNode* p) {
        Factory::UserMap::toXML(p, userS);
        Factory::TeamMemberMap::toXML(p, memberS);
    });
    OstrelData::UserMap usersBack = Factory::UserMap::fromXML(written(doc));
    ASSERT_EQ(2u, usersBack.size());
    EXPECT_EQ("Bob", usersBack.at(bob.key()).name());
    OstrelData::TeamMemberMap membersBack = Factory::TeamMemberMap::fromXML(doc.rootNode()->findChild("teammembers"));
    ASSERT_EQ(1u, membersBack.size());
    EXPECT_TRUE(membersBack.at(bob.key()).isLead());
}

TEST_F(CodecRoundTrip, ObjectsWithoutTheirLinksAreRefusedWhenWritten)
{
    Vesk::XMLDoc doc("scratch");
    OstrelData::User nobody;
    OstrelData::AuthenticatedUser sessionless;
    EXPECT_THROW(Factory::User::toXML(doc.rootNode(), nobody), OstrelData::Exception);
    EXPECT_THROW(Factory::Team::toXML(doc.rootNode(), OstrelData::Team()), OstrelData::Exception);
    EXPECT_THROW(Factory::AuthenticatedUser::toXML(doc.rootNode(), sessionless), OstrelData::Exception);
}

// The daemon writes its login replies straight as text: byte for byte what the document and
// stream() give, for every text a model object may hold (markup, quotes, control characters,
// blanks at either end, bytes above 127, empty texts) and for empty maps and profiles.
TEST_F(CodecRoundTrip, ReplyTextIsWhatTheDocumentWouldWrite)
{
    auto documentText = [](const OstrelData::AuthenticatedUser& user) {
        Vesk::XMLDoc doc = Factory::Envelope::response("authenticateduser");
        Factory::AuthenticatedUser::toXML(doc.rootNode(), user);
        return doc.stream().str();
    };
    std::string strEveryByte;
    for (int ch = 1; ch < 256; ++ch)
        strEveryByte += static_cast<char>(ch);
    OstrelData::Product odd(40);
    odd.setDescription(strEveryByte);
    odd.roles().emplace(1, OstrelData::Role(odd, 1, " <a & \"b\" 'c'> ", S(S::statusDenied)));
    odd.permissions().emplace(-3, OstrelData::Permission(odd, -3, "\r\n\t line ", S(S::statusGranted)));
    odd.permissions().emplace(INT_MIN, OstrelData::Permission(odd, INT_MIN, "", S(S::statusRevoked)));
    odd.resetPR();
    OstrelData::User user(_user);
    user.setName("");
    user.setContact(strEveryByte);
    user.products().emplace(40, odd);
    user.products().emplace(41, OstrelData::Product(41));
    // A copy keeping its statuses aside is written from the catalogue's set and them.
    OstrelData::Product catalogue(_product);
    catalogue.shareWithCopies();
    user.products().at(12) = catalogue;
    user.products().at(12).mergeRoleStatus(3, S(S::statusGranted));
    OstrelData::Profile profile("night & day");
    OstrelData::ProductInitMap productInitS;
    productInitS[12]["colour"] = "dark <grey>";
    productInitS[12]["empty"] = "";
    profile.setProducts(productInitS);
    for (const OstrelData::AuthenticatedUser& authenticated :
         {OstrelData::AuthenticatedUser(user, OstrelData::SessionString("S-1"), profile),
          OstrelData::AuthenticatedUser(_user, OstrelData::SessionString("S-2"), OstrelData::Profile("", false)),
          OstrelData::AuthenticatedUser(OstrelData::User(_domain, "bob", "", "", ""), OstrelData::SessionString("S-3"),
                                        OstrelData::Profile("day"))})
        EXPECT_EQ(documentText(authenticated), OstrelDataXML::encoding::responseText("authenticateduser", authenticated));

    // What the document refuses, the text refuses alike.
    OstrelData::User withNul(_user);
    withNul.setContact(std::string("a\0b", 3));
    const OstrelData::AuthenticatedUser bad(withNul, OstrelData::SessionString("S-4"), profile);
    EXPECT_THROW(documentText(bad), Vesk::XMLException);
    EXPECT_THROW(OstrelDataXML::encoding::responseText("authenticateduser", bad), Vesk::XMLException);
    EXPECT_THROW(OstrelDataXML::encoding::responseText("authenticateduser", OstrelData::AuthenticatedUser()),
                 OstrelData::Exception);
}
