// The kept-session stores' own rules, on a real SQLite database for the database's store.

#include <gtest/gtest.h>

#include <ctime>

#include "DaemonHarness.h"
#include "OstrelDal/OstrelDB.h"
#include "SessionStore.h"

namespace {

// A session kept longer ago than the lifetime has ended, whether or not a clean-up round has
// removed it yet: the kept-sessions gauge must not count it.
TEST(SessionStore, CountLeavesOutSessionsKeptBeforeTheLifetime)
{
    DaemonTest::SampleDatabase db("sqlite");
    OstrelDal::connect(db.connectString());
    Ostreld::MemorySessionStore memory(1800);
    memory.keep("session-of-alice", {"EAST", "alice"}, "default", "");
    Ostreld::DatabaseSessionStore(1800).keep("session-of-alice", {"EAST", "alice"}, "default", "");
    const time_t tNow = std::time(nullptr);
    EXPECT_EQ(1, memory.count(tNow - 60));
    EXPECT_EQ(0, memory.count(tNow + 1));
    // A store of its own each time: the database's count is kept a few seconds.
    EXPECT_EQ(1, Ostreld::DatabaseSessionStore(1800).count(tNow - 60));
    EXPECT_EQ(0, Ostreld::DatabaseSessionStore(1800).count(tNow + 1));
    OstrelDal::disconnect();
}

} // namespace
