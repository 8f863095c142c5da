// Every input kept from fuzzing, run again through the decoders.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t nSize);

TEST(FuzzCorpus, EveryKeptInputDecodesWithoutCrashing)
{
    size_t nInputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(OSTREL_FUZZ_CORPUS)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::string strInput((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().filename().string());
        EXPECT_EQ(0, LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(strInput.data()), strInput.size()));
        ++nInputs;
    }
    EXPECT_GT(nInputs, 0u);
}
