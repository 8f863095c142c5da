// How each coder reads what it is given: the refusals (one table row per rule
// and message) and the values read from odd but acceptable text.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "OstrelData/OstrelData.h"
#include "OstrelDataXML/Decoding.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "Vesk/XMLDoc.h"

using OstrelDataXML::Factory;

namespace {

// Small well-formed pieces to build elements from.
const std::string kCustomer = "<customer><customer>RR-CUST</customer><name>Rules</name></customer>";
const std::string kDomain = "<domain>" + kCustomer + "<domain>RR-DOM</domain></domain>";
const std::string kUserBody = kDomain + "<userid>u1</userid><name>User One</name><contact>c</contact>";
const std::string kUser = "<user>" + kUserBody + "</user>";
const std::string kSessionString = "<sessionstring><session><sessionid>s1</sessionid></session></sessionstring>";

typedef std::function<void(const Vesk::XMLNode*)> Decoder;

const std::map<std::string, Decoder>& decoders()
{
    static const std::map<std::string, Decoder> s_decoderS = {
        {"Exception", [](const Vesk::XMLNode* p) { Factory::Exception::fromXML(p); }},
        {"AuthenticatedUser", [](const Vesk::XMLNode* p) { Factory::AuthenticatedUser::fromXML(p); }},
        {"AuthenticatedUserMap", [](const Vesk::XMLNode* p) { Factory::AuthenticatedUserMap::fromXML(p); }},
        {"User", [](const Vesk::XMLNode* p) { Factory::User::fromXML(p); }},
        {"UserMap", [](const Vesk::XMLNode* p) { Factory::UserMap::fromXML(p); }},
        {"Session", [](const Vesk::XMLNode* p) { Factory::Session::fromXML(p); }},
        {"SessionString", [](const Vesk::XMLNode* p) { Factory::SessionString::fromXML(p); }},
        {"Profile", [](const Vesk::XMLNode* p) { Factory::Profile::fromXML(p); }},
        {"ProfileMap", [](const Vesk::XMLNode* p) { Factory::ProfileMap::fromXML(p); }},
        {"Domain", [](const Vesk::XMLNode* p) { Factory::Domain::fromXML(p); }},
        {"DomainMap", [](const Vesk::XMLNode* p) { Factory::DomainMap::fromXML(p); }},
        {"DomainPtrMap", [](const Vesk::XMLNode* p) { Factory::DomainPtrMap::fromXML(p); }},
        {"Customer", [](const Vesk::XMLNode* p) { Factory::Customer::fromXML(p); }},
        {"CustomerMap", [](const Vesk::XMLNode* p) { Factory::CustomerMap::fromXML(p); }},
        {"Team", [](const Vesk::XMLNode* p) { Factory::Team::fromXML(p); }},
        {"TeamMap", [](const Vesk::XMLNode* p) { Factory::TeamMap::fromXML(p); }},
        {"TeamPtrMap", [](const Vesk::XMLNode* p) { Factory::TeamPtrMap::fromXML(p); }},
        {"TeamMember", [](const Vesk::XMLNode* p) { Factory::TeamMember::fromXML(p); }},
        {"TeamMemberMap", [](const Vesk::XMLNode* p) { Factory::TeamMemberMap::fromXML(p); }},
        {"Permission", [](const Vesk::XMLNode* p) { Factory::Permission::fromXML(p); }},
        {"PermissionMap", [](const Vesk::XMLNode* p) { Factory::PermissionMap::fromXML(p); }},
        {"Product", [](const Vesk::XMLNode* p) { Factory::Product::fromXML(p); }},
        {"ProductMap", [](const Vesk::XMLNode* p) { Factory::ProductMap::fromXML(p); }},
        {"ProductInitMap", [](const Vesk::XMLNode* p) { Factory::ProductInitMap::fromXML(p); }},
        {"Role", [](const Vesk::XMLNode* p) { Factory::Role::fromXML(p); }},
        {"RoleMap", [](const Vesk::XMLNode* p) { Factory::RoleMap::fromXML(p); }},
        {"InitMap", [](const Vesk::XMLNode* p) { Factory::InitMap::fromXML(p); }},
        {"InitMapMap", [](const Vesk::XMLNode* p) { Factory::InitMapMap::fromXML(p); }},
    };
    return s_decoderS;
}

struct Refusal {
    const char* pszCoder;
    std::string strXml;
    const char* pszMessage;
};

std::ostream& operator<<(std::ostream& os, const Refusal& refusal)
{
    return os << refusal.pszCoder << " of " << refusal.strXml;
}

const std::string kExceptionTail = "<legend>L</legend><remote>n</remote>";

const Refusal kRefusalS[] = {
    {"Exception", "<exceptions/>", "Not an exception node."},
    {"Exception", "<exception><line>1</line><errorcode>1</errorcode>" + kExceptionTail + "</exception>",
     "No file node in Exception."},
    {"Exception", "<exception><file/><line>1</line><errorcode>1</errorcode>" + kExceptionTail + "</exception>",
     "No file node in Exception."},
    {"Exception", "<exception><file>f</file><errorcode>1</errorcode>" + kExceptionTail + "</exception>",
     "No line node in Exception."},
    {"Exception", "<exception><file>f</file><line>0</line><errorcode>1</errorcode>" + kExceptionTail + "</exception>",
     "No line node in Exception."},
    {"Exception",
     "<exception><file>f</file><line>many</line><errorcode>1</errorcode>" + kExceptionTail + "</exception>",
     "No line node in Exception."},
    {"Exception", "<exception><file>f</file><line>3</line><errorcode>0</errorcode>" + kExceptionTail + "</exception>",
     "No errorcode node in Exception."},
    {"Exception", "<exception><file>f</file><line>3</line>" + kExceptionTail + "</exception>",
     "No errorcode node in Exception."},
    {"Exception", "<exception><file>f</file><line>3</line><errorcode>7</errorcode></exception>",
     "No legend node in Exception."},
    {"AuthenticatedUser", "<authenticatedusers/>", "Not an authenticateduser node."},
    {"AuthenticatedUser", "<authenticateduser>" + kSessionString + "</authenticateduser>",
     "No user node in AuthenticatedUser."},
    {"AuthenticatedUser", "<authenticateduser>" + kUser + "</authenticateduser>",
     "No session node in AuthenticatedUser."},
    {"AuthenticatedUserMap", "<authenticateduser/>", "Not an authenticatedusers node."},
    {"User", "<users/>", "Not a user node."},
    {"User", "<user><userid>u</userid><name/><contact/></user>", "No domain node in User."},
    {"User", "<user>" + kDomain + "<name/><contact/></user>", "No userid node in User."},
    {"User", "<user>" + kDomain + "<userid/><name/><contact/></user>", "No userid node in User."},
    {"User", "<user>" + kDomain + "<userid>u</userid><contact/></user>", "No name node in User."},
    {"User", "<user>" + kDomain + "<userid>u</userid><name/></user>", "No contact node in User."},
    // The checks come in order: the first missing child is the one reported.
    {"User", "<user>" + kDomain + "</user>", "No userid node in User."},
    // A nested element reports its own fault.
    {"User", "<user><domain><domain>D</domain></domain><userid>u</userid><name/><contact/></user>",
     "No customer node in Domain."},
    {"UserMap", "<user/>", "Not a users node."},
    {"Session", "<sessionstring/>", "Not a sessionstring node."},
    {"Session", "<session><sessionid/></session>", "No sessionid node in SessionString."},
    {"SessionString", "<session/>", "Not a sessionstring node."},
    {"SessionString", "<sessionstring><sessionid>s</sessionid></sessionstring>", "No session node in SessionString."},
    {"SessionString", "<sessionstring><session/></sessionstring>", "No sessionid node in SessionString."},
    {"Profile", "<profiles/>", "Not a profile node."},
    {"Profile", "<profile><productinitmap/></profile>", "No profile node in Profile."},
    {"Profile", "<profile><profile/></profile>", "No profile node in Profile."},
    {"ProfileMap", "<profile/>", "Not a profiles node."},
    {"Domain", "<customer/>", "Not a domain node."},
    {"Domain", "<domain><domain>D</domain></domain>", "No customer node in Domain."},
    {"Domain", "<domain>" + kCustomer + "</domain>", "No domain node in Domain."},
    {"Domain", "<domain>" + kCustomer + "<domain/></domain>", "No domain node in Domain."},
    {"Domain", "<domain><customer/><domain>D</domain></domain>", "No customer node in Customer."},
    {"DomainMap", "<domainptrs/>", "Not a domains node."},
    {"DomainPtrMap", "<domains/>", "Not a domainptrs node."},
    {"Customer", "<customers/>", "Not a customer node."},
    {"Customer", "<customer><name>n</name></customer>", "No customer node in Customer."},
    {"Customer", "<customer><customer>C</customer><domainptrs><domain/></domainptrs></customer>",
     "No customer node in Domain."},
    {"CustomerMap", "<customer/>", "Not a customers node."},
    {"Team", "<teams/>", "Not a team node."},
    {"Team", "<team>" + kCustomer + "<name>n</name></team>", "No team node in Team."},
    {"Team", "<team><team/>" + kCustomer + "<name>n</name></team>", "No team node in Team."},
    {"Team", "<team><team>3</team><name>n</name></team>", "No customer node in Team."},
    {"Team", "<team><team>3</team>" + kCustomer + "</team>", "No name node in Team."},
    {"Team", "<team><team>3</team>" + kCustomer + "<name/></team>", "No name node in Team."},
    {"TeamMap", "<teamptrs/>", "Not a teams node."},
    {"TeamPtrMap", "<teams/>", "Not a teamptrs node."},
    {"TeamMember", "<user/>", "Not a team member node."},
    {"TeamMember", "<teammember><islead>Y</islead></teammember>", "No user node in TeamMember."},
    {"TeamMember", "<teammember>" + kUser + "</teammember>", "No islead node in TeamMember."},
    {"TeamMember", "<teammember>" + kUser + "<islead/></teammember>", "No islead node in TeamMember."},
    {"TeamMemberMap", "<teammember/>", "Not a teammembers node."},
    {"Permission", "<permissions/>", "Not a permission node."},
    {"Permission", "<permission><status>1</status></permission>", "No permission node in Permission."},
    {"Permission", "<permission><permission>4</permission></permission>", "No status node in Permission."},
    {"Permission", "<permission><permission>4</permission><status/></permission>", "No status node in Permission."},
    {"PermissionMap", "<permission/>", "Not a permissions node."},
    {"Product", "<products/>", "Not a product node."},
    {"Product", "<product><description/></product>", "No product node in Product."},
    {"Product", "<product><product>5</product></product>", "No description node in Product."},
    {"Product", "<product><product>5</product><description/><roles><role/></roles></product>",
     "No role node in Role."},
    {"ProductMap", "<product/>", "Not a products node."},
    {"ProductInitMap", "<initmap/>", "Not a productinitmap node."},
    {"Role", "<roles/>", "Not a role node."},
    {"Role", "<role><description/><status>1</status></role>", "No role node in Role."},
    {"Role", "<role><role>2</role><status>1</status></role>", "No description node in Role."},
    {"Role", "<role><role>2</role><description/></role>", "No status node in Role."},
    {"RoleMap", "<role/>", "Not a roles node."},
    {"InitMap", "<initmapmap/>", "Not a initmap node."},
    {"InitMapMap", "<initmap/>", "Not a initmapmap node."},
    // Numbers beyond int are refused rather than read as anything at all.
    {"Product", "<product><product>2147483648</product><description/></product>",
     "Number out of range in product node."},
    {"Role", "<role><role>1</role><description/><status>-99999999999999999999</status></role>",
     "Number out of range in status node."},
};

class CodecRefusal : public ::testing::TestWithParam<Refusal> {};

} // namespace

TEST_P(CodecRefusal, ThrowsMalformedXMLWithTheRuleMessage)
{
    const Refusal& refusal = GetParam();
    Vesk::XMLDoc doc = Vesk::XMLDoc::parse(refusal.strXml);
    const Decoder& decode = decoders().at(refusal.pszCoder);
    try {
        decode(doc.rootNode());
        ADD_FAILURE() << "accepted; expected \"" << refusal.pszMessage << "\"";
    } catch (const OstrelData::Exception& e) {
        EXPECT_EQ(OstrelData::nNAX_MALFORMEDXML, e.errorCode());
        EXPECT_EQ(refusal.pszMessage, e.legend());
        EXPECT_FALSE(e.remote());
    }
}

INSTANTIATE_TEST_SUITE_P(EveryRule, CodecRefusal, ::testing::ValuesIn(kRefusalS),
                         [](const ::testing::TestParamInfo<Refusal>& info) {
                             return std::string(info.param.pszCoder) + "_" + std::to_string(info.index);
                         });

TEST(CodecNullElement, EveryDecoderRefusesANullElement)
{
    for (const auto& entry : decoders()) {
        SCOPED_TRACE(entry.first);
        try {
            entry.second(nullptr);
            ADD_FAILURE() << "accepted a null element";
        } catch (const OstrelData::Exception& e) {
            EXPECT_EQ(OstrelData::nNAX_MALFORMEDXML, e.errorCode());
            EXPECT_EQ(0u, e.legend().find("Not a")) << e.legend();
        }
    }
}

// ---- What acceptable text reads as ----------------------------------------------

namespace {

Vesk::XMLDoc parse(const std::string& strXml)
{
    return Vesk::XMLDoc::parse(strXml);
}

} // namespace

TEST(CodecReading, NumbersReadAsAtoiDoes)
{
    Vesk::XMLDoc doc = parse("<permissions>"
                             "<permission><permission> 12abc</permission><status>1</status></permission>"
                             "<permission><permission>-5</permission><status>+1</status></permission>"
                             "<permission><permission>none</permission><status>7</status></permission>"
                             "</permissions>");
    OstrelData::PermissionMap permissionS = Factory::PermissionMap::fromXML(doc.rootNode());
    ASSERT_EQ(3u, permissionS.size());
    EXPECT_EQ(OstrelData::PRStatus::statusGranted, permissionS.at(12).status());
    EXPECT_EQ(OstrelData::PRStatus::statusGranted, permissionS.at(-5).status());
    // Unknown status values read as denied.
    EXPECT_EQ(OstrelData::PRStatus::statusDenied, permissionS.at(0).status());
}

TEST(CodecReading, ExceptionRemoteFlagIsNotReadAndAlwaysSet)
{
    Vesk::XMLDoc doc = parse("<exception><file>f.cpp</file><line>9</line><errorcode>-1</errorcode>"
                             "<legend>gone</legend><remote>n</remote></exception>");
    OstrelData::Exception e = Factory::Exception::fromXML(doc.rootNode());
    EXPECT_TRUE(e.remote());
    EXPECT_EQ(-1, e.errorCode());
    EXPECT_EQ("gone", e.legend());
}

TEST(CodecReading, LeadFlagIsTrueOnlyForUpperCaseY)
{
    for (const char* pszLead : {"Y", "y", "N", "Yes"}) {
        Vesk::XMLDoc doc = parse("<teammember>" + kUser + "<islead>" + pszLead + "</islead></teammember>");
        EXPECT_EQ(std::string(pszLead) == "Y", Factory::TeamMember::fromXML(doc.rootNode()).isLead()) << pszLead;
    }
}

TEST(CodecReading, OptionalTextsDefaultToEmpty)
{
    Vesk::XMLDoc doc = parse("<domain><customer><customer>RR-OPT</customer></customer><domain>RR-OPT-D</domain>"
                             "</domain>");
    OstrelData::Domain domain = Factory::Domain::fromXML(doc.rootNode());
    EXPECT_EQ("", domain.description());
    EXPECT_EQ("", domain.customer()->name());

    Vesk::XMLDoc product = parse("<product><product>3</product><description/></product>");
    OstrelData::Product decoded = Factory::Product::fromXML(product.rootNode());
    EXPECT_EQ("", decoded.description());
    EXPECT_TRUE(decoded.roles().empty());
    EXPECT_TRUE(decoded.permissions().empty());
    EXPECT_TRUE(decoded.productInit().empty());
}

TEST(CodecReading, AuthenticatedUserWithoutProfileGetsAnEmptyOne)
{
    Vesk::XMLDoc doc = parse("<authenticateduser>" + kUser + kSessionString + "</authenticateduser>");
    OstrelData::AuthenticatedUser user = Factory::AuthenticatedUser::fromXML(doc.rootNode());
    EXPECT_EQ("", user.profile().profile());
    EXPECT_FALSE(user.profile().isDefault());
    EXPECT_EQ("s1", user.session().str());
}

TEST(CodecReading, UserWithoutTokenOrCollectionsReadsEmpty)
{
    Vesk::XMLDoc doc = parse(kUser);
    const OstrelData::User user = Factory::User::fromXML(doc.rootNode());
    EXPECT_EQ("", user.authenticationToken());
    EXPECT_TRUE(user.teams().empty());
    EXPECT_TRUE(user.products().empty());
}

TEST(CodecReading, MapsSkipOtherChildrenAndLaterDuplicatesWin)
{
    Vesk::XMLDoc doc = parse("<products>"
                             "<product><product>4</product><description>first</description></product>"
                             "<role><role>1</role></role>"
                             "<product><product>5</product><description>five</description></product>"
                             "<product><product>4</product><description>second</description></product>"
                             "</products>");
    OstrelData::ProductMap productS = Factory::ProductMap::fromXML(doc.rootNode());
    ASSERT_EQ(2u, productS.size());
    EXPECT_EQ("second", productS.at(4).description());

    Vesk::XMLDoc empty = parse("<roles><permission/><team/></roles>");
    EXPECT_TRUE(Factory::RoleMap::fromXML(empty.rootNode()).empty());
}

TEST(CodecReading, ParameterEntriesLackingKeyOrValueAreSkipped)
{
    Vesk::XMLDoc init = parse("<initmap>"
                              "<init><param>a</param><value>1</value></init>"
                              "<init><param>b</param></init>"
                              "<init><param>c</param><value/></init>"
                              "<init><value>orphan</value></init>"
                              "<init><param>a</param><value>2</value></init>"
                              "</initmap>");
    EXPECT_EQ((OstrelData::InitMap{{"a", "2"}}), Factory::InitMap::fromXML(init.rootNode()));

    Vesk::XMLDoc products = parse("<productinitmap>"
                                  "<initmap><product>1</product><initmap/></initmap>"
                                  "<initmap><product/><initmap/></initmap>"
                                  "<initmap><product>2</product></initmap>"
                                  "</productinitmap>");
    OstrelData::ProductInitMap productInitS = Factory::ProductInitMap::fromXML(products.rootNode());
    ASSERT_EQ(1u, productInitS.size());
    EXPECT_TRUE(productInitS.at(1).empty());

    Vesk::XMLDoc profiles = parse("<initmapmap>"
                                  "<initmap><profile>p</profile><initmap><init><param>k</param><value>v</value>"
                                  "</init></initmap></initmap>"
                                  "<initmap><initmap/></initmap>"
                                  "</initmapmap>");
    OstrelData::InitMapMap initMapS = Factory::InitMapMap::fromXML(profiles.rootNode());
    ASSERT_EQ(1u, initMapS.size());
    EXPECT_EQ("v", initMapS.at("p").at("k"));
}

// ---- Caches filled while decoding ---------------------------------------------------

TEST(CodecCaches, DecodingAUserReplacesTheCachedDomainInPlace)
{
    Vesk::XMLDoc first = parse("<user><domain><customer><customer>RR-C1</customer><name>One</name></customer>"
                               "<domain>RR-CACHED</domain><description>old</description></domain>"
                               "<userid>a</userid><name/><contact/></user>");
    OstrelData::User userFirst = Factory::User::fromXML(first.rootNode());
    Vesk::XMLDoc second = parse("<user><domain><customer><customer>RR-C2</customer><name>Two</name></customer>"
                                "<domain>RR-CACHED</domain><description>new</description></domain>"
                                "<userid>b</userid><name/><contact/></user>");
    OstrelData::User userSecond = Factory::User::fromXML(second.rootNode());

    const OstrelData::Domain& cached = Factory::cachedDomains().at("RR-CACHED");
    EXPECT_EQ("new", cached.description());
    EXPECT_EQ("RR-C2", cached.customer()->customer());
    // The earlier user stands on the same (now replaced) entry: nothing dangles.
    EXPECT_EQ(&cached, &userFirst.domain());
    EXPECT_EQ("new", userFirst.domain().description());
}

TEST(CodecCaches, DecodingACustomerInADomainReplacesTheCachedCustomer)
{
    Factory::Domain::fromXML(
        parse("<domain><customer><customer>RR-REPL</customer><name>Before</name></customer><domain>x</domain></domain>")
            .rootNode());
    const OstrelData::Customer* pcached = &Factory::cachedCustomers().at("RR-REPL");
    Factory::Domain::fromXML(
        parse("<domain><customer><customer>RR-REPL</customer><name>After</name></customer><domain>y</domain></domain>")
            .rootNode());
    EXPECT_EQ(pcached, &Factory::cachedCustomers().at("RR-REPL"));
    EXPECT_EQ("After", pcached->name());
}

TEST(CodecCaches, DecodingATeamReplacesTheCachedTeam)
{
    Factory::Team::fromXML(parse("<team><team>9101</team>" + kCustomer + "<name>Before</name></team>").rootNode());
    Factory::Team::fromXML(parse("<team><team>9101</team>" + kCustomer + "<name>After</name></team>").rootNode());
    EXPECT_EQ("After", Factory::cachedTeams().at(9101).name());
}

TEST(CodecCaches, ChecksComeBeforeAnyDecoding)
{
    // The contact is missing: the domain must not reach the cache.
    Vesk::XMLDoc doc = parse("<user><domain>" + kCustomer +
                             "<domain>RR-NEVER</domain></domain><userid>u</userid><name/></user>");
    EXPECT_THROW(Factory::User::fromXML(doc.rootNode()), OstrelData::Exception);
    EXPECT_EQ(0u, Factory::cachedDomains().count("RR-NEVER"));
}

TEST(CodecCaches, WhatWasCachedBeforeAFailureStays)
{
    Vesk::XMLDoc doc = parse("<user><domain>" + kCustomer +
                             "<domain>RR-KEPT</domain></domain><userid>u</userid><name/><contact/>"
                             "<teams><team><team>1</team></team></teams></user>");
    EXPECT_THROW(Factory::User::fromXML(doc.rootNode()), OstrelData::Exception);
    EXPECT_EQ(1u, Factory::cachedDomains().count("RR-KEPT"));
}

TEST(CodecCaches, DecodingWithinAScopeFilesNothingAndPointsIntoItsAnchors)
{
    Vesk::XMLDoc doc = parse("<user><domain><customer><customer>RR-SCOPED-C</customer><name>S</name></customer>"
                             "<domain>RR-SCOPED</domain></domain><userid>u</userid><name/><contact/>"
                             "<teams><team><team>9202</team><customer><customer>RR-SCOPED-T</customer></customer>"
                             "<name>T</name></team></teams></user>");
    {
        OstrelDataXML::decoding::LocalAnchors anchors;
        OstrelDataXML::decoding::Scope scope(anchors);
        OstrelData::User user = Factory::User::fromXML(doc.rootNode());
        EXPECT_EQ("RR-SCOPED", user.domain().domain());
        EXPECT_EQ("RR-SCOPED-C", user.domain().customer()->customer());
        EXPECT_EQ("RR-SCOPED-T", user.teams().at(9202).customer().customer());
    }
    EXPECT_EQ(0u, Factory::cachedDomains().count("RR-SCOPED"));
    EXPECT_EQ(0u, Factory::cachedCustomers().count("RR-SCOPED-C"));
    EXPECT_EQ(0u, Factory::cachedCustomers().count("RR-SCOPED-T"));
    EXPECT_EQ(0u, Factory::cachedTeams().count(9202));
    // Outside a scope the public decoder files as it always did.
    Factory::User::fromXML(doc.rootNode());
    EXPECT_EQ(1u, Factory::cachedDomains().count("RR-SCOPED"));
    EXPECT_EQ(1u, Factory::cachedTeams().count(9202));
}
