#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>
#include <vector>

#include "Corvel/EventLogger.h"
#include "Corvel/Exception.h"
#include "Corvel/Semaphore.h"
#include "Corvel/StringList.h"
#include "Corvel/Version.h"

using namespace Corvel;

TEST(Version, TextRoundTrips)
{
    Version v(5, 0, 4, 0);
    EXPECT_EQ("5.0.4.0", v.text());
    EXPECT_EQ(v, Version::fromText(v.text()));
    EXPECT_TRUE(Version(5, 0, 3, 9) < v);
    EXPECT_FALSE(v < v);
}

TEST(Version, BadTextIsRefused)
{
    for (const char* psz : {"", "5", "5.0.4", "5.0.4.0.1", "5.0.x.0", "5..4.0", "-1.0.0.0", " 5.0.4.0",
                            "99999999999.0.0.0"}) {
        EXPECT_THROW(Version::fromText(psz), Corvel::Exception) << psz;
    }
}

TEST(Exception, StreamFormNamesCodePlaceAndLegend)
{
    Exception e("f.cpp", 12, CVLX_SEELEGEND, false, "it broke");
    std::ostringstream os;
    os << e;
    EXPECT_EQ("Corvel::Exception code=0 at f.cpp @ 12: it broke", os.str());
    EXPECT_STREQ("it broke", e.what());
}

TEST(Tokenize, KeepsEmptyPiecesAndSplitsAtEverySeparator)
{
    EXPECT_EQ((StringList{"a", "b", "c"}), tokenize("a/b/c", "/"));
    EXPECT_EQ((StringList{"a", "", "b"}), tokenize("a//b", "/"));
    EXPECT_EQ((StringList{""}), tokenize("", "/"));
    EXPECT_EQ((StringList{"", ""}), tokenize("/", "/"));
    EXPECT_EQ((StringList{"a::b"}), tokenize("a::b", ""));
    EXPECT_EQ((StringList{"a", "b"}), tokenize("a::b", "::"));
}

TEST(Semaphore, TimedWaitReportsTimeoutAndKeepsEarlySignals)
{
    Semaphore sem;
    EXPECT_FALSE(sem.wait(10));
    sem.signal();
    EXPECT_TRUE(sem.wait(0));
    sem.signal();
    sem.reset();
    EXPECT_FALSE(sem.wait(0));
}

TEST(Semaphore, WakesAWaiterOnAnotherThread)
{
    Semaphore sem;
    std::atomic<bool> bWoken{false};
    std::thread t([&] { bWoken = sem.wait(10000); });
    sem.signal();
    t.join();
    EXPECT_TRUE(bWoken);
}

TEST(EventLogger, OneTimestampedLinePerEventThroughTheSink)
{
    std::vector<std::string> lineS;
    EventLogger::setSink([&](const std::string& strLine) { lineS.push_back(strLine); });
    EventLogger logger("Test");
    logger.logError("first\nsecond", 5);
    logger.logWarning("warned", 1);
    logger.logInfo("a\\nb \x1b[2J\t\x7f", 1);
    logger.logDebug("dropped at the default level", 1);
    EventLogger::setSink(nullptr);
    ASSERT_EQ(3u, lineS.size());
    EXPECT_NE(std::string::npos, lineS[0].find("ERROR [Test] (layer 5) first\\nsecond"));
    EXPECT_NE(std::string::npos, lineS[1].find("WARNING [Test] (layer 1) warned"));
    // A backslash the text held is doubled, so it cannot pass for an escape; control bytes are escaped.
    EXPECT_NE(std::string::npos, lineS[2].find(") a\\\\nb \\x1b[2J\\t\\x7f")) << lineS[2];
    EXPECT_EQ('Z', lineS[0][23]) << lineS[0];
}
