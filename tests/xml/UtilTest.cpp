// The hexadecimal helpers and the key dump.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "OstrelDataXML/Util.h"

using OstrelDataXML::boo;
using OstrelDataXML::deboo;
using OstrelDataXML::dumpkey;

TEST(Hex, BooWritesTwoLowerCaseDigitsPerByteAndReplacesTheTarget)
{
    const unsigned char aby[] = {0x00, 0x0a, 0xff, 0x7B};
    std::string strTarget = "left over";
    EXPECT_EQ(0, boo(strTarget, aby, sizeof aby));
    EXPECT_EQ("000aff7b", strTarget);
    EXPECT_EQ(0, boo(strTarget, aby, 0));
    EXPECT_EQ("", strTarget);
}

TEST(Hex, DebooReadsCompletePairsAndIgnoresATrailingCharacter)
{
    unsigned char aby[2] = {0, 0};
    EXPECT_EQ(2, deboo(aby, 2, "0a0B1"));
    EXPECT_EQ(0x0a, aby[0]);
    EXPECT_EQ(0x0b, aby[1]);
}

TEST(Hex, DebooRefusesMorePairsThanRoomAndStoresNothingBeyondIt)
{
    unsigned char aby[2] = {0xee, 0xee};
    EXPECT_EQ(-1, deboo(aby, 1, "0a0B1"));
    EXPECT_EQ(0xee, aby[1]);
    EXPECT_EQ(0, deboo(nullptr, 0, "f"));
}

TEST(Hex, BooThenDebooGivesTheBytesBack)
{
    unsigned char abySource[256];
    for (int i = 0; i < 256; ++i)
        abySource[i] = static_cast<unsigned char>(i);
    std::string strHex;
    boo(strHex, abySource, sizeof abySource);
    unsigned char abyBack[256] = {};
    ASSERT_EQ(256, deboo(abyBack, sizeof abyBack, strHex));
    EXPECT_EQ(0, memcmp(abySource, abyBack, sizeof abySource));
}

TEST(KeyDump, WritesTypeAndEveryDigitOfEachPart)
{
    mp_digit aeDigits[] = {0x0001, 0x0001};
    mp_digit aNDigits[] = {0x6163, 0xd6ca, 0x00e8, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x1234};
    rsa_key key{};
    key.type = PK_PUBLIC;
    key.e = mp_int{MP_ZPOS, 2, 2, aeDigits};
    key.d = mp_int{MP_ZPOS, 0, 0, nullptr};
    key.N = mp_int{MP_ZPOS, 10, 3, aNDigits};
    testing::internal::CaptureStdout();
    dumpkey(key);
    std::string strOut = testing::internal::GetCapturedStdout();
    EXPECT_EQ("Keytype =  Public\n"
              "e\nsign=0\nalloc=2\nused=2\ndp[00]=0001  \ndp[01]=0001  \n"
              "d\nsign=0\nalloc=0\nused=0\n\n"
              "N\nsign=0\nalloc=10\nused=3\n"
              "dp[00]=6163  \ndp[01]=d6ca  dp[02]=00e8  dp[03]=0000  dp[04]=0000  dp[05]=0000  dp[06]=0000  "
              "dp[07]=0000  dp[08]=0000  \ndp[09]=1234  \n",
              strOut);
    key.type = PK_PRIVATE;
    testing::internal::CaptureStdout();
    dumpkey(key);
    EXPECT_EQ(0u, testing::internal::GetCapturedStdout().find("Keytype = Private\n"));
}
