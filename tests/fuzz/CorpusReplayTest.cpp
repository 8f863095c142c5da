// Every input kept from fuzzing, run again through its harness.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzTarget.h"

namespace {

void replay(const std::string& strFolder, int (*pfnTarget)(const uint8_t*, size_t))
{
    size_t nInputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(OSTREL_FUZZ_DIR "/") + strFolder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::string strInput((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().filename().string());
        EXPECT_EQ(0, pfnTarget(reinterpret_cast<const uint8_t*>(strInput.data()), strInput.size()));
        ++nInputs;
    }
    EXPECT_GT(nInputs, 0u);
}

} // namespace

TEST(FuzzCorpus, EveryKeptInputDecodesWithoutCrashing)
{
    replay("corpus", OstrelFuzz::fuzzXml);
}

TEST(FuzzCorpus, EveryKeptFrameStreamIsCutAndAnswered)
{
    replay("corpus-frames", OstrelFuzz::fuzzFrames);
}

TEST(FuzzCorpus, EveryKeptAnonymousRequestIsAnswered)
{
    replay("corpus-requests", OstrelFuzz::fuzzRequests);
}

TEST(FuzzCorpus, EveryKeptConnectStringParsesOrIsRefused)
{
    replay("corpus-connect", OstrelFuzz::fuzzConnectString);
}

TEST(FuzzCorpus, EveryKeptSettingsFileLoadsOrIsRefused)
{
    replay("corpus-settings", OstrelFuzz::fuzzSettings);
}
