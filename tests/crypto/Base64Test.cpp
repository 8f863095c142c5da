#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "crypto/base64.h"

namespace {

const unsigned char* bytes(const std::string& str)
{
    return reinterpret_cast<const unsigned char*>(str.data());
}

} // namespace

class Base64 : public ::testing::Test {
protected:
    std::string encode(const std::string& strIn)
    {
        std::vector<unsigned char> out(4 * ((strIn.size() + 2) / 3) + 1, 0xAA);
        unsigned long nOut = out.size();
        EXPECT_EQ(CRYPT_OK, base64_encode(bytes(strIn), strIn.size(), out.data(), &nOut));
        EXPECT_EQ('\0', out[nOut]);
        return std::string(reinterpret_cast<const char*>(out.data()), nOut);
    }
    int decode(const std::string& strIn, std::string& strOut, unsigned long nRoom)
    {
        std::vector<unsigned char> out(nRoom + 1, 0xAA);
        unsigned long nOut = nRoom;
        int nResult = base64_decode(bytes(strIn), strIn.size(), out.data(), &nOut);
        EXPECT_EQ(0xAA, out[nRoom]) << "wrote past the room it was given";
        if (nResult == CRYPT_OK)
            strOut.assign(reinterpret_cast<const char*>(out.data()), nOut);
        else
            EXPECT_EQ(nRoom, nOut) << "reported a length on failure";
        return nResult;
    }
};

TEST_F(Base64, StandardVectorsBothWays)
{
    const std::vector<std::pair<std::string, std::string>> vectorS = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [strPlain, strEncoded] : vectorS) {
        EXPECT_EQ(strEncoded, encode(strPlain));
        std::string strBack;
        ASSERT_EQ(CRYPT_OK, decode(strEncoded, strBack, strPlain.size())) << strEncoded;
        EXPECT_EQ(strPlain, strBack);
    }
}

TEST_F(Base64, AlphabetEndsWithPlusAndSlash)
{
    EXPECT_EQ("+/+/", encode("\xfb\xff\xbf"));
    std::string strBack;
    ASSERT_EQ(CRYPT_OK, decode("+/+/", strBack, 3));
    EXPECT_EQ("\xfb\xff\xbf", strBack);
}

TEST_F(Base64, EncoderNeedsRoomForTheNul)
{
    unsigned char aby[8];
    unsigned long nOut = 4;
    EXPECT_EQ(CRYPT_ERROR, base64_encode(bytes("foo"), 3, aby, &nOut));
    nOut = 0;
    EXPECT_EQ(CRYPT_ERROR, base64_encode(bytes(""), 0, aby, &nOut));
    nOut = 1;
    EXPECT_EQ(CRYPT_OK, base64_encode(bytes(""), 0, aby, &nOut));
    EXPECT_EQ(0u, nOut);
    EXPECT_EQ(CRYPT_ERROR, base64_encode(bytes("f"), 1, nullptr, &nOut));
}

TEST_F(Base64, DecoderRefusesMalformedText)
{
    for (const char* psz : {"Zg=", "Zg", "Z===", "====", "Zm9v YmFy", "Zm9vYmFy\n", " Zm9v", "Zm=v", "Z=g=",
                            "Zm9v\xc3\xa9\xc3\xa9", "Zm9-", "Zm9_", "Zh==", "Zm9=", "Zg==Zg=="}) {
        std::string strOut;
        EXPECT_EQ(CRYPT_ERROR, decode(psz, strOut, 64)) << psz;
    }
}

TEST_F(Base64, DecoderRefusesTooSmallAnOutput)
{
    std::string strOut;
    EXPECT_EQ(CRYPT_ERROR, decode("Zm9vYmFy", strOut, 5));
    EXPECT_EQ(CRYPT_ERROR, decode("Zm9vYg==", strOut, 3));
    EXPECT_EQ(CRYPT_OK, decode("Zm9vYg==", strOut, 4));
    EXPECT_EQ("foob", strOut);
}

TEST_F(Base64, LongRandomDataRoundTripsAcrossChunks)
{
    std::mt19937 rng(7);
    for (size_t nSize : {size_t(3071), size_t(3072), size_t(3073), size_t(100001), size_t(3 * 1024 * 1024 + 2)}) {
        std::string strPlain(nSize, '\0');
        for (char& c : strPlain)
            c = static_cast<char>(rng());
        std::string strEncoded = encode(strPlain);
        EXPECT_EQ(std::string::npos, strEncoded.find('\n'));
        std::string strBack;
        ASSERT_EQ(CRYPT_OK, decode(strEncoded, strBack, nSize)) << nSize;
        EXPECT_EQ(strPlain, strBack) << nSize;
    }
}
