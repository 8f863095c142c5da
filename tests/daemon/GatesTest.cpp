// The daemon's gates against hostile load: turns for login work shared between peers, failures
// slowing their own address down, and a bound on what requests parsed at once may build.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Gates.h"

namespace {

using namespace std::chrono_literals;

// Waits until the condition holds, at most a few seconds.
template <class Condition>
bool eventually(Condition condition)
{
    for (int i = 0; i < 500 && !condition(); ++i)
        std::this_thread::sleep_for(10ms);
    return condition();
}

TEST(FairSlots, QuietPeerGetsTheNextTurnHoweverManyAFlooderQueued)
{
    Ostreld::FairSlots slots(1);
    slots.acquire("holder");
    std::mutex mx;
    std::vector<std::string> orderS;
    std::atomic<int> nQueued{0};
    auto waiter = [&](const std::string& strPeer) {
        return std::thread([&, strPeer] {
            ++nQueued;
            slots.acquire(strPeer);
            {
                std::lock_guard<std::mutex> lock(mx);
                orderS.push_back(strPeer);
            }
            slots.release();
        });
    };
    std::vector<std::thread> threadS;
    for (int i = 0; i < 8; ++i)
        threadS.push_back(waiter("flooder"));
    ASSERT_TRUE(eventually([&] { return nQueued == 8; }));
    std::this_thread::sleep_for(300ms);  // all eight are waiting, not just started
    threadS.push_back(waiter("quiet"));
    ASSERT_TRUE(eventually([&] { return nQueued == 9; }));
    std::this_thread::sleep_for(300ms);
    slots.release();
    for (std::thread& thread : threadS)
        thread.join();
    ASSERT_EQ(9u, orderS.size());
    EXPECT_EQ("quiet", orderS[1]) << "the quiet peer waits for one turn of the flooder's, not eight";
}

TEST(FairSlots, PeersThatPaceTheirLoginsDoNotStarveOneWithABacklog)
{
    Ostreld::FairSlots slots(1);
    slots.acquire("holder");
    std::mutex mx;
    std::vector<std::string> orderS;
    std::atomic<int> nQueued{0};
    auto turn = [&](const std::string& strPeer) {
        slots.acquire(strPeer);
        {
            std::lock_guard<std::mutex> lock(mx);
            orderS.push_back(strPeer);
        }
        slots.release();
    };
    std::vector<std::thread> threadS;
    for (int i = 0; i < 2; ++i)
        threadS.emplace_back([&] { ++nQueued; turn("backlog"); });
    // Each of these asks again as soon as its turn is over, so it never has two waiting.
    for (const char* pszPeer : {"paced-a", "paced-b"})
        threadS.emplace_back([&, pszPeer] {
            ++nQueued;
            for (int i = 0; i < 6; ++i)
                turn(pszPeer);
        });
    ASSERT_TRUE(eventually([&] { return nQueued == 4; }));
    std::this_thread::sleep_for(300ms);
    slots.release();
    for (std::thread& thread : threadS)
        thread.join();
    const auto itSecond = std::find(std::find(orderS.begin(), orderS.end(), "backlog") + 1, orderS.end(), "backlog");
    ASSERT_NE(orderS.end(), itSecond);
    EXPECT_LE(itSecond - orderS.begin(), 4) << "the backlog waits a round, not for every paced turn";
}

TEST(FailureDelay, SpacesOutAnAddressTriesAfterItsFailuresWhoeverTheyWereFor)
{
    Ostreld::FailureDelay delay;
    for (int i = 0; i < Ostreld::FailureDelay::nFree; ++i)
        delay.failed("10.0.0.1");
    EXPECT_EQ(0, delay.delayFor("10.0.0.1").count());
    delay.failed("10.0.0.1");
    EXPECT_EQ(100, delay.delayFor("10.0.0.1").count());
    // Tries made at once queue behind each other rather than all waiting the same.
    EXPECT_GT(delay.delayFor("10.0.0.1").count(), 100);
    for (int i = 0; i < 40; ++i)
        delay.failed("10.0.0.2");
    EXPECT_LE(delay.delayFor("10.0.0.2").count(), 5000);
    EXPECT_GE(delay.delayFor("10.0.0.2").count(), 9900);
    EXPECT_EQ(0, delay.delayFor("10.0.0.3").count()) << "another address is not slowed down";
    Ostreld::FailureDelay off(0);
    for (int i = 0; i < 10; ++i)
        off.failed("10.0.0.1");
    EXPECT_EQ(0, off.delayFor("10.0.0.1").count());
}

TEST(ParseBudget, LargeRequestsWaitForRoomAPeerTakesAQuarterAndSmallOnesPass)
{
    Ostreld::ParseBudget budget(2000, 8000);
    EXPECT_TRUE(budget.acquire("a", 2000, 0ms));
    EXPECT_FALSE(budget.acquire("a", 2000, 0ms)) << "a peer holds at most a quarter";
    EXPECT_TRUE(budget.acquire("b", 2000, 0ms));
    EXPECT_TRUE(budget.acquire("c", 2000, 0ms));
    EXPECT_TRUE(budget.acquire("d", 2000, 0ms));
    EXPECT_FALSE(budget.acquire("e", 2000, 50ms));
    EXPECT_TRUE(budget.acquire("e", Ostreld::ParseBudget::nSmall, 0ms)) << "small requests are not counted";
    std::thread releaser([&] {
        std::this_thread::sleep_for(300ms);
        budget.release("a", 2000);
    });
    EXPECT_TRUE(budget.acquire("e", 2000, 5000ms));
    releaser.join();
}

// A SIGHUP may lower the bound under what requests hold at that moment: the room is owed until they
// give theirs back, and nothing is lost when it is raised again.
TEST(ParseBudget, NewBoundsCountAgainstWhatIsHeld)
{
    Ostreld::ParseBudget budget(2000, 8000);
    ASSERT_TRUE(budget.acquire("a", 2000, 0ms));
    ASSERT_TRUE(budget.acquire("b", 2000, 0ms));
    budget.setLimits(1500, 3000);
    EXPECT_EQ(1500u, budget.perRequest());
    EXPECT_FALSE(budget.acquire("c", 1200, 0ms)) << "4000 held of 3000";
    budget.release("a", 2000);
    EXPECT_FALSE(budget.acquire("c", 1200, 0ms)) << "2000 held of 3000";
    budget.release("b", 2000);
    EXPECT_TRUE(budget.acquire("c", 1200, 0ms));
    budget.setLimits(2000, 8000);
    for (const char* pszPeer : {"d", "e", "f"})
        EXPECT_TRUE(budget.acquire(pszPeer, 2000, 0ms)) << pszPeer;
    EXPECT_FALSE(budget.acquire("g", 1100, 0ms)) << "7200 held of 8000";
}

} // namespace
