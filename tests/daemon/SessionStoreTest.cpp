// The kept-session stores' own rules, on a real SQLite database for the database's store.

#include <gtest/gtest.h>

#include <ctime>

#include "DaemonHarness.h"
#include "OstrelDal/KeptSessionQuery.h"
#include "OstrelDal/OstrelDB.h"
#include "SessionStore.h"
#include "harness/Failures.h"
#include "harness/WatchedDatabase.h"

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

// A session another daemon ends between this daemon's read of it and its renewal serves no more.
TEST(SessionStore, SessionEndedElsewhereWhileBeingRenewedIsRefused)
{
    DaemonTest::SampleDatabase db("sqlite");
    OstrelTest::WatchPool pool;
    OstrelDal::connect(db.connectString());
    Ostreld::DatabaseSessionStore store(1800), other(1800);
    store.keep("session-of-alice", {"EAST", "alice"}, "default", "");
    Ostreld::KeptSession kept;
    ASSERT_TRUE(store.find("session-of-alice", kept));
    {
        // Last used long enough ago for a use to renew it.
        OstrelDal::Connection connection = OstrelDal::connection();
        OstrelDal::KeptSessionQuery query(OstrelDal::schema());
        query.constrainSessionDigest(VeskDal::SqlText(kept.strDigest));
        query.columnLastUsed().setValue(VeskDal::SqlInteger(static_cast<std::int64_t>(std::time(nullptr) - 300)));
        ASSERT_EQ(1, query.update(connection.db()));
    }
    pool.watch().before = [&](const std::string& strSql) {
        if (strSql.rfind("UPDATE", 0) == 0) {
            EXPECT_TRUE(other.end(kept.strDigest));
        }
    };
    EXPECT_EQ(OstrelData::nNAX_BADSESSION, OstrelTest::failureOf([&] { store.use("session-of-alice"); }).errorCode());
    pool.watch().before = nullptr;
    OstrelDal::disconnect();
}

} // namespace
