// The client factory against a scripted daemon: the key exchange, every
// request's envelope and payload, the daemon's failures, and the caches.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>
#include <map>
#include <string>
#include <vector>

#include "OstrelData/OstrelData.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "OstrelDataXML/OstrelService.h"
#include "OstrelDataXML/TestHooks.h"
#include "ScriptedDaemon.h"
#include "crypto/base64.h"

using OstrelDataXML::Factory;
using OstrelDataXML::OstrelService;
using xml_test::ScriptedDaemon;

namespace {

// Children names of an element, in document order.
std::vector<std::string> childNames(const Vesk::XMLNode* pnode)
{
    std::vector<std::string> nameS;
    for (const Vesk::XMLNode* p = pnode->nextChild(); p != nullptr; p = pnode->nextChild(p))
        nameS.push_back(p->name().str());
    return nameS;
}

void expectFailure(int nCode, const std::string& strLegend, const std::function<void()>& fn, bool bRemote = false)
{
    try {
        fn();
        ADD_FAILURE() << "no exception, expected " << nCode << " \"" << strLegend << "\"";
    } catch (const OstrelData::Exception& e) {
        EXPECT_EQ(nCode, e.errorCode()) << e.legend();
        EXPECT_EQ(strLegend, e.legend());
        EXPECT_EQ(bRemote, e.remote());
    }
}

class ClientFactory : public ::testing::Test {
protected:
    ClientFactory() : _customer("CF-CUST", "Client Factory Ltd"), _domain(_customer, "CF-EAST")
    {
        _domain.setDescription("East");
        _user = OstrelData::User(_domain, "alice", "Alice", "", "alice@example.org");
        OstrelData::Product product(21);
        product.roles().emplace(1, OstrelData::Role(product, 1, "reader", OstrelData::PRStatus::statusGranted));
        _user.products().emplace(21, product);
    }

    void SetUp() override { Factory::initialize(_daemon.address()); }
    void TearDown() override
    {
        OstrelService::disconnect();
        OstrelDataXML::testhooks::setResponseWaitMs(0);
    }

    // The daemon answers strRequest with what fn makes of the request.
    void answerWith(const std::string& strRequest, std::function<std::string(const Vesk::XMLDoc&)> fn)
    {
        std::string strName = strRequest;
        _daemon.setScript([strName, fn](Corvel::ConnectionContext&, const Vesk::XMLDoc& doc) -> std::string {
            if (doc.rootNode()->attribute("request") == strName) return fn(doc);
            if (doc.rootNode()->attribute("request") == "initialize") return xml_test::rsaResponse();
            return Factory::Envelope::response("ok").stream().str();
        });
    }

    // An "authenticateduser" response for the user the request carries, with
    // the decrypted token as the session identifier so that tests can see it.
    static std::string authenticatedUserFor(const Vesk::XMLDoc& docRequest, const std::string& strSession)
    {
        OstrelData::User user = Factory::User::fromXML(docRequest.rootNode()->findChild("user"));
        OstrelData::AuthenticatedUser authenticated(user, OstrelData::SessionString(strSession),
                                                    OstrelData::Profile("night", false));
        Vesk::XMLDoc doc = Factory::Envelope::response("authenticateduser");
        Factory::AuthenticatedUser::toXML(doc.rootNode(), authenticated);
        return doc.stream().str();
    }

    static std::string tokenIn(const Vesk::XMLDoc& doc, const char* pszElement)
    {
        const Vesk::XMLNode* ptoken = doc.rootNode()->findChild(pszElement);
        return ptoken != nullptr ? xml_test::decryptToken(ptoken->value().str()) : "<missing>";
    }

    OstrelData::AuthenticatedUser loggedIn() const
    {
        return OstrelData::AuthenticatedUser(_user, OstrelData::SessionString("S-77"), OstrelData::Profile("day"));
    }

    ScriptedDaemon _daemon;
    OstrelData::Customer _customer;
    OstrelData::Domain _domain;
    OstrelData::User _user;
};

} // namespace

// ---- initialize and the key ---------------------------------------------------------

TEST_F(ClientFactory, InitializeSendsTheVersionAndConnects)
{
    Vesk::XMLDoc docRequest = _daemon.lastRequest("initialize");
    ASSERT_NE(nullptr, docRequest.rootNode());
    EXPECT_EQ("ostrelservice", docRequest.rootNode()->name());
    EXPECT_EQ(OSTREL_PROJECT_VERSION, docRequest.rootNode()->attribute("version"));
    EXPECT_TRUE(OstrelService::isConnected());
    EXPECT_EQ(OSTREL_PROJECT_VERSION, Factory::version().text());
}

TEST_F(ClientFactory, TokenIsEncryptedWithTheDaemonsKey)
{
    answerWith("authenticate", [](const Vesk::XMLDoc& doc) { return authenticatedUserFor(doc, tokenIn(doc, "authenticationtoken")); });
    OstrelData::AuthenticatedUser& user =
        Factory::authenticate(_user, OstrelData::PasswordAuthenticationToken("s3cret pass"), OstrelData::Profile("night"));
    EXPECT_EQ("s3cret pass", user.session().str());
    // The clear text never travels.
    for (const std::string& strRequest : _daemon.requests())
        EXPECT_EQ(std::string::npos, strRequest.find("s3cret"));
}

TEST_F(ClientFactory, SecondInitializeReconnectsAndReplacesTheKey)
{
    ScriptedDaemon other;
    Factory::initialize(other.address());
    other.answer("who", Factory::Envelope::response("nobody").stream().str());
    EXPECT_TRUE(Factory::who().empty());
    EXPECT_EQ(2u, other.requests().size()) << "initialize and who went to the new daemon";
    EXPECT_TRUE(_daemon.waitForConnections(0)) << "the first link stays open";
}

TEST_F(ClientFactory, InitializeAgainstNobodySays1022)
{
    ScriptedDaemon gone;
    std::string strAddress = gone.address();
    gone.stop();
    try {
        Factory::initialize(strAddress);
        ADD_FAILURE() << "connected to nobody";
    } catch (const OstrelData::Exception& e) {
        EXPECT_EQ(OstrelData::nNAX_NOSERVERCONNECT, e.errorCode());
        EXPECT_NE(std::string::npos, e.legend().find(strAddress)) << e.legend();
    }
    expectFailure(OstrelData::nNAX_NOSERVERCONNECT, "Not connected to any Ostrel service provider.",
                  [] { Factory::who(); });
}

TEST_F(ClientFactory, InitializeAnsweredOtherwiseKeepsTheKey)
{
    _daemon.answer("initialize", Factory::Envelope::response("busy").stream().str());
    Factory::initialize(_daemon.address());
    answerWith("validate", [](const Vesk::XMLDoc& doc) { return authenticatedUserFor(doc, tokenIn(doc, "authenticationtoken")); });
    EXPECT_EQ("pw", Factory::validate(_user, OstrelData::PasswordAuthenticationToken("pw")).session().str());
}

TEST_F(ClientFactory, InitializeAnsweredWithAnExceptionRethrowsIt)
{
    _daemon.answer("initialize", xml_test::exceptionResponse("refused", OstrelData::nNAX_VERSIONMISMATCH, "5.0.4.0"));
    expectFailure(OstrelData::nNAX_VERSIONMISMATCH, "5.0.4.0", [&] { Factory::initialize(_daemon.address()); }, true);
}

namespace {

// The parts of one number of the key, as text; a null entry leaves the child out.
struct NumberText {
    const char* apszPart[4];
};

std::string numberElement(const char* pszName, const NumberText& number)
{
    static const char* const s_apszName[] = {"sign", "alloc", "used", "dp"};
    std::string strXml = std::string("<") + pszName + ">";
    for (int i = 0; i < 4; ++i)
        if (number.apszPart[i] != nullptr)
            strXml += std::string("<") + s_apszName[i] + ">" + number.apszPart[i] + "</" + s_apszName[i] + ">";
    return strXml + "</" + pszName + ">";
}

// e = 3 in one digit; N from the test key.
std::string goodN()
{
    Vesk::XMLDoc doc("k");
    Factory::RsaKey::numberToXML(doc.rootNode(), "N", xml_test::testKey().N);
    std::string strXml = doc.stream().str();
    return strXml.substr(strXml.find("<N>"), strXml.find("</N>") + 4 - strXml.find("<N>"));
}

std::string rsaReply(const std::string& strInner)
{
    return "<ostrelservice response=\"rsa\">" + strInner + "</ostrelservice>";
}

struct KeyRefusal {
    std::string strReply;
    std::string strMessage;
};

std::vector<KeyRefusal> keyRefusals()
{
    const NumberText goodE{{"0", "1", "1", "AQA="}};
    auto withE = [](const NumberText& e) { return rsaReply("<rsa>" + numberElement("e", e) + goodN() + "</rsa>"); };
    std::vector<KeyRefusal> refusalS = {
        {"<ostrelservice response=\"rsa\"/>", "No rsa node."},
        {rsaReply("<rsa>" + goodN() + "</rsa>"), "No e node in rsa node."},
        {rsaReply("<rsa>" + numberElement("e", goodE) + "</rsa>"), "No N node in rsa node."},
        // Numbers the crypto library would not take.
        {withE({{"2", "1", "1", "AQA="}}), "Bad sign node in e node in rsa node."},
        {withE({{"0", "-1", "0", "AQA="}}), "Bad alloc node in e node in rsa node."},
        {withE({{"0", "99999999", "0", "AQA="}}), "Bad alloc node in e node in rsa node."},
        {withE({{"0", "99999999999999999999999", "0", "AQA="}}), "Bad alloc node in e node in rsa node."},
        {withE({{"0", "1", "2", "AQA="}}), "Bad used node in e node in rsa node."},
        {withE({{"0", "1", "1", "!!!!"}}), "Bad dp node in e node in rsa node."},
        {withE({{"0", "1", "1", "AQABAAEA"}}), "Bad dp node in e node in rsa node."},
    };
    const char* const apszPart[] = {"sign", "alloc", "used", "dp"};
    for (int i = 0; i < 4; ++i) {
        for (const char* pszValue : {static_cast<const char*>(nullptr), ""}) {
            NumberText e = goodE;
            e.apszPart[i] = pszValue;
            refusalS.push_back({withE(e), std::string("No ") + apszPart[i] + " node in e node in rsa node."});
            NumberText N = goodE;
            N.apszPart[i] = pszValue;
            refusalS.push_back({rsaReply("<rsa>" + numberElement("e", goodE) + numberElement("N", N) + "</rsa>"),
                                std::string("No ") + apszPart[i] + " node in N node in rsa node."});
        }
    }
    return refusalS;
}

} // namespace

TEST_F(ClientFactory, MalformedKeyIsRefusedAndTheKeyKept)
{
    answerWith("validate", [](const Vesk::XMLDoc& doc) { return authenticatedUserFor(doc, tokenIn(doc, "authenticationtoken")); });
    for (const KeyRefusal& refusal : keyRefusals()) {
        SCOPED_TRACE(refusal.strReply);
        _daemon.answer("initialize", refusal.strReply);
        expectFailure(OstrelData::nNAX_MALFORMEDXML, refusal.strMessage, [&] { Factory::initialize(_daemon.address()); });
        // The key loaded before still works.
        EXPECT_EQ("pw", Factory::validate(_user, OstrelData::PasswordAuthenticationToken("pw")).session().str());
    }
}

// Without padding, e = 1 sends the password as it is, a small e lets a short one be
// read by its root, and a short modulus can be factored: such keys are refused
// like malformed ones, and the password still goes under the key loaded before.
TEST_F(ClientFactory, WeakKeyIsRefusedAndTheKeyKept)
{
    rsa_key shortKey{};
    ASSERT_EQ(CRYPT_OK, rsa_make_key(1024, &shortKey));
    Vesk::XMLDoc docShort("k");
    Factory::RsaKey::numberToXML(docShort.rootNode(), "N", shortKey.N);
    rsa_free(&shortKey);
    std::string strShortN = docShort.stream().str();
    strShortN = strShortN.substr(strShortN.find("<N>"), strShortN.find("</N>") + 4 - strShortN.find("<N>"));

    const std::string strLowExponent = "Weak rsa key refused: public exponent below 65537.";
    const std::vector<KeyRefusal> refusalS = {
        {rsaReply("<rsa>" + numberElement("e", {{"0", "0", "0", "AAAA"}}) + goodN() + "</rsa>"), strLowExponent},
        {rsaReply("<rsa>" + numberElement("e", {{"0", "1", "1", "AQA="}}) + goodN() + "</rsa>"), strLowExponent},
        {rsaReply("<rsa>" + numberElement("e", {{"0", "2", "1", "AwAAAA=="}}) + goodN() + "</rsa>"), strLowExponent},
        {rsaReply("<rsa>" + numberElement("e", {{"1", "2", "2", "AQABAA=="}}) + goodN() + "</rsa>"), strLowExponent},
        // 65535 with a top digit of 0 that "used" counts.
        {rsaReply("<rsa>" + numberElement("e", {{"0", "2", "2", "//8AAA=="}}) + goodN() + "</rsa>"), strLowExponent},
        {rsaReply("<rsa>" + numberElement("e", {{"0", "2", "2", "AQABAA=="}}) + strShortN + "</rsa>"),
         "Weak rsa key refused: modulus of 1024 bits, below 2048."},
    };
    answerWith("validate", [](const Vesk::XMLDoc& doc) { return authenticatedUserFor(doc, tokenIn(doc, "authenticationtoken")); });
    for (const KeyRefusal& refusal : refusalS) {
        SCOPED_TRACE(refusal.strReply.substr(0, 200));
        _daemon.answer("initialize", refusal.strReply);
        expectFailure(OstrelData::nNAX_MALFORMEDXML, refusal.strMessage, [&] { Factory::initialize(_daemon.address()); });
        EXPECT_EQ("pw", Factory::validate(_user, OstrelData::PasswordAuthenticationToken("pw")).session().str());
    }
    // e = 65537 in two digits, as the daemon sends it, and the test key's modulus pass.
    _daemon.answer("initialize", rsaReply("<rsa>" + numberElement("e", {{"0", "2", "2", "AQABAA=="}}) + goodN() + "</rsa>"));
    Factory::initialize(_daemon.address());
}

TEST_F(ClientFactory, KeyDigitsTravelInMachineOrderBothWays)
{
    rsa_key decoded{};
    Vesk::XMLDoc doc("k");
    Factory::RsaKey::toXML(doc.rootNode(), xml_test::testKey());
    Factory::RsaKey::fromXML(Vesk::XMLDoc::parse(doc.stream()).rootNode()->findChild("rsa"), decoded);
    const mp_int& N = xml_test::testKey().N;
    ASSERT_EQ(N.alloc, decoded.N.alloc);
    EXPECT_EQ(N.used, decoded.N.used);
    EXPECT_EQ(0, memcmp(N.dp, decoded.N.dp, N.alloc * sizeof(mp_digit)));
    EXPECT_EQ(PK_PRIVATE, decoded.type);
    EXPECT_EQ(0u, decoded.d.alloc);
    EXPECT_EQ(nullptr, decoded.d.dp);
    rsa_free(&decoded);
}

// ---- Tokens -------------------------------------------------------------------------

TEST_F(ClientFactory, TokensThatDoNotFitAreRefusedBeforeSending)
{
    size_t nBefore = _daemon.requests().size();
    // Larger than the 2048-bit modulus, and beyond what the protocol allows.
    for (size_t nLength : {size_t(257), size_t(4096), size_t(10000)}) {
        expectFailure(OstrelData::nNAX_AUTHENTICATIONFAILED, "Failed to encrypt authentication token.", [&] {
            Factory::authenticate(_user, OstrelData::PasswordAuthenticationToken(std::string(nLength, 'x')),
                                  OstrelData::Profile("p"));
        });
    }
    expectFailure(OstrelData::nNAX_AUTHENTICATIONFAILED, "Failed to encrypt authentication token.", [&] {
        OstrelData::PasswordAuthenticationToken good("ok");
        OstrelData::PasswordAuthenticationToken tooLong(std::string(300, 'y'));
        Factory::passwd(loggedIn(), good, tooLong);
    });
    EXPECT_EQ(nBefore, _daemon.requests().size());
}

TEST_F(ClientFactory, LongestTokenBelowTheModulusGetsThrough)
{
    answerWith("validate", [](const Vesk::XMLDoc& doc) { return authenticatedUserFor(doc, tokenIn(doc, "authenticationtoken")); });
    std::string strToken(255, 'z');
    EXPECT_EQ(strToken, Factory::validate(_user, OstrelData::PasswordAuthenticationToken(strToken)).session().str());
}

// ---- Requests and their responses --------------------------------------------------

TEST_F(ClientFactory, AuthenticateSendsUserTokenProfileAndTellsTheCoreFactory)
{
    answerWith("authenticate", [](const Vesk::XMLDoc& doc) { return authenticatedUserFor(doc, "S-AUTH"); });
    OstrelData::AuthenticatedUser& user =
        Factory::authenticate(_user, OstrelData::PasswordAuthenticationToken("pw"), OstrelData::Profile("night"));
    Vesk::XMLDoc docRequest = _daemon.lastRequest("authenticate");
    EXPECT_EQ((std::vector<std::string>{"user", "authenticationtoken", "profile"}), childNames(docRequest.rootNode()));
    EXPECT_EQ("night", docRequest.rootNode()->findChild("profile")->findChild("profile")->value());
    EXPECT_EQ("alice", user.userId());
    EXPECT_EQ("S-AUTH", user.session().str());
    EXPECT_EQ("night", user.profile().profile());
    EXPECT_EQ("S-AUTH", OstrelData::Factory::authenticatedUser().session().str());
    const OstrelData::User& constUser = user;
    EXPECT_TRUE(constUser.products().at(21).roles().at(1).hasRole());
    // The same object is overwritten by the next call.
    answerWith("authenticate", [](const Vesk::XMLDoc& doc) { return authenticatedUserFor(doc, "S-AUTH-2"); });
    OstrelData::AuthenticatedUser& again =
        Factory::authenticate(_user, OstrelData::PasswordAuthenticationToken("pw"), OstrelData::Profile("night"));
    EXPECT_EQ(&user, &again);
    EXPECT_EQ("S-AUTH-2", user.session().str());
}

TEST_F(ClientFactory, ValidateAndAuthenticatedUserLeaveTheCoreFactoryAlone)
{
    answerWith("authenticate", [](const Vesk::XMLDoc& doc) { return authenticatedUserFor(doc, "S-CORE"); });
    Factory::authenticate(_user, OstrelData::PasswordAuthenticationToken("pw"), OstrelData::Profile("n"));
    answerWith("validate", [](const Vesk::XMLDoc& doc) { return authenticatedUserFor(doc, "S-VALID"); });
    EXPECT_EQ("S-VALID", Factory::validate(_user, OstrelData::PasswordAuthenticationToken("pw")).session().str());
    EXPECT_EQ((std::vector<std::string>{"user", "authenticationtoken"}),
              childNames(_daemon.lastRequest("validate").rootNode()));
    answerWith("authenticateduser", [this](const Vesk::XMLDoc&) {
        Vesk::XMLDoc doc = Factory::Envelope::response("authenticateduser");
        Factory::AuthenticatedUser::toXML(doc.rootNode(), loggedIn());
        return doc.stream().str();
    });
    EXPECT_EQ("S-77", Factory::authenticatedUser().session().str());
    EXPECT_TRUE(childNames(_daemon.lastRequest("authenticateduser").rootNode()).empty());
    EXPECT_EQ("S-CORE", OstrelData::Factory::authenticatedUser().session().str());
}

TEST_F(ClientFactory, DaemonFailuresAreRethrownAsRemote)
{
    const std::string strFailure = xml_test::exceptionResponse("failed", OstrelData::nNAX_AUTHENTICATIONFAILED, "bad password");
    _daemon.setScript([strFailure](Corvel::ConnectionContext&, const Vesk::XMLDoc&) { return strFailure; });
    OstrelData::PasswordAuthenticationToken token("pw");
    const std::vector<std::pair<const char*, std::function<void()>>> callS = {
        {"authenticate", [&] { Factory::authenticate(_user, token, OstrelData::Profile("p")); }},
        {"validate", [&] { Factory::validate(_user, token); }},
        {"authenticatedUser", [] { Factory::authenticatedUser(); }},
        {"passwd", [&] { OstrelData::PasswordAuthenticationToken t2("n"); Factory::passwd(loggedIn(), token, t2); }},
        {"persistSession", [&] { OstrelData::AuthenticatedUser u = loggedIn(); Factory::persistSession(u); }},
        {"retrieveSession", [] { Factory::retrieveSession(OstrelData::Session("S")); }},
        {"killSession", [] { Factory::killSession(OstrelData::Session("S")); }},
        {"user", [&] { Factory::user(_user, false); }},
        {"team", [&] { OstrelData::Team team(_customer, 5, "t"); Factory::team(team, false); }},
        {"teams", [] { Factory::teams(); }},
        {"products", [] { Factory::products(); }},
        {"domains", [] { Factory::domains(); }},
        {"customers", [] { Factory::customers(); }},
        {"profiles", [] { Factory::profiles(); }},
        {"who", [] { Factory::who(); }},
    };
    for (const auto& call : callS) {
        SCOPED_TRACE(call.first);
        try {
            call.second();
            ADD_FAILURE() << "no exception";
        } catch (const OstrelData::Exception& e) {
            EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, e.errorCode());
            EXPECT_EQ("bad password", e.legend());
            EXPECT_EQ("daemon.cpp", e.file());
            EXPECT_EQ(42, e.line());
            EXPECT_TRUE(e.remote());
        }
    }
}

TEST_F(ClientFactory, ExpectedResponseWithoutItsPayloadIsMalformed)
{
    OstrelData::PasswordAuthenticationToken token("pw");
    const std::vector<std::tuple<const char*, const char*, std::function<void()>>> callS = {
        {"authenticateduser", "No authenticated user node in authenticateduser response.",
         [&] { Factory::authenticate(_user, token, OstrelData::Profile("p")); }},
        {"authenticateduser", "No authenticated user node in authenticateduser response.",
         [&] { Factory::validate(_user, token); }},
        {"authenticateduser", "No authenticated user node in authenticateduser response.",
         [] { Factory::authenticatedUser(); }},
        {"authenticateduser", "No authenticated user node in authenticateduser response.",
         [] { Factory::retrieveSession(OstrelData::Session("S")); }},
        {"user", "No User node in user response.", [&] { Factory::user(_user, true); }},
        {"team", "No Team node in team response.",
         [&] { OstrelData::Team team(_customer, 5, "t"); Factory::team(team, true); }},
        {"teams", "No Teams node in teams response.", [] { Factory::teams(); }},
        {"products", "No Products node in products response.", [] { Factory::products(); }},
        {"domains", "No Domains node in domains response.", [] { Factory::domains(); }},
        {"customers", "No Customers node in customers response.", [] { Factory::customers(); }},
        {"profiles", "No Profiles node in profiles response.", [] { Factory::profiles(); }},
        {"who", "No AuthenticatedUsers node in who response.", [] { Factory::who(); }},
    };
    for (const auto& call : callS) {
        SCOPED_TRACE(std::get<1>(call));
        // An exception beside the expected name is not looked at.
        const std::string strReply = xml_test::exceptionResponse(std::get<0>(call), 1, "ignored");
        _daemon.setScript([strReply](Corvel::ConnectionContext&, const Vesk::XMLDoc&) { return strReply; });
        expectFailure(OstrelData::nNAX_MALFORMEDXML, std::get<1>(call), std::get<2>(call));
    }
}

TEST_F(ClientFactory, UnexpectedResponseWithoutExceptionChangesNothing)
{
    answerWith("authenticate", [](const Vesk::XMLDoc& doc) { return authenticatedUserFor(doc, "S-KEEP"); });
    Factory::authenticate(_user, OstrelData::PasswordAuthenticationToken("pw"), OstrelData::Profile("n"));
    OstrelData::TeamMap& teamsBefore = Factory::teams();
    size_t nTeams = teamsBefore.size();

    const std::string strOther = Factory::Envelope::response("something-else").stream().str();
    _daemon.setScript([strOther](Corvel::ConnectionContext&, const Vesk::XMLDoc&) { return strOther; });
    OstrelData::PasswordAuthenticationToken token("pw");
    // authenticate hands its previous result to the core factory again.
    EXPECT_EQ("S-KEEP", Factory::authenticate(_user, token, OstrelData::Profile("n")).session().str());
    EXPECT_EQ("S-KEEP", OstrelData::Factory::authenticatedUser().session().str());
    OstrelData::PasswordAuthenticationToken tokenNew("new");
    EXPECT_FALSE(Factory::passwd(loggedIn(), token, tokenNew));
    OstrelData::User userF = _user;
    Factory::user(userF, false);
    EXPECT_EQ("Alice", userF.name());
    EXPECT_EQ(&teamsBefore, &Factory::teams());
    EXPECT_EQ(nTeams, Factory::teams().size());
    EXPECT_TRUE(Factory::who().empty());
    EXPECT_TRUE(Factory::about().empty());
    OstrelData::AuthenticatedUser u = loggedIn();
    EXPECT_NO_THROW(Factory::persistSession(u));
    EXPECT_NO_THROW(Factory::killSession(OstrelData::Session("S")));
    expectFailure(OstrelData::nNAX_MALFORMEDXML, "No reloadfactory response", [] { Factory::reinitialize(); });
}

TEST_F(ClientFactory, PasswdSendsBothTokensEncrypted)
{
    answerWith("passwd", [](const Vesk::XMLDoc& doc) {
        bool bGood = tokenIn(doc, "authenticationtokencurrent") == "old pw" &&
                     tokenIn(doc, "authenticationtokennew") == "new pw";
        return Factory::Envelope::response(bGood ? "passwd" : "refused").stream().str();
    });
    OstrelData::PasswordAuthenticationToken current("old pw");
    OstrelData::PasswordAuthenticationToken fresh("new pw");
    EXPECT_TRUE(Factory::passwd(loggedIn(), current, fresh));
    EXPECT_EQ((std::vector<std::string>{"authenticateduser", "authenticationtokencurrent", "authenticationtokennew"}),
              childNames(_daemon.lastRequest("passwd").rootNode()));
}

TEST_F(ClientFactory, SessionsTravelAsTheirElements)
{
    answerWith("retrievesession", [this](const Vesk::XMLDoc& doc) {
        std::string strId = Factory::Session::fromXML(doc.rootNode()->findChild("session")).str();
        Vesk::XMLDoc reply = Factory::Envelope::response("authenticateduser");
        Factory::AuthenticatedUser::toXML(
            reply.rootNode(), OstrelData::AuthenticatedUser(_user, OstrelData::SessionString(strId), {}));
        return reply.stream().str();
    });
    OstrelData::AuthenticatedUser user = loggedIn();
    Factory::persistSession(user);
    Vesk::XMLDoc docPersist = _daemon.lastRequest("persistsession");
    ASSERT_NE(nullptr, docPersist.rootNode()->findChild("authenticateduser"));
    EXPECT_EQ("S-77", Factory::AuthenticatedUser::fromXML(docPersist.rootNode()->findChild("authenticateduser"))
                          .session()
                          .str());

    EXPECT_EQ("S-RETRIEVED", Factory::retrieveSession(OstrelData::Session("S-RETRIEVED")).session().str());
    EXPECT_EQ("S-RETRIEVED", OstrelData::Factory::authenticatedUser().session().str());

    Factory::killSession(OstrelData::SessionString("S-GONE"));
    EXPECT_EQ("S-GONE", _daemon.lastRequest("killsession").rootNode()->findChild("session")->findChild("sessionid")->value());
}

TEST_F(ClientFactory, UserAndTeamAreReplacedByTheDaemonsVersion)
{
    answerWith("user", [](const Vesk::XMLDoc& doc) {
        OstrelData::User user = Factory::User::fromXML(doc.rootNode()->findChild("user"));
        user.setName("Alice from the daemon");
        Vesk::XMLDoc reply = Factory::Envelope::response("user");
        Factory::User::toXML(reply.rootNode(), user);
        return reply.stream().str();
    });
    OstrelData::User userF = _user;
    Factory::user(userF, true);
    EXPECT_EQ("Y", _daemon.lastRequest("user").rootNode()->attribute("recurse"));
    EXPECT_EQ("Alice from the daemon", userF.name());
    Factory::user(userF, false);
    EXPECT_EQ("N", _daemon.lastRequest("user").rootNode()->attribute("recurse"));

    answerWith("team", [this](const Vesk::XMLDoc& doc) {
        OstrelData::Team team = Factory::Team::fromXML(doc.rootNode()->findChild("team"));
        team.setName("Renamed");
        team.members().emplace(_user.key(), OstrelData::TeamMember(_user, true));
        Vesk::XMLDoc reply = Factory::Envelope::response("team");
        Factory::Team::toXML(reply.rootNode(), team, true);
        return reply.stream().str();
    });
    OstrelData::Team team(_customer, 8801, "Original");
    team.members().emplace(_user.key(), OstrelData::TeamMember(_user, false));
    Factory::team(team, true);
    Vesk::XMLDoc docRequest = _daemon.lastRequest("team");
    EXPECT_EQ("Y", docRequest.rootNode()->attribute("reload"));
    EXPECT_EQ(nullptr, docRequest.rootNode()->findChild("team")->findChild("teammembers")) << "sent without members";
    EXPECT_EQ("Renamed", team.name());
    EXPECT_TRUE(static_cast<const OstrelData::Team&>(team).members().at(_user.key()).isLead());
    EXPECT_EQ("Renamed", Factory::cachedTeams().at(8801).name());
}

TEST_F(ClientFactory, ListsAddOnlyWhatTheCacheLacks)
{
    auto productList = [](const char* pszDescription) {
        return [pszDescription](const Vesk::XMLDoc&) {
            OstrelData::ProductMap productS;
            OstrelData::Product product(7701);
            product.setDescription(pszDescription);
            productS.emplace(7701, product);
            productS.emplace(7702, OstrelData::Product(7702));
            Vesk::XMLDoc reply = Factory::Envelope::response("products");
            Factory::ProductMap::toXML(reply.rootNode(), productS);
            return reply.stream().str();
        };
    };
    answerWith("products", productList("first"));
    OstrelData::ProductMap& productS = Factory::products();
    EXPECT_EQ("first", productS.at(7701).description());
    answerWith("products", productList("second"));
    EXPECT_EQ(&productS, &Factory::products());
    EXPECT_EQ("first", productS.at(7701).description()) << "a cached entry stays as it was";
    EXPECT_EQ(1u, productS.count(7702));
}

TEST_F(ClientFactory, ListsOfDomainsCustomersProfilesAndTeamsFillTheirCaches)
{
    OstrelData::Customer other("CF-OTHER", "Other");
    answerWith("domains", [&](const Vesk::XMLDoc&) {
        OstrelData::DomainMap domainS{{"CF-LIST-D", OstrelData::Domain(other, "CF-LIST-D")}};
        Vesk::XMLDoc reply = Factory::Envelope::response("domains");
        Factory::DomainMap::toXML(reply.rootNode(), domainS);
        return reply.stream().str();
    });
    EXPECT_EQ("CF-OTHER", Factory::domains().at("CF-LIST-D").customer()->customer());
    EXPECT_EQ(1u, Factory::cachedCustomers().count("CF-OTHER")) << "decoding a domain caches its customer";

    answerWith("customers", [&](const Vesk::XMLDoc&) {
        OstrelData::CustomerMap customerS{{"CF-LIST-C", OstrelData::Customer("CF-LIST-C", "Listed")}};
        Vesk::XMLDoc reply = Factory::Envelope::response("customers");
        Factory::CustomerMap::toXML(reply.rootNode(), customerS);
        return reply.stream().str();
    });
    EXPECT_EQ("Listed", Factory::customers().at("CF-LIST-C").name());

    answerWith("profiles", [&](const Vesk::XMLDoc&) {
        OstrelData::ProfileMap profileS;
        profileS.emplace("CF-LIST-P", OstrelData::Profile("CF-LIST-P", true));
        Vesk::XMLDoc reply = Factory::Envelope::response("profiles");
        Factory::ProfileMap::toXML(reply.rootNode(), profileS);
        return reply.stream().str();
    });
    EXPECT_FALSE(Factory::profiles().at("CF-LIST-P").isDefault());

    answerWith("teams", [&](const Vesk::XMLDoc&) {
        OstrelData::TeamMap teamS{{8802, OstrelData::Team(other, 8802, "Listed team")}};
        Vesk::XMLDoc reply = Factory::Envelope::response("teams");
        Factory::TeamMap::toXML(reply.rootNode(), teamS);
        return reply.stream().str();
    });
    EXPECT_EQ("Listed team", Factory::teams().at(8802).name());
    EXPECT_EQ("CF-OTHER", Factory::teams().at(8802).customer().customer());
}

TEST_F(ClientFactory, WhoReturnsTheLoggedInUsers)
{
    answerWith("who", [this](const Vesk::XMLDoc&) {
        OstrelDataXML::AuthenticatedUserMap userS{{_user.key(), loggedIn()}};
        Vesk::XMLDoc reply = Factory::Envelope::response("who");
        Factory::AuthenticatedUserMap::toXML(reply.rootNode(), userS);
        return reply.stream().str();
    });
    OstrelDataXML::AuthenticatedUserMap userS = Factory::who();
    ASSERT_EQ(1u, userS.size());
    EXPECT_EQ("S-77", userS.at(_user.key()).session().str());
}

TEST_F(ClientFactory, AboutListsVersionsByPrefixAndName)
{
    _daemon.answer("about", "<ostrelservice response=\"about\" xmlns:Ostrel=\"urn:x\"><about>"
                            "<Ostrel:OstrelData>5.0.4.0</Ostrel:OstrelData><ostreld>1.2.3.4</ostreld>"
                            "</about></ostrelservice>");
    std::map<std::string, Corvel::Version> versionS = Factory::about();
    ASSERT_EQ(2u, versionS.size());
    EXPECT_EQ(Corvel::Version(5, 0, 4, 0), versionS.at("Ostrel::OstrelData"));
    EXPECT_EQ(Corvel::Version(1, 2, 3, 4), versionS.at("::ostreld"));

    _daemon.answer("about", xml_test::exceptionResponse("about-failed", 7001, "no"));
    EXPECT_TRUE(Factory::about().empty()) << "an exception is not looked at";
    _daemon.answer("about", "<ostrelservice response=\"about\"/>");
    EXPECT_TRUE(Factory::about().empty());
    _daemon.answer("about", "<ostrelservice response=\"about\"><about><x>five</x></about></ostrelservice>");
    expectFailure(OstrelData::nNAX_MALFORMEDXML, "Bad version in x node in about response.", [] { Factory::about(); });
}

TEST_F(ClientFactory, ReinitializeNeedsItsConfirmation)
{
    _daemon.answer("reloadfactory", Factory::Envelope::response("reloadfactory").stream().str());
    EXPECT_NO_THROW(Factory::reinitialize());
    _daemon.answer("reloadfactory", xml_test::exceptionResponse("failed", 1021, "db down"));
    expectFailure(OstrelData::nNAX_MALFORMEDXML, "No reloadfactory response", [] { Factory::reinitialize(); });
}

TEST_F(ClientFactory, MalformedPayloadReportsTheCodecMessage)
{
    _daemon.answer("who", "<ostrelservice response=\"who\"><authenticatedusers><authenticateduser/>"
                          "</authenticatedusers></ostrelservice>");
    expectFailure(OstrelData::nNAX_MALFORMEDXML, "No user node in AuthenticatedUser.", [] { Factory::who(); });
}

TEST_F(ClientFactory, SilentDaemonTimesOut)
{
    _daemon.answer("who", "");
    OstrelDataXML::testhooks::setResponseWaitMs(20);
    expectFailure(OstrelData::nNAX_RESPONSETIMEOUT, "Request sent with no response (timeout).", [] { Factory::who(); });
}
