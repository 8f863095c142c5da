// The health answer while the database is being asked: what a second scrape is told meanwhile.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "Metrics.h"

namespace {

TEST(Health, AProbeHungOnTheDatabaseDoesNotLeaveAnOldAnswerStanding)
{
    Ostreld::Metrics metrics({"login"});
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> nAsked{0};
    Ostreld::Metrics::Sources sources;
    sources.healthProblem = [&] {
        if (nAsked++ > 0) released.wait();
        return std::string();
    };
    metrics.setSources(sources);
    EXPECT_EQ("", metrics.healthProblem());
    // Past the time an answer is kept, the next scrape asks again, and hangs there.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    std::thread hung([&] { metrics.healthProblem(); });
    const auto tGiveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (nAsked < 2 && std::chrono::steady_clock::now() < tGiveUp) std::this_thread::yield();
    EXPECT_EQ("", metrics.healthProblem()) << "a young probe's last answer stands";
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ("the database does not answer", metrics.healthProblem());
    release.set_value();
    hung.join();
}

} // namespace
