// The database going away under a running daemon: requests meanwhile fail clearly, and the daemon
// carries on by itself once it is back. Restarting the shared server drops every session on it,
// so these tests run alone.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "DaemonHarness.h"
#include "OstrelDataXML/OstrelFactory.h"

namespace {

using namespace DaemonTest;
using Codec = OstrelDataXML::Factory;

void restartServer(const std::string& strEngine)
{
    const std::string strCommand = std::string("bash '") + OSTREL_DBSERVERS_SCRIPT + "' restart '" +
                                   OstrelTest::dbserversDirectory() + "' " + strEngine + " >/dev/null";
    ASSERT_EQ(0, std::system(strCommand.c_str())) << strCommand;
}

TEST(DatabaseOutage, KeptSessionsAndModelChangesCarryOnAfterTheServerRestarted)
{
    SampleDatabase db("postgresql");
    // Changes come by notification only (the interval is far away): the daemon must listen anew.
    DaemonProcess daemon(db.connectString(), {"--reload-interval", "600"});
    const std::string strBob = keptSession(daemon, "bob");
    restartServer("postgresql");
    EXPECT_EQ("authenticateduser", responseOf(retrieved(daemon, strBob)));
    EXPECT_EQ("authenticateduser", responseOf(loggedIn(daemon, "carol")->simple("authenticateduser")));

    // The listening connection broke with the restart; it listens again within a round.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    db.admin({"grant", "add", "user", "EAST/carol", "10", "role", "2"});
    bool bSeen = false;
    for (int i = 0; i < 50 && !bSeen; ++i) {
        Vesk::XMLDoc me = loggedIn(daemon, "carol")->simple("authenticateduser");
        bSeen = hasRole(Codec::AuthenticatedUser::fromXML(me.rootNode()->findChild("authenticateduser")), 10, 2);
        if (!bSeen) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(bSeen) << daemon.log();
}

} // namespace
