// ostreld under TLS: what crosses the wire at a login, a renewed certificate picked up on SIGHUP,
// client certificates in the audit trail, and which peers may send passwords over plain TCP.

#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <string>

#include "DaemonHarness.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "Service.h"
#include "harness/TestPki.h"
#include "transport/TransportHelpers.h"

namespace {

using namespace DaemonTest;
using OstrelTest::TestPki;
using OstrelTest::copyFile;

Corvel::DaemonCommTls trust(const std::string& strCAFile, const std::string& strPin = std::string())
{
    Corvel::DaemonCommTls tls;
    tls.strCAFile = strCAFile;
    tls.strPin = strPin;
    return tls;
}

// "ok" when a client with that trust gets the daemon's key, else the reason.
std::string initializeOver(const std::string& strAddress, const Corvel::DaemonCommTls& tls)
{
    try {
        WireClient client(strAddress, tls);
        return responseOf(client.initialize()) == "rsa" ? "ok" : "no key";
    } catch (const std::exception& e) {
        return e.what();
    }
}

class TlsDaemon : public ::testing::Test {
protected:
    // The daemon reads its certificate from files the test may replace.
    std::vector<std::string> tlsArgs()
    {
        _strCert = _pki.dir() + "/live.pem";
        _strKey = _pki.dir() + "/live.key";
        copyFile(_pki.server().strCert, _strCert);
        copyFile(_pki.server().strKey, _strKey);
        return {"--listen", "tls:127.0.0.1:0", "--tls-cert", _strCert, "--tls-key", _strKey};
    }

    SampleDatabase _db{"sqlite"};
    TestPki _pki;
    std::string _strCert;
    std::string _strKey;
};

TEST_F(TlsDaemon, LoginLeavesNeitherPasswordNorTokenNorSessionOnTheWire)
{
    DaemonProcess daemon(_db.connectString(), tlsArgs());
    ASSERT_EQ(2u, daemon.addresses().size());
    transport_test::ByteRelay relay(daemon.addresses()[1].substr(4));
    WireClient client("tls:127.0.0.1:" + std::to_string(relay.port()), trust(_pki.caFile()));
    ASSERT_EQ("rsa", responseOf(client.initialize()));
    Vesk::XMLDoc reply = client.authenticate("EAST", "alice", "alice-pw");
    ASSERT_EQ("authenticateduser", responseOf(reply));
    const std::string strSession =
        OstrelDataXML::Factory::AuthenticatedUser::fromXML(reply.rootNode()->findChild("authenticateduser"))
            .session()
            .str();
    ASSERT_FALSE(strSession.empty());
    const std::string strSeen = relay.seen();
    EXPECT_GT(strSeen.size(), 1000u);
    EXPECT_EQ(std::string::npos, strSeen.find("alice-pw"));
    EXPECT_EQ(std::string::npos, strSeen.find(client.encrypt("alice-pw").substr(0, 40)));
    EXPECT_EQ(std::string::npos, strSeen.find("alice"));
    EXPECT_EQ(std::string::npos, strSeen.find(strSession));
}

TEST_F(TlsDaemon, RenewedCertificateIsReadOnSighupAndABrokenOneIsNot)
{
    DaemonProcess daemon(_db.connectString(), tlsArgs());
    const std::string strTls = daemon.addresses()[1];
    const std::string strOldPin = TestPki::pinOf(_pki.server().strCert);
    const std::string strNewPin = TestPki::pinOf(_pki.renewed().strCert);
    WireClient before(strTls, trust("", strOldPin));

    copyFile(_pki.renewed().strCert, _strCert);
    copyFile(_pki.renewed().strKey, _strKey);
    daemon.signal(SIGHUP);
    ASSERT_TRUE(daemon.waitForLog("TLS certificate re-read"));
    EXPECT_EQ("ok", initializeOver(strTls, trust("", strNewPin)));
    EXPECT_NE(std::string::npos, initializeOver(strTls, trust("", strOldPin)).find("pin mismatch"));
    EXPECT_EQ("rsa", responseOf(before.initialize()));  // an open connection keeps its session

    { std::ofstream(_strCert, std::ios::trunc) << "not a certificate\n"; }
    daemon.signal(SIGHUP);
    ASSERT_TRUE(daemon.waitForLog("TLS certificate not re-read"));
    EXPECT_EQ("ok", initializeOver(strTls, trust(_pki.caFile())));
}

TEST_F(TlsDaemon, ClientCertificateIsRequiredAndNamedInTheAuditTrail)
{
    std::vector<std::string> argS = tlsArgs();
    argS.insert(argS.end(), {"--tls-client-ca", _pki.caFile()});
    DaemonProcess daemon(_db.connectString(), argS);
    const std::string strTls = daemon.addresses()[1];
    EXPECT_NE("ok", initializeOver(strTls, trust(_pki.caFile())));

    Corvel::DaemonCommTls withCert = trust(_pki.caFile());
    withCert.strCertFile = _pki.client().strCert;
    withCert.strKeyFile = _pki.client().strKey;
    WireClient client(strTls, withCert);
    ASSERT_EQ("rsa", responseOf(client.initialize()));
    ASSERT_EQ("authenticateduser", responseOf(client.authenticate("EAST", "bob", "bob-pw")));
    EXPECT_TRUE(daemon.waitForLog("[certificate CN=app-01]: login succeeded: EAST/bob"));
}

TEST(PasswordTransport, TakenUnderTlsFromLoopbackOrUnixOrWhenAllowed)
{
    struct Case {
        const char* pszPeer;
        bool bLoopback;
    } caseS[] = {
        {"127.0.0.1:5000", true},     {"127.255.0.9:1", true},    {"[::1]:5000", true},
        {"[::ffff:127.0.0.1]:5", true}, {"unix:uid=0,pid=1", true}, {"tls:127.0.0.1:7421", true},
        {"127.0.0.1", true},          {"::1", true},              {"10.0.0.5:5000", false},
        {"192.0.2.7:7420", false},    {"[2001:db8::1]:5000", false}, {"[::ffff:10.0.0.1]:5", false},
        {"128.0.0.1:5", false},       {"", false},                {"garbage", false},
    };
    for (const Case& c : caseS) {
        EXPECT_EQ(c.bLoopback, Ostreld::isLoopback(c.pszPeer)) << c.pszPeer;
        EXPECT_EQ(c.bLoopback, Ostreld::passwordTransportAllowed(c.pszPeer, false, false)) << c.pszPeer;
        EXPECT_TRUE(Ostreld::passwordTransportAllowed(c.pszPeer, true, false)) << c.pszPeer;
        EXPECT_TRUE(Ostreld::passwordTransportAllowed(c.pszPeer, false, true)) << c.pszPeer;
    }
}

} // namespace
