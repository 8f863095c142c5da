// The pool of database handles: counting, growth, reuse of the earliest idle entry, copies of
// connections, refused connect strings and many threads at once; on every engine.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iterator>
#include <thread>
#include <vector>

#include "DalFixture.h"
#include "OstrelDal/PoolSeam.h"
#include "VeskDal/DalDynamic.h"

using namespace OstrelDal;
using OstrelDalTest::capturedStdout;

namespace {

OstrelDB* entryAt(size_t nIndex)
{
    return poolEntries().at(nIndex);
}

size_t poolSize()
{
    return poolEntries().size();
}

int idleEntries()
{
    int nIdle = 0;
    for (const OstrelDB* pentry : poolEntries()) {
        nIdle += pentry->inUse() ? 0 : 1;
    }
    return nIdle;
}

// Runs fn and returns the DalDatabaseException it threw; fails the test when it threw none.
template <class Fn>
VeskDal::DalDatabaseException caught(Fn fn)
{
    try {
        fn();
    } catch (const VeskDal::DalDatabaseException& e) {
        return e;
    }
    ADD_FAILURE() << "no VeskDal::DalDatabaseException";
    return VeskDal::DalDatabaseException("", 0, 0, 0, "");
}

class DalPool : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { _pscratch = std::make_unique<OstrelTest::ScratchDatabase>(GetParam()); }

    void TearDown() override
    {
        // The pool's handles go before the scratch database does.
        try {
            disconnect();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "disconnect: " << e.what();
        }
        setStatementEcho(echoStdout);
    }

    void connectPool() { connect(_pscratch->connectString()); }

    std::unique_ptr<OstrelTest::ScratchDatabase> _pscratch;
};

TEST_P(DalPool, ConnectOpensTenIdleHandlesOnTheNamedSchema)
{
    connectPool();
    ASSERT_EQ(10u, poolSize());
    EXPECT_EQ(10, idleEntries());
    for (const OstrelDB* pentry : poolEntries()) {
        ASSERT_NE(nullptr, pentry->database());
        EXPECT_TRUE(pentry->database()->isOpen());
        EXPECT_EQ(GetParam(), pentry->database()->engine());
    }
    EXPECT_EQ(_pscratch->parameters().at("database"), schema().name());
    EXPECT_EQ(_pscratch->parameters(), poolParameters());
}

TEST_P(DalPool, EleventhConnectionOpensOneMoreHandleAndSaysSo)
{
    connectPool();
    std::vector<Connection> heldS;
    std::string strOutput = capturedStdout([&] {
        for (int n = 0; n < 10; ++n) {
            heldS.push_back(connection());
        }
    });
    EXPECT_EQ("", strOutput);
    EXPECT_EQ(0, idleEntries());

    strOutput = capturedStdout([&] { heldS.push_back(connection()); });
    EXPECT_EQ("Adding new connection. Count=11\n", strOutput);
    ASSERT_EQ(11u, poolSize());
    EXPECT_EQ(entryAt(10), heldS.back().entry());
    EXPECT_TRUE(heldS.back().db().isOpen());

    // Released entries are reused; the pool does not grow again.
    heldS.erase(heldS.begin() + 3);
    strOutput = capturedStdout([&] { heldS.push_back(connection()); });
    EXPECT_EQ("", strOutput);
    EXPECT_EQ(entryAt(3), heldS.back().entry());
    EXPECT_EQ(11u, poolSize());

    heldS.clear();
    EXPECT_EQ(11, idleEntries());
}

TEST_P(DalPool, EarliestIdleEntryIsHandedOutFirst)
{
    connectPool();
    auto pa = std::make_unique<Connection>(connection());
    auto pb = std::make_unique<Connection>(connection());
    Connection c = connection();
    EXPECT_EQ(entryAt(0), pa->entry());
    EXPECT_EQ(entryAt(1), pb->entry());
    EXPECT_EQ(entryAt(2), c.entry());

    pb.reset();
    EXPECT_EQ(entryAt(1), connection().entry());
    pa.reset();
    pb = std::make_unique<Connection>(connection());
    EXPECT_EQ(entryAt(0), pb->entry());
    EXPECT_EQ(entryAt(1), connection().entry());
}

TEST_P(DalPool, EveryCopyOfAConnectionCounts)
{
    connectPool();
    Connection a = connection();
    OstrelDB* pentry = a.entry();
    EXPECT_EQ(1, pentry->usageCount());
    {
        Connection b(a);
        EXPECT_EQ(2, pentry->usageCount());
        EXPECT_EQ(&a.db(), &b.db());
    }
    EXPECT_EQ(1, pentry->usageCount());
    EXPECT_TRUE(pentry->inUse());

    Connection c = connection();
    OstrelDB* pother = c.entry();
    ASSERT_NE(pentry, pother);
    c = a;
    EXPECT_EQ(0, pother->usageCount());
    EXPECT_EQ(2, pentry->usageCount());

    Connection& self = c;
    c = self;
    EXPECT_EQ(2, pentry->usageCount());
    EXPECT_EQ(pentry, c.entry());

    Connection none(nullptr);
    none = a;
    EXPECT_EQ(3, pentry->usageCount());
    none = Connection(nullptr);
    EXPECT_EQ(2, pentry->usageCount());
    EXPECT_EQ(VeskDal::DDBERR_NOTOPEN, caught([&] { none.db(); }).errorCode());
}

TEST_P(DalPool, ConnectionConvertsToItsDatabaseHandle)
{
    connectPool();
    Connection c = connection();
    VeskDal::DalDatabase& database = c;
    EXPECT_EQ(c.entry()->database(), &database);
    OstrelDalTest::loadSchema(database, GetParam());
    setStatementEcho(echoOff);
    ProductQuery query(schema());
    VeskDal::DalDatabase::Result result;
    EXPECT_EQ(0, query.select(result, c, VeskDal::SqlQueryBase::full));
}

TEST_P(DalPool, SecondConnectLeavesExactlyTenNewEntries)
{
    connectPool();
    {
        std::vector<Connection> heldS;
        for (int n = 0; n < 11; ++n) {
            heldS.push_back(connection());
        }
    }
    ASSERT_EQ(11u, poolSize());
    connectPool();
    EXPECT_EQ(10u, poolSize());
    EXPECT_EQ(10, idleEntries());
}

TEST_P(DalPool, DisconnectWhileAConnectionIsHeldIsRefused)
{
    connectPool();
    {
        Connection held = connection();
        auto e = caught([] { disconnect(); });
        EXPECT_EQ(VeskDal::DDBERR_USER, e.errorCode());
        EXPECT_EQ(10u, poolSize());
        EXPECT_TRUE(held.db().isOpen());
    }
    disconnect();
    EXPECT_EQ(0u, poolSize());
}

TEST_P(DalPool, ThreadsTakingConnectionsAtOnceNeverShareAHandle)
{
    connectPool();
    {
        Connection setup = connection();
        OstrelDalTest::loadSchema(setup, GetParam());
    }
    setStatementEcho(echoOff);
    constexpr int nThreads = 12;
    constexpr int nRounds = 25;
    std::atomic<int> nShared{0};
    std::atomic<int> nFailures{0};
    std::string strOutput = capturedStdout([&] {
        std::vector<std::thread> threadS;
        for (int nThread = 0; nThread < nThreads; ++nThread) {
            threadS.emplace_back([&] {
                for (int nRound = 0; nRound < nRounds; ++nRound) {
                    try {
                        Connection c = connection();
                        if (c.entry()->usageCount() != 1) {
                            ++nShared;
                        }
                        Connection copy(c);
                        ProductQuery query(schema());
                        query.constrainProduct(VeskDal::SqlInteger(nRound));
                        VeskDal::DalDatabase::Result result;
                        query.select(result, copy, VeskDal::SqlQueryBase::full);
                    } catch (const std::exception&) {
                        ++nFailures;
                    }
                }
            });
        }
        for (std::thread& thread : threadS) {
            thread.join();
        }
    });
    EXPECT_EQ(0, nShared.load());
    EXPECT_EQ(0, nFailures.load());
    EXPECT_LE(poolSize(), static_cast<size_t>(nThreads));
    EXPECT_EQ(static_cast<int>(poolSize()), idleEntries());
    // One announcement per handle beyond the first ten.
    EXPECT_EQ(poolSize() - 10, OstrelDalTest::lines(strOutput).size());
}

// A unit of work's reads: one handle for the thread while it lasts (copies and a nested unit
// included, other threads not), and on SQLite one lock of the file held across a layer's own
// batch, let go while paused and at the end. A writer that never waits shows the lock.
TEST_P(DalPool, ThreadReadsKeepOneHandleAndOneViewUntilTheyEnd)
{
    connectPool();
    {
        Connection setup = connection();
        OstrelDalTest::loadSchema(setup, GetParam());
    }
    setStatementEcho(echoOff);
    const bool bHeld = GetParam() == "sqlite";
    VeskDal::DalDatabase::ConnectionParameterMap parameterS = _pscratch->parameters();
    if (bHeld) parameterS["busy_timeout"] = "0";
    std::unique_ptr<VeskDal::DalDatabase> pwriter(VeskDal::DalDynamic::dalDatabase(GetParam()));
    pwriter->open(parameterS);
    int nCustomer = 0;
    auto written = [&] {
        VeskDal::SqlTable table(schema(), "Customer");
        VeskDal::SqlInsertStatement insert(table);
        insert.addColumn(VeskDal::SqlColumn(table, "Customer"), VeskDal::SqlText("C" + std::to_string(++nCustomer)));
        try {
            return pwriter->execute(insert) == 1;
        } catch (const VeskDal::DalDatabaseException&) {
            return false;
        }
    };
    auto read = [] {
        CustomerQuery query(schema());
        VeskDal::DalDatabase::Result result;
        return query.select(result, connection(), VeskDal::SqlQueryBase::full);
    };
    Connection before = connection();
    {
        ThreadReads reads;
        OstrelDB* pentry = connection().entry();
        EXPECT_NE(before.entry(), pentry);
        {
            ThreadReads nested;
            Connection copy = connection();
            EXPECT_EQ(pentry, connection().entry());
            EXPECT_EQ(pentry, copy.entry());
        }
        OstrelDB* pelsewhere = nullptr;
        std::thread([&] { pelsewhere = connection().entry(); }).join();
        EXPECT_NE(pentry, pelsewhere);

        EXPECT_EQ(0, read());
        {
            VeskDal::DalReads layer(connection().db());
            EXPECT_EQ(0, read());
        }
        EXPECT_EQ(!bHeld, written());
        {
            ReadsPause pause;
            EXPECT_TRUE(written());
        }
        const int nSeen = read();
        EXPECT_EQ(!bHeld, written());
        EXPECT_EQ(nSeen + (bHeld ? 0 : 1), read());
    }
    EXPECT_TRUE(written());
    // Outside it the pool hands out idle entries again.
    EXPECT_EQ(1, connection().entry()->usageCount());
    EXPECT_EQ(nCustomer - (bHeld ? 2 : 0), read());
}

INSTANTIATE_TEST_SUITE_P(Engines, DalPool, ::testing::ValuesIn(OstrelTest::testEngines()), OstrelTest::engineTestName);

// Connect strings the pool refuses, and engines it cannot reach. No server needed.
class DalPoolRefusal : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szPath[] = "/tmp/ostrel-pool-XXXXXX";
        int fd = mkstemp(szPath);
        ASSERT_GE(fd, 0);
        close(fd);
        _strFile = szPath;
    }

    void TearDown() override
    {
        disconnect();
        std::remove(_strFile.c_str());
    }

    std::string sqlite(const std::string& strDatabase) const
    {
        return "engine=sqlite;database=" + strDatabase + ";file=" + _strFile;
    }

    std::string _strFile;
};

TEST_F(DalPoolRefusal, ConnectWithoutDatabaseFailsAndLeavesThePoolEmpty)
{
    connect(sqlite("first"));
    ASSERT_EQ(10u, poolSize());

    auto e = caught([&] { connect("engine=sqlite;file=" + _strFile); });
    EXPECT_EQ(VeskDal::DDBERR_USER, e.errorCode());
    EXPECT_EQ("No Schema/Database specified", e.nativeExplanation());
    EXPECT_EQ(0u, poolSize());
    EXPECT_EQ("first", schema().name());
    EXPECT_EQ("sqlite", poolParameters().at("engine"));
    EXPECT_EQ(0u, poolParameters().count("database"));
}

TEST_F(DalPoolRefusal, ConnectWithoutEngineOpensMysqlHandles)
{
    // "file" means nothing to the MySQL driver, which refuses it by name before reaching out.
    auto e = caught([&] { connect("database=ostrel;file=" + _strFile); });
    EXPECT_EQ(VeskDal::DDBERR_PARAMETER, e.errorCode());
    EXPECT_NE(std::string::npos, e.nativeExplanation().find("engine mysql")) << e.nativeExplanation();
    EXPECT_EQ(0u, poolSize());
    EXPECT_EQ("ostrel", schema().name());
}

TEST_F(DalPoolRefusal, SecondConnectSwitchesTheSchema)
{
    connect(sqlite("first"));
    connect(sqlite("second"));
    EXPECT_EQ("second", schema().name());
    EXPECT_EQ("second", poolParameters().at("database"));
    EXPECT_EQ(10u, poolSize());
}

TEST_F(DalPoolRefusal, HandleThatCannotOpenLeavesTheSchemaSetAndThePoolEmpty)
{
    auto e = caught([] { connect("engine=sqlite;database=s1;file=/nonexistent-directory/ostrel.db"); });
    EXPECT_EQ(VeskDal::DDBERR_CONNECT, e.errorCode());
    EXPECT_EQ("s1", schema().name());
    EXPECT_EQ(0u, poolSize());
}

TEST_F(DalPoolRefusal, UnknownEngineIsReportedAndTheLockReleased)
{
    EXPECT_EQ(VeskDal::DDBERR_UNKNOWNENGINE, caught([] { connect("engine=nosuch;database=x"); }).errorCode());
    EXPECT_EQ(0u, poolSize());
    // Growing the empty pool meets the same engine; a lock left held would hang the second call.
    EXPECT_EQ(VeskDal::DDBERR_UNKNOWNENGINE, caught([] { connection(); }).errorCode());
    EXPECT_EQ(VeskDal::DDBERR_UNKNOWNENGINE, caught([] { connection(); }).errorCode());
}

TEST_F(DalPoolRefusal, ConnectionBeforeAnyConnectTriesMysqlWithNoParameters)
{
    setPoolParameters(VeskDal::DalDatabase::ConnectionParameterMap());
    std::string strOutput;
    auto e = caught([&] { strOutput = capturedStdout([] { connection(); }); });
    EXPECT_TRUE(e.errorCode() == VeskDal::DDBERR_CONNECT || e.errorCode() == VeskDal::DDBERR_PARAMETER)
        << e.nativeExplanation();
    EXPECT_EQ(0u, poolSize());
    EXPECT_EQ(e.errorCode(), caught([] { connection(); }).errorCode());
}

TEST_F(DalPoolRefusal, GrowingFailureLeavesThePoolUnchanged)
{
    connect(sqlite("s"));
    std::vector<Connection> heldS;
    for (int n = 0; n < 10; ++n) {
        heldS.push_back(connection());
    }
    // The next handle opens with the parameters the pool holds then.
    VeskDal::DalDatabase::ConnectionParameterMap parameterS = poolParameters();
    parameterS["file"] = "/nonexistent-directory/ostrel.db";
    setPoolParameters(parameterS);
    EXPECT_EQ(VeskDal::DDBERR_CONNECT, caught([] { connection(); }).errorCode());
    EXPECT_EQ(10u, poolSize());
    heldS.pop_back();
    EXPECT_EQ(entryAt(9), connection().entry());
}

} // namespace
