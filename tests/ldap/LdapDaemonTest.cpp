// ostreld with two domains of customer ACME: EAST on the SQL password plug-in, DIR on the LDAP
// plug-in against a slapd of the test's own. Logins in each, a grant that reaches a directory user
// through the team his directory group maps onto, and the directory stopped while the daemon runs.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "daemon/DaemonHarness.h"
#include "LdapHarness.h"
#include "OstrelDataXML/OstrelFactory.h"

namespace {

using namespace DaemonTest;
using Codec = OstrelDataXML::Factory;
using Vesk::XMLDoc;

bool hasPermission(const OstrelData::User& user, int nProduct, int nPermission)
{
    auto it = user.products().find(nProduct);
    if (it == user.products().end()) return false;
    auto itPermission = it->second.permissions().find(nPermission);
    return itPermission != it->second.permissions().end() && itPermission->second.hasPermission();
}

OstrelData::AuthenticatedUser userOf(const XMLDoc& reply)
{
    return Codec::AuthenticatedUser::fromXML(reply.rootNode()->findChild("authenticateduser"));
}

// The sample model plus domain DIR on library 2 (the LDAP plug-in, search-then-bind with the reader
// account), its group "ops" mapped onto team 7 (granted role Operator of product 10, which carries
// permissions 1 and 2) with lead group "ops-leads".
void addDirectoryDomain(const SampleDatabase& db, const LdapTest::Slapd& slapd)
{
    db.admin({"library", "add", "2", "LDAP directory", "--file", OSTREL_TEST_AUTHLDAP_PLUGIN});
    db.admin({"domain", "add", "DIR", "ACME", "--library", "2", "--user-tools", "no"});
    for (const auto& param : LdapTest::searchParams(slapd))
        db.admin({"param", "set", "domain", "DIR", param.first, param.second});
    db.admin({"param", "set", "library", "2", "timeout_ms", "1500"});
    db.admin({"teammap", "add", "7", "DIR", "ops", "--lead-group", "ops-leads"});
    db.admin({"teammap", "add", "8", "DIR", "devs"});
}

TEST(LdapDaemon, LoginsInBothDomainsGrantsThroughDirectoryGroupsAndADirectoryThatComesBack)
{
    LdapTest::Slapd slapd(true);
    SampleDatabase db("sqlite");
    addDirectoryDomain(db, slapd);
    EXPECT_EQ("8\tDIR\tdevs\t\n7\tDIR\tops\tops-leads\n", db.admin({"teammap", "list", "DIR"}));
    DaemonProcess daemon(db.connectString());
    WireClient client(daemon.address());
    client.initialize();

    XMLDoc bob = client.authenticate("EAST", "bob", "bob-pw");
    ASSERT_EQ("authenticateduser", responseOf(bob)) << legendOf(bob);
    EXPECT_TRUE(hasPermission(userOf(bob), 10, 1));

    XMLDoc alice = client.authenticate("DIR", "alice", "alice-pw");
    ASSERT_EQ("authenticateduser", responseOf(alice)) << legendOf(alice);
    OstrelData::AuthenticatedUser aliceUser = userOf(alice);
    EXPECT_EQ("Alice Liddell", aliceUser.name());
    EXPECT_EQ(1u, aliceUser.teams().count(7));
    EXPECT_TRUE(hasPermission(aliceUser, 10, 1)) << "granted to team 7, which her group ops maps onto";
    EXPECT_TRUE(hasPermission(aliceUser, 10, 2));
    EXPECT_FALSE(hasPermission(aliceUser, 10, 3));
    EXPECT_FALSE(hasPermission(aliceUser, 0, 7)) << "EAST/alice's grants are not DIR/alice's";

    XMLDoc erin = client.authenticate("DIR", "erin", "erin-pw");
    ASSERT_EQ("authenticateduser", responseOf(erin)) << legendOf(erin);
    EXPECT_FALSE(hasPermission(userOf(erin), 10, 1)) << "in no mapped group";

    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, errorCodeOf(client.authenticate("DIR", "alice", "bob-pw")));
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, errorCodeOf(client.authenticate("DIR", "nobody", "x")));
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, errorCodeOf(client.authenticate("DIR", "bob", "")));

    // The directory goes away: DIR's logins fail clearly and soon, EAST's go on.
    slapd.halt();
    const auto tStart = std::chrono::steady_clock::now();
    XMLDoc down = client.authenticate("DIR", "alice", "alice-pw");
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::seconds(5));
    EXPECT_EQ(OstrelData::nNAX_SEARCHEXECFAILED, errorCodeOf(down)) << legendOf(down);
    // Where the directory is and what it said are for the operator's log, not for the client.
    EXPECT_EQ(std::string::npos, legendOf(down).find(slapd.ldapUrl())) << legendOf(down);
    EXPECT_TRUE(daemon.waitForLog("LDAP directory " + slapd.ldapUrl())) << daemon.log();
    EXPECT_EQ("authenticateduser", responseOf(client.authenticate("EAST", "carol", "carol-pw")));

    slapd.resume();
    XMLDoc back = client.authenticate("DIR", "bob", "bob-pw");
    EXPECT_EQ("authenticateduser", responseOf(back)) << legendOf(back);
    EXPECT_TRUE(hasPermission(userOf(back), 10, 1));
    EXPECT_TRUE(daemon.waitForLog("Login refused for DIR/nobody"));
    EXPECT_EQ(std::string::npos, daemon.log().find("alice-pw"));
    EXPECT_EQ(std::string::npos, daemon.log().find("reader-pw"));
}

} // namespace
